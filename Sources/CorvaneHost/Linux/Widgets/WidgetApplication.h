#pragma once

#include <QApplication>

namespace host {

// The application object of a program with windows. Qt's bridge to the accessibility bus takes each key event
// from the window system, keeps a copy until the bus has said whether a listener took it (100 ms at most) and
// then hands the copy back to the application. It loses the copy when the key's widget has gone meanwhile,
// and every copy it still holds when the program ends. Those copies are the bridge's: they are left out of
// the leak check where the bridge takes them, and the program lets the bridge hand back what it holds before
// it ends.
class WidgetApplication final : public QApplication {
public:
    WidgetApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

    // Called once the event loop is over: waits for the bridge's answers and drops the keys it hands back
    // (nothing acts on a key any more).
    void dropHeldKeyEvents();
};

} // namespace host
