// Loses blocks that our own code allocates while a key from the window system is dispatched, where the leak
// check leaves out what Qt's accessibility bridge keeps of the key: in a widget's key handler (argument
// "handler") and in an application event filter asked before the bridge, which checks its own allocations
// again (argument "filter"). The leak check must report each.
#include "CorvaneHost/LeakCheck.h"
#include "CorvaneHost/Linux/Widgets/WidgetApplication.h"

#include <QKeyEvent>
#include <QTest>
#include <QWidget>

namespace {

int* volatile kept = nullptr;

[[gnu::noinline]] void leakInKeyHandler() {
    kept = new int[7];
    kept = nullptr;
}

[[gnu::noinline]] void leakInApplicationFilter() {
    kept = new int[11];
    kept = nullptr;
}

class Field final : public QWidget {
protected:
    void keyPressEvent(QKeyEvent*) override { leakInKeyHandler(); }
};

class Filter final : public QObject {
protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::KeyPress) {
            [[maybe_unused]] const host::OwnAllocations ours;
            leakInApplicationFilter();
        }
        return false;
    }
};

} // namespace

int main(int argc, char* argv[]) {
    host::WidgetApplication app(argc, argv);
    const QString road = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    // Installed after the application's own, as the bridge's and the creator app's are.
    Filter filter;
    if (road == QLatin1String("filter"))
        app.installEventFilter(&filter);
    Field field;
    field.setFocusPolicy(Qt::StrongFocus);
    field.show();
    // Sent as the window system's, spontaneous.
    QTest::keyClick(&field, Qt::Key_A);
    return 0;
}
