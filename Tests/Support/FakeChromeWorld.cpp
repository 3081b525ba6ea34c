#include "Support/FakeChromeWorld.h"

#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneHost/Services.h"

namespace test {

namespace {

const QString standardWindow = QStringLiteral("AXStandardWindow");

class FakeHandle final : public host::AXElementHandle {
public:
    explicit FakeHandle(Node node)
        : node(std::move(node)) {}
    bool sameElement(const host::AXElementHandle& other) const override {
        const auto* fake = dynamic_cast<const FakeHandle*>(&other);
        return fake && fake->node == node;
    }
    size_t identityHash() const override { return std::hash<const FakeNode*>()(node.get()); }
    Node node;
};

void markGone(const Node& node) {
    node->alive = false;
    for (const Node& child : node->children)
        markGone(child);
}

Node findByClass(const Node& root, const QString& name) {
    if (root->classes.contains(name))
        return root;
    for (const Node& child : root->children)
        if (Node found = findByClass(child, name))
            return found;
    return nullptr;
}

host::AXValue optionalString(const std::optional<QString>& text) {
    if (!text)
        return std::monostate{};
    return *text;
}

} // namespace

Node FakeNode::add(Node child) {
    child->pid = pid;
    children.append(child);
    return child;
}

Node makeNode(const QString& role, std::optional<QString> title, std::optional<QString> description,
              QStringList classes) {
    auto node = std::make_shared<FakeNode>();
    node->role = role;
    node->title = std::move(title);
    node->description = std::move(description);
    node->classes = std::move(classes);
    return node;
}

class FakeChromeWorld::Observer final : public host::AXObserver {
public:
    Observer(FakeChromeWorld& world, qint32 pid, host::AXObserverCallback callback)
        : world(world)
        , pid(pid)
        , callback(std::move(callback)) {}
    host::AXError addNotification(const host::AXElement& element, const QString& notification) override {
        Node node = nodeOf(element);
        if (!node || !node->alive)
            return host::AXError::invalidUIElement;
        registrations.emplace_back(node, notification);
        return host::AXError::success;
    }
    host::AXError removeNotification(const host::AXElement& element, const QString& notification) override {
        Node node = nodeOf(element);
        std::erase_if(registrations, [&](const auto& entry) {
            return entry.first.lock() == node && entry.second == notification;
        });
        return host::AXError::success;
    }
    FakeChromeWorld& world;
    qint32 pid;
    host::AXObserverCallback callback;
    std::vector<std::pair<std::weak_ptr<FakeNode>, QString>> registrations;
};

FakeChromeWorld::FakeChromeWorld(FakeWorkspace& workspace)
    : workspace_(workspace) {}

host::AXElement FakeChromeWorld::element(const Node& node) {
    if (!node)
        return {};
    return host::AXElement(std::make_shared<FakeHandle>(node));
}

Node FakeChromeWorld::nodeOf(const host::AXElement& element) {
    const auto* handle = dynamic_cast<const FakeHandle*>(element.handle());
    return handle ? handle->node : nullptr;
}

Node FakeChromeWorld::launchChrome(qint32 pid) {
    app_ = makeNode(QStringLiteral("AXApplication"), QStringLiteral("Chromium"));
    app_->pid = pid;
    const host::RunningApplication chrome{pid, Corvane::chromeBundleID, QStringLiteral("Chromium"),
                                          QString()};
    workspace_.addRunning(chrome);
    workspace_.postLaunch(chrome);
    return app_;
}

void FakeChromeWorld::quitChrome() {
    if (!app_)
        return;
    for (const Node& window : windows_)
        markGone(window);
    windows_.clear();
    if (const auto chrome = workspace_.runningApplication(app_->pid)) {
        workspace_.removeRunning(app_->pid);
        workspace_.postTermination(*chrome);
    }
    app_->alive = false;
    app_.reset();
    focused_.reset();
}

std::optional<qint32> FakeChromeWorld::chromePID() const {
    if (!app_)
        return std::nullopt;
    return app_->pid;
}

Node FakeChromeWorld::openWindow(const QString& title, std::optional<QString> chip, Kind kind, bool notify) {
    Q_ASSERT(app_);
    if (kind == Kind::incognito && !chip)
        chip = QStringLiteral("Incognito");
    Node window = makeNode(QStringLiteral("AXWindow"), title);
    window->pid = app_->pid;
    window->subrole = standardWindow;
    window->attributes.insert(QStringLiteral("AXMinimized"), false);
    window->attributes.insert(QStringLiteral("AXWindowNumber"), double(++lastWindowNumber_));
    Node root = window->add(makeNode(QStringLiteral("AXGroup"), {}, {}, {QStringLiteral("BrowserRootView")}));
    if (kind != Kind::app)
        root->add(makeNode(QStringLiteral("AXTabGroup"), {}, {}, {QStringLiteral("TabContainerImpl")}));
    Node bar = root->add(makeNode(QStringLiteral("AXToolbar"), {}, {}, {QStringLiteral("ToolbarView")}));
    bar->add(makeNode(QStringLiteral("AXButton"), {}, QStringLiteral("Back")));
    if (chip)
        bar->add(makeNode(QStringLiteral("AXButton"), {}, *chip, {QStringLiteral("AvatarToolbarButton")}));
    bar->add(makeNode(QStringLiteral("AXPopUpButton"), {}, QStringLiteral("Chromium"),
                      {QStringLiteral("BrowserAppMenuButton")}));
    if (kind != Kind::app)
        root->add(makeNode(QStringLiteral("AXGroup"), {}, {}, {QStringLiteral("SavedTabGroupBar")}));
    root->add(makeNode(QStringLiteral("AXWebArea")));
    window->closeButton = window->add(
        makeNode(QStringLiteral("AXButton"), {}, QStringLiteral("Close"), {"FrameCaptionButton"}));
    std::weak_ptr<FakeNode> weak = window;
    window->closeButton->actions.insert(QStringLiteral("AXPress"), [this, weak] {
        Node target = weak.lock();
        if (!target || !target->alive)
            return host::AXError::invalidUIElement;
        if (sheetOnClose)
            addSheet(target);
        else if (closeButtonsWork)
            closeWindow(target);
        return host::AXError::success;
    });
    windows_.prepend(window);
    focused_ = window;
    if (notify)
        post(app_, host::AXNotification::windowCreated);
    return window;
}

void FakeChromeWorld::closeWindow(const Node& window, bool notify) {
    windows_.removeAll(window);
    if (focused_ == window)
        focused_ = windows_.isEmpty() ? nullptr : windows_.first();
    if (notify)
        post(window, host::AXNotification::uiElementDestroyed);
    markGone(window);
}

void FakeChromeWorld::setTitle(const Node& window, const QString& title, bool notify) {
    window->title = title;
    if (notify)
        post(window, host::AXNotification::titleChanged);
}

void FakeChromeWorld::focus(const Node& window) {
    focused_ = window;
}

void FakeChromeWorld::minimize(const Node& window) {
    window->attributes.insert(QStringLiteral("AXMinimized"), true);
}

Node FakeChromeWorld::openPlainWindow(const QString& subrole) {
    Node window = makeNode(QStringLiteral("AXWindow"));
    window->pid = app_->pid;
    window->subrole = subrole;
    windows_.append(window);
    return window;
}

Node FakeChromeWorld::tabStrip(const Node& window) {
    return findByClass(window, QStringLiteral("TabContainerImpl"));
}

Node FakeChromeWorld::toolbar(const Node& window) {
    return findByClass(window, QStringLiteral("ToolbarView"));
}

Node FakeChromeWorld::appMenuButton(const Node& window) {
    return findByClass(window, QStringLiteral("BrowserAppMenuButton"));
}

Node FakeChromeWorld::addTab(const Node& window, const QString& title, std::optional<QString> group) {
    const QString description = group ? title + QStringLiteral(" - Part of group ") + *group : title;
    return tabStrip(window)->add(makeNode(QStringLiteral("AXRadioButton"), title, description, {"Tab"}));
}

Node FakeChromeWorld::addGroupHeader(const Node& window, const QString& name) {
    return tabStrip(window)->add(makeNode(QStringLiteral("AXButton"), {},
                                          QStringLiteral("Group %1 - \"collapsed\"").arg(name),
                                          {QStringLiteral("TabGroupHeader")}));
}

Node FakeChromeWorld::addGroup(const Node& window, const QString& name, int tabs) {
    Node header = tabStrip(window)->add(makeNode(QStringLiteral("AXButton"), {},
                                                 QStringLiteral("Group %1 - %2 tabs").arg(name).arg(tabs),
                                                 {QStringLiteral("TabGroupHeader")}));
    for (int index = 1; index <= tabs; ++index)
        addTab(window, QStringLiteral("%1 tab %2").arg(name).arg(index), name);
    return header;
}

namespace {

QString chromiumHeaderName(const QString& name, const QStringList& titles, bool collapsed) {
    QString listing = (name.isEmpty() ? QStringLiteral(" unnamed group") : QStringLiteral(" group ") + name) +
                      QStringLiteral(" - %1 %2")
                          .arg(titles.size())
                          .arg(titles.size() == 1 ? QStringLiteral("tab") : QStringLiteral("tabs"));
    for (const QString& title : titles)
        listing += QStringLiteral(", \u2022  ") + title;
    return listing + (collapsed ? QStringLiteral(" - Collapsed") : QStringLiteral(" - Expanded"));
}

} // namespace

Node FakeChromeWorld::addChromiumGroup(const Node& window, const QString& name, const QStringList& titles,
                                       bool collapsed) {
    const Node strip = tabStrip(window);
    const QString headerName = chromiumHeaderName(name, titles, collapsed);
    Node header = strip->add(
        makeNode(QStringLiteral("AXTabGroup"), headerName, headerName, {QStringLiteral("TabGroupHeader")}));
    QList<Node> tabs;
    for (const QString& title : titles) {
        const QString tabName = title + (name.isEmpty() ? QStringLiteral(" - Part of unnamed group")
                                                        : QStringLiteral(" - Part of group ") + name);
        Node tab = makeNode(QStringLiteral("AXRadioButton"), tabName, tabName, {QStringLiteral("Tab")});
        tab->pid = strip->pid;
        tabs.append(tab);
    }
    if (!collapsed)
        strip->children.append(tabs);
    std::weak_ptr<FakeNode> weakHeader = header;
    std::weak_ptr<FakeNode> weakStrip = strip;
    header->actions.insert(QStringLiteral("AXPress"), [weakHeader, weakStrip, name, titles, tabs] {
        Node target = weakHeader.lock();
        Node items = weakStrip.lock();
        if (!target || !items)
            return host::AXError::invalidUIElement;
        const bool expanding = target->title->endsWith(QStringLiteral(" - Collapsed"));
        target->title = target->description = chromiumHeaderName(name, titles, !expanding);
        for (const Node& tab : tabs)
            items->children.removeAll(tab);
        if (expanding)
            for (qsizetype index = 0; index < tabs.size(); ++index)
                items->children.insert(items->children.indexOf(target) + 1 + index, tabs.at(index));
        return host::AXError::success;
    });
    return header;
}

Node FakeChromeWorld::addSavedChip(const Node& window, const QString& description) {
    Node bar = findByClass(window, QStringLiteral("SavedTabGroupBar"));
    return bar->add(
        makeNode(QStringLiteral("AXButton"), {}, description, {QStringLiteral("SavedTabGroupButton")}));
}

Node FakeChromeWorld::rebuildTabStrip(const Node& window) {
    Node old = tabStrip(window);
    Node fresh = makeNode(old->role, {}, {}, old->classes);
    fresh->pid = old->pid;
    fresh->children = old->children;
    Node root = window->children.first();
    root->children.replace(root->children.indexOf(old), fresh);
    old->alive = false;
    return fresh;
}

void FakeChromeWorld::addSheet(const Node& window) {
    Node sheet = window->add(makeNode(QStringLiteral("AXSheet"), QStringLiteral("Leave site?")));
    window->attributes.insert(QStringLiteral("AXSheets"), QList<host::AXElement>{element(sheet)});
}

Node FakeChromeWorld::openMenu(const QStringList& items, const QString& itemRole) {
    Node window = openPlainWindow(QStringLiteral("AXUnknown"));
    window->role = QStringLiteral("AXMenu");
    for (const QString& item : items) {
        Node entry = window->add(makeNode(itemRole, item));
        if (submenus.contains(item))
            opensMenu(entry, QStringLiteral("AXPress"), submenus.value(item));
        if (const auto press = itemPresses.value(item))
            entry->actions.insert(QStringLiteral("AXPress"), [press] {
                press();
                return host::AXError::success;
            });
    }
    return window;
}

void FakeChromeWorld::opensMenu(const Node& element, const QString& action, const QStringList& items,
                                std::optional<double> delay) {
    element->actions.insert(action, [this, items, delay] {
        if (delay)
            host::mainQueue().schedule(*delay, [this, items] { openMenu(items); });
        else
            openMenu(items);
        return host::AXError::success;
    });
}

void FakeChromeWorld::post(const Node& node, const QString& notification) {
    for (const auto& weak : observers_) {
        auto observer = weak.lock();
        if (!observer || observer->pid != node->pid)
            continue;
        for (const auto& [registered, name] : observer->registrations) {
            if (registered.lock() != node || name != notification)
                continue;
            auto callback = observer->callback;
            const host::AXElement target = element(node);
            host::mainQueue().async([callback, target, notification] { callback(target, notification); });
        }
    }
}

std::optional<QVariantList> FakeChromeWorld::windowServerEntries() const {
    QVariantList entries;
    if (!app_)
        return entries;
    for (const Node& window : windows_) {
        if (window->subrole != standardWindow)
            continue;
        QVariantMap entry = FakeWindowList::window(window->pid, 600, 0,
                                                   window->attributes.value(QStringLiteral("AXMinimized")) !=
                                                       host::AXValue(true));
        entry.insert(host::WindowList::numberKey,
                     qint64(std::get<double>(window->attributes.value(QStringLiteral("AXWindowNumber")))));
        entries.append(entry);
    }
    return entries;
}

int FakeChromeWorld::actionsOn(const Node& node, const QString& action) const {
    int count = 0;
    for (const Performed& entry : performed)
        if (entry.node == node && entry.action == action)
            ++count;
    return count;
}

std::vector<std::pair<Node, QString>> FakeChromeWorld::registrations() const {
    std::vector<std::pair<Node, QString>> all;
    for (const auto& weak : observers_)
        if (auto observer = weak.lock())
            for (const auto& [node, name] : observer->registrations)
                all.emplace_back(node.lock(), name);
    return all;
}

QList<Node> FakeChromeWorld::windows() const {
    return publishesTree ? windows_ : QList<Node>{};
}

bool FakeChromeWorld::isProcessTrustedWithPrompt(bool prompt) {
    if (prompt)
        ++prompts;
    return trusted;
}

host::AXElement FakeChromeWorld::createApplication(qint32 pid) {
    if (app_ && app_->pid == pid)
        return element(app_);
    Node nobody = makeNode(QStringLiteral("AXApplication"));
    nobody->pid = pid;
    nobody->alive = false;
    return element(nobody);
}

host::AXError FakeChromeWorld::setMessagingTimeout(const host::AXElement&, double seconds) {
    messagingTimeouts.push_back(seconds);
    return host::AXError::success;
}

host::AXValue FakeChromeWorld::read(const Node& node, const QString& attribute, bool& known) const {
    known = true;
    if (attribute == QStringLiteral("AXRole"))
        return node->role.isEmpty() ? host::AXValue() : host::AXValue(node->role);
    if (attribute == QStringLiteral("AXSubrole"))
        return optionalString(node->subrole);
    if (attribute == QStringLiteral("AXTitle"))
        return optionalString(node->title);
    if (attribute == QStringLiteral("AXDescription"))
        return optionalString(node->description);
    if (attribute == QStringLiteral("AXDOMClassList"))
        return node->classes.isEmpty() ? host::AXValue() : host::AXValue(node->classes);
    if (attribute == QStringLiteral("AXChildren")) {
        QList<host::AXElement> children;
        for (const Node& child : node->children)
            children.append(element(child));
        return children;
    }
    if (node == app_ && attribute == QStringLiteral("AXWindows")) {
        QList<host::AXElement> list;
        for (const Node& window : windows())
            list.append(element(window));
        return list;
    }
    if (node == app_ && attribute == QStringLiteral("AXFocusedWindow"))
        return focused_ && focused_->alive && publishesTree ? host::AXValue(element(focused_))
                                                            : host::AXValue();
    if (attribute == QStringLiteral("AXCloseButton"))
        return node->closeButton ? host::AXValue(element(node->closeButton)) : host::AXValue();
    known = node->attributes.contains(attribute);
    return node->attributes.value(attribute);
}

host::AXError FakeChromeWorld::copyAttributeValue(const host::AXElement& element, const QString& attribute,
                                                  host::AXValue& value) {
    if (!trusted)
        return host::AXError::apiDisabled;
    Node node = nodeOf(element);
    if (!node || (!node->alive && !goneElementsAnswer))
        return host::AXError::invalidUIElement;
    if (node->unreadable)
        return host::AXError::cannotComplete;
    bool known = false;
    value = read(node, attribute, known);
    if (!known)
        return host::AXError::attributeUnsupported;
    return std::holds_alternative<std::monostate>(value) ? host::AXError::noValue : host::AXError::success;
}

host::AXError FakeChromeWorld::setAttributeValue(const host::AXElement& element, const QString& attribute,
                                                 const host::AXValue& value) {
    if (!trusted)
        return host::AXError::apiDisabled;
    Node node = nodeOf(element);
    if (!node || !node->alive)
        return host::AXError::invalidUIElement;
    if (node == app_ && attribute == QStringLiteral("AXFocusedWindow")) {
        if (std::holds_alternative<host::AXElement>(value))
            focused_ = nodeOf(std::get<host::AXElement>(value));
        return host::AXError::success;
    }
    if (attribute == QStringLiteral("AXMain") && activationDelay > 0) {
        std::weak_ptr<FakeNode> weak = node;
        host::mainQueue().schedule(activationDelay, [weak, value] {
            if (Node target = weak.lock())
                target->attributes.insert(QStringLiteral("AXMain"), value);
        });
        return host::AXError::success;
    }
    node->attributes.insert(attribute, value);
    return host::AXError::success;
}

host::AXError FakeChromeWorld::performAction(const host::AXElement& element, const QString& action) {
    Node node = nodeOf(element);
    performed.push_back({node, action});
    if (!trusted)
        return host::AXError::apiDisabled;
    if (!node || !node->alive)
        return host::AXError::invalidUIElement;
    if (const auto handler = node->actions.constFind(action); handler != node->actions.constEnd())
        return (*handler)();
    if (action == QStringLiteral("AXRaise") && windows_.contains(node)) {
        windows_.removeAll(node);
        windows_.prepend(node);
    }
    return host::AXError::success;
}

host::AXError FakeChromeWorld::pid(const host::AXElement& element, qint32& pid) {
    Node node = nodeOf(element);
    if (!node || !node->alive)
        return host::AXError::invalidUIElement;
    pid = node->pid;
    return host::AXError::success;
}

host::AXError FakeChromeWorld::createObserver(qint32 pid, host::AXObserverCallback callback,
                                              std::shared_ptr<host::AXObserver>& observer) {
    if (!trusted)
        return host::AXError::apiDisabled;
    if (observerFailures > 0) {
        --observerFailures;
        return host::AXError::cannotComplete;
    }
    auto created = std::make_shared<Observer>(*this, pid, std::move(callback));
    observers_.push_back(created);
    ++observersCreated;
    observer = created;
    return host::AXError::success;
}

void FakeChromeWorld::postKeyboardEvent(int virtualKeyCode, bool keyDown) {
    if (virtualKeyCode != 53 || !keyDown)
        return;
    ++escapePresses;
    if (!escapeClosesMenus)
        return;
    for (qsizetype index = windows_.size() - 1; index >= 0; --index) {
        if (windows_.at(index)->subrole != standardWindow) {
            markGone(windows_.takeAt(index));
            return;
        }
    }
}

ChromeWorldScope::ChromeWorldScope()
    : world_(std::make_shared<FakeChromeWorld>(workspaceScope_.workspace()))
    , accessibilityScope_(host::services().accessibility, world_)
    , windowList_(std::make_shared<FakeWindowList>())
    , windowListScope_(windowList_) {
    FakeChromeWorld* world = world_.get();
    windowList_->setSource([world] { return world->windowServerEntries(); });
}

} // namespace test
