#pragma once

#include "CorvaneHost/Accessibility.h"
#include "Support/FakeWindowList.h"
#include "Support/FakeWorkspace.h"
#include "Support/HelperDoubles.h"
#include "Support/VirtualTime.h"

#include <QMap>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <vector>

namespace test {

struct FakeNode;
using Node = std::shared_ptr<FakeNode>;

// One element of the fake Chrome's interface. Attributes not listed as fields go in `attributes`; actions
// without a handler succeed and change nothing (they are recorded all the same).
struct FakeNode : std::enable_shared_from_this<FakeNode> {
    QString role;
    std::optional<QString> subrole;
    std::optional<QString> title;
    std::optional<QString> description;
    QStringList classes;
    QList<Node> children;
    QMap<QString, host::AXValue> attributes;
    QMap<QString, std::function<host::AXError()>> actions;
    Node closeButton; // windows
    qint32 pid = 0;
    bool alive = true;
    bool unreadable = false; // every read fails, as of an element Chrome has dropped

    Node add(Node child);
};

Node makeNode(const QString& role, std::optional<QString> title = {}, std::optional<QString> description = {},
              QStringList classes = {});

// A fake Chrome, as the accessibility interface shows it: its application element and windows (title,
// subrole, toolbar with the avatar button and the app menu button, the tab strip with tabs and group headers,
// the saved-groups bar, the close button, sheets), menus that open on actions and close on Escape, observer
// notifications, and failures to inject. It is also the window server's list of Chrome's windows and knows
// whether Chrome runs, through the fake workspace it is given.
class FakeChromeWorld final : public host::Accessibility {
public:
    static constexpr qint32 defaultPID = 4242;

    explicit FakeChromeWorld(FakeWorkspace& workspace);

    // Chrome's life. Launching adds it to the running applications; quitting removes it and its windows.
    Node launchChrome(qint32 pid = defaultPID);
    void quitChrome();
    Node app() const { return app_; }
    std::optional<qint32> chromePID() const;

    enum class Kind { browser, app, incognito };
    // A standard window whose title is `title` and whose avatar chip reads `chip` (none: no chip). Posts
    // "AXWindowCreated" unless `notify` is false.
    Node openWindow(const QString& title, std::optional<QString> chip = {}, Kind kind = Kind::browser,
                    bool notify = true);
    void closeWindow(const Node& window, bool notify = true);
    void setTitle(const Node& window, const QString& title, bool notify = true);
    void focus(const Node& window);
    void minimize(const Node& window);
    // A window that is not a standard window (a menu, a bubble).
    Node openPlainWindow(const QString& subrole);

    // Tab strip contents of a browser window.
    static Node tabStrip(const Node& window);
    static Node toolbar(const Node& window);
    static Node appMenuButton(const Node& window);
    Node addTab(const Node& window, const QString& title, std::optional<QString> group = {});
    Node addGroupHeader(const Node& window, const QString& name);
    // A header, then `tabs` tabs of the group.
    Node addGroup(const Node& window, const QString& name, int tabs);
    // A group as Chromium 156 on this desktop shows it: its header, a tab list named " group <name> - <n>
    // tabs, \u2022  <title>, ... - Expanded" (" - Collapsed"), followed by its tabs "<title> - Part of group
    // <name>". The tabs of a collapsed group are not shown, so they are not among the strip's children;
    // pressing the header expands or collapses the group. An empty name makes a group without a name
    // (" unnamed group - <n> tabs, ...").
    Node addChromiumGroup(const Node& window, const QString& name, const QStringList& titles,
                          bool collapsed = false);
    Node addSavedChip(const Node& window, const QString& description);
    // Replaces the window's tab strip by a new element with the same children (the old one stops answering).
    Node rebuildTabStrip(const Node& window);
    void addSheet(const Node& window);

    // A menu window with one item per title; it closes on Escape.
    Node openMenu(const QStringList& items, const QString& itemRole = QStringLiteral("AXMenuItem"));
    // Menu items (by title) that open a submenu of these items when pressed.
    QMap<QString, QStringList> submenus;
    // Menu items (by title) that do something when pressed.
    QMap<QString, std::function<void()>> itemPresses;
    // Makes `action` on `element` open a menu of `items` (after `delay` seconds of virtual time when given).
    void opensMenu(const Node& element, const QString& action, const QStringList& items,
                   std::optional<double> delay = {});

    // Posts a notification to the observers that registered for it on `element`.
    void post(const Node& element, const QString& notification);

    // What the window server lists for Chrome: every open standard window with its number, a minimised one
    // as not on screen.
    std::optional<QVariantList> windowServerEntries() const;

    // Knobs.
    bool trusted = true;
    bool available = true;
    bool publishesTree = true;    // false: Chrome answers with no windows (started with the switch off)
    int observerFailures = 0;     // observer creations that fail from now on
    bool closeButtonsWork = true; // pressing a close button closes its window
    bool sheetOnClose = false;    // pressing a close button shows a leave-page dialog instead
    bool escapeClosesMenus = true;
    bool goneElementsAnswer = false; // true: closed elements still answer, as from libatspi's cache
    // Seconds of virtual time before a window asked to become the main window is the active one, as when the
    // window manager takes its time.
    double activationDelay = 0;

    // Records.
    struct Performed {
        Node node;
        QString action;
    };
    std::vector<Performed> performed;
    int actionsOn(const Node& node, const QString& action) const;
    int escapePresses = 0;
    std::vector<double> messagingTimeouts;
    int observersCreated = 0;
    int prompts = 0;
    std::vector<std::pair<Node, QString>> registrations() const;

    // host::Accessibility
    bool isAvailable() override { return available; }
    bool isProcessTrusted() override { return trusted; }
    bool isProcessTrustedWithPrompt(bool prompt) override;
    host::AXElement createApplication(qint32 pid) override;
    host::AXError setMessagingTimeout(const host::AXElement& element, double seconds) override;
    host::AXError copyAttributeValue(const host::AXElement& element, const QString& attribute,
                                     host::AXValue& value) override;
    host::AXError setAttributeValue(const host::AXElement& element, const QString& attribute,
                                    const host::AXValue& value) override;
    host::AXError performAction(const host::AXElement& element, const QString& action) override;
    host::AXError pid(const host::AXElement& element, qint32& pid) override;
    host::AXError createObserver(qint32 pid, host::AXObserverCallback callback,
                                 std::shared_ptr<host::AXObserver>& observer) override;
    void postKeyboardEvent(int virtualKeyCode, bool keyDown) override;

    static host::AXElement element(const Node& node);
    static Node nodeOf(const host::AXElement& element);

private:
    class Observer;
    host::AXValue read(const Node& node, const QString& attribute, bool& known) const;
    QList<Node> windows() const;

    FakeWorkspace& workspace_;
    Node app_;
    QList<Node> windows_;
    Node focused_;
    std::vector<std::weak_ptr<Observer>> observers_;
    quint32 lastWindowNumber_ = 0;
};

// Everything a tracker test needs, installed for the scope's lifetime: virtual time, a fake workspace, the
// fake Chrome world as the accessibility service, and a window list fed by the world.
class ChromeWorldScope {
public:
    ChromeWorldScope();
    VirtualTime& time() { return timeScope_.time(); }
    FakeWorkspace& workspace() { return workspaceScope_.workspace(); }
    FakeChromeWorld& world() { return *world_; }
    FakeWindowList& windowList() { return *windowList_; }

private:
    VirtualTimeScope timeScope_;
    FakeWorkspaceScope workspaceScope_;
    std::shared_ptr<FakeChromeWorld> world_;
    ServiceOverride<host::Accessibility> accessibilityScope_;
    std::shared_ptr<FakeWindowList> windowList_;
    WindowListScope windowListScope_;
};

} // namespace test
