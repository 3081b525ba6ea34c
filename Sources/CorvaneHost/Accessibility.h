#pragma once

namespace host {

// The accessibility service. So far the trust check and its prompt: whether this process may read and drive
// other applications' interfaces.
class Accessibility {
public:
    virtual ~Accessibility() = default;
    // Whether the process is trusted now.
    virtual bool isProcessTrusted() = 0;
    // The same check; with `prompt` the system asks the user to grant the trust (once the answer is known it
    // is not asked again by the system). Returns the trust as it is now.
    virtual bool isProcessTrustedWithPrompt(bool prompt) = 0;
};

Accessibility& accessibility();

// This machine has no accessibility tree of other applications: no process is ever trusted, and there is no
// prompt to show.
class HostAccessibility final : public Accessibility {
public:
    bool isProcessTrusted() override { return false; }
    bool isProcessTrustedWithPrompt(bool) override { return false; }
};

} // namespace host
