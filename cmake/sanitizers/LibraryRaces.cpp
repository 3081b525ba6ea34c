// Which of ThreadSanitizer's data-race reports are a library's own business, decided for every program of the
// thread-checked build.
//
// Qt, GLib and libdbus are not built with the thread check. They hand work between threads under locks and
// atomics of their own (futexes), which the check cannot see, so the few of their memory accesses that it
// does see (those they make through the C library: allocations, frees, copies) look unordered. A race is left
// out here only when a library evidently made it:
// - one of its accesses was made on a thread that such a library started for itself (Qt's thread pool, its
//   D-Bus thread): our code never runs there, and what reaches such a thread was handed over under the
//   library's locks;
// - or none of its accesses is a plain read or write of our own code, and at least one was made by a call of
//   such a library (its frame is the caller of the runtime's interceptor).
// A race in which our code read or wrote on a thread of ours is reported, also when the other side is Qt
// copying or freeing our buffer there.
//
// The runtime asks `__tsan::OnReport` of every report before it prints it; its own is a weak default that
// keeps the suppressions file's answer. The report is read through the runtime's public report interface.

#include <dlfcn.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

extern "C" {
int __tsan_get_report_data(void* report, const char** description, int* count, int* stackCount, int* mopCount,
                           int* locCount, int* mutexCount, int* threadCount, int* uniqueTidCount,
                           void** sleepTrace, unsigned long traceSize);
int __tsan_get_report_mop(void* report, unsigned long index, int* tid, void** address, int* size, int* write,
                          int* atomic, void** trace, unsigned long traceSize);
int __tsan_get_report_thread(void* report, unsigned long index, int* tid, unsigned long long* osId,
                             int* running, const char** name, int* parentTid, void** trace,
                             unsigned long traceSize);
}

namespace {

constexpr unsigned long traceDepth = 16;
using Trace = std::array<void*, traceDepth>;

// The libraries that order their own threads' work.
constexpr std::array uninstrumentedLibraries{
    std::string_view("/libQt6Core.so"),  std::string_view("/libQt6Gui.so"),
    std::string_view("/libQt6DBus.so"),  std::string_view("/libQt6Widgets.so"),
    std::string_view("/libglib-2.0.so"), std::string_view("/libdbus-1.so"),
};

// The names those libraries give the threads they start for themselves: Qt's thread pool (which converts and
// scales images for the painter), its D-Bus and X11 readers, GLib's main-context and D-Bus workers. A
// thread's creation stack does not always tell: the frames of an uninstrumented caller may be missing from
// it.
constexpr std::array libraryThreadNames{
    std::string_view("Thread (pooled)"), std::string_view("QDBusConnection"),
    std::string_view("QXcbEventQueue"),  std::string_view("gmain"),
    std::string_view("gdbus"),
};

std::string_view moduleOf(void* pc) {
    Dl_info info{};
    if (dladdr(pc, &info) == 0 || info.dli_fname == nullptr)
        return {};
    return info.dli_fname;
}

bool isRuntime(std::string_view module) {
    return module.find("/libtsan.so") != std::string_view::npos;
}

bool isUninstrumentedLibrary(std::string_view module) {
    for (std::string_view library : uninstrumentedLibraries)
        if (module.find(library) != std::string_view::npos)
            return true;
    return false;
}

// The first frame of a stack past the runtime's own (an interceptor), or null.
void* callerPastRuntime(const Trace& trace) {
    for (void* pc : trace) {
        if (pc == nullptr)
            return nullptr;
        if (!isRuntime(moduleOf(pc)))
            return pc;
    }
    return nullptr;
}

// Whether the thread `tid` of the report was started by one of those libraries for itself.
bool threadStartedByLibrary(void* report, int threadCount, int tid) {
    for (int index = 0; index < threadCount; ++index) {
        Trace trace{};
        int threadTid = 0, running = 0, parent = 0;
        unsigned long long osId = 0;
        const char* name = nullptr;
        if (__tsan_get_report_thread(report, static_cast<unsigned long>(index), &threadTid, &osId, &running,
                                     &name, &parent, trace.data(), traceDepth) == 0 ||
            threadTid != tid)
            continue;
        if (name != nullptr && std::find(libraryThreadNames.begin(), libraryThreadNames.end(),
                                         std::string_view(name)) != libraryThreadNames.end())
            return true;
        void* creator = callerPastRuntime(trace);
        return creator != nullptr && isUninstrumentedLibrary(moduleOf(creator));
    }
    return false;
}

enum class Access { OursOnOurThread, OnLibraryThread, LibraryCall, Undecided };

Access classify(void* report, int threadCount, unsigned long index) {
    Trace trace{};
    int tid = 0, size = 0, write = 0, atomic = 0;
    void* address = nullptr;
    if (__tsan_get_report_mop(report, index, &tid, &address, &size, &write, &atomic, trace.data(),
                              traceDepth) == 0)
        return Access::OursOnOurThread;
    if (threadStartedByLibrary(report, threadCount, tid))
        return Access::OnLibraryThread;
    // Only our own code is instrumented for plain reads and writes. An earlier access whose stack is lost may
    // have been one of them.
    if (trace[0] == nullptr || !isRuntime(moduleOf(trace[0])))
        return Access::OursOnOurThread;
    // A call through the runtime's interceptor. Its caller is exact for the access being made; the stack of
    // an earlier one holds only our frames, so a library call made inside a call of ours is not told apart.
    void* caller = callerPastRuntime(trace);
    return caller != nullptr && isUninstrumentedLibrary(moduleOf(caller)) ? Access::LibraryCall
                                                                          : Access::Undecided;
}

bool isLibrarysOwnRace(void* report) {
    const char* description = nullptr;
    int count = 0, stacks = 0, accesses = 0, locations = 0, mutexes = 0, threads = 0, tids = 0;
    void* sleepTrace = nullptr;
    if (__tsan_get_report_data(report, &description, &count, &stacks, &accesses, &locations, &mutexes,
                               &threads, &tids, &sleepTrace, 1) == 0 ||
        description == nullptr || std::strcmp(description, "data-race") != 0)
        return false;
    bool ours = false, library = false;
    for (int index = 0; index < accesses; ++index) {
        switch (classify(report, threads, static_cast<unsigned long>(index))) {
        case Access::OnLibraryThread:
            return true;
        case Access::OursOnOurThread:
            ours = true;
            break;
        case Access::LibraryCall:
            library = true;
            break;
        case Access::Undecided:
            break;
        }
    }
    return library && !ours;
}

} // namespace

namespace __tsan {
struct ReportDesc;

// Whether the report is left out: the suppressions file's answer, or a race of the libraries alone.
bool OnReport(const ReportDesc* report, bool suppressed) {
    return suppressed || isLibrarysOwnRace(const_cast<ReportDesc*>(report));
}
} // namespace __tsan
