#pragma once

#include "CorvaneHost/Desktop.h"

namespace host {

// The freedesktop desktop: files are revealed through the session bus's org.freedesktop.FileManager1
// service. Window activation belongs to the window manager, which gives no program a say over another's
// windows, so activation requests are declined.
class FreedesktopDesktop final : public Desktop {
public:
    void revealInFileManager(const QStringList& paths) override;
    bool activateApplication(qint32) override { return false; }
    void activateSelf() override {}
};

} // namespace host
