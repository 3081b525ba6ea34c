// The creator app's window worked from the keyboard alone on a real desktop, as a screen-reader user works
// it: controls are found on the accessibility bus by role and text, reached with Tab, pressed with Space,
// and row menus opened with the Menu key and Shift+F10. No pointer is used.
#include "CorvaneCore/ProxyApps/Registry.h"
#include "Support/DesktopSession.h"
#include "Support/Files.h"
#include "Support/InstalledCreatorTest.h"
#include "Support/WindowDriver.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <gtest/gtest.h>
#include <signal.h>

namespace {

using Key = test::WindowDriver::Key;

std::optional<RegisteredApp> registered(const QString& name) {
    for (const RegisteredApp& app : Registry::load().apps)
        if (app.name == name)
            return app;
    return std::nullopt;
}

class CreatorKeyboardTest : public test::InstalledCreatorTest {
protected:
    void SetUp() override { installCreator(QStringLiteral("creator-keyboard")); }

    // The installed creator app on the session's display and buses; its window once it is active and its
    // sidebar lists the pages.
    test::AccessibleElement startCreator() {
        if (!launchCreator())
            return {};
        app = driver->application(pid_t(creator.processId()), 30);
        if (app.isNull())
            return {};
        const test::AccessibleElement frame = driver->find(app, QStringLiteral("frame"), QString(), 15);
        if (frame.isNull() ||
            driver->find(frame, QStringLiteral("list item"), QStringLiteral("Rules"), 15).isNull())
            return {};
        if (!test::WindowDriver::waitUntil([&] { return frame.hasState(QStringLiteral("active")); }, 10))
            return {};
        return frame;
    }

    // Presses Tab until the element with that role and name below `root` has the keyboard focus.
    bool tabTo(const test::AccessibleElement& root, const QString& role, const QString& name, int most = 40) {
        for (int stroke = 0; stroke <= most; ++stroke) {
            const test::AccessibleElement wanted = driver->find(root, role, name, 0.5);
            if (!wanted.isNull() && test::WindowDriver::waitUntil(
                                        [&] { return wanted.hasState(QStringLiteral("focused")); }, 0.3))
                return true;
            if (!driver->press(Key::Tab))
                return false;
        }
        return false;
    }

    // Presses Down in a list until its row with that name is selected.
    bool arrowTo(const test::AccessibleElement& root, const QString& row, int most = 8) {
        for (int stroke = 0; stroke <= most; ++stroke) {
            const test::AccessibleElement wanted = driver->find(root, QStringLiteral("list item"), row, 0.5);
            if (!wanted.isNull() && test::WindowDriver::waitUntil(
                                        [&] { return wanted.hasState(QStringLiteral("selected")); }, 0.3))
                return true;
            if (!driver->press(Key::Down))
                return false;
        }
        return false;
    }

    // The rule editor sheet, once it shows.
    test::AccessibleElement ruleSheet() {
        const test::AccessibleElement sheet =
            driver->find(app, QStringLiteral("dialog"), QStringLiteral("Edit Rule"), 10);
        if (sheet.isNull() ||
            !test::WindowDriver::waitUntil([&] { return sheet.hasState(QStringLiteral("showing")); }, 5))
            return {};
        return sheet;
    }

    // Types `text` over the name field's contents.
    bool rename(const test::AccessibleElement& sheet, const QString& text) {
        return tabTo(sheet, QStringLiteral("text"), QStringLiteral("Name")) &&
               driver->pressWithControl('a') && driver->typeText(text);
    }

    bool pressDone(const test::AccessibleElement& sheet) {
        return tabTo(sheet, QStringLiteral("push button"), QStringLiteral("Done")) &&
               driver->press(Key::Space) &&
               test::WindowDriver::waitUntil([&] { return !sheet.hasState(QStringLiteral("showing")); }, 5);
    }

    // Answers the destination panel from the keyboard: the folder typed into its focused field, then Return
    // (a completion list open under the field takes the first one).
    bool chooseFolderInPanel(const QString& folder) {
        const test::AccessibleElement panel = driver->find(
            app, QStringLiteral("dialog"), QStringLiteral("Where should the apps be saved?"), 30);
        if (panel.isNull() ||
            !test::WindowDriver::waitUntil([&] { return panel.hasState(QStringLiteral("showing")); }, 10))
            return false;
        test::AccessibleElement field;
        const bool focused = test::WindowDriver::waitUntil(
            [&] {
                for (const test::AccessibleElement& text : driver->findAll(panel, QStringLiteral("text"), {}))
                    if (text.hasState(QStringLiteral("editable")) && text.hasState(QStringLiteral("focused")))
                        field = text;
                return !field.isNull();
            },
            10);
        if (!focused || !driver->pressWithControl('a') || !driver->typeText(folder) ||
            !test::WindowDriver::waitUntil([&] { return field.text() == folder; }, 10))
            return false;
        return test::WindowDriver::waitUntil(
            [&] {
                if (!panel.hasState(QStringLiteral("showing")))
                    return true;
                driver->press(Key::Return);
                return test::WindowDriver::waitUntil(
                    [&] { return !panel.hasState(QStringLiteral("showing")); }, 2);
            },
            10);
    }

    std::string tree(const test::AccessibleElement& root) const { return root.dump(40).toStdString(); }

    test::AccessibleElement app;
};

TEST_F(CreatorKeyboardTest, ARuleIsMadeAndEditedFromTheKeyboardAlone) {
    const test::AccessibleElement frame = startCreator();
    ASSERT_FALSE(frame.isNull()) << tree(app);

    // The sidebar's rows, with the arrow keys.
    ASSERT_TRUE(tabTo(frame, QStringLiteral("list"), QStringLiteral("Sidebar"))) << tree(frame);
    ASSERT_TRUE(arrowTo(frame, QStringLiteral("Rules"))) << tree(frame);
    EXPECT_TRUE(
        test::WindowDriver::waitUntil([&] { return frame.name() == QStringLiteral("Rules — Corvane"); }, 5))
        << frame.name().toStdString();
    // With no rule yet, the list says what to do.
    EXPECT_FALSE(driver
                     ->find(frame, QStringLiteral("label"),
                            QStringLiteral("No rules yet. Every link goes to the fallback below — use + to "
                                           "send some of them somewhere else."),
                            5)
                     .isNull())
        << tree(frame);

    // A new rule: "Add Rule" with Space, its name typed, an address condition chosen from the "Add Condition"
    // menu with the arrow keys, and "example.com" typed into the row "Add Address" makes.
    ASSERT_TRUE(tabTo(frame, QStringLiteral("push button"), QStringLiteral("Add Rule"))) << tree(frame);
    ASSERT_TRUE(driver->press(Key::Space));
    test::AccessibleElement sheet = ruleSheet();
    ASSERT_FALSE(sheet.isNull()) << tree(app);
    ASSERT_TRUE(rename(sheet, QStringLiteral("Example"))) << tree(sheet);
    ASSERT_TRUE(tabTo(sheet, QStringLiteral("push button"), QStringLiteral("Add Condition"))) << tree(sheet);
    ASSERT_TRUE(driver->press(Key::Space));
    ASSERT_TRUE(driver->press(Key::Down) && driver->press(Key::Return)); // "Addresses"
    ASSERT_TRUE(tabTo(sheet, QStringLiteral("push button"), QStringLiteral("Add Address"))) << tree(sheet);
    ASSERT_TRUE(driver->press(Key::Space));
    ASSERT_FALSE(driver->find(sheet, QStringLiteral("list item"), QStringLiteral("Address"), 5).isNull())
        << tree(sheet);
    ASSERT_TRUE(driver->typeText(QStringLiteral("example.com")));
    // The value's row is read by what it holds, with its field inside.
    const test::AccessibleElement value =
        driver->find(sheet, QStringLiteral("list item"), QStringLiteral("example.com"), 5);
    ASSERT_FALSE(value.isNull()) << tree(sheet);
    EXPECT_FALSE(driver->find(value, QStringLiteral("text"), QString(), 1).isNull()) << tree(sheet);
    ASSERT_TRUE(pressDone(sheet)) << tree(sheet);

    // One list of rules on the bus, its row named by the rule with its switch inside.
    ASSERT_EQ(driver->findAll(frame, QStringLiteral("list"), QStringLiteral("Link Rules")).size(), 1u)
        << tree(frame);
    const test::AccessibleElement made =
        driver->find(frame, QStringLiteral("list item"), QStringLiteral("Example, 1 address"), 10);
    ASSERT_FALSE(made.isNull()) << tree(frame);
    EXPECT_FALSE(
        driver->find(made, QStringLiteral("check box"), QStringLiteral("This rule is running"), 2).isNull())
        << tree(made);
    EXPECT_FALSE(driver->saveScreenshot(QStringLiteral("CreatorKeyboard-RuleMade")).isEmpty());

    // Edited through the row's menu, opened with the Menu key: "Edit…" is its first entry.
    ASSERT_TRUE(tabTo(frame, QStringLiteral("list"), QStringLiteral("Link Rules"))) << tree(frame);
    ASSERT_TRUE(arrowTo(frame, QStringLiteral("Example, 1 address"))) << tree(frame);
    ASSERT_TRUE(driver->press(Key::Menu));
    ASSERT_TRUE(driver->press(Key::Down) && driver->press(Key::Return));
    sheet = ruleSheet();
    ASSERT_FALSE(sheet.isNull()) << tree(app);
    ASSERT_TRUE(rename(sheet, QStringLiteral("Example Edited"))) << tree(sheet);
    ASSERT_TRUE(pressDone(sheet)) << tree(sheet);
    ASSERT_FALSE(
        driver->find(frame, QStringLiteral("list item"), QStringLiteral("Example Edited, 1 address"), 10)
            .isNull())
        << tree(frame);

    // Shift+F10 opens the same menu: "Duplicate" is its second entry.
    ASSERT_TRUE(tabTo(frame, QStringLiteral("list"), QStringLiteral("Link Rules"))) << tree(frame);
    ASSERT_TRUE(arrowTo(frame, QStringLiteral("Example Edited, 1 address"))) << tree(frame);
    ASSERT_TRUE(driver->pressWithShift(Key::F10));
    ASSERT_TRUE(driver->press(Key::Down) && driver->press(Key::Down) && driver->press(Key::Return));
    EXPECT_FALSE(
        driver->find(frame, QStringLiteral("list item"), QStringLiteral("Example Edited copy, 1 address"), 10)
            .isNull())
        << tree(frame);
}

TEST_F(CreatorKeyboardTest, AProxyAppIsMadeAndSavedFromTheKeyboardAlone) {
    const test::AccessibleElement frame = startCreator();
    ASSERT_FALSE(frame.isNull()) << tree(app);

    // A new draft, named over the name it starts with; it opens the first profile.
    ASSERT_TRUE(tabTo(frame, QStringLiteral("push button"), QStringLiteral("New Proxy App"))) << tree(frame);
    ASSERT_TRUE(driver->press(Key::Space));
    ASSERT_TRUE(tabTo(frame, QStringLiteral("text"), QStringLiteral("Name"))) << tree(frame);
    ASSERT_TRUE(driver->pressWithControl('a') && driver->typeText(QStringLiteral("Keyboard Mail")));
    EXPECT_TRUE(test::WindowDriver::waitUntil(
        [&] { return frame.name() == QStringLiteral("Keyboard Mail — Corvane"); }, 10))
        << frame.name().toStdString();

    // A symbol: the picker opened with Space, searched by typing, its first cell chosen with Space, closed
    // with Return.
    ASSERT_TRUE(tabTo(frame, QStringLiteral("push button"), QStringLiteral("Briefcase"))) << tree(frame);
    ASSERT_TRUE(driver->press(Key::Space));
    ASSERT_TRUE(tabTo(app, QStringLiteral("text"), QStringLiteral("Search symbols"))) << tree(app);
    ASSERT_TRUE(driver->typeText(QStringLiteral("envelope")));
    ASSERT_FALSE(driver->find(app, QStringLiteral("list item"), QStringLiteral("Envelope"), 10).isNull())
        << tree(app);
    ASSERT_TRUE(tabTo(app, QStringLiteral("list"), QStringLiteral("Symbols"))) << tree(app);
    ASSERT_TRUE(driver->press(Key::Space));
    EXPECT_FALSE(driver->find(app, QStringLiteral("push button"), QStringLiteral("Envelope"), 10).isNull())
        << tree(app);
    EXPECT_FALSE(driver->saveScreenshot(QStringLiteral("CreatorKeyboard-symbol-picker")).isEmpty());
    ASSERT_TRUE(driver->press(Key::Return));
    ASSERT_TRUE(test::WindowDriver::waitUntil(
        [&] {
            return driver->findAll(app, QStringLiteral("text"), QStringLiteral("Search symbols")).empty();
        },
        10))
        << tree(app);

    // Saved into ~/Applications through the destination panel.
    ASSERT_TRUE(tabTo(frame, QStringLiteral("push button"), QStringLiteral("Save As…"))) << tree(frame);
    ASSERT_TRUE(driver->press(Key::Space));
    ASSERT_TRUE(chooseFolderInPanel(QDir::homePath() + QStringLiteral("/Applications"))) << tree(app);
    ASSERT_TRUE(test::WindowDriver::waitUntil(
        [&] { return registered(QStringLiteral("Keyboard Mail")).has_value(); }, 60))
        << tree(app);
    const RegisteredApp saved = *registered(QStringLiteral("Keyboard Mail"));
    EXPECT_TRUE(QFileInfo(saved.path).isDir());
    EXPECT_EQ(saved.config.symbolName, QStringLiteral("envelope.fill"));
    // Its sidebar row is read with its profile after its name.
    const test::AccessibleElement row =
        driver->find(frame, QStringLiteral("list item"), QStringLiteral("Keyboard Mail"), 30);
    ASSERT_FALSE(row.isNull()) << tree(frame);
    EXPECT_TRUE(row.description().startsWith(QStringLiteral("Work"))) << row.description().toStdString();
    EXPECT_FALSE(driver->saveScreenshot(QStringLiteral("CreatorKeyboard-saved-app")).isEmpty());
}

} // namespace
