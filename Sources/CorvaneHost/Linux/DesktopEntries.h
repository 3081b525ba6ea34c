#pragma once

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
    bool operator==(const DesktopEntry&) const = default;
};

// The folders searched for entries, highest precedence first: $XDG_DATA_HOME/applications (default
// ~/.local/share/applications), then each of $XDG_DATA_DIRS (default /usr/local/share:/usr/share) with
// "/applications".
QStringList desktopEntryDirectories();

// Reads one entry file; none unless it is an application entry ("Type=Application", not "Hidden=true") with
// an Exec line. `id` is its desktop-file ID.
std::optional<DesktopEntry> readDesktopEntry(const QString& path, const QString& id);

// Every application entry whose MimeType names "x-scheme-handler/http", in folder order; an ID found in a
// folder of higher precedence hides the same ID further down.
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
// File URLs are given to %f/%F as local paths; relative URLs are left out. Empty when the Exec line cannot be
// split or names no program.
std::vector<QStringList> desktopEntryCommands(const DesktopEntry& entry, const QList<QUrl>& urls);

// The default application of a MIME type by the desktop's mimeapps.list files ([Default Applications]), as a
// desktop-file ID without ".desktop"; none when none is named.
std::optional<QString> desktopDefaultFor(const QString& mimeType);

} // namespace host
