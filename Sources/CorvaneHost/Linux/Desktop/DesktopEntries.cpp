#include "CorvaneHost/Linux/Desktop/DesktopEntries.h"

#include "CorvaneHost/DesktopMenu.h"

#include "CorvaneHost/Error.h"
#include "CorvaneHost/Folders.h"
#include "CorvaneHost/LinkText.h"
#include "CorvaneHost/Linux/Desktop/ChromeBrowser.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>
#include <QSet>
#include <QtEndian>
#include <algorithm>
#include <cstdio>
#include <functional>

namespace host {
namespace {

const QString httpHandlerType = QStringLiteral("x-scheme-handler/http");

// The general escapes of string values: \s \n \t \r \\ (an unknown escape keeps its backslash).
QString unescapeValue(const QString& value) {
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value[i];
        if (c != QLatin1Char('\\') || i + 1 == value.size()) {
            out.append(c);
            continue;
        }
        const QChar next = value[++i];
        switch (next.unicode()) {
        case 's':
            out.append(QLatin1Char(' '));
            break;
        case 'n':
            out.append(QLatin1Char('\n'));
            break;
        case 't':
            out.append(QLatin1Char('\t'));
            break;
        case 'r':
            out.append(QLatin1Char('\r'));
            break;
        case '\\':
            out.append(QLatin1Char('\\'));
            break;
        default:
            out.append(QLatin1Char('\\'));
            out.append(next);
        }
    }
    return out;
}

// The key-value pairs of one group of an ini-style desktop file; localized keys ("Name[de]") are left out.
QHash<QString, QString> readGroup(const QString& path, const QString& group) {
    QHash<QString, QString> values;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return values;
    if (file.size() > 1024 * 1024)
        return values;
    const QString header = QLatin1Char('[') + group + QLatin1Char(']');
    bool inGroup = false;
    for (const QByteArray& rawLine : file.readAll().split('\n')) {
        const QString line = QString::fromUtf8(rawLine).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            inGroup = line == header;
            continue;
        }
        if (!inGroup)
            continue;
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals <= 0)
            continue;
        const QString key = line.left(equals).trimmed();
        if (key.contains(QLatin1Char('[')) || values.contains(key))
            continue;
        values.insert(key, line.mid(equals + 1).trimmed());
    }
    return values;
}

QStringList splitList(const QString& value) {
    QStringList items;
    for (const QString& item : value.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString trimmed = item.trimmed();
        if (!trimmed.isEmpty())
            items.append(trimmed);
    }
    return items;
}

QStringList dataDirectories() {
    QStringList dirs;
    QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (dataHome.isEmpty())
        dataHome = homeDirectory() + QStringLiteral("/.local/share");
    dirs.append(QDir::cleanPath(dataHome));
    QString dataDirs = qEnvironmentVariable("XDG_DATA_DIRS");
    if (dataDirs.isEmpty())
        dataDirs = QStringLiteral("/usr/local/share:/usr/share");
    for (const QString& dir : dataDirs.split(QLatin1Char(':'), Qt::SkipEmptyParts))
        dirs.append(QDir::cleanPath(dir));
    return dirs;
}

// A link is one URL and the text it goes on as (linkTexts).
struct LinkArgument {
    QUrl url;
    QString text;
};

QString argumentFor(const LinkArgument& link, bool asFile) {
    if (asFile && link.url.isLocalFile())
        return link.url.toLocalFile();
    return link.text;
}

bool isUrlFieldCode(const QString& text) {
    return text == QLatin1String("%u") || text == QLatin1String("%U") || text == QLatin1String("%f") ||
           text == QLatin1String("%F");
}

} // namespace

QStringList desktopEntryDirectories() {
    QStringList dirs;
    for (const QString& dir : dataDirectories()) {
        const QString applications = dir + QStringLiteral("/applications");
        if (!dirs.contains(applications))
            dirs.append(applications);
    }
    return dirs;
}

std::optional<DesktopEntry> readDesktopEntry(const QString& path, const QString& id) {
    const QHash<QString, QString> values = readGroup(path, QStringLiteral("Desktop Entry"));
    if (values.value(QStringLiteral("Type")) != QLatin1String("Application"))
        return std::nullopt;
    if (values.value(QStringLiteral("Hidden")) == QLatin1String("true"))
        return std::nullopt;
    DesktopEntry entry;
    entry.path = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    entry.id = id;
    entry.name = unescapeValue(values.value(QStringLiteral("Name")));
    entry.exec = unescapeValue(values.value(QStringLiteral("Exec")));
    entry.icon = unescapeValue(values.value(QStringLiteral("Icon")));
    entry.mimeTypes = splitList(values.value(QStringLiteral("MimeType")));
    entry.bundleIdentifier = bundleIdentifierForDesktopEntry(id);
    entry.bundlePath = unescapeValue(values.value(QStringLiteral("X-Corvane-Bundle")));
    entry.startupWMClass = unescapeValue(values.value(QStringLiteral("StartupWMClass")));
    entry.terminal = values.value(QStringLiteral("Terminal")) == QLatin1String("true");
    if (entry.exec.trimmed().isEmpty())
        return std::nullopt;
    return entry;
}

namespace {

// The installed entries as applicationDesktopEntries() lists them, before Chrome's is named.
std::vector<DesktopEntry> installedDesktopEntries() {
    std::vector<DesktopEntry> entries;
    QSet<QString> seen;
    for (const QString& dir : desktopEntryDirectories()) {
        if (!QFileInfo(dir).isDir())
            continue;
        // Sorted, so the order does not depend on the file system.
        QStringList files;
        QDirIterator it(dir, {QStringLiteral("*.desktop")}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            files.append(it.next());
        files.sort();
        for (const QString& file : files) {
            // The desktop-file ID: the path below the folder, "/" turned into "-".
            QString id = QDir(dir).relativeFilePath(file);
            id.chop(int(sizeof(".desktop") - 1));
            id.replace(QLatin1Char('/'), QLatin1Char('-'));
            if (seen.contains(id))
                continue;
            seen.insert(id); // hidden or broken, it still hides lower folders' entry of that ID
            if (auto entry = readDesktopEntry(file, id))
                entries.push_back(std::move(*entry));
        }
    }
    return entries;
}

// The browser that serves as Chrome answers to Chrome's identifier.
std::vector<DesktopEntry> withChromeNamed(std::vector<DesktopEntry> entries) {
    if (const auto chrome = chromeAmong(entries))
        for (DesktopEntry& entry : entries)
            if (entry.path == chrome->entry.path)
                entry.bundleIdentifier = chromeBundleIdentifier;
    return entries;
}

} // namespace

std::vector<DesktopEntry> applicationDesktopEntries() {
    return withChromeNamed(installedDesktopEntries());
}

std::vector<DesktopEntry> browserDesktopEntries() {
    std::vector<DesktopEntry> entries = installedDesktopEntries();
    std::erase_if(entries,
                  [](const DesktopEntry& entry) { return !entry.mimeTypes.contains(httpHandlerType); });
    return withChromeNamed(std::move(entries));
}

QString bundleIdentifierForDesktopEntry(const QString& id) {
    static const QHash<QString, QString> known{
        {QStringLiteral("chromium"), QStringLiteral("org.chromium.Chromium")},
        {QStringLiteral("chromium-browser"), QStringLiteral("org.chromium.Chromium")},
        {QStringLiteral("firefox"), QStringLiteral("org.mozilla.firefox")},
        {QStringLiteral("firefox-esr"), QStringLiteral("org.mozilla.firefox")},
        {QStringLiteral("google-chrome"), QStringLiteral("com.google.Chrome")},
        {QStringLiteral("google-chrome-stable"), QStringLiteral("com.google.Chrome")},
        {QStringLiteral("google-chrome-beta"), QStringLiteral("com.google.Chrome.beta")},
        {QStringLiteral("google-chrome-unstable"), QStringLiteral("com.google.Chrome.dev")},
        {QStringLiteral("microsoft-edge"), QStringLiteral("com.microsoft.edgemac")},
        {QStringLiteral("microsoft-edge-beta"), QStringLiteral("com.microsoft.edgemac.Beta")},
        {QStringLiteral("brave-browser"), QStringLiteral("com.brave.Browser")},
        {QStringLiteral("vivaldi-stable"), QStringLiteral("com.vivaldi.Vivaldi")},
        {QStringLiteral("opera"), QStringLiteral("com.operasoftware.Opera")},
    };
    if (const auto it = known.constFind(id); it != known.constEnd())
        return *it;
    // Entries named in reverse-domain form ("org.mozilla.firefox.desktop") already carry an identifier.
    if (id.count(QLatin1Char('.')) >= 2 && !id.startsWith(QLatin1Char('.')) && !id.endsWith(QLatin1Char('.')))
        return id;
    return QStringLiteral("desktop.") + id;
}

QString mimeTypeForContentType(const QString& contentType) {
    static const QHash<QString, QString> types{
        {QStringLiteral("public.html"), QStringLiteral("text/html")},
        {QStringLiteral("public.xhtml"), QStringLiteral("application/xhtml+xml")},
        {QStringLiteral("public.svg-image"), QStringLiteral("image/svg+xml")},
        {QStringLiteral("com.apple.webarchive"), QStringLiteral("application/x-webarchive")},
        {QStringLiteral("com.adobe.pdf"), QStringLiteral("application/pdf")},
    };
    return types.value(contentType);
}

QVariantMap desktopEntryInfo(const DesktopEntry& entry) {
    QVariantMap info;
    info.insert(QStringLiteral("CFBundleIdentifier"), entry.bundleIdentifier);
    const QString name = entry.name.isEmpty() ? entry.id : entry.name;
    info.insert(QStringLiteral("CFBundleName"), name);
    info.insert(QStringLiteral("CFBundleDisplayName"), name);
    return info;
}

std::optional<std::vector<ExecArgument>> splitExecLine(const QString& exec) {
    std::vector<ExecArgument> arguments;
    ExecArgument current;
    bool inArgument = false;
    bool inQuotes = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec[i];
        if (inQuotes) {
            if (c == QLatin1Char('"')) {
                inQuotes = false;
            } else if (c == QLatin1Char('\\')) {
                if (i + 1 == exec.size())
                    return std::nullopt;
                const QChar next = exec[++i];
                if (next != QLatin1Char('"') && next != QLatin1Char('`') && next != QLatin1Char('$') &&
                    next != QLatin1Char('\\'))
                    return std::nullopt;
                current.text.append(next);
            } else {
                current.text.append(c);
            }
            continue;
        }
        if (c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n')) {
            if (inArgument) {
                arguments.push_back(current);
                current = {};
                inArgument = false;
            }
            continue;
        }
        inArgument = true;
        if (c == QLatin1Char('"')) {
            inQuotes = true;
            current.quoted = true;
        } else {
            current.text.append(c);
        }
    }
    if (inQuotes)
        return std::nullopt;
    if (inArgument)
        arguments.push_back(current);
    return arguments;
}

std::vector<QStringList> desktopEntryCommands(const DesktopEntry& entry, const QList<QUrl>& givenUrls,
                                              const QStringList& writtenLinks) {
    // Only absolute links reach the program: a relative one ("--flag") could read as a command-line switch.
    const QStringList texts = linkTexts(givenUrls, writtenLinks);
    QList<LinkArgument> urls;
    for (qsizetype i = 0; i < givenUrls.size(); ++i)
        if (givenUrls[i].isValid() && !givenUrls[i].isRelative())
            urls.append(LinkArgument{givenUrls[i], texts[i]});
    const auto split = splitExecLine(entry.exec);
    // The program itself must be written out: a field code there would run a link as a program.
    if (!split || split->empty() || split->front().text.isEmpty() ||
        (!split->front().quoted && split->front().text.contains(QLatin1Char('%'))))
        return {};

    bool takesOne = false;
    bool takesAny = false;
    for (const ExecArgument& argument : *split) {
        if (!argument.quoted && isUrlFieldCode(argument.text)) {
            takesAny = true;
            takesOne =
                takesOne || argument.text == QLatin1String("%u") || argument.text == QLatin1String("%f");
        }
    }

    // Builds one command line for the URLs it is given.
    const auto build = [&](const QList<LinkArgument>& given) {
        QStringList command;
        for (const ExecArgument& argument : *split) {
            const QString& text = argument.text;
            if (!argument.quoted) {
                if (text == QLatin1String("%u") || text == QLatin1String("%f")) {
                    if (!given.isEmpty())
                        command.append(argumentFor(given.first(), text == QLatin1String("%f")));
                    continue;
                }
                if (text == QLatin1String("%U") || text == QLatin1String("%F")) {
                    for (const LinkArgument& link : given)
                        command.append(argumentFor(link, text == QLatin1String("%F")));
                    continue;
                }
                if (text == QLatin1String("%i")) {
                    if (!entry.icon.isEmpty())
                        command << QStringLiteral("--icon") << entry.icon;
                    continue;
                }
                if (text == QLatin1String("%c")) {
                    command.append(entry.name);
                    continue;
                }
                if (text == QLatin1String("%k")) {
                    command.append(entry.path);
                    continue;
                }
            }
            // Inside an argument: "%%" is a percent sign; the other (deprecated) codes vanish.
            QString expanded;
            for (qsizetype i = 0; i < text.size(); ++i) {
                if (text[i] == QLatin1Char('%') && i + 1 < text.size()) {
                    if (text[i + 1] == QLatin1Char('%'))
                        expanded.append(QLatin1Char('%'));
                    ++i;
                    continue;
                }
                expanded.append(text[i]);
            }
            if (!expanded.isEmpty() || argument.quoted)
                command.append(expanded);
        }
        if (!takesAny)
            for (const LinkArgument& link : given)
                command.append(argumentFor(link, false));
        return command;
    };

    std::vector<QStringList> commands;
    if (takesOne && urls.size() > 1) {
        for (const LinkArgument& link : urls)
            commands.push_back(build({link}));
    } else {
        commands.push_back(build(urls));
    }
    if (commands.front().isEmpty() || commands.front().first().isEmpty())
        return {};
    return commands;
}

QHash<QString, QString> readDesktopFileGroup(const QString& path, const QString& group) {
    return readGroup(path, group);
}

std::optional<QString> desktopActionExec(const DesktopEntry& entry, const QString& action) {
    // An action group that the Actions key does not name is not offered by the entry.
    if (!splitList(readGroup(entry.path, QStringLiteral("Desktop Entry")).value(QStringLiteral("Actions")))
             .contains(action))
        return std::nullopt;
    const QString exec = unescapeValue(
        readGroup(entry.path, QStringLiteral("Desktop Action ") + action).value(QStringLiteral("Exec")));
    if (exec.trimmed().isEmpty())
        return std::nullopt;
    return exec;
}

std::optional<DesktopEntry> findDesktopEntry(const QString& desktopId) {
    if (!desktopId.endsWith(QLatin1String(".desktop")) || desktopId.contains(QLatin1Char('/')))
        return std::nullopt;
    const QString id = desktopId.chopped(int(sizeof(".desktop") - 1));
    for (const QString& dir : desktopEntryDirectories()) {
        const QString path = dir + QLatin1Char('/') + desktopId;
        if (QFileInfo::exists(path))
            return readDesktopEntry(path, id); // hidden or broken, it still hides the lower folders' entry
    }
    return std::nullopt;
}

QStringList bundleMimeTypes(const QVariantMap& info) {
    QStringList types;
    const auto nested = [&](const QString& arrayKey, const QString& key) {
        QStringList values;
        for (const QVariant& item : info.value(arrayKey).toList())
            for (const QVariant& value : item.toMap().value(key).toList())
                if (value.typeId() == QMetaType::QString)
                    values.append(value.toString());
        return values;
    };
    for (const QString& scheme :
         nested(QStringLiteral("CFBundleURLTypes"), QStringLiteral("CFBundleURLSchemes")))
        types.append(QStringLiteral("x-scheme-handler/") + scheme.toLower());
    for (const QString& contentType :
         nested(QStringLiteral("CFBundleDocumentTypes"), QStringLiteral("LSItemContentTypes"))) {
        const QString type = mimeTypeForContentType(contentType);
        if (!type.isEmpty())
            types.append(type);
    }
    types.removeDuplicates();
    return types;
}

bool needsExecQuoting(const QString& argument) {
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`%=");
    return argument.isEmpty() ||
           std::any_of(argument.begin(), argument.end(), [](QChar c) { return reserved.contains(c); });
}

namespace {

// An Exec argument quoted by the desktop-entry rules, with the file's own escapes.
QString quotedExecArgument(const QString& argument) {
    QString quoted;
    for (const QChar c : argument) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            quoted.append(QLatin1Char('\\'));
        else if (c == QLatin1Char('%'))
            quoted.append(QLatin1Char('%')); // a percent sign of the path is no field code
        quoted.append(c);
    }
    // The file's own escapes come on top of the Exec quoting.
    quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

} // namespace

QString execLineFor(const QString& program) {
    return (needsExecQuoting(program) ? quotedExecArgument(program) : program) + QStringLiteral(" %U");
}

namespace {

// A link to `program` under a plain path, named by the bundle identifier. Openers that split the Exec line
// at blanks without honouring its quotes (xdg-open without a known desktop) can start the program there; a
// bundle in "Application Support" has a blank in its path. None when no such link can be made.
std::optional<QString> plainProgramLink(const QString& identifier, const QString& program) {
    const QString folder = hostStateDirectory() + QStringLiteral("/programs");
    const QString link = folder + QLatin1Char('/') + identifier;
    if (needsExecQuoting(link) || !ensurePrivateDirectory(folder))
        return std::nullopt;
    if (QFileInfo(link).symLinkTarget() == program)
        return link;
    // Made beside and renamed over, so a start never finds no link.
    const QString fresh = link + QStringLiteral(".new");
    QFile::remove(fresh);
    if (!QFile::link(program, fresh) ||
        ::rename(QFile::encodeName(fresh).constData(), QFile::encodeName(link).constData()) != 0) {
        QFile::remove(fresh);
        return std::nullopt;
    }
    return link;
}

// The program that hands a desktop start's links to the bundle's running program (CorvaneHandOff).
const QString handOffProgramName = QStringLiteral("CorvaneHandOff");

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

// The bundle's icon taken out of its icon file into the host's state folder, where the desktop can read it;
// empty when it has none.
QString extractBundleIcon(const QString& bundlePath, const QString& identifier, const QVariantMap& info) {
    QString iconFile = info.value(QStringLiteral("CFBundleIconFile")).toString();
    if (iconFile.isEmpty() || iconFile.contains(QLatin1Char('/')))
        return {};
    if (QFileInfo(iconFile).suffix().isEmpty())
        iconFile += QStringLiteral(".icns");
    const QByteArray png = largestIcnsPng(bundlePath + QStringLiteral("/Contents/Resources/") + iconFile);
    if (png.isEmpty())
        return {};
    const QString icons = hostStateDirectory() + QStringLiteral("/icons");
    QDir().mkpath(icons);
    QSaveFile out(icons + QLatin1Char('/') + identifier + QStringLiteral(".png"));
    if (!out.open(QIODevice::WriteOnly) || out.write(png) != png.size() || !out.commit())
        return {};
    return out.fileName();
}

bool declaresWebLinks(const QVariantMap& info) {
    for (const QVariant& type : info.value(QStringLiteral("CFBundleURLTypes")).toList()) {
        const QStringList schemes = type.toMap().value(QStringLiteral("CFBundleURLSchemes")).toStringList();
        if (schemes.contains(QStringLiteral("http")) || schemes.contains(QStringLiteral("https")))
            return true;
    }
    return false;
}

// A string value of a desktop entry, with the file's escapes.
QString entryValue(QString value) {
    value.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    value.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    return value;
}

// Removes the entries the host wrote into the user's folder (the system's folders are not ours to edit) for
// which `isStale(bundle the entry was written for, its desktop-file ID)` holds, with the icons taken out for
// them.
void removeHostWrittenEntries(const std::function<bool(const QString&, const QString&)>& isStale) {
    const QString icons = hostStateDirectory() + QStringLiteral("/icons/");
    const QDir folder(desktopEntryDirectories().first());
    for (const QString& name : folder.entryList({QStringLiteral("*.desktop")}, QDir::Files)) {
        const QString path = folder.filePath(name);
        const auto values = readDesktopFileGroup(path, QStringLiteral("Desktop Entry"));
        const QString written = unescapeValue(values.value(QStringLiteral("X-Corvane-Bundle")));
        if (written.isEmpty() || !isStale(QDir::cleanPath(written), name))
            continue;
        const QString icon = unescapeValue(values.value(QStringLiteral("Icon")));
        QFile::remove(path);
        if (icon.startsWith(icons))
            QFile::remove(icon);
    }
}

} // namespace

QString writeBundleDesktopEntry(const QString& bundlePath, const QVariantMap& info) {
    const auto string = [&](const QString& key) {
        const QVariant value = info.value(key);
        return value.typeId() == QMetaType::QString ? value.toString() : QString();
    };
    const QString identifier = string(QStringLiteral("CFBundleIdentifier"));
    const QString executable = string(QStringLiteral("CFBundleExecutable"));
    const QString program = bundlePath + QStringLiteral("/Contents/MacOS/") + executable;
    const auto fail = [&](const QString& why) {
        return SystemError(QStringLiteral("DesktopEntries"), 1,
                           QStringLiteral("no desktop entry for %1: %2").arg(bundlePath, why));
    };
    if (identifier.isEmpty() || identifier.contains(QLatin1Char('/')) ||
        identifier.startsWith(QLatin1Char('.')))
        throw fail(QStringLiteral("no usable bundle identifier"));
    if (executable.isEmpty())
        throw fail(QStringLiteral("no executable"));
    // A line break in a path cannot be written into a desktop file.
    if (program.contains(QLatin1Char('\n')) || program.contains(QLatin1Char('\r')))
        throw fail(QStringLiteral("the path holds a line break"));

    QString name = QFileInfo(bundlePath).completeBaseName();
    QString icon;
    QString exec;
    QStringList types;
    QStringList menuLines;
    if (info.contains(proxyAppKey)) {
        // A proxy app stands in the desktop's menu as an app of its own: its name and icon, its program
        // started directly, and web links only when it was made a browser.
        for (const QString& key : {QStringLiteral("CFBundleDisplayName"), QStringLiteral("CFBundleName")}) {
            if (!string(key).isEmpty()) {
                name = string(key);
                break;
            }
        }
        icon = extractBundleIcon(bundlePath, identifier, info);
        const bool browser = declaresWebLinks(info);
        exec = quotedExecArgument(program) + (browser ? QStringLiteral(" %U") : QString());
        if (browser)
            types = QStringList{QStringLiteral("x-scheme-handler/http"),
                                QStringLiteral("x-scheme-handler/https"), QStringLiteral("text/html")};
        menuLines = QStringList{QStringLiteral("Terminal=false"), QStringLiteral("StartupNotify=true"),
                                browser ? QStringLiteral("Categories=Network;WebBrowser;")
                                        : QStringLiteral("Categories=Network;")};
    } else {
        // Any other application shows in the menu with the icon its bundle names, when it has one. A bundle
        // with a hand-off program beside its own has the desktop run that one: it passes the links on
        // without starting the program's libraries a second time.
        icon = extractBundleIcon(bundlePath, identifier, info);
        const QString handOff = bundlePath + QStringLiteral("/Contents/MacOS/") + handOffProgramName;
        const QString started = QFileInfo(handOff).isExecutable() ? handOff : program;
        exec = execLineFor(needsExecQuoting(started) ? plainProgramLink(identifier, started).value_or(started)
                                                     : started);
        types = bundleMimeTypes(info);
    }

    QStringList lines{QStringLiteral("[Desktop Entry]"), QStringLiteral("Type=Application"),
                      QStringLiteral("Version=1.5"), QStringLiteral("Name=") + entryValue(name)};
    if (!icon.isEmpty())
        lines.append(QStringLiteral("Icon=") + entryValue(icon));
    lines.append(QStringLiteral("Exec=") + exec);
    lines.append(menuLines);
    if (!types.isEmpty())
        lines.append(QStringLiteral("MimeType=") + types.join(QLatin1Char(';')) + QLatin1Char(';'));
    if (info.value(QStringLiteral("LSUIElement")).toBool() ||
        info.value(QStringLiteral("LSBackgroundOnly")).toBool())
        lines.append(QStringLiteral("NoDisplay=true"));
    lines.append(QStringLiteral("X-Corvane-Bundle=") + entryValue(bundlePath));

    const QString folder = desktopEntryDirectories().first();
    const QString desktopId = identifier + QStringLiteral(".desktop");
    QDir().mkpath(folder);
    QSaveFile file(folder + QLatin1Char('/') + desktopId);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write((lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8()) < 0 || !file.commit())
        throw fail(file.errorString());
    // One entry per bundle: one written when the bundle had another identifier (rebuilt, or made again at
    // the same place) would stay in the menu under the same name.
    const QString bundle = QDir::cleanPath(QFileInfo(bundlePath).absoluteFilePath());
    removeHostWrittenEntries([&](const QString& writtenFor, const QString& otherId) {
        return writtenFor == bundle && otherId != desktopId;
    });
    return desktopId;
}

void removeBundleMenuEntries(const QString& bundlePath) {
    const QString bundle = QDir::cleanPath(QFileInfo(bundlePath).absoluteFilePath());
    removeHostWrittenEntries([&](const QString& writtenFor, const QString&) {
        return writtenFor == bundle || writtenFor.startsWith(bundle + QLatin1Char('/'));
    });
}

void removeOrphanedBundleDesktopEntries() {
    removeHostWrittenEntries(
        [](const QString& writtenFor, const QString&) { return !QFileInfo(writtenFor).isDir(); });
}

} // namespace host
