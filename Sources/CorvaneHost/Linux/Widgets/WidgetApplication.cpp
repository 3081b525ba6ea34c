#include "CorvaneHost/Linux/Widgets/WidgetApplication.h"

#include "CorvaneHost/LeakCheck.h"

#include <QAccessible>
#include <QEventLoop>
#include <QTimer>

namespace host {

namespace {

// The bridge's own time-out, with room for a loaded machine.
constexpr int kBridgeAnswerMs = 250;

bool isKey(const QEvent* event) {
    return event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease;
}

// Installed last, it sees the application's events before the bridge does.
class KeyEventSink final : public QObject {
protected:
    bool eventFilter(QObject*, QEvent* event) override { return isKey(event); }
};

} // namespace

WidgetApplication::WidgetApplication(int& argc, char** argv)
    : QApplication(argc, argv) {}

bool WidgetApplication::notify(QObject* receiver, QEvent* event) {
    // While the bridge is on, it takes every key from the window system among the application's event filters
    // and the widgets see its copy later, as a posted event: nothing of ours runs in here for such a key but
    // an application event filter, which checks its own allocations again (OwnAllocations).
    if (isKey(event) && event->spontaneous() && QAccessible::isActive()) {
        [[maybe_unused]] const LibraryAllocations bridge;
        return QApplication::notify(receiver, event);
    }
    return QApplication::notify(receiver, event);
}

void WidgetApplication::dropHeldKeyEvents() {
    if (!QAccessible::isActive())
        return;
    KeyEventSink sink;
    installEventFilter(&sink);
    QEventLoop loop;
    QTimer::singleShot(kBridgeAnswerMs, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace host
