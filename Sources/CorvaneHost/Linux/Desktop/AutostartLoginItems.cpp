#include "CorvaneHost/Linux/Desktop/AutostartLoginItems.h"

#include "CorvaneHost/Bundle.h"
#include "CorvaneHost/Folders.h"
#include "CorvaneHost/PropertyList.h"
#include "CorvaneHost/Services.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <cerrno>

namespace host {
namespace {

constexpr int notFoundCode = 3;

// An identifier names a file of the autostart folder, so it must be a plain name.
bool isUsableIdentifier(const QString& identifier) {
    return !identifier.isEmpty() && identifier != QLatin1String(".") && identifier != QLatin1String("..") &&
           !identifier.contains(QLatin1Char('/')) && !identifier.contains(QChar(0)) &&
           !identifier.contains(QLatin1Char('\n')) && !identifier.contains(QLatin1Char('\r'));
}

bool hasControlCharacters(const QString& text) {
    for (QChar c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return true;
    return false;
}

// One argument of an Exec line, quoted as the desktop entry format asks, then escaped as a string value.
QString quotedExecArgument(const QString& argument) {
    QString quoted = QStringLiteral("\"");
    for (QChar c : argument) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        quoted += c;
    }
    quoted += QLatin1Char('"');
    quoted.replace(QLatin1Char('%'), QStringLiteral("%%"));
    quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    return quoted;
}

// The keys of the entry's main group, as written.
QMap<QString, QString> readEntry(const QString& path) {
    QMap<QString, QString> keys;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return keys;
    bool inMainGroup = false;
    for (const QByteArray& rawLine : file.readAll().split('\n')) {
        const QString line = QString::fromUtf8(rawLine).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inMainGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (!inMainGroup || line.startsWith(QLatin1Char('#')) || equals <= 0)
            continue;
        keys.insert(line.left(equals).trimmed(), line.mid(equals + 1).trimmed());
    }
    return keys;
}

// The user switched the entry off in the desktop's settings.
bool isSwitchedOff(const QMap<QString, QString>& keys) {
    return keys.value(QStringLiteral("Hidden")) == QLatin1String("true") ||
           keys.value(QStringLiteral("X-GNOME-Autostart-enabled")) == QLatin1String("false");
}

host::SystemError notFound(const QString& identifier, const QString& why) {
    return host::SystemError(loginItemsErrorDomain, notFoundCode,
                             QStringLiteral("the login item %1 %2").arg(identifier, why));
}

} // namespace

QString AutostartLoginItems::autostartDirectory() {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty())
        base = homeDirectory() + QStringLiteral("/.config");
    return QDir::cleanPath(base + QStringLiteral("/autostart"));
}

QString AutostartLoginItems::entryPath(const QString& identifier) {
    return autostartDirectory() + QLatin1Char('/') + identifier + QStringLiteral(".desktop");
}

QString AutostartLoginItems::programBundle() const {
    return programBundle_.isEmpty() ? Bundle::main().bundlePath() : programBundle_;
}

QString AutostartLoginItems::loginItemBundle(const QString& identifier) const {
    const QDir folder(programBundle() + QStringLiteral("/Contents/Library/LoginItems"));
    const QStringList bundles =
        folder.entryList({QStringLiteral("*.app")}, QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& name : bundles) {
        const QString path = folder.filePath(name);
        const auto info = readBundleInfo(path);
        if (info && info->value(QStringLiteral("CFBundleIdentifier")).toString() == identifier)
            return path;
    }
    return {};
}

LoginItemStatus AutostartLoginItems::status(const QString& identifier) {
    if (!isUsableIdentifier(identifier))
        return LoginItemStatus::notFound;
    const QString path = entryPath(identifier);
    if (QFileInfo::exists(path))
        return isSwitchedOff(readEntry(path)) ? LoginItemStatus::requiresApproval : LoginItemStatus::enabled;
    return loginItemBundle(identifier).isEmpty() ? LoginItemStatus::notFound : LoginItemStatus::notRegistered;
}

void AutostartLoginItems::registerItem(const QString& identifier) {
    if (!isUsableIdentifier(identifier))
        throw notFound(identifier, QStringLiteral("is not a usable identifier"));
    const QString bundle = loginItemBundle(identifier);
    if (bundle.isEmpty())
        throw notFound(identifier, QStringLiteral("is not in %1").arg(programBundle()));
    const QVariantMap info = readBundleInfo(bundle).value_or(QVariantMap());
    const QString executableName = info.value(QStringLiteral("CFBundleExecutable")).toString();
    const QString executable = bundle + QStringLiteral("/Contents/MacOS/") + executableName;
    if (executableName.isEmpty() || executableName.contains(QLatin1Char('/')) ||
        !QFileInfo(executable).isFile())
        throw notFound(identifier, QStringLiteral("has no executable in %1").arg(bundle));
    if (hasControlCharacters(executable))
        throw notFound(identifier, QStringLiteral("lies at a path an autostart entry cannot hold"));

    QString name = info.value(QStringLiteral("CFBundleName")).toString();
    if (name.isEmpty() || hasControlCharacters(name))
        name = identifier;

    // A switch the user turned off stays off: registering again does not overrule them.
    const QString path = entryPath(identifier);
    const bool switchedOff = isSwitchedOff(readEntry(path));
    QString text = QStringLiteral("[Desktop Entry]\nType=Application\n");
    text += QStringLiteral("Name=") + name + QLatin1Char('\n');
    text += QStringLiteral("Exec=") + quotedExecArgument(executable) + QLatin1Char('\n');
    text += QStringLiteral("NoDisplay=true\n");
    text += QStringLiteral("X-GNOME-Autostart-enabled=") +
            (switchedOff ? QStringLiteral("false") : QStringLiteral("true")) + QLatin1Char('\n');
    if (switchedOff)
        text += QStringLiteral("Hidden=true\n");

    if (!QDir().mkpath(autostartDirectory()))
        throw host::SystemError::fromErrno(QStringLiteral("could not create %1").arg(autostartDirectory()),
                                           errno ? errno : EACCES);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) < 0 || !file.commit())
        throw host::SystemError(QStringLiteral("NSCocoaErrorDomain"), 513,
                                QStringLiteral("could not write %1: %2").arg(path, file.errorString()));
}

void AutostartLoginItems::unregisterItem(const QString& identifier) {
    if (!isUsableIdentifier(identifier))
        throw notFound(identifier, QStringLiteral("is not a usable identifier"));
    const QString path = entryPath(identifier);
    if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink())
        return;
    if (!QFile::remove(path))
        throw host::SystemError::fromErrno(QStringLiteral("could not remove %1").arg(path),
                                           errno ? errno : EACCES);
}

LoginItems& loginItems() {
    return ensureService(services().loginItems, [] { return std::make_shared<AutostartLoginItems>(); });
}

} // namespace host
