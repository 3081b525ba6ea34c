// A desktop entry file (".desktop"), as the workspace reads every one of the machine's to find the
// browsers and to start them: the entry is read or refused, its Exec line split, and the command lines that
// open links built; none of them starts with anything but the program the line names.

#include "FuzzSupport.h"

#include "CorvaneHost/Folders.h"
#include "CorvaneHost/Linux/Desktop/DesktopEntries.h"

#include <QUrl>

namespace {

const QList<QUrl>& links() {
    static const QList<QUrl> list{QUrl(QStringLiteral("https://example.com/a?b=1")),
                                  QUrl(QStringLiteral("file:///home/someone/Page One.html")),
                                  QUrl(QStringLiteral("mailto:someone@example.com"))};
    return list;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::useScratchHome();
    const QString path = host::homeDirectory() + QStringLiteral("/.local/share/applications/fuzz.desktop");
    fuzz::writeFile(path, fuzz::bytes(data, size));
    (void)host::readDesktopFileGroup(path, QStringLiteral("Desktop Action new-window"));
    const std::optional<host::DesktopEntry> entry = host::readDesktopEntry(path, QStringLiteral("fuzz"));
    if (!entry)
        return 0;
    (void)host::desktopEntryInfo(*entry);
    for (const QStringList& command : host::desktopEntryCommands(*entry, links())) {
        fuzz::require(!command.isEmpty() && !command.first().isEmpty(), "a command line names its program");
        for (const QUrl& link : links())
            fuzz::require(command.first() != link.toString(QUrl::FullyEncoded),
                          "a link never stands in the program's place");
    }
    return 0;
}
