#pragma once

#include <memory>
#include <mutex>
#include <type_traits>

namespace host {

class Clock;
class MainQueue;
class LogSink;
class Workspace;
class ProcessRunner;
class Application;
class LoginItems;
class Defaults;
class WindowList;
class ScriptRunner;
class Notifications;
class Accessibility;
class EventDelivery;
class Alerts;
class MenuBar;
class Panels;
class Desktop;

// The platform services the product uses, as one process-wide set. Programs use the defaults (this machine's
// implementations, created on first use); tests install doubles before exercising code and restore after.
struct Services {
    std::shared_ptr<Clock> clock;
    std::shared_ptr<MainQueue> mainQueue;
    std::shared_ptr<LogSink> logSink;
    std::shared_ptr<Workspace> workspace;
    std::shared_ptr<ProcessRunner> processRunner;
    std::shared_ptr<Application> application;
    std::shared_ptr<LoginItems> loginItems;
    std::shared_ptr<Defaults> defaults;
    std::shared_ptr<WindowList> windowList;
    std::shared_ptr<ScriptRunner> scriptRunner;
    std::shared_ptr<Notifications> notifications;
    std::shared_ptr<Accessibility> accessibility;
    std::shared_ptr<EventDelivery> eventDelivery;
    std::shared_ptr<Alerts> alerts;   // with CorvaneHostWidgets
    std::shared_ptr<MenuBar> menuBar; // with CorvaneHostWidgets
    std::shared_ptr<Panels> panels;
    std::shared_ptr<Desktop> desktop;
};

Services& services();

// Accessors of the current implementations. Each is defined beside its service's implementation and fills an
// unset member with this machine's implementation on first access (see ensureService).
Clock& clock();
MainQueue& mainQueue();
LogSink& logSink();
Workspace& workspace();
ProcessRunner& processRunner();
Application& application();
LoginItems& loginItems();
Defaults& defaults();
WindowList& windowList();
ScriptRunner& scriptRunner();
Notifications& notifications();
Accessibility& accessibility();
EventDelivery& eventDelivery();
Alerts& alerts();
MenuBar& menuBar();
Panels& panels();
Desktop& desktop();

// Fills `slot` with `make()` when it is empty, under one process-wide lock, and returns what it holds.
std::mutex& servicesMutex();
template <typename T, typename Make> T& ensureService(std::shared_ptr<T>& slot, Make make) {
    std::lock_guard lock(servicesMutex());
    if (!slot)
        slot = make();
    return *slot;
}

// Puts `value` into `slot` under the same lock and returns what it held, so a service swapped while another
// thread fills or reads a slot through ensureService is never torn.
template <typename T>
std::shared_ptr<T> replaceService(std::shared_ptr<T>& slot, std::type_identity_t<std::shared_ptr<T>> value) {
    std::lock_guard lock(servicesMutex());
    slot.swap(value);
    return value;
}

} // namespace host
