#include "Corvane/Models/RoutingModel.h"

#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneCore/Integration/HelperInstaller.h"
#include "CorvaneCore/Integration/LoginItem.h"
#include "CorvaneHost/Error.h"
#include "CorvaneHost/Folders.h"
#include "CorvaneHost/MainQueue.h"
#include "CorvaneHost/Services.h"
#include "CorvaneHost/Workspace.h"

#include <QPointer>
#include <algorithm>

namespace {

// Spaces and tabs only: a line break is part of what was typed.
QString trimSpacesAndTabs(const QString& text) {
    qsizetype start = 0;
    qsizetype end = text.size();
    auto isBlank = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
    while (start < end && isBlank(text[start]))
        ++start;
    while (end > start && isBlank(text[end - 1]))
        --end;
    return text.mid(start, end - start);
}

} // namespace

RoutingModel::RoutingModel(QObject* parent)
    : QObject(parent)
    , rules(RuleStore::shared())
    , history(RecentLinksStore::shared())
    , settingsStore(SettingsStore::shared()) {}

void RoutingModel::setRuleSet(RuleSet value) {
    ruleSet_ = std::move(value);
    emit ruleSetChanged();
}

void RoutingModel::setRecentLinks(std::vector<RecentLink> value) {
    recentLinks_ = std::move(value);
    emit recentLinksChanged();
}

void RoutingModel::setBrowsers(std::vector<BrowserEntry> value) {
    browsers_ = std::move(value);
    emit browsersChanged();
}

void RoutingModel::setSettings(AppSettings value) {
    settings_ = value;
    emit settingsChanged();
}

void RoutingModel::setStatusMessage(std::optional<QString> value) {
    statusMessage_ = std::move(value);
    emit statusMessageChanged();
}

void RoutingModel::setErrorMessage(std::optional<QString> value) {
    errorMessage_ = std::move(value);
    emit errorMessageChanged();
}

void RoutingModel::load() {
    rules.reloadIfChanged();
    setRuleSet(rules.set());
    history.reloadIfChanged();
    setRecentLinks(history.links());
    setBrowsers(BrowserCatalog::installed());
    settingsStore.reloadIfChanged();
    setSettings(settingsStore.settings());
    refreshSystemState();
}

void RoutingModel::startPolling() {
    if (pollTimer_)
        return;
    QPointer<RoutingModel> guard(this);
    pollTimer_ = host::mainQueue().schedule(
        pollInterval,
        [guard] {
            // Each tick runs as a task of its own, after what the main queue holds now.
            host::mainQueue().async([guard] {
                if (guard)
                    guard->refreshFromDisk();
            });
        },
        true);
}

void RoutingModel::refreshFromDisk() {
    if (history.reloadIfChanged())
        setRecentLinks(history.links());
    if (rules.reloadIfChanged())
        setRuleSet(rules.set());
    if (settingsStore.reloadIfChanged())
        setSettings(settingsStore.settings());
    refreshSystemState();
}

void RoutingModel::refreshSystemState() {
    isDefaultBrowser_ = BrowserCatalog::isDefaultBrowser();
    emit isDefaultBrowserChanged();
    const QStringList handled = BrowserCatalog::handledFileTypes();
    handledFileTypes_ = QSet<QString>(handled.begin(), handled.end());
    emit handledFileTypesChanged();
    startsAtLogin_ = LoginItem::isEnabled();
    emit startsAtLoginChanged();
    installedHelperVersion_ = HelperInstaller::version(Corvane::installedHelperURL());
    emit installedHelperVersionChanged();
    std::optional<QString> bundledVersion;
    if (const auto source = HelperInstaller::sourceHelperURL())
        bundledVersion = HelperInstaller::version(*source);
    helperIsStale_ = installedHelperVersion_ && bundledVersion && *installedHelperVersion_ != *bundledVersion;
    emit helperIsStaleChanged();
}

void RoutingModel::save() {
    try {
        rules.save(ruleSet_);
        setErrorMessage(std::nullopt);
    } catch (const std::exception& error) {
        setErrorMessage(QStringLiteral("Couldn't save the rules: ") + host::describe(error));
    }
}

void RoutingModel::save(const AppSettings& settings) {
    try {
        settingsStore.save(settings);
        setSettings(settings);
        setErrorMessage(std::nullopt);
    } catch (const std::exception& error) {
        setErrorMessage(QStringLiteral("Couldn't save that setting: ") + host::describe(error));
    }
}

void RoutingModel::update(const LinkRule& rule) {
    auto found = std::find_if(ruleSet_.rules.begin(), ruleSet_.rules.end(),
                              [&](const LinkRule& candidate) { return candidate.id == rule.id; });
    if (found == ruleSet_.rules.end())
        return;
    *found = rule;
    emit ruleSetChanged();
    save();
}

void RoutingModel::addRule(const std::optional<RouteTarget>& defaultTarget) {
    if (!defaultTarget) {
        setErrorMessage(
            QStringLiteral("Create a proxy app first, or install another browser to send links to."));
        return;
    }
    ruleSet_.rules.push_back(
        LinkRule{QUuid::createUuid(), QStringLiteral("New Rule"), *defaultTarget, true, MatchMode::any, {}});
    emit ruleSetChanged();
    save();
}

void RoutingModel::moveRule(int from, int to) {
    const int count = static_cast<int>(ruleSet_.rules.size());
    if (from < 0 || to < 0 || from >= count || to >= count || from == to)
        return;
    LinkRule moved = ruleSet_.rules[from];
    ruleSet_.rules.erase(ruleSet_.rules.begin() + from);
    ruleSet_.rules.insert(ruleSet_.rules.begin() + to, moved);
    emit ruleSetChanged();
    save();
}

void RoutingModel::setEnabled(bool enabled, const QUuid& ruleID) {
    auto found = std::find_if(ruleSet_.rules.begin(), ruleSet_.rules.end(),
                              [&](const LinkRule& rule) { return rule.id == ruleID; });
    if (found == ruleSet_.rules.end())
        return;
    found->isEnabled = enabled;
    emit ruleSetChanged();
    save();
}

std::optional<BrowserEntry> RoutingModel::addBrowser(const QString& appPath) {
    const auto info = host::workspace().bundleInfo(appPath);
    const QString identifier =
        info ? info->value(QStringLiteral("CFBundleIdentifier")).toString() : QString();
    if (identifier.isEmpty()) {
        setErrorMessage(QStringLiteral("That doesn't look like an application."));
        return std::nullopt;
    }
    if (Corvane::isOurBundleID(identifier)) {
        setErrorMessage(QStringLiteral("That's Corvane. Routing a link to ourselves would be a loop."));
        return std::nullopt;
    }
    for (const BrowserEntry& entry : browsers_) {
        if (entry.bundleID == identifier) {
            setErrorMessage(QStringLiteral("“%1” is already listed.").arg(entry.name));
            return std::nullopt;
        }
    }
    ruleSet_.additionalBrowserIDs.append(identifier);
    ruleSet_.browserChoices.insert(identifier, true);
    emit ruleSetChanged();
    save();
    setBrowsers(BrowserCatalog::installed());
    for (const BrowserEntry& entry : browsers_)
        if (entry.bundleID == identifier)
            return entry;
    return std::nullopt;
}

void RoutingModel::removeBrowser(const BrowserEntry& entry) {
    ruleSet_.additionalBrowserIDs.removeAll(entry.bundleID);
    ruleSet_.browserChoices.remove(entry.bundleID);
    emit ruleSetChanged();
    save();
    setBrowsers(BrowserCatalog::installed());
}

bool RoutingModel::hasHandAddedBrowsers() const {
    return std::any_of(browsers_.begin(), browsers_.end(), [&](const BrowserEntry& entry) {
        return ruleSet_.additionalBrowserIDs.contains(entry.bundleID);
    });
}

std::vector<BrowserEntry> RoutingModel::offeredBrowsers(const std::optional<RouteTarget>& current) const {
    std::vector<BrowserEntry> offered;
    for (const BrowserEntry& entry : browsers_) {
        const auto choice = ruleSet_.browserChoices.constFind(entry.bundleID);
        const bool keep = choice != ruleSet_.browserChoices.constEnd() ? *choice : entry.isKnownBrowser();
        if (keep)
            offered.push_back(entry);
    }
    if (current && !current->isProxyApp()) {
        const QString& wanted = current->bundleID();
        const bool listed = std::any_of(offered.begin(), offered.end(),
                                        [&](const BrowserEntry& entry) { return entry.bundleID == wanted; });
        if (!listed) {
            auto installed = std::find_if(browsers_.begin(), browsers_.end(), [&](const BrowserEntry& entry) {
                return entry.bundleID == wanted;
            });
            if (installed != browsers_.end())
                offered.push_back(*installed);
        }
    }
    return BrowserCatalog::ordered(std::move(offered));
}

QString RoutingModel::automaticFallbackName() const {
    return BrowserCatalog::lastResortName(ruleSet_).value_or(QStringLiteral("no browser available"));
}

std::optional<RouteDecision> RoutingModel::test(const QString& text,
                                                const std::optional<QString>& sourceBundleID) const {
    if (trimSpacesAndTabs(text).isEmpty())
        return std::nullopt;
    const auto url = parse(text);
    if (!url)
        return std::nullopt;
    return LinkRouter::decide(*url, sourceBundleID, ruleSet_);
}

std::optional<QUrl> RoutingModel::parse(const QString& text) {
    const QString trimmed = trimSpacesAndTabs(text);
    if (trimmed.isEmpty())
        return std::nullopt;
    if (trimmed.startsWith(QLatin1String("file://"))) {
        const QUrl url(trimmed, QUrl::StrictMode);
        if (!url.isValid())
            return std::nullopt;
        return url;
    }
    if (trimmed.startsWith(QLatin1Char('/')) || trimmed.startsWith(QLatin1Char('~'))) {
        QString path = trimmed;
        if (path == QLatin1String("~"))
            path = host::homeDirectory();
        else if (path.startsWith(QLatin1String("~/")))
            path = host::homeDirectory() + path.mid(1);
        return QUrl::fromLocalFile(path);
    }
    QString withScheme = trimmed;
    if (!withScheme.contains(QLatin1String("://")))
        withScheme.prepend(QStringLiteral("https://"));
    const QUrl url(withScheme, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        return std::nullopt;
    return url;
}

void RoutingModel::setDefaultBrowser(bool enabled) {
    setStatusMessage(std::nullopt);
    setErrorMessage(std::nullopt);
    QPointer<RoutingModel> guard(this);
    BrowserCatalog::requestDefaultBrowser(enabled, [guard, enabled](std::optional<host::SystemError> error) {
        if (!guard)
            return;
        if (error)
            guard->setErrorMessage(QStringLiteral("macOS declined: ") + error->description());
        guard->refreshSystemState();
        if (guard->isDefaultBrowser_ == enabled)
            guard->setStatusMessage(enabled ? QStringLiteral("Corvane now handles web links.")
                                            : QStringLiteral("Web links no longer come to Corvane."));
    });
}

void RoutingModel::setHandling(const QString& contentType, bool enabled) {
    setStatusMessage(std::nullopt);
    setErrorMessage(std::nullopt);
    QPointer<RoutingModel> guard(this);
    BrowserCatalog::requestHandling(contentType, enabled, [guard](std::optional<host::SystemError> error) {
        if (!guard)
            return;
        guard->refreshSystemState();
        guard->ruleSet_.handlesHTMLFiles = guard->handledFileTypes_.contains(BrowserCatalog::FileType::html);
        emit guard->ruleSetChanged();
        guard->save();
        // Set after the save, which clears the error line when it succeeds: the refusal must stay visible.
        if (error)
            guard->setErrorMessage(QStringLiteral("macOS declined: ") + error->description());
    });
}

void RoutingModel::setStartsAtLogin(bool enabled) {
    try {
        LoginItem::setEnabled(enabled);
        setErrorMessage(std::nullopt);
        if (!enabled)
            setStatusMessage(QStringLiteral("The helper will no longer start at login."));
        else if (LoginItem::needsApproval())
            setStatusMessage(QStringLiteral("Allow Corvane under Login Items in System Settings to finish."));
        else
            setStatusMessage(QStringLiteral("The helper will start at login."));
    } catch (const std::exception& error) {
        setErrorMessage(QStringLiteral("Couldn't change the login item: ") + host::describe(error));
    }
    refreshSystemState();
}

void RoutingModel::reportGrantRepairFailure(const QString& reason) {
    setErrorMessage(QStringLiteral("Couldn't clear the helper's Accessibility entry: ") + reason);
}

void RoutingModel::updateHelper() {
    try {
        HelperInstaller::installFromCreatorBundle(true);
        setStatusMessage(
            QStringLiteral("Updated the background helper. Links will follow your rules again."));
        setErrorMessage(std::nullopt);
    } catch (const std::exception& error) {
        setErrorMessage(QStringLiteral("Couldn't update the helper: ") + host::describe(error));
    }
    refreshSystemState();
}
