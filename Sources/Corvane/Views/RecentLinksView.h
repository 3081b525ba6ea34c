#pragma once

#include <QWidget>

class AppModel;
class RoutingModel;

class RecentLinksView : public QWidget {
    Q_OBJECT

public:
    RecentLinksView(AppModel& model, RoutingModel& routing, QWidget* parent = nullptr);
};
