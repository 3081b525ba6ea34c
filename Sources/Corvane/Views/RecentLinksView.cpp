#include "Corvane/Views/RecentLinksView.h"

RecentLinksView::RecentLinksView(AppModel&, RoutingModel&, QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("RecentLinksView"));
}
