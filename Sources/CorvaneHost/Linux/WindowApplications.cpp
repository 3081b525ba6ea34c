#include "CorvaneHost/Linux/WindowApplications.h"

#include <QFile>
#include <QFileInfo>

namespace host {
namespace {

// The file name of the program an Exec line runs, past an "env" with its variable assignments.
QString programNameOf(const DesktopEntry& entry) {
    const auto arguments = splitExecLine(entry.exec);
    if (!arguments)
        return {};
    std::size_t first = 0;
    if (first < arguments->size() && QFileInfo((*arguments)[first].text).fileName() == QLatin1String("env")) {
        ++first;
        while (first < arguments->size() && (*arguments)[first].text.contains(QLatin1Char('=')))
            ++first;
    }
    return first < arguments->size() ? QFileInfo((*arguments)[first].text).fileName() : QString();
}

bool namesTheWindow(const QString& name, const WindowOwner& owner, Qt::CaseSensitivity sensitivity) {
    return !name.isEmpty() && (name.compare(owner.wmClass, sensitivity) == 0 ||
                               name.compare(owner.wmInstance, sensitivity) == 0);
}

} // namespace

std::optional<DesktopEntry> desktopEntryForWindow(const std::vector<DesktopEntry>& entries,
                                                  const WindowOwner& owner) {
    for (const DesktopEntry& entry : entries)
        if (namesTheWindow(entry.startupWMClass, owner, Qt::CaseSensitive))
            return entry;
    for (const DesktopEntry& entry : entries)
        if (namesTheWindow(entry.id, owner, Qt::CaseInsensitive))
            return entry;
    for (const DesktopEntry& entry : entries) {
        const QString program = programNameOf(entry);
        if (!program.isEmpty() && owner.programNames.contains(program))
            return entry;
    }
    return std::nullopt;
}

QStringList programNamesOf(qint32 processIdentifier) {
    QStringList names;
    if (processIdentifier <= 0)
        return names;
    const QString exe = QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(processIdentifier));
    if (!exe.isEmpty())
        names.append(QFileInfo(exe).fileName());
    QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(processIdentifier));
    if (cmdline.open(QIODevice::ReadOnly)) {
        const QByteArray first = cmdline.read(4096).split('\0').value(0);
        const QString name = QFileInfo(QFile::decodeName(first)).fileName();
        if (!name.isEmpty() && !names.contains(name))
            names.append(name);
    }
    return names;
}

} // namespace host
