// The one table from AT-SPI's roles and actions to the platform's vocabulary that window tracking reads.
#include "CorvaneHost/Linux/Accessibility/AXRoleMapping.h"

#include <gtest/gtest.h>

namespace {

using host::AXRoleMapping::ElementFacts;
namespace mapping = host::AXRoleMapping;

ElementFacts facts(const char* role, bool topLevel = false, bool opensMenu = false,
                   bool standardWindow = false) {
    return ElementFacts{QString::fromLatin1(role), topLevel, opensMenu, standardWindow};
}

TEST(AXRoleMappingTests, BrowserWindowsAreStandardWindowsAndPopupsAreNot) {
    EXPECT_EQ(mapping::role(facts("frame", true, false, true)), QStringLiteral("AXWindow"));
    EXPECT_EQ(mapping::subrole(facts("frame", true, false, true)), QStringLiteral("AXStandardWindow"));
    // Chromium's unnamed pop-up frames (the omnibox's) are windows the window manager does not manage.
    EXPECT_EQ(mapping::role(facts("frame", true)), QStringLiteral("AXWindow"));
    EXPECT_EQ(mapping::subrole(facts("frame", true)), QStringLiteral("AXUnknown"));
    EXPECT_EQ(mapping::subrole(facts("window", true, false, true)), QStringLiteral("AXUnknown"));
    EXPECT_EQ(mapping::subrole(facts("dialog", true)), QStringLiteral("AXDialog"));
}

TEST(AXRoleMappingTests, DialogsInsideAWindowAreSheets) {
    for (const char* role : {"dialog", "alert"}) {
        EXPECT_EQ(mapping::role(facts(role, false)), QStringLiteral("AXSheet")) << role;
        EXPECT_EQ(mapping::role(facts(role, true)), QStringLiteral("AXWindow")) << role;
    }
}

TEST(AXRoleMappingTests, ButtonsThatOpenAMenuArePopUpButtons) {
    EXPECT_EQ(mapping::role(facts("push button")), QStringLiteral("AXButton"));
    EXPECT_EQ(mapping::role(facts("push button", false, true)), QStringLiteral("AXPopUpButton"));
    EXPECT_EQ(mapping::role(facts("push button menu")), QStringLiteral("AXPopUpButton"));
    EXPECT_TRUE(mapping::popupOpensMenu(QStringLiteral("menu")));
    EXPECT_TRUE(mapping::popupOpensMenu(QStringLiteral("true")));
    // A button that opens a dialog (Chromium's energy saver) is an ordinary button.
    EXPECT_FALSE(mapping::popupOpensMenu(QStringLiteral("dialog")));
    EXPECT_FALSE(mapping::popupOpensMenu(QString()));
}

TEST(AXRoleMappingTests, RolesTheWindowSearchesLookForOrSkip) {
    const std::pair<const char*, const char*> expected[] = {
        {"tool bar", "AXToolbar"},
        {"page tab list", "AXTabGroup"},
        {"page tab", "AXRadioButton"},
        {"document web", "AXWebArea"},
        {"menu", "AXMenu"},
        {"popup menu", "AXMenu"},
        {"menu item", "AXMenuItem"},
        {"check menu item", "AXMenuItem"},
        {"radio menu item", "AXMenuItem"},
        {"menu bar", "AXMenuBar"},
        {"scroll pane", "AXScrollArea"},
        {"entry", "AXTextField"},
        {"text", "AXTextArea"},
        {"static", "AXStaticText"},
        {"label", "AXStaticText"},
        {"image", "AXImage"},
        {"list", "AXList"},
        {"list box", "AXList"},
        {"table", "AXTable"},
        {"tree", "AXOutline"},
        {"application", "AXApplication"},
        {"panel", "AXGroup"},
        {"redundant object", "AXUnknown"},
        {"", "AXUnknown"},
    };
    for (const auto& [atspi, platform] : expected)
        EXPECT_EQ(mapping::role(facts(atspi)), QString::fromLatin1(platform)) << atspi;
    EXPECT_EQ(mapping::subrole(facts("page tab")), QStringLiteral("AXTabButton"));
    EXPECT_TRUE(mapping::subrole(facts("tool bar")).isEmpty());
}

TEST(AXRoleMappingTests, ActionsByTheNamesChromiumAndToolkitsUse) {
    // Chromium names a button's default action "press", "click" or "open" depending on the view.
    for (const char* action : {"press", "click", "open", "activate", "jump", "doDefault", "select"}) {
        EXPECT_TRUE(mapping::atspiActions(QStringLiteral("AXPress")).contains(QString::fromLatin1(action)))
            << action;
        EXPECT_EQ(mapping::axAction(QString::fromLatin1(action)), QStringLiteral("AXPress")) << action;
    }
    // Preferred: the control's own action before the generic default.
    EXPECT_LT(mapping::atspiActions(QStringLiteral("AXPress")).indexOf(QStringLiteral("press")),
              mapping::atspiActions(QStringLiteral("AXPress")).indexOf(QStringLiteral("doDefault")));
    EXPECT_EQ(mapping::atspiActions(QStringLiteral("AXShowMenu")).value(0),
              QStringLiteral("showContextMenu"));
    EXPECT_TRUE(mapping::atspiActions(QStringLiteral("AXRaise")).isEmpty());
    EXPECT_TRUE(mapping::axAction(QStringLiteral("scrollIntoView")).isEmpty());
}

TEST(AXRoleMappingTests, VirtualKeyCodesBecomeKeysyms) {
    EXPECT_EQ(mapping::keysym(53), 0xff1bu); // Escape
    EXPECT_EQ(mapping::keysym(36), 0xff0du); // Return
    EXPECT_EQ(mapping::keysym(0), quint32('a'));
    EXPECT_EQ(mapping::keysym(17), quint32('t'));
    EXPECT_EQ(mapping::keysym(10), 0u); // no key of a US layout
    EXPECT_EQ(mapping::keysym(-1), 0u);
    EXPECT_EQ(mapping::keysym(500), 0u);
}

} // namespace
