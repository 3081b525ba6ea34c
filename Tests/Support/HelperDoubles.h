#pragma once

#include "CorvaneHost/Accessibility.h"
#include "CorvaneHost/Application.h"
#include "CorvaneHost/ScriptRunner.h"
#include "CorvaneHost/Services.h"

#include <QStringList>
#include <memory>
#include <optional>

namespace test {

// Puts `value` into one slot of host::services() for its lifetime and restores what was there.
template <typename T> class ServiceOverride {
public:
    ServiceOverride(std::shared_ptr<T>& slot, std::shared_ptr<T> value)
        : slot_(slot)
        , previous_(host::replaceService(slot, std::move(value))) {}
    ~ServiceOverride() { host::replaceService(slot_, std::move(previous_)); }
    ServiceOverride(const ServiceOverride&) = delete;
    ServiceOverride& operator=(const ServiceOverride&) = delete;

private:
    std::shared_ptr<T>& slot_;
    std::shared_ptr<T> previous_;
};

// An application object without an event loop: run() goes through the launch callbacks; terminate() asks the
// delegate and tells it the program will terminate, as the real one does, and counts the requests.
class FakeApplication final : public host::Application {
public:
    int run() override;
    void terminate() override;
    void replyToApplicationShouldTerminate(bool shouldTerminate) override;

    int terminateRequests = 0;
    bool terminated = false;
    // A terminateLater answer is pending: further requests are ignored until the one reply comes.
    bool awaitingReply = false;
    // Every late reply the delegate gave, in order (more than one is a fault).
    std::vector<bool> replies;
    std::vector<host::AppleEvent> launchEvents; // delivered by run() after will finish launching
};

class FakeAccessibility final : public host::Accessibility {
public:
    bool isProcessTrusted() override { return trusted; }
    bool isProcessTrustedWithPrompt(bool prompt) override {
        if (prompt)
            ++prompts;
        return trusted;
    }
    host::AXElement createApplication(qint32) override { return {}; }
    host::AXError setMessagingTimeout(const host::AXElement&, double) override {
        return host::AXError::apiDisabled;
    }
    host::AXError copyAttributeValue(const host::AXElement&, const QString&, host::AXValue&) override {
        return host::AXError::apiDisabled;
    }
    host::AXError setAttributeValue(const host::AXElement&, const QString&, const host::AXValue&) override {
        return host::AXError::apiDisabled;
    }
    host::AXError performAction(const host::AXElement&, const QString&) override {
        return host::AXError::apiDisabled;
    }
    host::AXError pid(const host::AXElement&, qint32&) override { return host::AXError::apiDisabled; }
    host::AXError createObserver(qint32, host::AXObserverCallback,
                                 std::shared_ptr<host::AXObserver>&) override {
        return host::AXError::apiDisabled;
    }
    void postKeyboardEvent(int, bool) override {}
    bool trusted = false;
    int prompts = 0;
};

// Records every script; compiles unless told not to, and runs with the error information it is given.
class FakeScriptRunner final : public host::ScriptRunner {
public:
    std::unique_ptr<host::Script> compile(const QString& source) override;
    bool compiles = true;
    std::optional<QVariantMap> error; // none: the script succeeds
    QStringList sources;
    int executions = 0;
};

// The three doubles installed together for a test's lifetime.
class HelperHostScope {
public:
    HelperHostScope();
    FakeApplication& application() { return *application_; }
    FakeAccessibility& accessibility() { return *accessibility_; }
    FakeScriptRunner& scripts() { return *scripts_; }

private:
    std::shared_ptr<FakeApplication> application_ = std::make_shared<FakeApplication>();
    std::shared_ptr<FakeAccessibility> accessibility_ = std::make_shared<FakeAccessibility>();
    std::shared_ptr<FakeScriptRunner> scripts_ = std::make_shared<FakeScriptRunner>();
    ServiceOverride<host::Application> applicationScope_{host::services().application, application_};
    ServiceOverride<host::Accessibility> accessibilityScope_{host::services().accessibility, accessibility_};
    ServiceOverride<host::ScriptRunner> scriptsScope_{host::services().scriptRunner, scripts_};
};

} // namespace test
