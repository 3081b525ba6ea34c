#pragma once

#include <QStringList>
#include <QtGlobal>

namespace host {

// The desktop around the program: the file manager and which application is in front.
class Desktop {
public:
    virtual ~Desktop() = default;
    // Opens a file-manager window with these files or folders selected. Returns at once.
    virtual void revealInFileManager(const QStringList& paths) = 0;
    // Lets the running application with this process identifier come to the front (this program yields its
    // own activation to it). False when the desktop cannot do it.
    virtual bool activateApplication(qint32 processIdentifier) = 0;
    // Brings this program to the front again.
    virtual void activateSelf() = 0;
};

} // namespace host
