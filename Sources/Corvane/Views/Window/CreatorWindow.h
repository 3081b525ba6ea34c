#pragma once

#include "Corvane/Views/Window/RootView.h"

#include <QMainWindow>

class CreatorApp;

// The creator app's single window: the root view, the menus (no command opens a second window), and closing
// it quits the app through the application's terminate protocol, which waits for a running build.
class CreatorWindow : public QMainWindow {
    Q_OBJECT

public:
    static constexpr int minimumWidth = 980;
    static constexpr int minimumHeight = 640;

    explicit CreatorWindow(CreatorApp& app, QWidget* parent = nullptr);

    RootView* rootView() const { return root_; }
    // The window's title for a page: "Rules — Corvane", an app's "Corvane — Corvane", or "Corvane" alone for
    // the placeholder page.
    static QString windowTitleFor(const QString& navigationTitle, RootView::PageKind page);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    RootView* root_;
};
