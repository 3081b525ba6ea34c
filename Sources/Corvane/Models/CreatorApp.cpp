#include "Corvane/Models/CreatorApp.h"

#include "CorvaneHost/Services.h"

CreatorApp::CreatorApp(std::shared_ptr<HelperConnection> link, QObject* parent)
    : QObject(parent)
    , model_(new AppModel(std::move(link), this))
    , routing_(new RoutingModel(this)) {}

void CreatorApp::start() {
    RoutingModel* routing = routing_;
    model_->onRoutingHistoryChanged = [routing] {
        if (routing->history.reloadIfChanged())
            routing->setRecentLinks(routing->history.links());
    };
    AppModel* model = model_;
    routing_->onHelperUseChanged = [model] { model->helperUseChanged(); };
    model_->load();
    routing_->load();
    routing_->startPolling();
}

void CreatorApp::applicationDidBecomeActive() {
    model_->loadTabGroups(model_->editor().profileDirectory, true);
    routing_->refreshFromDisk();
}

CreatorAppDelegate::CreatorAppDelegate(AppModel& model)
    : model_(&model) {}

host::TerminateReply CreatorAppDelegate::applicationShouldTerminate() {
    if (!model_ || !model_->isBusy())
        return host::TerminateReply::terminateNow;
    if (!waiting_) {
        waiting_ = QObject::connect(model_, &AppModel::isBusyChanged, model_, [this] {
            if (model_->isBusy())
                return;
            QObject::disconnect(waiting_);
            waiting_ = {};
            host::application().replyToApplicationShouldTerminate(true);
        });
    }
    return host::TerminateReply::terminateLater;
}
