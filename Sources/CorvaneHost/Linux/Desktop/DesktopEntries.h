#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariantMap>
#include <optional>
#include <vector>

namespace host {

// An application of this machine's desktop, described by a desktop entry file (".desktop"). The workspace
// offers those that open web links (the installed browsers) beside the bundles.
struct DesktopEntry {
    QString path;             // the entry file; the application's identity in the workspace
    QString id;               // the desktop-file ID without ".desktop", e.g. "firefox-esr"
    QString name;             // Name=
    QString exec;             // Exec=, as written (string escapes already resolved)
    QString icon;             // Icon=
    QStringList mimeTypes;    // MimeType=
    QString bundleIdentifier; // see bundleIdentifierForDesktopEntry
    QString bundlePath;       // X-Corvane-Bundle=: the bundle that an entry written by the host stands for
    QString startupWMClass;   // StartupWMClass=: the window class of the application's windows
    bool terminal = false; // Terminal=true: the program runs in a terminal, whose windows are the terminal's
    bool operator==(const DesktopEntry&) const = default;
};

// The folders searched for entries, highest precedence first: $XDG_DATA_HOME/applications (default
// ~/.local/share/applications), then each of $XDG_DATA_DIRS (default /usr/local/share:/usr/share) with
// "/applications".
QStringList desktopEntryDirectories();

// Reads one entry file; none unless it is an application entry ("Type=Application", not "Hidden=true") with
// an Exec line. `id` is its desktop-file ID.
std::optional<DesktopEntry> readDesktopEntry(const QString& path, const QString& id);

// Every application entry, in folder order; an ID found in a folder of higher precedence hides the same ID
// further down.
std::vector<DesktopEntry> applicationDesktopEntries();

// Those of them whose MimeType names "x-scheme-handler/http".
std::vector<DesktopEntry> browserDesktopEntries();

// Well-known browsers keep their usual identifiers ("chromium" is "org.chromium.Chromium", "firefox-esr"
// "org.mozilla.firefox", ...); an ID in reverse-domain form is its own identifier; any other is
// "desktop.<id>".
QString bundleIdentifierForDesktopEntry(const QString& id);

// The MIME type of the desktop that stands for a content type of the bundles, or an empty string.
QString mimeTypeForContentType(const QString& contentType);

// The Info dictionary that stands for the entry (CFBundleIdentifier, CFBundleName, CFBundleDisplayName).
QVariantMap desktopEntryInfo(const DesktopEntry& entry);

// Splits an Exec value into arguments by the desktop-entry quoting rules. Each element tells whether the
// argument was quoted (field codes count only outside quotes). None when a quote is left open or a backslash
// escapes nothing within quotes.
struct ExecArgument {
    QString text;
    bool quoted = false;
};
std::optional<std::vector<ExecArgument>> splitExecLine(const QString& exec);

// The command lines (program first) that open `urls` with the entry: %u and %f take one URL each (one launch
// per URL), %U and %F take them all, %i becomes "--icon <Icon>", %c the name, %k the entry's path, %% a
// percent sign; other field codes are dropped. An Exec line without a URL field code gets the URLs appended.
// File URLs are given to %f/%F as local paths, links as written where `writtenLinks` gives them (linkTexts);
// relative URLs are left out. Empty when the Exec line cannot be split or names no program.
std::vector<QStringList> desktopEntryCommands(const DesktopEntry& entry, const QList<QUrl>& urls,
                                              const QStringList& writtenLinks = {});

// The key-value pairs of one group of a desktop file (the first value of a key counts; localized keys are
// left out). Empty when the file cannot be read.
QHash<QString, QString> readDesktopFileGroup(const QString& path, const QString& group);

// The Exec value of the entry's desktop action `action` (its group "[Desktop Action <action>]", named in the
// entry's Actions key), string escapes resolved; none when the entry has no such action.
std::optional<QString> desktopActionExec(const DesktopEntry& entry, const QString& action);

// The installed application entry of a desktop-file ID ("chromium.desktop"), from the folder of highest
// precedence that has that ID; none when there is none or it is hidden.
std::optional<DesktopEntry> findDesktopEntry(const QString& desktopId);

// The MIME types of what a bundle opens: "x-scheme-handler/<scheme>" for its URL schemes and the types of its
// document content types that the desktop knows.
QStringList bundleMimeTypes(const QVariantMap& info);

// Writes the desktop entry that stands for the bundle at `bundlePath` into $XDG_DATA_HOME/applications, named
// after its bundle identifier, so that the desktop can start it (with links) and name it as a default: its
// program with %U (through a link under a plain path where the program's own path needs quoting); the MIME
// types it opens; hidden from menus when the bundle has no menu presence (LSUIElement, LSBackgroundOnly).
// A proxy app (its Info.plist names a Chrome profile) is written as an app of the desktop's menu instead: its
// display name, its icon taken out of the bundle's icon file into the host's state folder, its own program,
// and web links only when it declares http or https.
// Returns its desktop-file ID. Throws host::SystemError.
// Any entry the host wrote earlier for the same bundle under another identifier is removed.
QString writeBundleDesktopEntry(const QString& bundlePath, const QVariantMap& info);

// Removes the entries the host wrote for bundles that are no longer there, with their icons.
void removeOrphanedBundleDesktopEntries();

// Whether an Exec argument must be quoted by the desktop-entry rules (it holds a reserved character).
bool needsExecQuoting(const QString& argument);

// The Exec value that runs `program` with the links: the program (quoted where the rules ask, escaped for the
// file) and %U.
QString execLineFor(const QString& program);

} // namespace host
