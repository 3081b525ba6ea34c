#pragma once

#include "CorvaneHost/Workspace.h"

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

namespace host {

// Watches the running applications from a thread of its own: an application that appears in a listing (taken
// every `pollSeconds`) is reported as launched; one that ends is reported at once through its process file
// descriptor (pidfd), or by the next listing where the kernel has none. Reports are made on the watcher's
// thread; applications running when it is made are not reported.
//
// A listing reads every process, so where `started` tells whether a process may have started since it was
// last asked, the watcher lists only after a start, once more at the poll after it (a program that starts
// another often replaces itself with it a moment later), and at least every `quietListingSeconds`: the
// longest an application goes unseen that an older process turned into (by an exec) while nothing started.
// That is rare (a launcher replaces itself at once, and is seen then), and a listing of a desktop's few
// hundred processes is most of what an idle helper spends, so the quiet listing is slow.
class ApplicationWatcher {
public:
    using Listing = std::function<std::vector<RunningApplication>()>;
    using Report = std::function<void(ApplicationEvent, const RunningApplication&)>;
    using Started = std::function<bool()>;

    ApplicationWatcher(Listing listing, Report report, double pollSeconds = 0.5, Started started = {},
                       double quietListingSeconds = 30);
    ~ApplicationWatcher();
    ApplicationWatcher(const ApplicationWatcher&) = delete;
    ApplicationWatcher& operator=(const ApplicationWatcher&) = delete;

private:
    void run(const std::vector<RunningApplication>& initial);

    Listing listing_;
    Report report_;
    Started started_;
    int pollMs_;
    int quietListingMs_;
    int wakeFd_ = -1;
    std::thread thread_;
};

} // namespace host
