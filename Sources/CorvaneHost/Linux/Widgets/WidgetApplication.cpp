#include "CorvaneHost/Linux/Widgets/WidgetApplication.h"

#include "CorvaneHost/LeakCheck.h"

#include <QAccessible>
#include <QEventLoop>
#include <QTimer>

#include <optional>
#include <utility>

namespace host {

namespace {

// The bridge's own time-out, with room for a loaded machine.
constexpr int kBridgeAnswerMs = 250;

bool isKey(const QEvent* event) {
    return event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease;
}

// The scope of the spontaneous key being dispatched on this thread while the application's event filters that
// came after ours (the bridge's) have it; none once they let it pass.
thread_local std::optional<LibraryAllocations>* keyAmongLibraryFilters = nullptr;

// Installed first, it is asked after every application event filter installed later, the bridge's among them:
// a key that reaches it was not taken by the bridge, and what its dispatch allocates from here on (shortcuts,
// the widgets' own filters and handlers) is ours.
class LibraryFiltersPassed final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (isKey(event) && keyAmongLibraryFilters)
            keyAmongLibraryFilters->reset();
        return false;
    }
};

// Installed last, it sees the application's events before the bridge does.
class KeyEventSink final : public QObject {
protected:
    bool eventFilter(QObject*, QEvent* event) override { return isKey(event); }
};

} // namespace

WidgetApplication::WidgetApplication(int& argc, char** argv)
    : QApplication(argc, argv) {
    // Before the bridge's: it puts its filter in once the accessibility bus says it is wanted, later.
    installEventFilter(new LibraryFiltersPassed(this));
}

bool WidgetApplication::notify(QObject* receiver, QEvent* event) {
    // The bridge takes a key from the window system among the application's event filters (whenever the
    // accessibility bus turns it on) and the widgets see its copy later, as a posted event: what is allocated
    // until the filters have let the key pass is the bridge's. An application event filter of ours asked
    // before the bridge checks its own allocations again (OwnAllocations).
    if (isKey(event) && event->spontaneous()) {
        std::optional<LibraryAllocations> bridge(std::in_place);
        std::optional<LibraryAllocations>* const outer = std::exchange(keyAmongLibraryFilters, &bridge);
        const bool taken = QApplication::notify(receiver, event);
        keyAmongLibraryFilters = outer;
        return taken;
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
