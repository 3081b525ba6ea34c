#pragma once

#include "CorvaneHost/Accessibility.h"

namespace host {

// This machine has no accessibility tree of other applications: no process is ever trusted, and there is no
// prompt to show.
class HostAccessibility final : public Accessibility {
public:
    bool isProcessTrusted() override { return false; }
    bool isProcessTrustedWithPrompt(bool) override { return false; }
};

} // namespace host
