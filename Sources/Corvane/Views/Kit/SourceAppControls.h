#pragma once

#include "Corvane/Views/Kit/MenuEntries.h"

#include <QIcon>
#include <QSet>
#include <QString>
#include <QToolButton>
#include <QWidget>
#include <functional>
#include <optional>
#include <vector>

class ElidedLabel;
class QLabel;
class RoutingModel;

// Application icons, as the desktop shows them, at a given size in points.
namespace AppIcons {
// The icon of the application at `path`; never null: a path with no icon of its own (or no file at all)
// gets the desktop's generic application icon.
QIcon icon(const QString& path, int size);
// The icon of the installed application with that bundle identifier; none when no such application is
// installed.
std::optional<QIcon> iconForBundleID(const QString& bundleID, int size);
} // namespace AppIcons

// A link's source application: its icon (or "questionmark.app.dashed" when it cannot be found) and the
// routing model's name for it, on one line cut in the middle. It reads the model when the bundle identifier
// is set and does not follow the model afterwards.
class SourceAppLabel : public QWidget {
    Q_OBJECT

public:
    SourceAppLabel(const QString& bundleID, RoutingModel& model, int iconSize, QWidget* parent = nullptr);

    const QString& bundleID() const { return bundleID_; }
    // Shows another app; does nothing for the one shown.
    void setBundleID(const QString& bundleID);

    QString shownName() const;
    // True when the application was not found and the dashed question mark stands in for its icon.
    bool showsPlaceholderIcon() const { return placeholder_; }
    QSize sizeHint() const override;

private:
    void refresh();

    QString bundleID_;
    RoutingModel& model_;
    int iconSize_;
    bool placeholder_ = false;
    QLabel* icon_;
    ElidedLabel* name_;
};

// A button whose menu picks a source application: the apps seen sending links, the apps running now (leaving
// out `excluding`), and "Other App…" (any application, through the routing model's open panel). The menu is
// built each time it opens. The button's look (icon, text) is the caller's; give it an accessible name.
class SourceAppMenu : public QToolButton {
    Q_OBJECT

public:
    SourceAppMenu(RoutingModel& model, QSet<QString> excluding = {}, QWidget* parent = nullptr);

    void setExcluding(QSet<QString> excluding) { excluding_ = std::move(excluding); }
    const QSet<QString>& excluding() const { return excluding_; }

    // The menu's entries; `onPick` runs at most once per choice with the picked bundle identifier.
    static std::vector<MenuEntry> entries(RoutingModel& model, const QSet<QString>& excluding,
                                          const std::function<void(const QString&)>& onPick);
    // The entries this button shows now; choosing one emits `picked`.
    std::vector<MenuEntry> currentEntries();

signals:
    // A user's choice.
    void picked(const QString& bundleID);

private:
    RoutingModel& model_;
    QSet<QString> excluding_;
};
