// Registers application bundles with this machine's workspace, so they are found by bundle identifier
// wherever they lie: `lsregister -f <bundle>...`. A proxy app also gets a desktop entry, so it shows in the
// desktop's application menu with its own icon.
#include "CorvaneHost/Folders.h"
#include "CorvaneHost/Linux/HostWorkspace.h"
#include "CorvaneHost/PropertyList.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTextStream>
#include <QtEndian>
#include <cstdio>

namespace {

// The key every proxy app's Info.plist carries (its Chrome profile).
const QString proxyAppKey = QStringLiteral("CVNProfileDirectory");

// The largest PNG image inside an .icns file; empty when there is none.
QByteArray largestIcnsPng(const QString& icnsPath) {
    QFile file(icnsPath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray icns = file.readAll();
    if (icns.size() < 8 || !icns.startsWith("icns"))
        return {};
    QByteArray best;
    quint32 bestWidth = 0;
    qsizetype offset = 8;
    while (offset + 8 <= icns.size()) {
        const quint32 length = qFromBigEndian<quint32>(icns.constData() + offset + 4);
        if (length < 8 || offset + qsizetype(length) > icns.size())
            break;
        const QByteArray data = icns.mid(offset + 8, length - 8);
        if (data.startsWith("\x89PNG") && data.size() >= 24) {
            const quint32 width = qFromBigEndian<quint32>(data.constData() + 16);
            if (width > bestWidth) {
                bestWidth = width;
                best = data;
            }
        }
        offset += length;
    }
    return best;
}

// A value of a desktop entry's Exec key: the path quoted, with the quoting and the key's own escapes.
QString execArgument(const QString& path) {
    QString quoted;
    for (const QChar c : path) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        quoted += c;
    }
    quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    quoted.replace(QLatin1Char('%'), QStringLiteral("%%"));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString entryValue(QString value) {
    value.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    value.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    return value;
}

bool declaresWebLinks(const QVariantMap& info) {
    for (const QVariant& type : info.value(QStringLiteral("CFBundleURLTypes")).toList()) {
        const QStringList schemes = type.toMap().value(QStringLiteral("CFBundleURLSchemes")).toStringList();
        if (schemes.contains(QStringLiteral("http")) || schemes.contains(QStringLiteral("https")))
            return true;
    }
    return false;
}

// "<bundle identifier>.desktop" in the user's applications folder: the app's name, its icon (taken out of the
// bundle's icon file), its executable; links only when it declares itself a handler of web links.
void writeDesktopEntry(const QString& bundlePath) {
    const QString bundle = QFileInfo(bundlePath).absoluteFilePath();
    const auto info = host::readBundleInfo(bundle);
    if (!info || !info->contains(proxyAppKey))
        return;
    const QString identifier = info->value(QStringLiteral("CFBundleIdentifier")).toString();
    const QString executable = info->value(QStringLiteral("CFBundleExecutable")).toString();
    if (identifier.isEmpty() || identifier.contains(QLatin1Char('/')) || executable.isEmpty())
        throw host::Error(QStringLiteral("%1 has no bundle identifier or executable").arg(bundle));
    QString name = info->value(QStringLiteral("CFBundleDisplayName")).toString();
    if (name.isEmpty())
        name = info->value(QStringLiteral("CFBundleName")).toString();
    if (name.isEmpty())
        name = QFileInfo(bundle).completeBaseName();

    QString iconFile = info->value(QStringLiteral("CFBundleIconFile")).toString();
    if (!iconFile.isEmpty() && QFileInfo(iconFile).suffix().isEmpty())
        iconFile += QStringLiteral(".icns");
    const QByteArray png = iconFile.isEmpty() || iconFile.contains(QLatin1Char('/'))
                               ? QByteArray()
                               : largestIcnsPng(bundle + QStringLiteral("/Contents/Resources/") + iconFile);
    QString iconPath;
    if (!png.isEmpty()) {
        const QString icons = host::hostStateDirectory() + QStringLiteral("/icons");
        QDir().mkpath(icons);
        QSaveFile out(icons + QLatin1Char('/') + identifier + QStringLiteral(".png"));
        if (out.open(QIODevice::WriteOnly) && out.write(png) == png.size() && out.commit())
            iconPath = out.fileName();
    }

    const bool browser = declaresWebLinks(*info);
    QString entry = QStringLiteral("[Desktop Entry]\nType=Application\nVersion=1.5\n");
    entry += QStringLiteral("Name=") + entryValue(name) + QLatin1Char('\n');
    if (!iconPath.isEmpty())
        entry += QStringLiteral("Icon=") + entryValue(iconPath) + QLatin1Char('\n');
    entry += QStringLiteral("Exec=") +
             execArgument(bundle + QStringLiteral("/Contents/MacOS/") + executable) +
             (browser ? QStringLiteral(" %U\n") : QStringLiteral("\n"));
    entry += QStringLiteral("Terminal=false\nStartupNotify=true\n");
    if (browser)
        entry += QStringLiteral("Categories=Network;WebBrowser;\n"
                                "MimeType=x-scheme-handler/http;x-scheme-handler/https;text/html;\n");
    else
        entry += QStringLiteral("Categories=Network;\n");
    entry += QStringLiteral("X-Corvane-Bundle=") + entryValue(bundle) + QLatin1Char('\n');

    const QString applications = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                                 QStringLiteral("/applications");
    QDir().mkpath(applications);
    QSaveFile out(applications + QLatin1Char('/') + identifier + QStringLiteral(".desktop"));
    const QByteArray bytes = entry.toUtf8();
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.commit())
        throw host::Error(QStringLiteral("cannot write the desktop entry %1").arg(out.fileName()));
}

int usage(QTextStream& err) {
    err << "usage: lsregister -f <bundle> [<bundle> ...]\n";
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);
    QStringList arguments = app.arguments().mid(1);

    bool force = false;
    QStringList bundles;
    for (const QString& argument : arguments) {
        if (argument == QLatin1String("-f")) {
            force = true;
        } else if (argument.startsWith(QLatin1Char('-'))) {
            err << "lsregister: unknown option " << argument << "\n";
            return usage(err);
        } else {
            bundles.append(argument);
        }
    }
    if (!force || bundles.isEmpty())
        return usage(err);

    host::HostWorkspace workspace;
    int status = 0;
    for (const QString& bundle : bundles) {
        try {
            workspace.registerBundle(bundle);
            writeDesktopEntry(bundle);
        } catch (const host::Error& error) {
            err << "lsregister: " << error.description() << "\n";
            status = 1;
        }
    }
    return status;
}
