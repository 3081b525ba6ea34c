#pragma once

#include "Corvane/Models/AppModel.h"
#include "Corvane/Views/Kit/MenuEntries.h"

#include <QWidget>
#include <functional>
#include <vector>

class QFrame;
class QLabel;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QToolButton;
class RoutingModel;

// The window's left column: the proxy apps and drafts under "Apps", the three routing pages under "Routing",
// each row marked when it needs the user's attention; the notice after the rename below the list; the
// new-app button above it. The list always shows the app model's selection, so a change the unsaved-changes
// question holds back leaves the previous row highlighted.
class SidebarView : public QWidget {
    Q_OBJECT

public:
    SidebarView(AppModel& model, RoutingModel& routing, QWidget* parent = nullptr);

    // Starts a new proxy app (the toolbar button and the placeholder's button).
    std::function<void()> newAppAction;

    // The list's row of one selection, or none.
    QListWidgetItem* item(const AppModel::Selection& selection) const;
    // The widget drawn in that row (its parts are named "title", "subtitle", "icon", "status", "badge",
    // "warning").
    QWidget* rowWidget(const AppModel::Selection& selection) const;
    QListWidget* list() const { return list_; }
    // Selects a row as the user's click does.
    void chooseRow(const AppModel::Selection& selection);
    // The row's context menu as data (empty: no menu).
    std::vector<MenuEntry> contextMenuEntries(const AppModel::Selection& selection) const;

    // Texts the rows compose.
    static QString rowTitle(const EditorState& state);
    static QString subtitle(const EditorState& state);

private:
    struct Row {
        AppModel::Selection selection;
        QListWidgetItem* item = nullptr;
        QWidget* widget = nullptr;
    };

    void refresh();
    void refreshAppsSection();
    void refreshRoutingRows();
    void refreshRenameRow();
    void syncSelection();
    void userChangedRow();
    void showContextMenu(const QPoint& position);
    std::vector<AppModel::Selection> appSelections() const;
    void rebuildAppsSection(const std::vector<AppModel::Selection>& selections);
    void updateAppRow(const Row& row, const EditorState& state);
    void updateRoutingRow(const Row& row, const QString& title, std::optional<int> badge, bool warns);
    const Row* find(const AppModel::Selection& selection) const;

    AppModel& model_;
    RoutingModel& routing_;
    QToolButton* newAppButton_;
    QListWidget* list_;
    QListWidgetItem* appsHeader_;
    QListWidgetItem* routingHeader_;
    std::vector<Row> appRows_;
    std::vector<Row> routingRows_;
    QFrame* divider_;
    QWidget* renameRow_;
    QLabel* renameTitle_;
    QLabel* renameAdvice_;
    QPushButton* updateButton_;
    QPushButton* removeLeftoversButton_;
    bool syncing_ = false;
    bool menuOpen_ = false;
    bool refreshPending_ = false;
};
