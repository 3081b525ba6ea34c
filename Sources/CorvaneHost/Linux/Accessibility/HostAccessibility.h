#pragma once

#include "CorvaneHost/Accessibility.h"

namespace host {

// Where no accessibility bus answers there is no accessibility tree of other applications: no process is ever
// trusted, there is no prompt to show, and every call fails as untrusted.
class HostAccessibility final : public Accessibility {
public:
    bool isAvailable() override { return false; }
    bool isProcessTrusted() override { return false; }
    bool isProcessTrustedWithPrompt(bool) override { return false; }
    AXElement createApplication(qint32) override { return {}; }
    AXError setMessagingTimeout(const AXElement&, double) override { return AXError::apiDisabled; }
    AXError copyAttributeValue(const AXElement&, const QString&, AXValue&) override {
        return AXError::apiDisabled;
    }
    AXError setAttributeValue(const AXElement&, const QString&, const AXValue&) override {
        return AXError::apiDisabled;
    }
    AXError performAction(const AXElement&, const QString&) override { return AXError::apiDisabled; }
    AXError pid(const AXElement&, qint32&) override { return AXError::apiDisabled; }
    AXError createObserver(qint32, AXObserverCallback, std::shared_ptr<AXObserver>&) override {
        return AXError::apiDisabled;
    }
    void postKeyboardEvent(int, bool) override {}
};

} // namespace host
