// What one pass over the accessibility tree keeps of the window manager's list, and when it asks again.
#include "CorvaneHost/Linux/Accessibility/AtspiReadAhead.h"

#include "Support/VirtualTime.h"

#include <gtest/gtest.h>

namespace {

using host::AtspiReadAhead;
using host::X11ClientWindow;

X11ClientWindow windowOf(quint32 id, qint32 pid) {
    X11ClientWindow window;
    window.id = id;
    window.pid = pid;
    return window;
}

std::vector<quint32> idsOf(const std::vector<X11ClientWindow>& windows) {
    std::vector<quint32> ids;
    for (const X11ClientWindow& window : windows)
        ids.push_back(window.id);
    return ids;
}

// A window manager whose list the test changes, counting how often it is read.
struct WindowManager {
    std::vector<X11ClientWindow> windows{windowOf(1, 100)};
    int reads = 0;
    AtspiReadAhead::ClientWindowsReader reader() {
        return [this] {
            ++reads;
            return windows;
        };
    }
};

class AtspiReadAheadTests : public testing::Test {
protected:
    void SetUp() override { readAhead().clear(); }
    void TearDown() override {
        readAhead().setEnabled(true);
        readAhead().clear();
    }
    static AtspiReadAhead& readAhead() { return AtspiReadAhead::shared(); }

    test::VirtualTimeScope time;
    WindowManager manager;
};

TEST_F(AtspiReadAheadTests, OnePassReadsTheWindowListOnceAndTheNextTurnSeesAWindowShownSince) {
    EXPECT_EQ(idsOf(readAhead().clientWindows(manager.reader())), std::vector<quint32>{1});
    manager.windows.push_back(windowOf(2, 100));
    // Later reads of the same pass (one per window of a refresh) are answered from the first.
    EXPECT_EQ(idsOf(readAhead().clientWindows(manager.reader())), std::vector<quint32>{1});
    EXPECT_EQ(manager.reads, 1);

    time->runUntilIdle();
    EXPECT_EQ(idsOf(readAhead().clientWindows(manager.reader())), (std::vector<quint32>{1, 2}));
    EXPECT_EQ(manager.reads, 2);
}

TEST_F(AtspiReadAheadTests, AFreshReadOrAnEventReplacesTheKeptList) {
    readAhead().clientWindows(manager.reader());
    manager.windows = {windowOf(3, 100)};
    EXPECT_EQ(idsOf(readAhead().clientWindows(manager.reader(), true)), std::vector<quint32>{3});
    // What the fresh read found is what the rest of the pass sees.
    manager.windows = {};
    EXPECT_EQ(idsOf(readAhead().clientWindows(manager.reader())), std::vector<quint32>{3});

    readAhead().invalidate();
    EXPECT_TRUE(readAhead().clientWindows(manager.reader()).empty());
    EXPECT_EQ(manager.reads, 3);
}

TEST_F(AtspiReadAheadTests, SwitchedOffEveryReadAsksTheWindowManager) {
    readAhead().setEnabled(false);
    readAhead().clientWindows(manager.reader());
    manager.windows.push_back(windowOf(2, 100));
    EXPECT_EQ(idsOf(readAhead().clientWindows(manager.reader())), (std::vector<quint32>{1, 2}));
    EXPECT_EQ(manager.reads, 2);
}

} // namespace
