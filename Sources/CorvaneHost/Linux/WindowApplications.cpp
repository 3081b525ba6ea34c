#include "CorvaneHost/Linux/WindowApplications.h"

#include <QFile>
#include <QFileInfo>

namespace host {
namespace {

bool isSwitch(const QString& argument) {
    return argument.startsWith(QLatin1Char('-'));
}

// The program an Exec line runs, past an "env" with its variable assignments, and its first argument that
// is neither a switch nor a field code (which stands for what is opened, not for the program).
struct ExecCommand {
    QString program;
    QString firstArgument;
};

ExecCommand execCommandOf(const DesktopEntry& entry) {
    const auto arguments = splitExecLine(entry.exec);
    if (!arguments)
        return {};
    std::size_t next = 0;
    if (next < arguments->size() && QFileInfo((*arguments)[next].text).fileName() == QLatin1String("env")) {
        ++next;
        while (next < arguments->size() && (*arguments)[next].text.contains(QLatin1Char('=')))
            ++next;
    }
    if (next == arguments->size())
        return {};
    ExecCommand command{QFileInfo((*arguments)[next++].text).fileName(), {}};
    for (; next < arguments->size(); ++next) {
        const ExecArgument& argument = (*arguments)[next];
        const bool fieldCode =
            !argument.quoted && argument.text.size() == 2 && argument.text.startsWith(QLatin1Char('%'));
        if (!fieldCode && !isSwitch(argument.text)) {
            command.firstArgument = argument.text;
            break;
        }
    }
    return command;
}

// A script named by a relative path on one side and a full one on the other is the same by its file name.
bool sameArgument(const QString& a, const QString& b) {
    if (a == b)
        return true;
    if (a.isEmpty() || b.isEmpty() || (QFileInfo(a).isAbsolute() && QFileInfo(b).isAbsolute()))
        return false;
    return QFileInfo(a).fileName() == QFileInfo(b).fileName();
}

bool namesTheWindow(const QString& name, const WindowOwner& owner, Qt::CaseSensitivity sensitivity) {
    return !name.isEmpty() && (name.compare(owner.wmClass, sensitivity) == 0 ||
                               name.compare(owner.wmInstance, sensitivity) == 0);
}

bool runsTheWindowsProgram(const DesktopEntry& entry, const WindowOwner& owner) {
    const ExecCommand command = execCommandOf(entry);
    if (command.program.isEmpty() || !owner.programNames.contains(command.program))
        return false;
    // An entry that names what its program runs (a script, an archive) stands only for windows of that.
    if (!command.firstArgument.isEmpty())
        return sameArgument(command.firstArgument, owner.firstArgument);
    // One that names nothing stands for the program's own windows, whatever document or link it was opened
    // with: a program's own window carries its name as its class, where an interpreter's window carries the
    // one its script gives it.
    return owner.firstArgument.isEmpty() || namesTheWindow(command.program, owner, Qt::CaseInsensitive);
}

} // namespace

WindowOwner windowOwner(const QString& wmInstance, const QString& wmClass, qint32 processIdentifier) {
    WindowOwner owner{wmInstance, wmClass, {}, {}};
    if (processIdentifier <= 0)
        return owner;
    const QString exe = QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(processIdentifier));
    if (!exe.isEmpty())
        owner.programNames.append(QFileInfo(exe).fileName());
    QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(processIdentifier));
    if (!cmdline.open(QIODevice::ReadOnly))
        return owner;
    const QList<QByteArray> arguments = cmdline.read(64 * 1024).split('\0');
    const QString name = QFileInfo(QFile::decodeName(arguments.value(0))).fileName();
    if (!name.isEmpty() && !owner.programNames.contains(name))
        owner.programNames.append(name);
    for (qsizetype index = 1; index < arguments.size(); ++index) {
        const QString argument = QFile::decodeName(arguments[index]);
        if (!argument.isEmpty() && !isSwitch(argument)) {
            owner.firstArgument = argument;
            break;
        }
    }
    return owner;
}

std::optional<DesktopEntry> desktopEntryForWindow(const std::vector<DesktopEntry>& entries,
                                                  const WindowOwner& owner) {
    for (const DesktopEntry& entry : entries)
        if (!entry.terminal && namesTheWindow(entry.startupWMClass, owner, Qt::CaseSensitive))
            return entry;
    for (const DesktopEntry& entry : entries)
        if (!entry.terminal && namesTheWindow(entry.id, owner, Qt::CaseInsensitive))
            return entry;
    for (const DesktopEntry& entry : entries)
        if (!entry.terminal && runsTheWindowsProgram(entry, owner))
            return entry;
    return std::nullopt;
}

} // namespace host
