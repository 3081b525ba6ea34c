#include "CorvaneHost/Services.h"

#include "CorvaneHost/LogSink.h"
#include "CorvaneHost/MainQueue.h"

namespace host {

Services& services() {
    static Services instance;
    return instance;
}

std::mutex& servicesMutex() {
    static std::mutex mutex;
    return mutex;
}

Clock& clock() {
    return ensureService(services().clock, [] { return std::make_shared<SystemClock>(); });
}
MainQueue& mainQueue() {
    return ensureService(services().mainQueue, [] { return std::make_shared<QtMainQueue>(); });
}
LogSink& logSink() {
    return ensureService(services().logSink, [] { return std::make_shared<StderrLogSink>(); });
}

} // namespace host
