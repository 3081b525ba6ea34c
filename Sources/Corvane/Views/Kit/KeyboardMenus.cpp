#include "Corvane/Views/Kit/KeyboardMenus.h"

#include "CorvaneHost/LeakCheck.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>

namespace {

bool opensMenu(const QKeyEvent* key) {
    const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
    return (key->key() == Qt::Key_Menu && modifiers == Qt::NoModifier) ||
           (key->key() == Qt::Key_F10 && modifiers == Qt::ShiftModifier);
}

class KeyboardMenuFilter : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        // Seen among the application's filters, where a key of the window system may be Qt's own.
        [[maybe_unused]] const host::OwnAllocations ours;
        if (event->type() != QEvent::KeyPress || !opensMenu(static_cast<QKeyEvent*>(event)))
            return false;
        // The press travels up from the focused widget: act once, where it starts.
        QWidget* focused = QApplication::focusWidget();
        if (!focused || watched != focused)
            return false;
        QPoint at = focused->rect().center();
        QPoint global = focused->mapToGlobal(at);
        if (auto* view = qobject_cast<QAbstractItemView*>(focused)) {
            // A list's rows are placed in its viewport, where its menus look them up.
            const QRect row = view->visualRect(view->currentIndex());
            at = row.isValid() ? row.center() : view->viewport()->rect().center();
            global = view->viewport()->mapToGlobal(at);
        }
        QContextMenuEvent menu(QContextMenuEvent::Keyboard, at, global);
        QApplication::sendEvent(focused, &menu);
        return true;
    }
};

} // namespace

namespace KeyboardMenus {

void install(QObject* owner) {
    qApp->installEventFilter(new KeyboardMenuFilter(owner));
}

} // namespace KeyboardMenus
