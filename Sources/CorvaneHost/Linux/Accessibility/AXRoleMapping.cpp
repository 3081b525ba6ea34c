#include "CorvaneHost/Linux/Accessibility/AXRoleMapping.h"

#include <QHash>

namespace host::AXRoleMapping {
namespace {

// AT-SPI role name -> platform role. Roles missing here are AXUnknown; the few that depend on more than the
// role (windows, dialogs, buttons with a menu) are decided in role() below.
const QHash<QString, QString>& roleTable() {
    static const QHash<QString, QString> table{
        {QStringLiteral("application"), QStringLiteral("AXApplication")},
        {QStringLiteral("frame"), QStringLiteral("AXWindow")},
        {QStringLiteral("window"), QStringLiteral("AXWindow")},
        {QStringLiteral("dialog"), QStringLiteral("AXWindow")},
        {QStringLiteral("alert"), QStringLiteral("AXWindow")},
        {QStringLiteral("file chooser"), QStringLiteral("AXWindow")},
        {QStringLiteral("tool bar"), QStringLiteral("AXToolbar")},
        {QStringLiteral("push button"), QStringLiteral("AXButton")},
        {QStringLiteral("push button menu"), QStringLiteral("AXPopUpButton")},
        {QStringLiteral("toggle button"), QStringLiteral("AXCheckBox")},
        {QStringLiteral("check box"), QStringLiteral("AXCheckBox")},
        {QStringLiteral("radio button"), QStringLiteral("AXRadioButton")},
        {QStringLiteral("combo box"), QStringLiteral("AXComboBox")},
        {QStringLiteral("page tab list"), QStringLiteral("AXTabGroup")},
        {QStringLiteral("page tab"), QStringLiteral("AXRadioButton")},
        {QStringLiteral("document web"), QStringLiteral("AXWebArea")},
        {QStringLiteral("document frame"), QStringLiteral("AXWebArea")},
        {QStringLiteral("menu"), QStringLiteral("AXMenu")},
        {QStringLiteral("popup menu"), QStringLiteral("AXMenu")},
        {QStringLiteral("menu bar"), QStringLiteral("AXMenuBar")},
        {QStringLiteral("menu item"), QStringLiteral("AXMenuItem")},
        {QStringLiteral("check menu item"), QStringLiteral("AXMenuItem")},
        {QStringLiteral("radio menu item"), QStringLiteral("AXMenuItem")},
        {QStringLiteral("tearoff menu item"), QStringLiteral("AXMenuItem")},
        {QStringLiteral("scroll pane"), QStringLiteral("AXScrollArea")},
        {QStringLiteral("viewport"), QStringLiteral("AXScrollArea")},
        {QStringLiteral("scroll bar"), QStringLiteral("AXScrollBar")},
        {QStringLiteral("entry"), QStringLiteral("AXTextField")},
        {QStringLiteral("password text"), QStringLiteral("AXTextField")},
        {QStringLiteral("text"), QStringLiteral("AXTextArea")},
        {QStringLiteral("terminal"), QStringLiteral("AXTextArea")},
        {QStringLiteral("static"), QStringLiteral("AXStaticText")},
        {QStringLiteral("label"), QStringLiteral("AXStaticText")},
        {QStringLiteral("caption"), QStringLiteral("AXStaticText")},
        {QStringLiteral("image"), QStringLiteral("AXImage")},
        {QStringLiteral("icon"), QStringLiteral("AXImage")},
        {QStringLiteral("list"), QStringLiteral("AXList")},
        {QStringLiteral("list box"), QStringLiteral("AXList")},
        {QStringLiteral("description list"), QStringLiteral("AXList")},
        {QStringLiteral("table"), QStringLiteral("AXTable")},
        {QStringLiteral("tree"), QStringLiteral("AXOutline")},
        {QStringLiteral("tree table"), QStringLiteral("AXOutline")},
        {QStringLiteral("table row"), QStringLiteral("AXRow")},
        {QStringLiteral("tree item"), QStringLiteral("AXRow")},
        {QStringLiteral("table cell"), QStringLiteral("AXCell")},
        {QStringLiteral("column header"), QStringLiteral("AXCell")},
        {QStringLiteral("slider"), QStringLiteral("AXSlider")},
        {QStringLiteral("spin button"), QStringLiteral("AXIncrementor")},
        {QStringLiteral("progress bar"), QStringLiteral("AXProgressIndicator")},
        {QStringLiteral("level bar"), QStringLiteral("AXLevelIndicator")},
        {QStringLiteral("split pane"), QStringLiteral("AXSplitGroup")},
        {QStringLiteral("separator"), QStringLiteral("AXSplitter")},
        {QStringLiteral("link"), QStringLiteral("AXLink")},
        {QStringLiteral("heading"), QStringLiteral("AXHeading")},
        {QStringLiteral("tool tip"), QStringLiteral("AXHelpTag")},
        {QStringLiteral("title bar"), QStringLiteral("AXGroup")},
        {QStringLiteral("panel"), QStringLiteral("AXGroup")},
        {QStringLiteral("filler"), QStringLiteral("AXGroup")},
        {QStringLiteral("section"), QStringLiteral("AXGroup")},
        {QStringLiteral("grouping"), QStringLiteral("AXGroup")},
        {QStringLiteral("root pane"), QStringLiteral("AXGroup")},
        {QStringLiteral("layered pane"), QStringLiteral("AXGroup")},
        {QStringLiteral("internal frame"), QStringLiteral("AXGroup")},
        {QStringLiteral("status bar"), QStringLiteral("AXGroup")},
        {QStringLiteral("info bar"), QStringLiteral("AXGroup")},
        {QStringLiteral("notification"), QStringLiteral("AXGroup")},
        {QStringLiteral("landmark"), QStringLiteral("AXGroup")},
        {QStringLiteral("form"), QStringLiteral("AXGroup")},
        {QStringLiteral("article"), QStringLiteral("AXGroup")},
        {QStringLiteral("paragraph"), QStringLiteral("AXGroup")},
        {QStringLiteral("list item"), QStringLiteral("AXGroup")},
    };
    return table;
}

bool isDialog(const QString& atspiRole) {
    return atspiRole == QLatin1String("dialog") || atspiRole == QLatin1String("alert") ||
           atspiRole == QLatin1String("file chooser");
}

} // namespace

QString role(const ElementFacts& facts) {
    // A page's dialogs and alerts live inside its window: the platform shows them as sheets.
    if (isDialog(facts.atspiRole) && !facts.topLevel)
        return QStringLiteral("AXSheet");
    if (facts.atspiRole == QLatin1String("push button") && facts.opensMenu)
        return QStringLiteral("AXPopUpButton");
    return roleTable().value(facts.atspiRole, QStringLiteral("AXUnknown"));
}

QString subrole(const ElementFacts& facts) {
    const QString mapped = role(facts);
    if (mapped == QLatin1String("AXWindow")) {
        if (isDialog(facts.atspiRole))
            return QStringLiteral("AXDialog");
        if (facts.atspiRole == QLatin1String("frame") && facts.standardWindow)
            return QStringLiteral("AXStandardWindow");
        return QStringLiteral("AXUnknown");
    }
    if (facts.atspiRole == QLatin1String("page tab"))
        return QStringLiteral("AXTabButton");
    if (facts.atspiRole == QLatin1String("password text"))
        return QStringLiteral("AXSecureTextField");
    if (facts.atspiRole == QLatin1String("toggle button"))
        return QStringLiteral("AXToggle");
    return {};
}

QStringList atspiActions(const QString& axAction) {
    // Chromium names the default action of most of its menu items "select".
    if (axAction == QLatin1String("AXPress"))
        return {QStringLiteral("press"),     QStringLiteral("click"), QStringLiteral("activate"),
                QStringLiteral("open"),      QStringLiteral("jump"),  QStringLiteral("toggle"),
                QStringLiteral("doDefault"), QStringLiteral("select")};
    if (axAction == QLatin1String("AXShowMenu"))
        return {QStringLiteral("showContextMenu"), QStringLiteral("menu")};
    return {};
}

QString axAction(const QString& atspiAction) {
    for (const QString& candidate : {QStringLiteral("AXPress"), QStringLiteral("AXShowMenu")})
        if (atspiActions(candidate).contains(atspiAction))
            return candidate;
    return {};
}

quint32 keysym(int virtualKeyCode) {
    // The platform's key codes name physical keys of a US layout; X names the symbols they type.
    static const QHash<int, quint32> keys{
        {53, 0xff1b},                                               // Escape
        {36, 0xff0d},                                               // Return
        {76, 0xff8d},                                               // keypad Enter
        {48, 0xff09},                                               // Tab
        {49, 0x0020},                                               // space
        {51, 0xff08},                                               // Delete (backspace)
        {117, 0xffff},                                              // forward delete
        {123, 0xff51}, {124, 0xff53}, {125, 0xff54}, {126, 0xff52}, // arrows: left, right, down, up
        {115, 0xff50}, {119, 0xff57}, {116, 0xff55}, {121, 0xff56}, // home, end, page up, page down
        {56, 0xffe1},  {59, 0xffe3},  {58, 0xffe9},  {55, 0xffeb},  // shift, control, option, command
    };
    static const char letters[] = "asdfhgzxcv\0bqweryt"; // codes 0-17; code 10 has no letter
    if (virtualKeyCode >= 0 && virtualKeyCode <= 17 && virtualKeyCode != 10)
        return quint32(letters[virtualKeyCode]);
    return keys.value(virtualKeyCode, 0);
}

bool popupOpensMenu(const QString& hasPopupAttribute) {
    return hasPopupAttribute == QLatin1String("menu") || hasPopupAttribute == QLatin1String("true");
}

} // namespace host::AXRoleMapping
