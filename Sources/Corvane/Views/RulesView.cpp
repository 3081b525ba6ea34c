#include "Corvane/Views/RulesView.h"

RulesView::RulesView(AppModel&, RoutingModel&, QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("RulesView"));
}
