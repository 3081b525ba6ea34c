#pragma once

#include <memory>

namespace host {

class Clock;
class MainQueue;
class LogSink;
class Workspace;

// The platform services the product uses, as one process-wide set. Programs use the defaults (this machine's
// implementations, created on first use); tests install doubles before exercising code and restore after.
struct Services {
    std::shared_ptr<Clock> clock;
    std::shared_ptr<MainQueue> mainQueue;
    std::shared_ptr<LogSink> logSink;
    std::shared_ptr<Workspace> workspace;
};

// The current services; unset members are filled with this machine's implementations on first access.
Services& services();

Clock& clock();
MainQueue& mainQueue();
LogSink& logSink();
Workspace& workspace();

} // namespace host
