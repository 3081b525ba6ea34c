#include "CorvaneCore/Routing/BrowserCatalog.h"

#include "CorvaneCore/Foundation/Logging.h"
#include "CorvaneCore/Foundation/NameOrder.h"
#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneCore/ProxyApps/Registry.h"
#include "CorvaneCore/Routing/RuleStore.h"
#include "CorvaneHost/MainQueue.h"
#include "CorvaneHost/Services.h"
#include "CorvaneHost/Workspace.h"

#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <algorithm>

QUrl BrowserEntry::url() const {
    return QUrl::fromLocalFile(path);
}

bool BrowserEntry::isKnownBrowser() const {
    return BrowserCatalog::knownBrowserIDs().contains(bundleID);
}

size_t qHash(const BrowserEntry& entry, size_t seed) {
    return qHashMulti(seed, entry.bundleID, entry.name, entry.version, entry.path);
}

namespace Corvane {

bool isOurBundleID(const QString& bundleID) {
    return BrowserCatalog::isOurs(bundleID);
}

} // namespace Corvane

namespace BrowserCatalog {

CatalogError::CatalogError(Code code)
    : host::SystemError(domain, static_cast<int>(code),
                        QStringLiteral("no browser available to hand links to"))
    , code_(code) {}

namespace {

QString stringValue(const QVariantMap& info, const QString& key) {
    const QVariant value = info.value(key);
    return value.typeId() == QMetaType::QString ? value.toString() : QString();
}

std::optional<QString> bundleIdentifierAt(const QString& appPath) {
    const auto info = host::workspace().bundleInfo(appPath);
    if (!info)
        return std::nullopt;
    const QString identifier = stringValue(*info, QStringLiteral("CFBundleIdentifier"));
    if (identifier.isEmpty())
        return std::nullopt;
    return identifier;
}

// The name the desktop shows: the file name without its extension for a bundle ("Google Chrome" for
// ".../Google Chrome.app").
QString baseName(const QString& appPath) {
    return host::workspace().displayName(appPath);
}

QString displayName(const QString& appPath, const QVariantMap& info) {
    const QString fromPath = baseName(appPath);
    if (!fromPath.isEmpty())
        return fromPath;
    for (const QString& key : {QStringLiteral("CFBundleDisplayName"), QStringLiteral("CFBundleName"),
                               QStringLiteral("CFBundleIdentifier")}) {
        const QString value = stringValue(info, key);
        if (!value.isEmpty())
            return value;
    }
    return QStringLiteral("Unknown");
}

// The helper of the product, present or former: a link handed to it would come straight back.
bool isOurHelper(const QString& bundleID) {
    if (bundleID == Corvane::helperBundleID)
        return true;
    for (const Corvane::PreviousIdentity& identity : Corvane::previousIdentities())
        if (bundleID == identity.helperBundleID())
            return true;
    return false;
}

std::optional<QString> launchServicesLookup(const QString& bundleID) {
    const auto path = host::workspace().urlForApplication(bundleID);
    if (path && QFileInfo::exists(*path))
        return path;
    return std::nullopt;
}

std::optional<QString> handlerURL(bool enabled) {
    if (enabled) {
        // Only the installed copy is ever registered, never the one inside the creator app's bundle.
        const QString helper = Corvane::installedHelperURL();
        if (QFileInfo::exists(helper))
            return helper;
        return std::nullopt;
    }
    return lastResort(RuleStore::shared().current());
}

} // namespace

const QStringList& knownBrowserIDs() {
    static const QStringList ids{
        QStringLiteral("com.apple.Safari"),
        QStringLiteral("com.apple.SafariTechnologyPreview"),
        QStringLiteral("com.google.Chrome"),
        QStringLiteral("com.google.Chrome.beta"),
        QStringLiteral("com.google.Chrome.dev"),
        QStringLiteral("com.google.Chrome.canary"),
        QStringLiteral("com.google.chrome.for.testing"),
        QStringLiteral("org.chromium.Chromium"),
        QStringLiteral("org.mozilla.firefox"),
        QStringLiteral("org.mozilla.firefoxdeveloperedition"),
        QStringLiteral("org.mozilla.nightly"),
        QStringLiteral("com.microsoft.edgemac"),
        QStringLiteral("com.microsoft.edgemac.Beta"),
        QStringLiteral("com.brave.Browser"),
        QStringLiteral("com.brave.Browser.beta"),
        QStringLiteral("com.brave.Browser.nightly"),
        QStringLiteral("company.thebrowser.Browser"),
        QStringLiteral("company.thebrowser.dia"),
        QStringLiteral("com.operasoftware.Opera"),
        QStringLiteral("com.operasoftware.OperaGX"),
        QStringLiteral("com.vivaldi.Vivaldi"),
        QStringLiteral("com.kagimacOS.Kagi"),
        QStringLiteral("app.zen-browser.zen"),
        QStringLiteral("com.duckduckgo.macos.browser"),
        QStringLiteral("org.torproject.torbrowser"),
        QStringLiteral("com.sigmaos.sigmaos.macos"),
        QStringLiteral("ai.perplexity.comet"),
    };
    return ids;
}

const QStringList& privateBrowsingIDs() {
    static const QStringList ids{
        QStringLiteral("com.google.Chrome"),
        QStringLiteral("com.google.Chrome.beta"),
        QStringLiteral("com.google.Chrome.dev"),
        QStringLiteral("com.google.Chrome.canary"),
        QStringLiteral("com.google.chrome.for.testing"),
        QStringLiteral("org.chromium.Chromium"),
        QStringLiteral("com.brave.Browser"),
        QStringLiteral("com.brave.Browser.beta"),
        QStringLiteral("com.brave.Browser.nightly"),
        QStringLiteral("com.microsoft.edgemac"),
        QStringLiteral("com.microsoft.edgemac.Beta"),
    };
    return ids;
}

const QStringList& lastResortPreference() {
    static const QStringList ids{QStringLiteral("com.google.Chrome"), QStringLiteral("com.apple.Safari")};
    return ids;
}

const std::vector<RoutableFileType>& routableFileTypes() {
    static const std::vector<RoutableFileType> types{
        {FileType::html, QStringLiteral("HTML pages")},
        {FileType::svg, QStringLiteral("SVG images")},
        {FileType::webArchive, QStringLiteral("Web archives")},
    };
    return types;
}

const QUrl& probeURL() {
    static const QUrl url(QStringLiteral("https://example.com/"));
    return url;
}

bool isOurs(const QString& bundleID) {
    if (bundleID.startsWith(Corvane::bundleIDPrefix + QLatin1Char('.')))
        return true;
    for (const Corvane::PreviousIdentity& identity : Corvane::previousIdentities())
        if (bundleID.startsWith(identity.bundleIDPrefix + QLatin1Char('.')))
            return true;
    return false;
}

bool supportsPrivateBrowsing(const QString& bundleID) {
    return privateBrowsingIDs().contains(bundleID);
}

std::vector<BrowserEntry> installed() {
    return installed(RuleStore::shared().current().additionalBrowserIDs);
}

std::vector<BrowserEntry> installed(const QStringList& additionalIDs) {
    host::Workspace& workspace = host::workspace();
    std::vector<BrowserEntry> entries;
    QSet<QString> taken;

    const auto add = [&](const QString& appPath) {
        const auto info = workspace.bundleInfo(appPath);
        if (!info)
            return;
        // The identifier read from the bundle itself, not the one it was looked up by.
        const QString identifier = stringValue(*info, QStringLiteral("CFBundleIdentifier"));
        if (identifier.isEmpty() || isOurs(identifier) || taken.contains(identifier))
            return;
        taken.insert(identifier);
        entries.push_back(BrowserEntry{identifier, displayName(appPath, *info),
                                       stringValue(*info, QStringLiteral("CFBundleShortVersionString")),
                                       appPath});
    };

    for (const QString& appPath : workspace.applicationsToOpenScheme(probeURL().scheme()))
        add(appPath);
    for (const QString& identifier : additionalIDs) {
        if (taken.contains(identifier))
            continue;
        if (const auto appPath = workspace.urlForApplication(identifier))
            add(*appPath);
    }
    return ordered(std::move(entries));
}

std::vector<BrowserEntry> ordered(std::vector<BrowserEntry> entries) {
    std::stable_sort(entries.begin(), entries.end(), [](const BrowserEntry& a, const BrowserEntry& b) {
        const bool aIsSafari = a.bundleID == safariBundleID;
        const bool bIsSafari = b.bundleID == safariBundleID;
        if (aIsSafari != bIsSafari)
            return aIsSafari;
        return NameOrder::less(a.name, b.name);
    });
    return entries;
}

std::optional<QString> resolve(const RouteTarget& target) {
    const QString& bundleID = target.bundleID();
    if (target.isProxyApp()) {
        // Proxy apps live under the product's prefix, so only the helper itself is refused here: a link
        // handed to it would come straight back and go round for ever.
        if (isOurHelper(bundleID)) {
            Log::helper.error(QStringLiteral("refusing to route to %1: that is us").arg(bundleID));
            return std::nullopt;
        }
        const Registry registry = Registry::load();
        const auto entry = std::find_if(registry.apps.begin(), registry.apps.end(),
                                        [&](const RegisteredApp& app) { return app.bundleID == bundleID; });
        if (entry != registry.apps.end())
            if (auto path = Registry::resolve(*entry))
                return path;
        return launchServicesLookup(bundleID);
    }
    if (isOurs(bundleID)) {
        Log::helper.error(QStringLiteral("refusing to route to %1: that is us").arg(bundleID));
        return std::nullopt;
    }
    return launchServicesLookup(bundleID);
}

std::optional<QString> name(const RouteTarget& target) {
    if (const auto path = resolve(target))
        return baseName(*path);
    return std::nullopt;
}

std::optional<QString> lastResort(const RuleSet& set) {
    const std::vector<BrowserEntry> entries = installed();
    const auto offered = [&](const BrowserEntry& entry) {
        const auto choice = set.browserChoices.constFind(entry.bundleID);
        return choice != set.browserChoices.constEnd() ? *choice : entry.isKnownBrowser();
    };
    for (const QString& preferred : lastResortPreference())
        for (const BrowserEntry& entry : entries)
            if (entry.bundleID == preferred && offered(entry))
                return entry.path;
    for (const BrowserEntry& entry : entries)
        if (offered(entry))
            return entry.path;
    if (!entries.empty())
        return entries.front().path;
    return std::nullopt;
}

std::optional<QString> lastResortName(const RuleSet& set) {
    if (const auto path = lastResort(set))
        return baseName(*path);
    return std::nullopt;
}

std::optional<QString> defaultBrowserBundleID() {
    const auto path = host::workspace().defaultApplicationForScheme(probeURL().scheme());
    if (!path)
        return std::nullopt;
    return bundleIdentifierAt(*path);
}

bool isDefaultBrowser() {
    return defaultBrowserBundleID() == Corvane::helperBundleID;
}

bool handles(const QString& contentType) {
    const auto path = host::workspace().defaultApplicationForContentType(contentType);
    return path && bundleIdentifierAt(*path) == Corvane::helperBundleID;
}

QStringList handledFileTypes() {
    QStringList types;
    for (const RoutableFileType& fileType : routableFileTypes())
        if (handles(fileType.type))
            types.append(fileType.type);
    return types;
}

bool handlesAnyFileType() {
    return std::any_of(routableFileTypes().begin(), routableFileTypes().end(),
                       [](const RoutableFileType& fileType) { return handles(fileType.type); });
}

bool handlesHTMLFiles() {
    return handles(FileType::html);
}

void requestDefaultBrowser(bool enabled, Completion completion) {
    const auto handler = handlerURL(enabled);
    if (!handler) {
        completion(CatalogError(CatalogError::Code::noBrowserAvailable));
        return;
    }
    host::workspace().setDefaultApplicationForScheme(
        *handler, QStringLiteral("http"),
        [handler = *handler, completion](std::optional<host::SystemError> error) {
            if (error) {
                host::mainQueue().async([completion, error] { completion(error); });
                return;
            }
            host::workspace().setDefaultApplicationForScheme(
                handler, QStringLiteral("https"), [completion](std::optional<host::SystemError> error) {
                    host::mainQueue().async([completion, error] { completion(error); });
                });
        });
}

void requestHandling(const QString& contentType, bool enabled, Completion completion) {
    const auto handler = handlerURL(enabled);
    if (!handler) {
        completion(CatalogError(CatalogError::Code::noBrowserAvailable));
        return;
    }
    host::workspace().setDefaultApplicationForContentType(
        *handler, contentType, [completion](std::optional<host::SystemError> error) {
            host::mainQueue().async([completion, error] { completion(error); });
        });
}

} // namespace BrowserCatalog
