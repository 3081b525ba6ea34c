// What one pass over the accessibility tree keeps of the window manager's list, and when it asks again.
#include "CorvaneHost/Linux/Accessibility/AtspiReadAhead.h"

#include "Support/VirtualTime.h"

#include <atspi/atspi.h>
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

// Elements of one program as libatspi makes them, without a bus: only their references are read.
class Elements {
public:
    Elements()
        : application_(static_cast<AtspiApplication*>(g_object_new(ATSPI_TYPE_APPLICATION, nullptr))) {
        application_->bus_name = g_strdup(":1.42");
    }
    ~Elements() {
        for (AtspiAccessible* element : made_)
            g_object_unref(element);
        g_object_unref(application_);
    }
    AtspiAccessible* element(int number) {
        auto* element = static_cast<AtspiAccessible*>(g_object_new(ATSPI_TYPE_ACCESSIBLE, nullptr));
        ATSPI_OBJECT(element)->app = static_cast<AtspiApplication*>(g_object_ref(application_));
        ATSPI_OBJECT(element)->path = g_strdup_printf("/org/a11y/atspi/accessible/%d", number);
        made_.push_back(element);
        return element;
    }

private:
    AtspiApplication* application_;
    std::vector<AtspiAccessible*> made_;
};

TEST_F(AtspiReadAheadTests, AnEventForgetsWhatWasReadOfTheElementItNamesAndNothingElse) {
    Elements elements;
    AtspiAccessible* toolbar = elements.element(1);
    AtspiAccessible* button = elements.element(2);
    readAhead().keep(toolbar)->name = QStringLiteral("Toolbar");
    readAhead().keep(button)->name = QStringLiteral("Work");

    readAhead().invalidate(button);
    EXPECT_EQ(readAhead().find(button), nullptr);
    ASSERT_NE(readAhead().find(toolbar), nullptr);
    EXPECT_EQ(readAhead().find(toolbar)->name, QStringLiteral("Toolbar"));

    // An event that came before an element was read says nothing about what was read after it.
    AtspiAccessible* avatar = elements.element(3);
    readAhead().invalidate(avatar);
    readAhead().keep(avatar)->description = QStringLiteral("Home");
    ASSERT_NE(readAhead().find(avatar), nullptr);
    EXPECT_EQ(readAhead().find(avatar)->description, QStringLiteral("Home"));

    time->runUntilIdle();
    EXPECT_EQ(readAhead().find(toolbar), nullptr); // the next pass asks again
}

TEST_F(AtspiReadAheadTests, SwitchedOffNothingIsKept) {
    Elements elements;
    readAhead().setEnabled(false);
    EXPECT_EQ(readAhead().keep(elements.element(1)), nullptr);
}

} // namespace
