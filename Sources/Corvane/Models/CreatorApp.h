#pragma once

#include "Corvane/Models/AppModel.h"
#include "Corvane/Models/RoutingModel.h"
#include "CorvaneHost/Application.h"

#include <QObject>
#include <QPointer>
#include <memory>

// The creator app's two models and the order in which they come to life. The window shows them; closing it
// quits the app.
class CreatorApp : public QObject {
    Q_OBJECT

public:
    explicit CreatorApp(std::shared_ptr<HelperConnection> link = {}, QObject* parent = nullptr);

    AppModel& model() { return *model_; }
    RoutingModel& routing() { return *routing_; }

    // The window's start-up task: both callbacks first, then the app model's load, the routing model's load
    // and its polling.
    void start();
    // The application became active again: the editor's tab groups afresh, then the routing files.
    void applicationDidBecomeActive();

private:
    AppModel* model_;
    RoutingModel* routing_;
};

// The creator app's delegate: the app ends with its window, but never in the middle of a build.
class CreatorAppDelegate : public host::ApplicationDelegate {
public:
    explicit CreatorAppDelegate(AppModel& model);

    static bool applicationShouldTerminateAfterLastWindowClosed() { return true; }
    // While a build runs the answer waits for it: quitting then would lose the app it builds from the
    // registry and the edits it saves.
    host::TerminateReply applicationShouldTerminate() override;

private:
    QPointer<AppModel> model_;
    QMetaObject::Connection waiting_;
};
