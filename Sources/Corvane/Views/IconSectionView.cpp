#include "Corvane/Views/IconSectionView.h"

IconSectionView::IconSectionView(AppModel&, QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("IconSectionView"));
}
