#pragma once

#include "CorvaneCore/Routing/LinkRule.h"
#include "CorvaneHost/Error.h"

#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <optional>
#include <vector>

// One installed browser as offered to the user.
struct BrowserEntry {
    QString bundleID;
    QString name;
    QString version; // CFBundleShortVersionString, or empty
    QString path;    // the application bundle's file-system path

    bool operator==(const BrowserEntry&) const = default;

    const QString& id() const { return bundleID; }
    QUrl url() const;
    bool isKnownBrowser() const;
};

size_t qHash(const BrowserEntry& entry, size_t seed = 0);

// Which browsers are installed, which the product recognises, what a route target stands for, who takes a
// link when nothing else can, and whether the helper is the handler of web links and of the routed file
// types. Stateless: every answer is computed afresh from the workspace, the rule store and the registry.
// Applications are named by their path (as the workspace names them). Called on the main thread.
namespace BrowserCatalog {

class CatalogError : public host::SystemError {
public:
    enum class Code { noBrowserAvailable = 1 };
    static inline const QString domain = QStringLiteral("BrowserCatalog.CatalogError");

    explicit CatalogError(Code code);
    Code code() const { return code_; }

private:
    Code code_;
};

// Uniform types of the documents the helper can be made the default application of.
namespace FileType {
inline const QString html = QStringLiteral("public.html");
inline const QString svg = QStringLiteral("public.svg-image");
inline const QString webArchive = QStringLiteral("com.apple.webarchive");
} // namespace FileType

struct RoutableFileType {
    QString type;
    QString label;
    bool operator==(const RoutableFileType&) const = default;
};

// Completions take the error, or none on success.
using Completion = std::function<void(std::optional<host::SystemError>)>;

// The browsers the product recognises, in order (exact, case-sensitive identifiers).
const QStringList& knownBrowserIDs();
// The browsers that can be asked for a private window by script.
const QStringList& privateBrowsingIDs();
// The last-resort preference: Chrome, then Safari.
const QStringList& lastResortPreference();
inline const QString safariBundleID = QStringLiteral("com.apple.Safari");
// HTML pages, SVG images, web archives, in this order.
const std::vector<RoutableFileType>& routableFileTypes();
// Only used to ask which applications open web links and which is the default.
const QUrl& probeURL();

bool isOurs(const QString& bundleID);
bool supportsPrivateBrowsing(const QString& bundleID);

// The installed browsers with the additional identifiers of the rule store's current rule set.
std::vector<BrowserEntry> installed();
std::vector<BrowserEntry> installed(const QStringList& additionalIDs);
// Safari first, then by name (case-insensitive, numbers by value); stable.
std::vector<BrowserEntry> ordered(std::vector<BrowserEntry> entries);

// The application a route target stands for, or none.
std::optional<QString> resolve(const RouteTarget& target);
// The resolved application's file name without extension.
std::optional<QString> name(const RouteTarget& target);
// The browser that takes a link when nothing else can.
std::optional<QString> lastResort(const RuleSet& set);
std::optional<QString> lastResortName(const RuleSet& set);

std::optional<QString> defaultBrowserBundleID();
bool isDefaultBrowser();
bool handles(const QString& contentType);
QStringList handledFileTypes();
bool handlesAnyFileType();
bool handlesHTMLFiles();

// Makes the helper (enabled) or the last-resort browser (disabled) the default application for "http" and
// "https" links. Without such an application the completion runs at once, before returning, with
// noBrowserAvailable; otherwise later, on the main queue.
void requestDefaultBrowser(bool enabled, Completion completion);
// The same for one content type.
void requestHandling(const QString& contentType, bool enabled, Completion completion);

} // namespace BrowserCatalog
