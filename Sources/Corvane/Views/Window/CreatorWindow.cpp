#include "Corvane/Views/Window/CreatorWindow.h"

#include "Corvane/Views/Kit/KeyboardMenus.h"
#include "Corvane/Views/System/AboutPanel.h"
#include "Corvane/Views/Window/RootView.h"
#include "CorvaneHost/Application.h"
#include "CorvaneHost/Services.h"

#include <QCloseEvent>
#include <QMenuBar>

CreatorWindow::CreatorWindow(CreatorApp& app, QWidget* parent)
    : QMainWindow(parent) {
    setObjectName(QStringLiteral("main"));
    KeyboardMenus::install(this);
    root_ = new RootView(app, this);
    setCentralWidget(root_);
    // The taskbar, the window switcher and screen readers announce the page by the window's title.
    setWindowTitle(windowTitleFor(root_->navigationTitle(), root_->pageKind()));
    connect(root_, &RootView::navigationTitleChanged, this,
            [this](const QString& title) { setWindowTitle(windowTitleFor(title, root_->pageKind())); });
    setMinimumSize(minimumWidth, minimumHeight);

    QMenu* appMenu = menuBar()->addMenu(QStringLiteral("&Corvane"));
    appMenu->setObjectName(QStringLiteral("AppMenu"));
    QAction* about = appMenu->addAction(QStringLiteral("About Corvane"));
    about->setObjectName(QStringLiteral("AboutAction"));
    about->setMenuRole(QAction::AboutRole);
    connect(about, &QAction::triggered, this, [] { AboutPanel::show(); });
    appMenu->addSeparator();
    QAction* quit = appMenu->addAction(QStringLiteral("Quit Corvane"));
    quit->setObjectName(QStringLiteral("QuitAction"));
    quit->setShortcut(QKeySequence::Quit);
    quit->setMenuRole(QAction::QuitRole);
    connect(quit, &QAction::triggered, this, [] { host::application().terminate(); });
}

QString CreatorWindow::windowTitleFor(const QString& navigationTitle, RootView::PageKind page) {
    const QString appName = QStringLiteral("Corvane");
    if (navigationTitle.isEmpty() || page == RootView::PageKind::placeholder)
        return appName;
    return navigationTitle + QStringLiteral(" — ") + appName;
}

void CreatorWindow::closeEvent(QCloseEvent* event) {
    // The app ends with its window; the delegate decides when (after a running build).
    event->ignore();
    host::application().terminate();
}
