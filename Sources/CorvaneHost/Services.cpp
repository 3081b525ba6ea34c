#include "CorvaneHost/Services.h"

#include "CorvaneHost/LogSink.h"
#include "CorvaneHost/MainQueue.h"

#include <mutex>

namespace host {
namespace {

template <typename T, typename Make> T& ensure(std::shared_ptr<T>& slot, Make make) {
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    if (!slot)
        slot = make();
    return *slot;
}

} // namespace

Services& services() {
    static Services instance;
    return instance;
}

Clock& clock() {
    return ensure(services().clock, [] { return std::make_shared<SystemClock>(); });
}
MainQueue& mainQueue() {
    return ensure(services().mainQueue, [] { return std::make_shared<QtMainQueue>(); });
}
LogSink& logSink() {
    return ensure(services().logSink, [] { return std::make_shared<StderrLogSink>(); });
}
Workspace& workspace() {
    return ensure(services().workspace, []() -> std::shared_ptr<Workspace> { return nullptr; });
}

} // namespace host
