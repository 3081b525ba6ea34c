// The user's "mimeapps.list", which any desktop program may have written: its defaults are read, and making
// an application the default of a type names it first for that type, whatever else the file holds.

#include "FuzzSupport.h"

#include "CorvaneHost/Linux/Desktop/MimeApps.h"

#include <QFileInfo>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::useScratchHome();
    qunsetenv("XDG_CURRENT_DESKTOP");
    const QString path = host::userMimeAppsPath();
    fuzz::writeFile(path, fuzz::bytes(data, size));
    const QString http = QStringLiteral("x-scheme-handler/http");
    (void)host::defaultDesktopIds(http);
    // Readers pass over a file beyond their size limit; the promise below is about files they read.
    if (QFileInfo(path).size() > 512 * 1024)
        return 0;
    const QString helper = QStringLiteral("app.corvane.helper.desktop");
    host::setUserDefaults({http, QStringLiteral("text/html")}, helper);
    const QStringList ids = host::defaultDesktopIds(http);
    fuzz::require(!ids.isEmpty() && ids.first() == helper, "the new default is named first for its type");
    return 0;
}
