#include "Corvane/Views/Window/RootView.h"

#include "Corvane/Views/Kit/AppStatusBar.h"

#include "Corvane/Models/CreatorApp.h"
#include "Corvane/Models/RoutingModel.h"
#include "Corvane/Views/Editor/EditorView.h"
#include "Corvane/Views/Editor/MigrationView.h"
#include "Corvane/Views/Kit/PageForm.h"
#include "Corvane/Views/Kit/QuietSetters.h"
#include "Corvane/Views/Kit/SystemImages.h"
#include "Corvane/Views/Routing/RecentLinksView.h"
#include "Corvane/Views/Routing/RulesView.h"
#include "Corvane/Views/System/SystemView.h"
#include "Corvane/Views/Window/SidebarView.h"
#include "CorvaneHost/MainQueue.h"
#include "CorvaneHost/Services.h"

#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSplitter>
#include <QVBoxLayout>

PlaceholderView::PlaceholderView(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , model_(model) {
    setObjectName(QStringLiteral("Placeholder"));
    auto* column = new QVBoxLayout(this);
    column->setSpacing(10);
    column->addStretch();
    image_ = new QLabel(this);
    image_->setPixmap(systemImage(QStringLiteral("square.grid.2x2"), ViewColors::secondary(), 40));
    image_->setAlignment(Qt::AlignCenter);
    column->addWidget(image_);
    title_ = new QLabel(this);
    title_->setObjectName(QStringLiteral("PlaceholderTitle"));
    title_->setAlignment(Qt::AlignCenter);
    QFont big = title_->font();
    big.setPointSizeF(big.pointSizeF() * 1.5);
    big.setBold(true);
    title_->setFont(big);
    column->addWidget(title_);
    description_ = new QLabel(this);
    description_->setObjectName(QStringLiteral("PlaceholderDescription"));
    description_->setAlignment(Qt::AlignCenter);
    description_->setWordWrap(true);
    // A fixed width lets the wrapped text take the height it needs.
    description_->setFixedWidth(440);
    TextStyle::secondary(description_);
    column->addWidget(description_, 0, Qt::AlignHCenter);
    button_ = new QPushButton(this);
    button_->setObjectName(QStringLiteral("PlaceholderButton"));
    button_->setDefault(true);
    connect(button_, &QPushButton::clicked, this, [this] {
        if (!model_.canCreateProxyApps()) {
            // Straight to the rules, past the unsaved-changes question.
            model_.setSelection(AppModel::Selection::rules());
        } else if (newAppAction) {
            newAppAction();
        }
    });
    column->addWidget(button_, 0, Qt::AlignHCenter);
    column->addStretch();
    // What the app model reports (an import made with nothing selected, say) is seen here too.
    auto* status = new AppStatusBar(model_, this);
    status->setObjectName(QStringLiteral("PlaceholderStatusBar"));
    column->addWidget(status);
    for (auto signal : {&AppModel::canCreateProxyAppsChanged, &AppModel::appsChanged})
        connect(&model_, signal, this, &PlaceholderView::refresh);
    refresh();
}

void PlaceholderView::refresh() {
    QString title;
    QString description;
    QString button;
    if (!model_.canCreateProxyApps()) {
        title = QStringLiteral("Routing Only");
        description =
            QStringLiteral("Links are routed to the browser each rule picks. Choose Rules or System in "
                           "the sidebar. Proxy apps are created by the companion app.");
        button = QStringLiteral("Open Rules");
    } else if (!model_.apps().empty()) {
        title = QStringLiteral("No App Selected");
        description = QStringLiteral("Choose an app from the sidebar, or use + to create another.");
        button = QStringLiteral("New Proxy App");
    } else {
        title = QStringLiteral("No Proxy Apps Yet");
        description =
            QStringLiteral("Use the + button in the sidebar to create a proxy app — one that opens Chrome "
                           "with a particular profile, or with one of its tab groups.");
        button = QStringLiteral("New Proxy App");
    }
    Quiet::setText(title_, title);
    Quiet::setText(description_, description);
    if (button_->text() != button)
        button_->setText(button);
}

RootView::RootView(CreatorApp& app, QWidget* parent)
    : QWidget(parent)
    , app_(app)
    , model_(app.model())
    , routing_(app.routing()) {
    setObjectName(QStringLiteral("RootView"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* split = new QSplitter(Qt::Horizontal, this);
    split->setObjectName(QStringLiteral("RootSplit"));
    split->setChildrenCollapsible(false);
    layout->addWidget(split);

    sidebar_ = new SidebarView(model_, routing_, split);
    sidebar_->setMinimumWidth(240);
    sidebar_->newAppAction = [this] { newApp(); };
    split->addWidget(sidebar_);

    auto* detail = new QWidget(split);
    detail->setObjectName(QStringLiteral("Detail"));
    detail_ = new QVBoxLayout(detail);
    detail_->setContentsMargins(0, 0, 0, 0);
    detail_->setSpacing(0);
    title_ = new QLabel(detail);
    title_->setObjectName(QStringLiteral("NavigationTitle"));
    title_->setContentsMargins(16, 10, 16, 8);
    QFont heading = title_->font();
    heading.setPointSizeF(heading.pointSizeF() * 1.35);
    heading.setBold(true);
    title_->setFont(heading);
    detail_->addWidget(title_);
    split->addWidget(detail);
    split->setStretchFactor(0, 0);
    split->setStretchFactor(1, 1);
    split->setSizes({260, 720});

    connect(&model_, &AppModel::selectionChanged, this, &RootView::showPage);
    connect(&model_, &AppModel::canCreateProxyAppsChanged, this, &RootView::showPage);
    connect(&model_, &AppModel::editorChanged, this, &RootView::refreshTitle);
    connect(&model_, &AppModel::showingMigrationChanged, this, &RootView::showMigrationSheet);
    connect(&model_, &AppModel::unsavedPromptChanged, this, &RootView::showUnsavedAlert);
    connect(qGuiApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (loaded_ && state == Qt::ApplicationActive)
            app_.applicationDidBecomeActive();
    });
    showPage();
}

void RootView::newApp() {
    if (model_.canCreateProxyApps())
        model_.navigate(AppModel::PendingNavigation::newApp());
}

void RootView::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    if (started_)
        return;
    started_ = true;
    // Queued behind the first paint, so the models' load never holds the window back. Queued when the window
    // is shown, it would run before the window system asks for that paint.
    QPointer<RootView> self(this);
    host::mainQueue().async([self] {
        if (!self)
            return;
        self->app_.start();
        self->loaded_ = true;
    });
}

RootView::PageKind RootView::wantedPageKind() const {
    const auto& selection = model_.selection();
    if (!selection)
        return PageKind::placeholder;
    switch (selection->kind) {
    case AppModel::Selection::Kind::saved:
    case AppModel::Selection::Kind::draft:
        return model_.canCreateProxyApps() ? PageKind::editor : PageKind::placeholder;
    case AppModel::Selection::Kind::rules:
        return PageKind::rules;
    case AppModel::Selection::Kind::system:
        return PageKind::system;
    case AppModel::Selection::Kind::recentLinks:
        return PageKind::recentLinks;
    }
    return PageKind::placeholder;
}

void RootView::showPage() {
    const PageKind kind = wantedPageKind();
    // Another app of the same kind keeps its page: only a new kind of page is made afresh.
    if (page_ && kind == pageKind_) {
        refreshTitle();
        return;
    }
    QWidget* parent = title_->parentWidget();
    QWidget* made = nullptr;
    switch (kind) {
    case PageKind::placeholder: {
        auto* placeholder = new PlaceholderView(model_, parent);
        placeholder->newAppAction = [this] { newApp(); };
        made = placeholder;
        break;
    }
    case PageKind::editor:
        made = new EditorView(model_, parent);
        break;
    case PageKind::rules:
        made = new RulesView(model_, routing_, parent);
        break;
    case PageKind::system:
        made = new SystemView(model_, routing_, parent);
        break;
    case PageKind::recentLinks:
        made = new RecentLinksView(model_, routing_, parent);
        break;
    }
    if (page_) {
        detail_->removeWidget(page_);
        page_->hide();
        page_->deleteLater();
    }
    page_ = made;
    pageKind_ = kind;
    detail_->addWidget(page_, 1);
    page_->show();
    refreshTitle();
}

QString RootView::navigationTitle() const {
    switch (pageKind_) {
    case PageKind::placeholder:
        return QStringLiteral("Corvane");
    case PageKind::editor: {
        const QString name = model_.editor().trimmedName();
        return name.isEmpty() ? QStringLiteral("New Proxy App") : name;
    }
    case PageKind::rules:
        return QStringLiteral("Rules");
    case PageKind::system:
        return QStringLiteral("System");
    case PageKind::recentLinks:
        return QStringLiteral("Recent Links");
    }
    return {};
}

void RootView::refreshTitle() {
    const QString title = navigationTitle();
    // An app may be named like the placeholder's title: the page's kind tells the window's titles apart.
    if (title_->text() == title && titledPage_ == pageKind_)
        return;
    title_->setText(title);
    titledPage_ = pageKind_;
    emit navigationTitleChanged(title);
}

void RootView::showMigrationSheet() {
    if (!model_.showingMigration()) {
        if (migrationSheet_)
            migrationSheet_->close();
        return;
    }
    if (migrationSheet_)
        return;
    migrationSheet_ = new MigrationView(model_, this);
    migrationSheet_->setAttribute(Qt::WA_DeleteOnClose);
    migrationSheet_->setWindowModality(Qt::WindowModal);
    connect(migrationSheet_, &QDialog::finished, this, [this] {
        if (model_.showingMigration())
            model_.setShowingMigration(false);
    });
    migrationSheet_->open();
}

void RootView::showUnsavedAlert() {
    const auto& prompt = model_.unsavedPrompt();
    if (unsavedAlert_ && (!prompt || prompt->id != alertPromptID_)) {
        // The model answered the question already (or asks a new one): this alert is done.
        QMessageBox* old = unsavedAlert_;
        unsavedAlert_ = nullptr;
        old->disconnect(this);
        old->close();
        old->deleteLater();
    }
    if (!prompt || unsavedAlert_)
        return;
    alertPromptID_ = prompt->id;
    auto* alert = new QMessageBox(window());
    unsavedAlert_ = alert;
    alert->setObjectName(QStringLiteral("UnsavedAlert"));
    alert->setIcon(QMessageBox::Warning);
    alert->setWindowTitle(QStringLiteral("Save your changes?"));
    alert->setText(QStringLiteral("Save your changes?"));
    alert->setInformativeText(QStringLiteral("“") + prompt->appName +
                              QStringLiteral("” has changes that haven't been saved yet."));
    struct Answer {
        const char* title;
        QMessageBox::ButtonRole role;
        AppModel::UnsavedResolution resolution;
        const char* objectName;
    };
    const Answer answers[] = {
        {"Save", QMessageBox::AcceptRole, AppModel::UnsavedResolution::save, "UnsavedSaveButton"},
        {"Discard", QMessageBox::DestructiveRole, AppModel::UnsavedResolution::discard,
         "UnsavedDiscardButton"},
        {"Cancel", QMessageBox::RejectRole, AppModel::UnsavedResolution::cancel, "UnsavedCancelButton"},
    };
    for (const Answer& answer : answers) {
        QPushButton* button = alert->addButton(QString::fromUtf8(answer.title), answer.role);
        button->setObjectName(QString::fromUtf8(answer.objectName));
        button->setProperty("resolution", int(answer.resolution));
        if (answer.resolution == AppModel::UnsavedResolution::save)
            alert->setDefaultButton(button);
        if (answer.resolution == AppModel::UnsavedResolution::cancel)
            alert->setEscapeButton(button);
    }
    // The answer reaches the model before the alert closes, so the closing finds nothing pending.
    connect(alert, &QMessageBox::buttonClicked, this, [this](QAbstractButton* button) {
        model_.resolveUnsaved(AppModel::UnsavedResolution(button->property("resolution").toInt()));
    });
    alert->setWindowModality(Qt::WindowModal);
    // Gone by any means counts as "Cancel"; after a button's own answer nothing is pending any more.
    connect(alert, &QDialog::finished, this, [this, alert] {
        if (unsavedAlert_ == alert) {
            unsavedAlert_ = nullptr;
            if (model_.unsavedPrompt())
                model_.resolveUnsaved(AppModel::UnsavedResolution::cancel);
        }
        alert->deleteLater();
    });
    alert->open();
}
