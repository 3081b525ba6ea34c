#include "Corvane/Views/EditorView.h"

EditorView::EditorView(AppModel&, QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("EditorView"));
}
