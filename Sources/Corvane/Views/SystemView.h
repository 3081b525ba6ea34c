#pragma once

#include <QWidget>

class AppModel;
class RoutingModel;

class SystemView : public QWidget {
    Q_OBJECT

public:
    SystemView(AppModel& model, RoutingModel& routing, QWidget* parent = nullptr);
};
