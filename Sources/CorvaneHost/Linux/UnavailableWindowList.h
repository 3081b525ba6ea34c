#pragma once

#include "CorvaneHost/WindowList.h"

namespace host {

// This machine has no window server to ask: the permission is never granted and the list is empty.
class UnavailableWindowList final : public WindowList {
public:
    bool screenRecordingPreflight() override { return false; }
    std::optional<QVariantList> windowList(int options, quint32 relativeToWindow) override;
};

} // namespace host
