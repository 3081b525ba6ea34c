// Bringing an application forward while the window manager has yet to carry out the request for one of its
// windows: what the helper's raise followed by a launcher's "bring Chrome forward" meets on every reopen.
#include "CorvaneHost/Linux/X11/X11Activation.h"

#include <gtest/gtest.h>

namespace {

constexpr qint32 chromium = 400;
constexpr qint32 terminal = 500;
constexpr quint32 home = 11, work = 12, xterm = 21, desktop = 31;

host::X11ClientWindow window(quint32 id, qint32 pid) {
    host::X11ClientWindow made;
    made.id = id;
    made.pid = pid;
    made.viewable = true;
    return made;
}

// Front to back: Home's window over Work's, the terminal behind both, the desktop's background at the back.
std::vector<host::X11ClientWindow> stacking() {
    host::X11ClientWindow background = window(desktop, chromium);
    background.desktop = true;
    return {window(home, chromium), window(work, chromium), window(xterm, terminal), background};
}

host::ApplicationActivation plan(qint32 pid, quint32 active, std::optional<host::ActivationRequest> last,
                                 qint64 now = 10'000) {
    return host::planApplicationActivation(pid, stacking(), active, last, now);
}

TEST(X11ActivationTest, AWindowJustAskedForStaysTheOneInFront) {
    // The helper asked for Work's window while Home's was active; the window manager has not restacked yet.
    const host::ActivationRequest raisedWork{work, home, 9'995};
    EXPECT_EQ(plan(chromium, home, raisedWork), (host::ApplicationActivation{true, 0}));
    // Carried out: Work's window is the active one, and stays so.
    EXPECT_EQ(plan(chromium, work, raisedWork), (host::ApplicationActivation{true, 0}));
    EXPECT_EQ(plan(chromium, work, std::nullopt), (host::ApplicationActivation{true, 0}));
    // The terminal's window asked for: Chromium coming forward asks after it for its own active window.
    EXPECT_EQ(plan(chromium, work, host::ActivationRequest{xterm, work, 9'995}),
              (host::ApplicationActivation{true, work}));
    EXPECT_EQ(plan(chromium, home, host::ActivationRequest{xterm, home, 9'995}),
              (host::ApplicationActivation{true, home}));
}

TEST(X11ActivationTest, AnApplicationInTheBackComesForwardWithItsTopWindow) {
    EXPECT_EQ(plan(chromium, xterm, std::nullopt), (host::ApplicationActivation{true, home}));
    // A request the window manager carried out before another window became active is over.
    EXPECT_EQ(plan(chromium, xterm, host::ActivationRequest{work, home, 9'995}),
              (host::ApplicationActivation{true, home}));
    // So is one it left undone for longer than it takes.
    EXPECT_EQ(
        plan(chromium, xterm, host::ActivationRequest{work, xterm, 10'000 - host::activationPatienceMs}),
        (host::ApplicationActivation{true, home}));
    // A clock that went back says nothing of the request.
    EXPECT_FALSE(host::isPending({work, xterm, 10'500}, xterm, 10'000));
    EXPECT_TRUE(host::isPending({work, xterm, 9'500}, xterm, 10'000));
    EXPECT_EQ(plan(terminal, home, host::ActivationRequest{work, home, 9'995}),
              (host::ApplicationActivation{true, xterm}));
    // Without a window of its own (the desktop's background is none), nothing comes forward.
    EXPECT_EQ(plan(600, home, std::nullopt), (host::ApplicationActivation{false, 0}));
    EXPECT_EQ(host::planApplicationActivation(chromium, {stacking().back()}, 0, std::nullopt, 0),
              (host::ApplicationActivation{false, 0}));
}

} // namespace
