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

} // namespace host
