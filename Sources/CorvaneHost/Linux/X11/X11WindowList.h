#pragma once

#include "CorvaneHost/WindowList.h"

namespace host {

// The window list of this session's X display: the managed windows with their owner's pid, bounds and layer,
// front to back. Where no X display answers nothing can be seen: the preflight fails and the list is empty.
class X11WindowList final : public WindowList {
public:
    bool screenRecordingPreflight() override;
    std::optional<QVariantList> windowList(int options, quint32 relativeToWindow) override;
};

} // namespace host
