#pragma once

#include "Corvane/Models/SourceApps.h"
#include "CorvaneCore/Routing/AppSettings.h"
#include "CorvaneCore/Routing/BrowserCatalog.h"
#include "CorvaneCore/Routing/LinkRouter.h"
#include "CorvaneCore/Routing/RecentLinks.h"
#include "CorvaneCore/Routing/RuleStore.h"

#include <QObject>
#include <QSet>
#include <QUrl>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace host {
class Timer;
}

// The creator app's model of rules, recent links, browsers, settings and the system integration; the
// creator app's only writer of "rules.json" and "settings.json". Every assignment of a published property
// emits its change signal, and a property that is not assigned emits nothing. Main thread only.
class RoutingModel : public QObject {
    Q_OBJECT

public:
    explicit RoutingModel(QObject* parent = nullptr);

    // Published.
    const RuleSet& ruleSet() const { return ruleSet_; }
    void setRuleSet(RuleSet value);
    const std::vector<RecentLink>& recentLinks() const { return recentLinks_; }
    void setRecentLinks(std::vector<RecentLink> value);
    const std::vector<BrowserEntry>& browsers() const { return browsers_; }
    bool isDefaultBrowser() const { return isDefaultBrowser_; }
    const QSet<QString>& handledFileTypes() const { return handledFileTypes_; }
    bool startsAtLogin() const { return startsAtLogin_; }
    bool helperIsStale() const { return helperIsStale_; }
    const std::optional<QString>& installedHelperVersion() const { return installedHelperVersion_; }
    const AppSettings& settings() const { return settings_; }
    const std::optional<QString>& statusMessage() const { return statusMessage_; }
    void setStatusMessage(std::optional<QString> value);
    const std::optional<QString>& errorMessage() const { return errorMessage_; }
    // For what a view learns only itself (a rule gone while its editor was open).
    void setErrorMessage(std::optional<QString> value);

    // The stores the model reads (the process-wide ones).
    RuleStore& rules;
    RecentLinksStore& history;
    SettingsStore& settingsStore;

    // Set by the window; called by the system page after it saved a change of helper use.
    std::function<void()> onHelperUseChanged;

    void load();
    void startPolling();
    void refreshFromDisk();
    void refreshSystemState();

    void save();
    void save(const AppSettings& settings);
    void update(const LinkRule& rule);
    void addRule(const std::optional<RouteTarget>& defaultTarget);
    void moveRule(int from, int to);
    void setEnabled(bool enabled, const QUuid& ruleID);

    std::optional<BrowserEntry> addBrowser(const QString& appPath);
    void removeBrowser(const BrowserEntry& entry);
    bool hasHandAddedBrowsers() const;
    std::vector<BrowserEntry> offeredBrowsers(const std::optional<RouteTarget>& current) const;
    QString automaticFallbackName() const;

    std::optional<RouteDecision> test(const QString& text,
                                      const std::optional<QString>& sourceBundleID) const;
    static std::optional<QUrl> parse(const QString& text);

    void setDefaultBrowser(bool enabled);
    void setHandling(const QString& contentType, bool enabled);
    void setStartsAtLogin(bool enabled);
    void updateHelper();

    // Source applications of rule conditions and the tester.
    std::vector<SourceApp> sourceApps() const;
    QString sourceAppName(const QString& bundleID) const;
    static std::optional<SourceApp> chooseSourceApp();

    static constexpr double pollInterval = 5.0;

signals:
    void ruleSetChanged();
    void recentLinksChanged();
    void browsersChanged();
    void isDefaultBrowserChanged();
    void handledFileTypesChanged();
    void startsAtLoginChanged();
    void helperIsStaleChanged();
    void installedHelperVersionChanged();
    void settingsChanged();
    void statusMessageChanged();
    void errorMessageChanged();

private:
    void setBrowsers(std::vector<BrowserEntry> value);
    void setSettings(AppSettings value);

    RuleSet ruleSet_;
    std::vector<RecentLink> recentLinks_;
    std::vector<BrowserEntry> browsers_;
    bool isDefaultBrowser_ = false;
    QSet<QString> handledFileTypes_;
    bool startsAtLogin_ = false;
    bool helperIsStale_ = false;
    std::optional<QString> installedHelperVersion_;
    AppSettings settings_;
    std::optional<QString> statusMessage_;
    std::optional<QString> errorMessage_;
    std::shared_ptr<host::Timer> pollTimer_;
};
