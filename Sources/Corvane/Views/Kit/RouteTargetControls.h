#pragma once

#include "Corvane/Views/Kit/MenuEntries.h"
#include "CorvaneCore/ProxyApps/Registry.h"
#include "CorvaneCore/Routing/BrowserCatalog.h"
#include "CorvaneCore/Routing/LinkRule.h"

#include <QIcon>
#include <QString>
#include <QToolButton>
#include <QWidget>
#include <functional>
#include <optional>
#include <vector>

class AppModel;
class ElidedLabel;
class QLabel;
class RoutingModel;

// Looks route targets up among the registered proxy apps and the installed browsers. Build it afresh from
// the current lists wherever it is needed.
struct TargetDirectory {
    std::vector<RegisteredApp> apps;
    std::vector<BrowserEntry> browsers;

    // From the app model's apps and the routing model's browsers.
    static TargetDirectory of(const AppModel& model, const RoutingModel& routing);

    // Where the target's application lies; none when it is not installed (a registered app missing from
    // disk falls through to the browsers).
    std::optional<QString> path(const RouteTarget& target) const;
    // A registered app's name, else a browser's name, else the bundle identifier; the last two followed by
    // " — Incognito" for a private target.
    QString name(const RouteTarget& target) const;
    // The application's icon at `points` (menus: 16); none when `path` has none.
    std::optional<QIcon> icon(const RouteTarget& target, int points = menuIconPoints) const;
    static constexpr int menuIconPoints = 16;
};

// What a browser list offers when its source changes while a menu is closed.
using BrowserSource = std::function<std::vector<BrowserEntry>()>;

// The "Private Windows" section both target menus end with: the browsers that can open a private window.
struct PrivateBrowserSection {
    // The entries of `browsers`, in order, that can be asked for a private window.
    static std::vector<BrowserEntry> capable(const std::vector<BrowserEntry>& browsers);
    // Nothing when none is capable; else the heading and one entry per capable browser ("<name> —
    // Incognito").
    static std::vector<MenuEntry> entries(const std::vector<BrowserEntry>& browsers,
                                          const std::function<void(const RouteTarget&)>& choose);
};

// A route target as icon and name, with an orange warning when its application is gone.
class RouteTargetLabel : public QWidget {
    Q_OBJECT

public:
    RouteTargetLabel(const RouteTarget& target, TargetDirectory directory, int iconSize,
                     QWidget* parent = nullptr);

    void setTarget(const RouteTarget& target);
    void setDirectory(TargetDirectory directory);
    const RouteTarget& target() const { return target_; }

    QString shownName() const;
    bool showsPlaceholderIcon() const { return placeholder_; }
    bool showsMissingWarning() const;

    static QString missingWarningHelp();
    // Wide enough for the whole name (it is cut in the middle only when the space given is narrower).
    QSize sizeHint() const override;

private:
    void refresh();

    RouteTarget target_;
    TargetDirectory directory_;
    int iconSize_;
    bool placeholder_ = false;
    QLabel* icon_;
    ElidedLabel* name_;
    QLabel* warning_;
};

// A pop-up button that sets a required route target: registered proxy apps, offered browsers, private
// windows. It shows the current target as its label; the menu is built when it opens. A choice sets the
// target and emits `targetChosen`; `setTarget` emits nothing.
class RouteTargetMenu : public QToolButton {
    Q_OBJECT

public:
    RouteTargetMenu(const RouteTarget& target, TargetDirectory directory, BrowserSource offeredBrowsers,
                    QWidget* parent = nullptr);

    const RouteTarget& target() const { return target_; }
    void setTarget(const RouteTarget& target);
    void setDirectory(TargetDirectory directory);
    const TargetDirectory& directory() const { return directory_; }

    static std::vector<MenuEntry> entries(const TargetDirectory& directory,
                                          const std::vector<BrowserEntry>& offeredBrowsers,
                                          const std::function<void(const RouteTarget&)>& choose);
    // The entries the menu would show now; choosing one acts as the user's choice.
    std::vector<MenuEntry> currentEntries();
    RouteTargetLabel* label() const { return label_; }
    QSize sizeHint() const override;

signals:
    void targetChosen(const RouteTarget& target);

private:
    void choose(const RouteTarget& target);

    RouteTarget target_;
    TargetDirectory directory_;
    BrowserSource offeredBrowsers_;
    RouteTargetLabel* label_;
};

// A pop-up button for an optional route target: first the automatic choice (`automaticTitle`, which clears
// the target and is the label while none is set), then the proxy apps, the "Browsers" section (also when
// empty) and the private windows.
class OptionalTargetMenu : public QToolButton {
    Q_OBJECT

public:
    OptionalTargetMenu(const std::optional<RouteTarget>& target, TargetDirectory directory,
                       BrowserSource offeredBrowsers, const QString& automaticTitle,
                       QWidget* parent = nullptr);

    const std::optional<RouteTarget>& target() const { return target_; }
    void setTarget(const std::optional<RouteTarget>& target);
    void setDirectory(TargetDirectory directory);
    void setAutomaticTitle(const QString& title);
    const QString& automaticTitle() const { return automaticTitle_; }
    // The text or target name the button shows now.
    QString shownTitle() const;

    static std::vector<MenuEntry>
    entries(const TargetDirectory& directory, const std::vector<BrowserEntry>& offeredBrowsers,
            const QString& automaticTitle,
            const std::function<void(const std::optional<RouteTarget>&)>& choose);
    std::vector<MenuEntry> currentEntries();
    QSize sizeHint() const override;

signals:
    void targetChosen(const std::optional<RouteTarget>& target);

private:
    void choose(const std::optional<RouteTarget>& target);
    void refresh();

    std::optional<RouteTarget> target_;
    TargetDirectory directory_;
    BrowserSource offeredBrowsers_;
    QString automaticTitle_;
    RouteTargetLabel* label_;
    ElidedLabel* automaticLabel_;
};
