// A desktop entry file (".desktop"), as the workspace reads every one of the machine's to find the
// browsers and to start them: the entry is read or refused, its Exec line split, and the command lines that
// open links built, each naming the one program of the line, as is the one for a private window.

#include "FuzzSupport.h"

#include "CorvaneHost/Folders.h"
#include "CorvaneHost/Linux/Desktop/DesktopEntries.h"
#include "CorvaneHost/Linux/Desktop/PrivateWindowCommand.h"

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
    static const QString path =
        host::homeDirectory() + QStringLiteral("/.local/share/applications/fuzz.desktop");
    fuzz::writeFile(path, fuzz::bytes(data, size));
    (void)host::readDesktopFileGroup(path, QStringLiteral("Desktop Action new-window"));
    const std::optional<host::DesktopEntry> entry = host::readDesktopEntry(path, QStringLiteral("fuzz"));
    if (!entry)
        return 0;
    (void)host::desktopEntryInfo(*entry);
    // One launch per link when the line takes one at a time: each of them starts the same program.
    const std::vector<QStringList> commands = host::desktopEntryCommands(*entry, links());
    for (const QStringList& command : commands) {
        fuzz::require(!command.isEmpty() && !command.first().isEmpty(), "a command line names its program");
        fuzz::require(command.first() == commands.front().first(),
                      "every command line starts the same program");
    }
    // Read as Chromium's, the entry gives a private window's command: its program, the link last as written.
    host::DesktopEntry chromium = *entry;
    chromium.id = QStringLiteral("chromium");
    chromium.bundlePath.clear();
    const QString link = QStringLiteral("https://example.com/a?b=%41|c");
    if (const std::optional<QStringList> command = host::privateWindowCommand(chromium, link)) {
        fuzz::require(command->size() >= 2 && !command->first().isEmpty(),
                      "a command line names its program");
        fuzz::require(command->last() == link, "the link goes last, as written");
    }
    return 0;
}
