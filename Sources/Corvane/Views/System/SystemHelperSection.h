#pragma once

#include <QWidget>

class AppModel;
class QCheckBox;
class QLabel;
class QPushButton;
class RoutingModel;
class StatusDot;

// The "Helper" section of the system page: the switch that turns helper use off, and while it is on the
// helper's Accessibility grant (with the ways to ask for it again and to clear a stale entry) and the
// login item.
class HelperSection : public QWidget {
    Q_OBJECT

public:
    HelperSection(AppModel& model, RoutingModel& routing, QWidget* parent = nullptr);

    static const QString accessibilitySettingsAddress;

private:
    QWidget* makeHelperDetail();
    QWidget* makeDisableHelperToggle();
    void refresh();
    void grant();
    void repair();

    AppModel& model_;
    RoutingModel& routing_;
    QWidget* helperDetail_ = nullptr;
    StatusDot* trustDot_ = nullptr;
    QLabel* trustDetail_ = nullptr;
    QPushButton* grantButton_ = nullptr;
    QPushButton* repairButton_ = nullptr;
    QCheckBox* loginToggle_ = nullptr;
    QWidget* approvalNotice_ = nullptr;
    QCheckBox* disableToggle_ = nullptr;
};
