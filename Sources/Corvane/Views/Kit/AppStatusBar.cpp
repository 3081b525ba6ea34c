#include "Corvane/Views/Kit/AppStatusBar.h"

#include "Corvane/Models/AppModel.h"

AppStatusBar::AppStatusBar(AppModel& model, QWidget* parent)
    : PageStatusBar(parent)
    , model_(model) {
    setObjectName(QStringLiteral("appStatusBar"));
    connect(&model_, &AppModel::errorMessageChanged, this, &AppStatusBar::refresh);
    connect(&model_, &AppModel::statusMessageChanged, this, &AppStatusBar::refresh);
    refresh();
}

void AppStatusBar::refresh() {
    const auto& error = model_.errorMessage();
    const auto& status = model_.statusMessage();
    const bool hasMessage = error || status;
    setLines(error, status, hasMessage || !warning ? std::nullopt : warning());
}
