#pragma once

#include "Corvane/Models/AppModel.h"
#include "Corvane/Views/Editor/MigrationView.h"

#include <QMessageBox>
#include <QPointer>
#include <QWidget>
#include <optional>

class CreatorApp;
class QLabel;
class QPushButton;
class QSplitter;
class QVBoxLayout;
class RoutingModel;
class SidebarView;

// The placeholder of the detail column: what to do when no page is chosen (or proxy apps can't be made).
class PlaceholderView : public QWidget {
    Q_OBJECT

public:
    PlaceholderView(AppModel& model, QWidget* parent = nullptr);

    std::function<void()> newAppAction;
    void refresh();

private:
    AppModel& model_;
    QLabel* image_;
    QLabel* title_;
    QLabel* description_;
    QPushButton* button_;
};

// The whole content of the creator app's window: the sidebar and the page the app model's selection chooses,
// the start-up of both models once the window is first drawn, their refresh whenever the app becomes active,
// the import sheet and the "Save your changes?" alert.
class RootView : public QWidget {
    Q_OBJECT

public:
    enum class PageKind { placeholder, editor, rules, system, recentLinks };

    explicit RootView(CreatorApp& app, QWidget* parent = nullptr);

    PageKind pageKind() const { return pageKind_; }
    QWidget* page() const { return page_; }
    QString navigationTitle() const;
    SidebarView* sidebar() const { return sidebar_; }
    QMessageBox* unsavedAlert() const { return unsavedAlert_; }
    MigrationView* migrationSheet() const { return migrationSheet_; }

    // Starts a new proxy app, when proxy apps can be made.
    void newApp();

signals:
    // The page's title, or the page it titles, changed.
    void navigationTitleChanged(const QString& title);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    PageKind wantedPageKind() const;
    void showPage();
    void refreshTitle();
    void showMigrationSheet();
    void showUnsavedAlert();

    CreatorApp& app_;
    AppModel& model_;
    RoutingModel& routing_;
    SidebarView* sidebar_;
    QLabel* title_;
    QVBoxLayout* detail_;
    QWidget* page_ = nullptr;
    PageKind pageKind_ = PageKind::placeholder;
    std::optional<PageKind> titledPage_; // the page the title was last announced for
    bool started_ = false;               // the start-up task is on its way
    bool loaded_ = false;                // it ran: activations refresh the models from now on
    QPointer<MigrationView> migrationSheet_;
    QPointer<QMessageBox> unsavedAlert_;
    QUuid alertPromptID_;
};
