#pragma once

#include "Corvane/Views/Kit/MenuEntries.h"
#include "Corvane/Views/Kit/RouteTargetControls.h"
#include "Corvane/Views/Routing/RulesFromRecentLinks.h"

#include <QHash>
#include <QIcon>
#include <QPointer>
#include <QWidget>
#include <optional>

class AppModel;
class RoutingModel;
class LinkPopover;
class PageStatusBar;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class RecentLinksFilterModel;
class RecentLinksTableModel;

// The links the helper routed recently, newest first: the history switch, a table filtered by text and by
// target, the whole link in a popover, copying, clearing, and rules written from a link. Shows the routing
// model's lines in the page status bar.
class RecentLinksView : public QWidget {
    Q_OBJECT

public:
    RecentLinksView(AppModel& model, RoutingModel& routing, QWidget* parent = nullptr);
    ~RecentLinksView() override;

    // A link's short time label: the clock time today, "Yest.", a weekday, or day and month.
    static QString timeLabel(const QDateTime& date);

    // The row's context menu and its "+" menu, as data.
    std::vector<MenuEntry> contextMenu(const RecentLink& link);
    std::vector<MenuEntry> actionsMenu(const RecentLink& link);

    const std::optional<QUuid>& showingLink() const { return showingLink_; }
    const std::optional<LinkRule>& editing() const { return editing_; }
    // Opens the full-link popover on the link's row (replacing another link's).
    void showLink(const QUuid& id);

private:
    void buildLayout();
    void connectModels();
    void refreshLinks();
    void refreshSummary();
    void refreshPicker();
    void refreshStatus();
    void setHistory(bool on);
    void clearHistory();
    void chooseTarget(int index);
    void cellClicked(const QModelIndex& index);
    void showContextMenu(const QPoint& position);
    void popUp(const std::vector<MenuEntry>& entries, const QPoint& globalPosition);
    void edit(const LinkRule& rule);
    void closeLink();
    QModelIndex linkCell(const QUuid& id) const;
    // The "From" and "Opened in" cells' names and icons, looked up once per application until the apps, the
    // browsers or the links change.
    struct AppLabel {
        QString name;
        QIcon icon;
        bool isMissing = false; // a target that is not installed any more
    };
    const AppLabel& sourceLabel(const QString& bundleID);
    const AppLabel& targetLabel(const QString& bundleID);
    void forgetLabels();

    AppModel& model_;
    RoutingModel& routing_;
    RulesFromRecentLinks rules_;
    std::optional<LinkRule> editing_;
    std::optional<QUuid> showingLink_;

    RecentLinksTableModel* links_;
    RecentLinksFilterModel* visible_;
    QComboBox* targetPicker_ = nullptr;
    QLineEdit* filterField_ = nullptr;
    QCheckBox* historySwitch_ = nullptr;
    QWidget* emptySection_ = nullptr;
    QLabel* emptyTitle_ = nullptr;
    QLabel* emptyDetail_ = nullptr;
    QWidget* linksSection_ = nullptr;
    QLabel* linksHeader_ = nullptr;
    QTableView* table_ = nullptr;
    QPushButton* clearButton_ = nullptr;
    QLabel* fallbackAdvice_ = nullptr;
    PageStatusBar* statusBar_ = nullptr;
    QHash<QString, AppLabel> sourceLabels_;
    QHash<QString, AppLabel> targetLabels_;
    std::optional<QHash<QString, QString>> sourceNames_;
    std::optional<TargetDirectory> directory_;
    QPointer<LinkPopover> popover_;
    QPointer<QWidget> sheet_;
};
