#pragma once

#include "Corvane/Views/Kit/PageStatusBar.h"

#include <functional>

class AppModel;

// The page status bar showing the app model's lines (error over status), kept up to date by itself. A page
// may add its own warning, shown only while the model has nothing to say; it calls refresh() when that
// warning may have changed.
class AppStatusBar : public PageStatusBar {
    Q_OBJECT

public:
    explicit AppStatusBar(AppModel& model, QWidget* parent = nullptr);

    std::function<std::optional<QString>()> warning;
    void refresh();

private:
    AppModel& model_;
};
