#pragma once

#include <QWidget>

class AppModel;
class RoutingModel;

class RulesView : public QWidget {
    Q_OBJECT

public:
    RulesView(AppModel& model, RoutingModel& routing, QWidget* parent = nullptr);
};
