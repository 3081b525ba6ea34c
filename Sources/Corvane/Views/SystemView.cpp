#include "Corvane/Views/SystemView.h"

SystemView::SystemView(AppModel&, RoutingModel&, QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("SystemView"));
}
