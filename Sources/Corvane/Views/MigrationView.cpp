#include "Corvane/Views/MigrationView.h"

MigrationView::MigrationView(AppModel&, QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("MigrationView"));
}
