#pragma once

#include "CorvaneHost/Desktop.h"

namespace host {

// The freedesktop desktop: files are revealed through the session bus's org.freedesktop.FileManager1
// service; an application is brought forward through the window manager, its windows keeping their order.
class FreedesktopDesktop final : public Desktop {
public:
    void revealInFileManager(const QStringList& paths) override;
    bool activateApplication(qint32 processIdentifier) override;
    void activateSelf() override;
};

} // namespace host
