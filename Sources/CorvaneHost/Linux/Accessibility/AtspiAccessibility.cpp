#include "CorvaneHost/Linux/Accessibility/AtspiAccessibility.h"

#include "CorvaneHost/Bundle.h"
#include "CorvaneHost/Linux/Accessibility/AXRoleMapping.h"
#include "CorvaneHost/Linux/Accessibility/AtspiReadAhead.h"
#include "CorvaneHost/Linux/Accessibility/LibatspiAllocations.h"
#include "CorvaneHost/Linux/Bus/SessionBus.h"
#include "CorvaneHost/Linux/Files/PrivacyGrants.h"
#include "CorvaneHost/Linux/X11/X11Activation.h"
#include "CorvaneHost/Linux/X11/X11Display.h"
#include "CorvaneHost/Linux/X11/X11WindowListEvents.h"
#include "CorvaneHost/MainQueue.h"
#include "CorvaneHost/Services.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTimer>

#include <atspi/atspi.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <deque>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace host {
namespace {

const QString accessibilityService = QStringLiteral("Accessibility");
constexpr double defaultTimeout = 6.0; // the platform's own default
constexpr int busQueryTimeoutMs = 1000;
// Windows that come and go are found through the X server's announcements, and the windows are compared
// again now and then for anything those miss (the window tracker's own pass, every 5 s, reads them too);
// without an X display only the comparison finds them, often.
constexpr double observerPollInterval = 0.2;
constexpr double fallbackPollInterval = 6.0;
// Chromium publishes a window on the accessibility bus a moment before or after the X server shows it: after
// each change of the program's windows on screen they are compared again a few times.
constexpr double followUpDelays[] = {0.03, 0.1, 0.3, 1.0};
const QByteArray rootPath = QByteArrayLiteral("/org/a11y/atspi/accessible/root");

// The events the observers turn into notifications; Chromium announces neither new nor closed windows, so
// those are found by comparing the application's windows on every event, on the X server's announcements and
// on a poll.
const char* const observedEvents[] = {
    "window:activate",      "window:minimize", "window:restore",
    "window:create",        "window:destroy",  "object:property-change:accessible-name",
    "object:state-changed",
};

// One element as the backend keeps it: an application by its pid (found on the bus at each use, so that an
// element made before the program registers still works), an object of an application, or the window
// manager's close button of a window that draws none of its own.
class AtspiHandle final : public AXElementHandle {
public:
    enum class Kind { application, object, windowCloseButton };

    AtspiHandle(Kind kind, qint32 pid, AtspiAccessible* object)
        : kind(kind)
        , pid(pid)
        , object(object) {
        if (object) {
            bus = QByteArray(ATSPI_OBJECT(object)->app ? ATSPI_OBJECT(object)->app->bus_name : "");
            path = QByteArray(ATSPI_OBJECT(object)->path);
        }
    }
    ~AtspiHandle() override {
        if (object)
            g_object_unref(object);
    }

    bool sameElement(const AXElementHandle& other) const override {
        const auto* that = dynamic_cast<const AtspiHandle*>(&other);
        if (!that || that->kind != kind)
            return false;
        if (kind == Kind::application)
            return that->pid == pid;
        return that->bus == bus && that->path == path;
    }
    size_t identityHash() const override {
        if (kind == Kind::application)
            return qHash(pid) ^ 0x5bd1e995u;
        return qHash(bus) ^ (qHash(path) * 31u) ^ size_t(kind);
    }

    const Kind kind;
    const qint32 pid; // 0 for objects until asked
    AtspiAccessible* const object;
    QByteArray bus;
    QByteArray path;
};

const AtspiHandle* handleOf(const AXElement& element) {
    return dynamic_cast<const AtspiHandle*>(element.handle());
}

struct GErrorHolder {
    GError* error = nullptr;
    ~GErrorHolder() {
        if (error)
            g_error_free(error);
    }
    GError** out() { return &error; }
    explicit operator bool() const { return error != nullptr; }
};

template <typename T> struct GObjectRef {
    T* pointer = nullptr;
    explicit GObjectRef(T* p = nullptr)
        : pointer(p) {}
    ~GObjectRef() {
        if (pointer)
            g_object_unref(pointer);
    }
    GObjectRef(const GObjectRef&) = delete;
    GObjectRef& operator=(const GObjectRef&) = delete;
    T* get() const { return pointer; }
    T* release() { return std::exchange(pointer, nullptr); }
    explicit operator bool() const { return pointer != nullptr; }
};

QString takeString(gchar* text) {
    const QString result = QString::fromUtf8(text ? text : "");
    g_free(text);
    return result;
}

bool isRoot(AtspiAccessible* object) {
    return ATSPI_OBJECT(object)->path && rootPath == ATSPI_OBJECT(object)->path;
}

// The session's accessibility bus service, on the session bus.
QDBusMessage busCall(const QString& interface, const QString& method, const QVariantList& arguments = {}) {
    QDBusMessage message = QDBusMessage::createMethodCall(QStringLiteral("org.a11y.Bus"),
                                                          QStringLiteral("/org/a11y/bus"), interface, method);
    message.setArguments(arguments);
    return sessionBus().call(message, QDBus::Block, busQueryTimeoutMs);
}

// Runs libatspi calls under one element's messaging time-out and turns their failure into the platform's
// codes: no answer within the time-out is cannotComplete, a vanished element invalidUIElement. libatspi has
// one time-out for all calls: a call made within another (a window's frame read while its attribute is) gives
// the outer one its time-out back when it ends.
class Call {
public:
    explicit Call(double timeout)
        : timeout_(timeout)
        , outerTimeoutMs_(std::exchange(currentTimeoutMs, int(timeout * 1000))) {
        atspi_set_timeout(currentTimeoutMs, 0);
        clock_.start();
    }
    ~Call() {
        if (outerTimeoutMs_ >= 0 && outerTimeoutMs_ != currentTimeoutMs)
            atspi_set_timeout(outerTimeoutMs_, 0);
        currentTimeoutMs = outerTimeoutMs_;
    }
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;
    GError** out() { return error_.out(); }
    double timeout() const { return timeout_; }
    // libatspi answers some calls that timed out with an empty value and no error: a call that took the whole
    // time-out failed, whatever it returned.
    bool timedOut() const { return clock_.elapsed() >= qint64(timeout_ * 950); }
    bool failed() const { return bool(error_) || timedOut(); }
    AXError status() const {
        if (timedOut())
            return AXError::cannotComplete;
        if (!error_)
            return AXError::success;
        const QString message = QString::fromUtf8(error_.error->message ? error_.error->message : "");
        if (clock_.elapsed() >= qint64(timeout_ * 900) || message.contains(QLatin1String("NoReply")) ||
            message.contains(QLatin1String("Did not receive a reply"), Qt::CaseInsensitive) ||
            message.contains(QLatin1String("timeout"), Qt::CaseInsensitive))
            return AXError::cannotComplete;
        if (message.contains(QLatin1String("UnknownObject")) ||
            message.contains(QLatin1String("ServiceUnknown")) ||
            message.contains(QLatin1String("Unknown object"), Qt::CaseInsensitive) ||
            message.contains(QLatin1String("not provided by any"), Qt::CaseInsensitive) ||
            message.contains(QLatin1String("does not exist"), Qt::CaseInsensitive))
            return AXError::invalidUIElement;
        return AXError::failure;
    }
    void clear() {
        if (error_.error)
            g_clear_error(&error_.error);
    }

private:
    // The time-out libatspi holds while a call lives, -1 outside every call.
    static inline int currentTimeoutMs = -1;

    double timeout_;
    int outerTimeoutMs_;
    QElapsedTimer clock_;
    GErrorHolder error_;
};

const AtspiReadFacts* readAhead(AtspiAccessible* object) {
    return AtspiReadAhead::shared().find(object);
}

// Where the program was asked on its own, the answer serves the rest of the pass too (a window's
// classification asks some elements the same twice).
AtspiReadFacts* keptFor(AtspiAccessible* object, const Call& call) {
    return call.failed() ? nullptr : AtspiReadAhead::shared().keep(object);
}

QString nameOf(AtspiAccessible* object, Call& call) {
    if (const AtspiReadFacts* facts = readAhead(object); facts && facts->name)
        return *facts->name;
    const QString name =
        takeString(insideLibatspi([&] { return atspi_accessible_get_name(object, call.out()); }));
    if (AtspiReadFacts* kept = keptFor(object, call))
        kept->name = name;
    return name;
}

QString descriptionOf(AtspiAccessible* object, Call& call) {
    if (const AtspiReadFacts* facts = readAhead(object); facts && facts->description)
        return *facts->description;
    const QString description =
        takeString(insideLibatspi([&] { return atspi_accessible_get_description(object, call.out()); }));
    if (AtspiReadFacts* kept = keptFor(object, call))
        kept->description = description;
    return description;
}

QString atspiRoleName(AtspiAccessible* object, Call& call) {
    if (const AtspiReadFacts* facts = readAhead(object); facts && facts->role)
        return *facts->role;
    const AtspiRole role = insideLibatspi([&] { return atspi_accessible_get_role(object, call.out()); });
    if (call.failed())
        return {};
    return takeString(atspi_role_get_name(role));
}

bool hasState(AtspiAccessible* object, AtspiStateType state) {
    AtspiStateSet* states = insideLibatspi([&] { return atspi_accessible_get_state_set(object); });
    if (!states)
        return false;
    const bool result = atspi_state_set_contains(states, state);
    g_object_unref(states);
    return result;
}

// Hidden elements (views that are not shown, such as a disabled toolbar button or a closed panel) carry no
// "visible" state; the platform leaves them out of every list of children.
bool isShown(AtspiAccessible* object) {
    if (const AtspiReadFacts* facts = readAhead(object); facts && facts->shown)
        return *facts->shown;
    AtspiStateSet* states = insideLibatspi([&] { return atspi_accessible_get_state_set(object); });
    if (!states)
        return false;
    const bool shown = atspi_state_set_contains(states, ATSPI_STATE_VISIBLE) &&
                       !atspi_state_set_contains(states, ATSPI_STATE_DEFUNCT);
    g_object_unref(states);
    return shown;
}

std::optional<QString> objectAttribute(AtspiAccessible* object, const char* name, Call& call) {
    if (const AtspiReadFacts* facts = readAhead(object); facts && facts->attributes) {
        const auto found = facts->attributes->constFind(QString::fromUtf8(name));
        return found == facts->attributes->constEnd() ? std::nullopt : std::optional<QString>(*found);
    }
    GHashTable* attributes =
        insideLibatspi([&] { return atspi_accessible_get_attributes(object, call.out()); });
    if (!attributes)
        return std::nullopt;
    std::optional<QString> value;
    if (const auto* text = static_cast<const char*>(g_hash_table_lookup(attributes, name)))
        value = QString::fromUtf8(text);
    if (AtspiReadFacts* kept = keptFor(object, call)) {
        QHash<QString, QString> all;
        GHashTableIter entries;
        gpointer key = nullptr, text = nullptr;
        g_hash_table_iter_init(&entries, attributes);
        while (g_hash_table_iter_next(&entries, &key, &text))
            all.insert(QString::fromUtf8(static_cast<const char*>(key)),
                       QString::fromUtf8(static_cast<const char*>(text)));
        kept->attributes = std::move(all);
    }
    g_hash_table_unref(attributes);
    return value;
}

// libatspi keeps what it read of an element and corrects it only from events. Chromium announces state
// changes (the service listens to them, so it sends them) but not its children or every name: names and
// children are read afresh every time. States stay cached, as libatspi itself consults them while it
// dispatches events, where it cannot ask the program; it forgets them with the element, though, once its last
// reference goes, so a later search asks again (what a search needs in one pass is read ahead instead, see
// AtspiReadAhead).
void readAfresh(AtspiAccessible* object) {
    atspi_accessible_set_cache_mask(
        object, AtspiCache(ATSPI_CACHE_ROLE | ATSPI_CACHE_INTERFACES | ATSPI_CACHE_STATES));
}

} // namespace
} // namespace host

namespace host {
namespace {

// All children in one round trip (the bus's GetChildren), instead of one per child: a window search expands
// dozens of elements. None when the program does not answer it, or names a child it has not made yet.
std::optional<std::vector<AtspiAccessible*>> childrenInOneCall(AtspiAccessible* object, double timeout) {
    DBusConnection* bus = atspi_get_a11y_bus();
    const AtspiObject* self = ATSPI_OBJECT(object);
    if (!bus || !self->app || !self->app->bus_name || !self->path)
        return std::nullopt;
    DBusMessage* request = dbus_message_new_method_call(self->app->bus_name, self->path,
                                                        "org.a11y.atspi.Accessible", "GetChildren");
    if (!request)
        return std::nullopt;
    DBusError error;
    dbus_error_init(&error);
    DBusMessage* reply = dbus_connection_send_with_reply_and_block(bus, request, int(timeout * 1000), &error);
    dbus_message_unref(request);
    dbus_error_free(&error);
    if (!reply)
        return std::nullopt;
    std::optional<std::vector<AtspiAccessible*>> result = atspiChildrenOf(reply, self->app->bus_name);
    dbus_message_unref(reply);
    return result;
}

std::vector<AtspiAccessible*> children(AtspiAccessible* object, Call& call) {
    if (const AtspiReadFacts* facts = readAhead(object); facts && facts->children) {
        std::vector<AtspiAccessible*> known = *facts->children;
        for (AtspiAccessible* child : known)
            g_object_ref(child);
        return known;
    }
    if (std::optional<std::vector<AtspiAccessible*>> all = childrenInOneCall(object, call.timeout()))
        return std::move(*all);
    std::vector<AtspiAccessible*> result;
    // The program had the whole time-out to answer: asking again, one child at a time, would wait as long.
    if (call.timedOut())
        return result;
    const gint count = insideLibatspi([&] { return atspi_accessible_get_child_count(object, call.out()); });
    for (gint i = 0; i < count && !call.failed(); ++i) {
        AtspiAccessible* child =
            insideLibatspi([&] { return atspi_accessible_get_child_at_index(object, i, call.out()); });
        // Chromium answers with no element for the children of a window whose views it has not yet made
        // accessible; asking for the window's own attributes makes them, and the second answer names the
        // child.
        if (!child && !call.failed()) {
            if (GHashTable* attributes =
                    insideLibatspi([&] { return atspi_accessible_get_attributes(object, nullptr); }))
                g_hash_table_unref(attributes);
            child =
                insideLibatspi([&] { return atspi_accessible_get_child_at_index(object, i, call.out()); });
        }
        if (child)
            result.push_back(child);
    }
    return result;
}

void unrefAll(std::vector<AtspiAccessible*>& objects) {
    for (AtspiAccessible* object : objects)
        g_object_unref(object);
    objects.clear();
}

bool isWindowRole(const QString& role) {
    return role == QLatin1String("frame") || role == QLatin1String("window") ||
           role == QLatin1String("dialog") || role == QLatin1String("alert") ||
           role == QLatin1String("file chooser");
}

} // namespace

// ---------------------------------------------------------------------------------------------------------
// Windows and the window manager

namespace {

QRect extentsOf(AtspiAccessible* object) {
    if (const AtspiReadFacts* facts = readAhead(object); facts && facts->extents)
        return *facts->extents;
    AtspiComponent* component = insideLibatspi([&] { return atspi_accessible_get_component_iface(object); });
    if (!component)
        return {};
    QRect result;
    GError* error = nullptr;
    if (AtspiRect* rect = insideLibatspi(
            [&] { return atspi_component_get_extents(component, ATSPI_COORD_TYPE_SCREEN, &error); })) {
        result = QRect(rect->x, rect->y, rect->width, rect->height);
        g_free(rect);
    }
    if (error)
        g_error_free(error);
    g_object_unref(component);
    return result;
}

// The window manager's windows: read once in a pass over the program's windows (a refresh asks for each
// window's), and afresh where asked.
const std::vector<X11ClientWindow>& clientWindows(X11Display& display, bool fresh) {
    return AtspiReadAhead::shared().clientWindows([&display] { return display.clientWindows(); }, fresh);
}

// How sure a match must be. Acting on a window or naming its number needs the one window that shows the
// frame; whether the frame is shown at all is answered by any of several alike windows (the same bounds, no
// title matching yet: a window that was just opened or renamed beside another of its size).
enum class Match { certain, alike };

// Among the client windows `windows` of the program `pid`, the one that shows the top-level element `frame`:
// the one with the frame's bounds, else the one whose title the frame's name begins with (Chromium adds the
// profile's name to the accessible name).
std::optional<X11ClientWindow> clientWindowAmong(const std::vector<X11ClientWindow>& windows,
                                                 AtspiAccessible* frame, qint32 pid, double timeout,
                                                 Match match) {
    std::vector<X11ClientWindow> candidates;
    for (const X11ClientWindow& window : windows)
        if (window.pid == pid && !window.desktop && !window.dock)
            candidates.push_back(window);
    if (candidates.empty())
        return std::nullopt;
    AtspiReadAhead::shared().readWindowAhead(frame, timeout);
    Call call(timeout);
    const QRect bounds = extentsOf(frame);
    const QString name = nameOf(frame, call);
    auto titleMatches = [&](const X11ClientWindow& window) {
        return !window.title.isEmpty() &&
               (name == window.title || name.startsWith(window.title + QLatin1String(" - ")));
    };
    for (const X11ClientWindow& window : candidates)
        if (bounds.isValid() && window.bounds == bounds && titleMatches(window))
            return window;
    std::optional<X11ClientWindow> byBounds;
    int sameBounds = 0;
    for (const X11ClientWindow& window : candidates)
        if (bounds.isValid() && window.bounds == bounds && sameBounds++ == 0)
            byBounds = window;
    if (sameBounds == 1 || (sameBounds > 1 && match == Match::alike))
        return byBounds;
    std::optional<X11ClientWindow> byTitle;
    for (const X11ClientWindow& window : candidates)
        if (titleMatches(window)) {
            if (byTitle)
                return std::nullopt; // two windows of the same title and neither with these bounds
            byTitle = window;
        }
    return byTitle;
}

// The managed X window that shows the top-level element `frame` of the program `pid`. The list read earlier
// in this pass answers; where it has no such window (one shown, placed or renamed since), the window manager
// is asked again. The frame is read within `timeout`, the program's messaging time-out.
std::optional<X11ClientWindow> clientWindowOf(AtspiAccessible* frame, qint32 pid, double timeout,
                                              Match match = Match::certain) {
    const std::shared_ptr<X11Display> display = X11Display::shared();
    if (!display || pid <= 0)
        return std::nullopt;
    if (std::optional<X11ClientWindow> found =
            clientWindowAmong(clientWindows(*display, false), frame, pid, timeout, match))
        return found;
    return clientWindowAmong(clientWindows(*display, true), frame, pid, timeout, match);
}

// One window of a program as the window server shows it: what changes when it appears, goes or is placed.
struct ScreenWindow {
    quint32 id = 0;
    QString title;
    QRect bounds;
    bool shown = false;
    bool operator==(const ScreenWindow&) const = default;
};

// Read afresh: the observer compares it with what it saw last to tell whether this program's windows changed.
std::vector<ScreenWindow> screenWindowsOf(qint32 pid) {
    std::vector<ScreenWindow> windows;
    if (const std::shared_ptr<X11Display> display = X11Display::shared())
        for (const X11ClientWindow& window : clientWindows(*display, true))
            if (window.pid == pid)
                windows.push_back(
                    {window.id, window.title, window.bounds, window.viewable && !window.hidden});
    std::sort(windows.begin(), windows.end(),
              [](const ScreenWindow& a, const ScreenWindow& b) { return a.id < b.id; });
    return windows;
}

} // namespace

// ---------------------------------------------------------------------------------------------------------
// The service

AtspiAccessibility::AtspiAccessibility() {
    atspi_init();
    // Qt's event loop runs the default GLib context where Qt was built with GLib (Debian's is); elsewhere a
    // timer on the main thread runs it.
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
        !dispatcher || qstrcmp(dispatcher->metaObject()->className(), "QEventDispatcherGlib") != 0) {
        if (QCoreApplication::instance()) {
            auto* pump = new QTimer(QCoreApplication::instance());
            QObject::connect(pump, &QTimer::timeout, [] {
                while (g_main_context_iteration(nullptr, FALSE)) {
                }
            });
            pump->start(20);
        }
    }
    listener_ = atspi_event_listener_new(&AtspiAccessibility::onEvent, this, nullptr);
    for (const char* event : observedEvents)
        atspi_event_listener_register(listener_, event, nullptr);
}

bool AtspiAccessibility::busAnswers() {
    if (!qEnvironmentVariableIsEmpty("AT_SPI_BUS_ADDRESS"))
        return true;
    if (!sessionBus().isConnected())
        return false;
    const QDBusMessage reply = busCall(QStringLiteral("org.a11y.Bus"), QStringLiteral("GetAddress"));
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
           !reply.arguments().first().toString().isEmpty();
}

bool AtspiAccessibility::accessibilitySwitch() {
    const QDBusMessage reply =
        busCall(QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
                {QStringLiteral("org.a11y.Status"), QStringLiteral("IsEnabled")});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return false;
    return reply.arguments().first().value<QDBusVariant>().variant().toBool();
}

bool AtspiAccessibility::setAccessibilitySwitch(bool on) {
    AccessibilitySwitchWatch::switchSetHere();
    const QDBusMessage reply =
        busCall(QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Set"),
                {QStringLiteral("org.a11y.Status"), QStringLiteral("IsEnabled"),
                 QVariant::fromValue(QDBusVariant(on))});
    return reply.type() == QDBusMessage::ReplyMessage;
}

QString AtspiAccessibility::ownGrantIdentifier() {
    const Bundle& bundle = Bundle::main();
    if (bundle.infoDictionary()) {
        const QString identifier =
            bundle.infoDictionary()->value(QStringLiteral("CFBundleIdentifier")).toString();
        if (!identifier.isEmpty())
            return identifier;
    }
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
}

bool AtspiAccessibility::isProcessTrusted() {
    return switch_.isOn() && PrivacyGrants::isGranted(accessibilityService, ownGrantIdentifier());
}

bool AtspiAccessibility::isProcessTrustedWithPrompt(bool prompt) {
    if (prompt && !isProcessTrusted()) {
        try {
            PrivacyGrants::grant(accessibilityService, ownGrantIdentifier());
        } catch (const std::exception&) {
            return false; // the grant could not be recorded, so the program stays untrusted
        }
        if (!accessibilitySwitch())
            setAccessibilitySwitch(true);
    }
    return isProcessTrusted();
}

AXElement AtspiAccessibility::createApplication(qint32 pid) {
    return AXElement(std::make_shared<AtspiHandle>(AtspiHandle::Kind::application, pid, nullptr));
}

AXError AtspiAccessibility::setMessagingTimeout(const AXElement& element, double seconds) {
    const AtspiHandle* handle = handleOf(element);
    if (!handle || seconds < 0)
        return AXError::illegalArgument;
    qint32 owner = 0;
    if (const AXError status = pid(element, owner); status != AXError::success)
        return status;
    if (seconds == 0)
        timeouts_.remove(owner);
    else
        timeouts_.insert(owner, seconds);
    return AXError::success;
}

// What one call needs of its element: the object (for an application, its root on the bus, found by pid),
// the owner's pid and the time-out that applies.
struct AtspiAccessibility::Target {
    const AtspiHandle* handle = nullptr;
    AtspiAccessible* object = nullptr; // borrowed from the handle, or owned by `resolved`
    GObjectRef<AtspiAccessible> resolved;
    bool rootFoundEarlier = false;
    qint32 pid = 0;
    double timeout = defaultTimeout;
};

namespace {

AtspiAccessible* findApplication(qint32 pid, double timeout, QHash<QByteArray, qint32>& pidsByBusName) {
    Call call(timeout);
    GObjectRef<AtspiAccessible> desktop(insideLibatspi([&] { return atspi_get_desktop(0); }));
    if (!desktop)
        return nullptr;
    std::vector<AtspiAccessible*> applications = children(desktop.get(), call);
    AtspiAccessible* found = nullptr;
    for (AtspiAccessible* application : applications) {
        GError* error = nullptr;
        if (!found && qint32(insideLibatspi(
                          [&] { return atspi_accessible_get_process_id(application, &error); })) == pid) {
            readAfresh(application);
            pidsByBusName.insert(QByteArray(ATSPI_OBJECT(application)->app->bus_name), pid);
            found = static_cast<AtspiAccessible*>(g_object_ref(application));
        }
        if (error)
            g_error_free(error);
    }
    unrefAll(applications);
    return found;
}

} // namespace

// Fills `target` for `element`; fails when the element is not one of ours or its application is not on the
// bus.
AXError AtspiAccessibility::resolve(const AXElement& element, Target& target) {
    target.handle = handleOf(element);
    if (!target.handle)
        return AXError::illegalArgument;
    target.pid = target.handle->pid;
    target.timeout = timeouts_.value(target.pid, defaultTimeout);
    if (target.handle->kind == AtspiHandle::Kind::application) {
        if (AtspiAccessible* known = applications_.value(target.pid)) {
            target.resolved.pointer = static_cast<AtspiAccessible*>(g_object_ref(known));
            target.rootFoundEarlier = true;
        } else if (AtspiAccessible* found = findApplication(target.pid, target.timeout, pidsByBusName_)) {
            target.resolved.pointer = found;
            forgetEndedApplications();
            applications_.insert(target.pid, static_cast<AtspiAccessible*>(g_object_ref(found)));
        } else {
            return AXError::cannotComplete; // no program with that pid answers on the bus
        }
        target.object = target.resolved.get();
        return AXError::success;
    }
    target.object = target.handle->object;
    if (target.pid <= 0) {
        GError* error = nullptr;
        target.pid =
            qint32(insideLibatspi([&] { return atspi_accessible_get_process_id(target.object, &error); }));
        if (error)
            g_error_free(error);
        target.timeout = timeouts_.value(target.pid, defaultTimeout);
    }
    return AXError::success;
}

void AtspiAccessibility::forgetEndedApplications() {
    for (auto it = applications_.begin(); it != applications_.end();) {
        if (::kill(it.key(), 0) != 0 && errno == ESRCH) {
            g_object_unref(it.value());
            it = applications_.erase(it);
        } else {
            ++it;
        }
    }
}

// A template rather than a std::function: every attribute read passes through here.
template <typename TargetCall>
AXError AtspiAccessibility::withTarget(const AXElement& element, const TargetCall& call) {
    Target target;
    if (const AXError status = resolve(element, target); status != AXError::success)
        return status;
    const AXError status = call(target);
    // The program left the bus (it ended, or came back under another name; libatspi then fails calls on the
    // old root as unknown or in general): its root is looked up afresh. An answer (no value, unsupported)
    // and a program slow to answer are not reasons to.
    if (!target.rootFoundEarlier || (status != AXError::invalidUIElement && status != AXError::failure))
        return status;
    if (AtspiAccessible* gone = applications_.take(target.pid))
        g_object_unref(gone);
    Target fresh;
    if (const AXError again = resolve(element, fresh); again != AXError::success)
        return again;
    return call(fresh);
}

namespace {

// Wraps `object` (whose reference the element takes over) as an element: an application root becomes the
// application element of its pid, so that both compare equal.
AXElement wrap(AtspiAccessible* object, qint32 ownerPid) {
    if (isRoot(object)) {
        g_object_unref(object);
        return AXElement(std::make_shared<AtspiHandle>(AtspiHandle::Kind::application, ownerPid, nullptr));
    }
    return AXElement(std::make_shared<AtspiHandle>(AtspiHandle::Kind::object, ownerPid, object));
}

AXElement closeButtonOf(AtspiAccessible* window, qint32 ownerPid) {
    g_object_ref(window);
    return AXElement(std::make_shared<AtspiHandle>(AtspiHandle::Kind::windowCloseButton, ownerPid, window));
}

AXRoleMapping::ElementFacts factsOf(AtspiAccessible* object, Call& call, bool withWindowManager, qint32 pid) {
    AXRoleMapping::ElementFacts facts;
    facts.atspiRole = atspiRoleName(object, call);
    if (call.failed())
        return facts;
    if (facts.atspiRole == QLatin1String("push button")) {
        facts.opensMenu =
            AXRoleMapping::popupOpensMenu(objectAttribute(object, "haspopup", call).value_or(QString()));
        call.clear(); // an element without object attributes opens no menu
    }
    if (isWindowRole(facts.atspiRole))
        AtspiReadAhead::shared().readWindowAhead(object, call.timeout());
    if (const AtspiReadFacts* known = readAhead(object);
        isWindowRole(facts.atspiRole) && known && known->parentPath) {
        facts.topLevel = *known->parentPath == rootPath;
    } else if (isWindowRole(facts.atspiRole)) {
        GError* error = nullptr;
        if (AtspiAccessible* parent =
                insideLibatspi([&] { return atspi_accessible_get_parent(object, &error); })) {
            facts.topLevel = isRoot(parent);
            // Each search of a window starts by asking its role, and with it where the window sits.
            if (AtspiReadFacts* kept = error ? nullptr : AtspiReadAhead::shared().keep(object))
                kept->parentPath = QByteArray(ATSPI_OBJECT(parent)->path ? ATSPI_OBJECT(parent)->path : "");
            g_object_unref(parent);
        }
        if (error)
            g_error_free(error);
    }
    if (withWindowManager && facts.atspiRole == QLatin1String("frame") && facts.topLevel) {
        if (X11Display::shared()) {
            facts.standardWindow = clientWindowOf(object, pid, call.timeout(), Match::alike).has_value();
        } else {
            Call probe(call.timeout());
            facts.standardWindow = !nameOf(object, probe).isEmpty();
        }
    }
    return facts;
}

// The first shown descendant within `maxDepth` that passes `test`, breadth first.
template <typename Test>
AtspiAccessible* findShownDescendant(AtspiAccessible* root, int maxDepth, Call& call, Test test) {
    std::deque<std::pair<AtspiAccessible*, int>> queue;
    queue.emplace_back(static_cast<AtspiAccessible*>(g_object_ref(root)), 0);
    AtspiAccessible* found = nullptr;
    while (!queue.empty() && !found) {
        auto [object, depth] = queue.front();
        queue.pop_front();
        if (depth > 0 && test(object))
            found = static_cast<AtspiAccessible*>(g_object_ref(object));
        else if (depth < maxDepth)
            for (AtspiAccessible* child : children(object, call)) {
                if (isShown(child))
                    queue.emplace_back(child, depth + 1);
                else
                    g_object_unref(child);
            }
        g_object_unref(object);
        call.clear();
    }
    for (auto& [object, depth] : queue)
        g_object_unref(object);
    return found;
}

// The window's own close button (Chromium draws it: a "FrameCaptionButton" named "Close").
AtspiAccessible* drawnCloseButton(AtspiAccessible* window, Call& call) {
    return findShownDescendant(window, 3, call, [&](AtspiAccessible* object) {
        Call probe(0.5);
        if (atspiRoleName(object, probe) != QLatin1String("push button"))
            return false;
        const QString name = nameOf(object, probe);
        probe.clear();
        return name == QLatin1String("Close") &&
               objectAttribute(object, "class", probe).value_or(QString()) ==
                   QLatin1String("FrameCaptionButton");
    });
}

AtspiAccessible* activeWindowOf(AtspiAccessible* application, Call& call) {
    std::vector<AtspiAccessible*> windows = children(application, call);
    AtspiAccessible* active = nullptr;
    for (AtspiAccessible* window : windows)
        if (!active && hasState(window, ATSPI_STATE_ACTIVE))
            active = static_cast<AtspiAccessible*>(g_object_ref(window));
    unrefAll(windows);
    return active;
}

// Raising, making main and focusing a window all activate it: one request to the window manager serves them
// all (requestActivation() sends no other while it is pending).
bool activateWindow(AtspiAccessible* window, qint32 pid, double timeout) {
    const std::optional<X11ClientWindow> client = clientWindowOf(window, pid, timeout);
    return client && requestActivation(client->id);
}

} // namespace

AXError AtspiAccessibility::copyAttributeValue(const AXElement& element, const QString& attribute,
                                               AXValue& value) {
    value = std::monostate{};
    return withTarget(element, [&](Target& target) { return copyAttributeValue(target, attribute, value); });
}

AXError AtspiAccessibility::copyAttributeValue(Target& target, const QString& attribute, AXValue& value) {
    Call call(target.timeout);
    AtspiAccessible* object = target.object;

    if (target.handle->kind == AtspiHandle::Kind::windowCloseButton) {
        if (attribute == QLatin1String("AXRole"))
            value = QStringLiteral("AXButton");
        else if (attribute == QLatin1String("AXSubrole"))
            value = QStringLiteral("AXCloseButton");
        else
            return AXError::attributeUnsupported;
        return AXError::success;
    }

    if (attribute == QLatin1String("AXRole") || attribute == QLatin1String("AXSubrole")) {
        const bool subrole = attribute == QLatin1String("AXSubrole");
        const AXRoleMapping::ElementFacts facts = factsOf(object, call, subrole, target.pid);
        if (call.failed())
            return call.status();
        const QString mapped = subrole ? AXRoleMapping::subrole(facts) : AXRoleMapping::role(facts);
        if (mapped.isEmpty())
            return AXError::noValue;
        value = mapped;
        return AXError::success;
    }
    if (attribute == QLatin1String("AXTitle")) {
        const QString name = nameOf(object, call);
        if (call.failed())
            return call.status();
        value = name;
        return AXError::success;
    }
    if (attribute == QLatin1String("AXDescription")) {
        // Controls without a visible title carry their label here on the platform, so the name stands in
        // when the element has no description of its own.
        QString description = descriptionOf(object, call);
        if (!call.failed() && description.isEmpty())
            description = nameOf(object, call);
        if (call.failed())
            return call.status();
        value = description;
        return AXError::success;
    }
    if (attribute == QLatin1String("AXDOMClassList")) {
        const std::optional<QString> classes = objectAttribute(object, "class", call);
        if (call.failed())
            return call.status();
        if (!classes)
            return AXError::noValue;
        value = classes->split(QLatin1Char(' '), Qt::SkipEmptyParts);
        return AXError::success;
    }
    if (attribute == QLatin1String("AXChildren") || attribute == QLatin1String("AXWindows")) {
        const bool windowsOnly = attribute == QLatin1String("AXWindows");
        if (windowsOnly && target.handle->kind != AtspiHandle::Kind::application)
            return AXError::attributeUnsupported;
        std::vector<AtspiAccessible*> all = children(object, call);
        if (call.failed()) {
            unrefAll(all);
            return call.status();
        }
        std::vector<AtspiAccessible*> kept;
        for (AtspiAccessible* child : all) {
            if (!isShown(child))
                continue;
            if (windowsOnly) {
                Call probe(target.timeout);
                if (!isWindowRole(atspiRoleName(child, probe)))
                    continue;
            }
            kept.push_back(child);
        }
        if (windowsOnly)
            AtspiReadAhead::shared().listWindows(kept);
        QList<AXElement> shown;
        for (AtspiAccessible* child : kept)
            shown.append(wrap(static_cast<AtspiAccessible*>(g_object_ref(child)), target.pid));
        unrefAll(all);
        value = shown;
        return AXError::success;
    }
    if (attribute == QLatin1String("AXParent")) {
        AtspiAccessible* parent =
            insideLibatspi([&] { return atspi_accessible_get_parent(object, call.out()); });
        if (call.failed())
            return call.status();
        if (!parent)
            return AXError::noValue;
        value = wrap(parent, target.pid);
        return AXError::success;
    }
    if (attribute == QLatin1String("AXFocusedWindow") || attribute == QLatin1String("AXMainWindow")) {
        if (target.handle->kind != AtspiHandle::Kind::application)
            return AXError::attributeUnsupported;
        AtspiAccessible* active = activeWindowOf(object, call);
        if (call.failed() && !active)
            return call.status();
        if (!active)
            return AXError::noValue;
        value = wrap(active, target.pid);
        return AXError::success;
    }
    if (attribute == QLatin1String("AXMinimized") || attribute == QLatin1String("AXMain") ||
        attribute == QLatin1String("AXFocused") || attribute == QLatin1String("AXCloseButton") ||
        attribute == QLatin1String("AXWindowNumber")) {
        const QString role = atspiRoleName(object, call);
        if (call.failed())
            return call.status();
        const bool window = isWindowRole(role);
        if (attribute == QLatin1String("AXFocused")) {
            value = hasState(object, window ? ATSPI_STATE_ACTIVE : ATSPI_STATE_FOCUSED);
            return AXError::success;
        }
        if (!window)
            return AXError::attributeUnsupported;
        if (attribute == QLatin1String("AXMinimized")) {
            bool minimized = hasState(object, ATSPI_STATE_ICONIFIED);
            if (const std::optional<X11ClientWindow> client =
                    clientWindowOf(object, target.pid, target.timeout))
                minimized = minimized || client->hidden;
            value = minimized;
        } else if (attribute == QLatin1String("AXMain")) {
            value = hasState(object, ATSPI_STATE_ACTIVE);
        } else if (attribute == QLatin1String("AXWindowNumber")) {
            const std::optional<X11ClientWindow> client = clientWindowOf(object, target.pid, target.timeout);
            if (!client)
                return AXError::noValue;
            value = double(client->id);
        } else if (AtspiAccessible* button = drawnCloseButton(object, call)) {
            value = wrap(button, target.pid);
        } else if (clientWindowOf(object, target.pid, target.timeout, Match::alike)) {
            value = closeButtonOf(object, target.pid);
        } else {
            return AXError::noValue;
        }
        return AXError::success;
    }
    return AXError::attributeUnsupported;
}

void AtspiAccessibility::prefetch(const QList<AXElement>& elements) {
    std::vector<AtspiAccessible*> objects;
    double timeout = defaultTimeout;
    for (const AXElement& element : elements)
        if (const AtspiHandle* handle = handleOf(element);
            handle && handle->kind == AtspiHandle::Kind::object && handle->object) {
            objects.push_back(handle->object);
            timeout = timeouts_.value(handle->pid, timeout);
        }
    AtspiReadAhead::shared().readAhead(objects, timeout);
}

void AtspiAccessibility::setReadsAhead(bool on) {
    AtspiReadAhead::shared().setEnabled(on);
}

AXError AtspiAccessibility::setAttributeValue(const AXElement& element, const QString& attribute,
                                              const AXValue& value) {
    return withTarget(element, [&](Target& target) { return setAttributeValue(target, attribute, value); });
}

AXError AtspiAccessibility::setAttributeValue(Target& target, const QString& attribute,
                                              const AXValue& value) {
    Call call(target.timeout);
    AtspiAccessible* object = target.object;
    const bool* flag = std::get_if<bool>(&value);

    // Chromium publishes its tree whenever the desktop's switch was on at its start or it was started with
    // ACCESSIBILITY_ENABLED=1; there is nothing more to ask of it.
    if (attribute == QLatin1String("AXEnhancedUserInterface"))
        return flag ? AXError::success : AXError::illegalArgument;

    if (attribute == QLatin1String("AXFocusedWindow") || attribute == QLatin1String("AXMainWindow")) {
        Target window;
        const auto* element = std::get_if<AXElement>(&value);
        if (!element || target.handle->kind != AtspiHandle::Kind::application)
            return AXError::illegalArgument;
        if (const AXError status = resolve(*element, window); status != AXError::success)
            return status;
        return activateWindow(window.object, target.pid, target.timeout) ? AXError::success
                                                                         : AXError::cannotComplete;
    }
    if (!flag)
        return AXError::illegalArgument;
    if (target.handle->kind != AtspiHandle::Kind::object)
        return AXError::attributeUnsupported;
    const QString role = atspiRoleName(object, call);
    if (call.failed())
        return call.status();
    const bool window = isWindowRole(role);
    if (attribute == QLatin1String("AXFocused") && !window) {
        if (!*flag)
            return AXError::success;
        AtspiComponent* component =
            insideLibatspi([&] { return atspi_accessible_get_component_iface(object); });
        if (!component)
            return AXError::attributeUnsupported;
        insideLibatspi([&] { return atspi_component_grab_focus(component, call.out()); });
        g_object_unref(component);
        return call.status();
    }
    if (!window)
        return AXError::attributeUnsupported;
    if (attribute == QLatin1String("AXMinimized")) {
        const std::shared_ptr<X11Display> display = X11Display::shared();
        const std::optional<X11ClientWindow> client = clientWindowOf(object, target.pid, target.timeout);
        if (!display || !client)
            return AXError::cannotComplete;
        if (*flag)
            display->minimize(client->id);
        else
            requestActivation(client->id);
        return AXError::success;
    }
    if (attribute == QLatin1String("AXMain") || attribute == QLatin1String("AXFocused")) {
        if (!*flag)
            return AXError::success; // another window takes the focus only when it is given it
        return activateWindow(object, target.pid, target.timeout) ? AXError::success
                                                                  : AXError::cannotComplete;
    }
    return AXError::attributeUnsupported;
}

AXError AtspiAccessibility::performAction(const AXElement& element, const QString& action) {
    return withTarget(element, [&](Target& target) { return performAction(target, action); });
}

AXError AtspiAccessibility::performAction(Target& target, const QString& action) {
    Call call(target.timeout);
    AtspiAccessible* object = target.object;

    if (target.handle->kind == AtspiHandle::Kind::windowCloseButton) {
        const std::shared_ptr<X11Display> display = X11Display::shared();
        const std::optional<X11ClientWindow> client = clientWindowOf(object, target.pid, target.timeout);
        if (action != QLatin1String("AXPress"))
            return AXError::actionUnsupported;
        if (!display || !client)
            return AXError::cannotComplete;
        display->close(client->id);
        return AXError::success;
    }
    if (action == QLatin1String("AXRaise")) {
        if (target.handle->kind != AtspiHandle::Kind::object || !isWindowRole(atspiRoleName(object, call)))
            return call.failed() ? call.status() : AXError::actionUnsupported;
        return activateWindow(object, target.pid, target.timeout) ? AXError::success
                                                                  : AXError::cannotComplete;
    }
    const QStringList wanted = AXRoleMapping::atspiActions(action);
    if (wanted.isEmpty())
        return AXError::actionUnsupported;
    AtspiAction* actions = insideLibatspi([&] { return atspi_accessible_get_action_iface(object); });
    if (!actions)
        return AXError::actionUnsupported;
    const gint count = insideLibatspi([&] { return atspi_action_get_n_actions(actions, call.out()); });
    int best = -1;
    for (gint i = 0; i < count && !call.failed(); ++i) {
        const int rank = int(wanted.indexOf(takeString(
            insideLibatspi([&] { return atspi_action_get_action_name(actions, i, call.out()); }))));
        if (rank >= 0 && (best < 0 || rank < int(wanted.indexOf(takeString(insideLibatspi([&] {
                                          return atspi_action_get_action_name(actions, best, call.out());
                                      }))))))
            best = i;
    }
    AXError status = call.status();
    if (status == AXError::success && best < 0)
        status = AXError::actionUnsupported;
    if (status == AXError::success) {
        insideLibatspi([&] { return atspi_action_do_action(actions, best, call.out()); });
        status = call.status();
    }
    g_object_unref(actions);
    return status;
}

AXError AtspiAccessibility::pid(const AXElement& element, qint32& pid) {
    const AtspiHandle* handle = handleOf(element);
    if (!handle)
        return AXError::illegalArgument;
    if (handle->pid > 0) {
        pid = handle->pid;
        return AXError::success;
    }
    Call call(defaultTimeout);
    const guint owner =
        insideLibatspi([&] { return atspi_accessible_get_process_id(handle->object, call.out()); });
    if (call.failed())
        return call.status();
    pid = qint32(owner);
    return AXError::success;
}

void AtspiAccessibility::postKeyboardEvent(int virtualKeyCode, bool keyDown) {
    const quint32 keysym = AXRoleMapping::keysym(virtualKeyCode);
    if (const std::shared_ptr<X11Display> display = X11Display::shared(); display && keysym)
        display->sendKey(keysym, keyDown);
}

// ---------------------------------------------------------------------------------------------------------
// Observers

// The notifications of one program. The desktop's events name the element they concern; the windows that
// appear and go away are found by comparing the program's windows after each of its events, whenever the X
// server shows its windows change, and on a slow poll.
class AtspiObserver final : public AXObserver, public std::enable_shared_from_this<AtspiObserver> {
public:
    AtspiObserver(AtspiAccessibility& service, qint32 pid, AXObserverCallback callback)
        : service_(&service)
        , pid_(pid)
        , callback_(std::move(callback)) {}
    ~AtspiObserver() override { detach(); }

    // The service is going away before this observer: nothing more is read or reported.
    void detach() {
        service_ = nullptr;
        windowListChanges_.reset();
        cancelFollowUps();
        if (poll_) {
            poll_->cancel();
            poll_.reset();
        }
    }

    AXError addNotification(const AXElement& element, const QString& notification) override {
        if (!handleOf(element))
            return AXError::illegalArgument;
        if (!service_)
            return AXError::invalidUIElementObserver;
        static const QStringList known{
            AXNotification::windowCreated,        AXNotification::focusedWindowChanged,
            AXNotification::mainWindowChanged,    AXNotification::windowMiniaturized,
            AXNotification::windowDeminiaturized, AXNotification::uiElementDestroyed,
            AXNotification::titleChanged};
        if (!known.contains(notification))
            return AXError::notificationUnsupported;
        QList<QString>& names = registrations_[element];
        if (names.contains(notification))
            return AXError::notificationAlreadyRegistered;
        names.append(notification);
        if (notification == AXNotification::windowCreated ||
            notification == AXNotification::uiElementDestroyed) {
            if (!windows_)
                windows_ = currentWindows();
            startPolling();
        }
        return AXError::success;
    }

    AXError removeNotification(const AXElement& element, const QString& notification) override {
        auto found = registrations_.find(element);
        if (found == registrations_.end() || !found->second.removeOne(notification))
            return AXError::notificationNotRegistered;
        if (found->second.isEmpty())
            registrations_.erase(found);
        return AXError::success;
    }

    qint32 pid() const { return pid_; }

    // One event of the desktop, from any program.
    void handle(const QByteArray& type, const AXElement& source, qint32 sourcePid) {
        if (sourcePid != pid_ || !service_)
            return;
        const AXElement application = service_->createApplication(pid_);
        if (type == "window:activate") {
            deliverIfRegistered(application, AXNotification::focusedWindowChanged, source);
            deliverIfRegistered(application, AXNotification::mainWindowChanged, source);
        } else if (type == "window:minimize") {
            deliverIfRegistered(source, AXNotification::windowMiniaturized, source);
            deliverIfRegistered(application, AXNotification::windowMiniaturized, source);
        } else if (type == "window:restore") {
            deliverIfRegistered(source, AXNotification::windowDeminiaturized, source);
            deliverIfRegistered(application, AXNotification::windowDeminiaturized, source);
        } else if (type.startsWith("object:property-change:accessible-name")) {
            deliverIfRegistered(source, AXNotification::titleChanged, source);
        } else if (type.startsWith("object:state-changed:defunct") || type == "window:destroy") {
            deliverIfRegistered(source, AXNotification::uiElementDestroyed, source);
        }
        // Any sign of life may come with windows opened or closed.
        scheduleComparison();
    }

private:
    bool isRegistered(const AXElement& element, const QString& notification) const {
        const auto found = registrations_.find(element);
        return found != registrations_.end() && found->second.contains(notification);
    }

    void deliverIfRegistered(const AXElement& registeredOn, const QString& notification,
                             const AXElement& subject) {
        if (isRegistered(registeredOn, notification))
            deliver(subject, notification);
    }

    void deliver(const AXElement& element, const QString& notification) {
        std::weak_ptr<AtspiObserver> weak = weak_from_this();
        mainQueue().async([weak, element, notification] {
            if (auto self = weak.lock())
                self->callback_(element, notification);
        });
    }

    std::optional<QList<AXElement>> currentWindows() {
        AXValue value;
        if (!service_ || service_->copyAttributeValue(service_->createApplication(pid_),
                                                      QStringLiteral("AXWindows"), value) != AXError::success)
            return std::nullopt;
        return std::get<QList<AXElement>>(value);
    }

    void startPolling() {
        if (poll_)
            return;
        std::weak_ptr<AtspiObserver> weak = weak_from_this();
        windowListChanges_ = X11WindowListEvents::subscribe([weak] {
            if (auto self = weak.lock())
                self->windowServerChanged();
        });
        if (windowListChanges_)
            screenWindows_ = screenWindowsOf(pid_);
        // The poll also sees a window the window server took a moment to describe (its title, its place).
        poll_ = mainQueue().schedule(
            windowListChanges_ ? fallbackPollInterval : observerPollInterval,
            [weak] {
                if (auto self = weak.lock())
                    self->followUp();
            },
            true);
    }

    void scheduleComparison() {
        if (comparisonQueued_ || !poll_)
            return;
        comparisonQueued_ = true;
        std::weak_ptr<AtspiObserver> weak = weak_from_this();
        mainQueue().async([weak] {
            if (auto self = weak.lock()) {
                self->comparisonQueued_ = false;
                self->compareWindows();
            }
        });
    }

    // The window server's list changed: when this program's windows are among the changes, its windows are
    // compared now and a few times more while Chromium catches up.
    void windowServerChanged() {
        if (!service_ || screenWindowsOf(pid_) == screenWindows_)
            return; // another program's windows
        cancelFollowUps();
        std::weak_ptr<AtspiObserver> weak = weak_from_this();
        for (const double delay : followUpDelays)
            followUps_.push_back(mainQueue().schedule(delay, [weak] {
                if (auto self = weak.lock())
                    self->followUp();
            }));
        followUp();
    }

    void followUp() {
        const bool elementsChanged = compareWindows();
        std::vector<ScreenWindow> now = screenWindowsOf(pid_);
        if (!service_ || now == screenWindows_)
            return;
        screenWindows_ = std::move(now);
        // A window shown, placed or gone whose element the program had already published (or not yet
        // dropped): whoever listens for new windows reads the program's windows again.
        if (!elementsChanged)
            deliverIfRegistered(service_->createApplication(pid_), AXNotification::windowCreated,
                                service_->createApplication(pid_));
    }

    void cancelFollowUps() {
        for (const std::shared_ptr<Timer>& timer : followUps_)
            timer->cancel();
        followUps_.clear();
    }

    // Whether windows appeared or went away since the last comparison (and were reported).
    bool compareWindows() {
        const std::optional<QList<AXElement>> now = currentWindows();
        if (!now || !service_)
            return false; // the program does not answer now: nothing is known to have changed
        if (!windows_) {
            // The program did not answer when the notifications were registered: its first answer is the
            // baseline, not a list of new windows.
            windows_ = now;
            return false;
        }
        const std::unordered_set<AXElement> before(windows_->begin(), windows_->end());
        const std::unordered_set<AXElement> after(now->begin(), now->end());
        const AXElement application = service_->createApplication(pid_);
        bool changed = false;
        for (const AXElement& window : *now)
            if (!before.contains(window)) {
                deliverIfRegistered(application, AXNotification::windowCreated, window);
                changed = true;
            }
        for (const AXElement& window : *windows_)
            if (!after.contains(window)) {
                deliverIfRegistered(window, AXNotification::uiElementDestroyed, window);
                registrations_.erase(window);
                changed = true;
            }
        windows_ = now;
        return changed;
    }

    AtspiAccessibility* service_; // null once the service is gone
    const qint32 pid_;
    AXObserverCallback callback_;
    std::unordered_map<AXElement, QList<QString>> registrations_;
    std::optional<QList<AXElement>> windows_;
    std::shared_ptr<Timer> poll_;
    std::shared_ptr<X11WindowListEvents::Subscription> windowListChanges_;
    std::vector<ScreenWindow> screenWindows_; // the program's windows as the window server last showed them
    std::vector<std::shared_ptr<Timer>> followUps_;
    bool comparisonQueued_ = false;
};

AtspiAccessibility::~AtspiAccessibility() {
    // Observers may outlive the service (their owners drop them later): their timers must not run on. With
    // none left, the events that libatspi still delivers while the listener is taken down (it waits for the
    // registry's answers and hands over what arrived meanwhile) are dropped unread, however late in the
    // program's exit this runs.
    const std::vector<std::weak_ptr<AtspiObserver>> observers = std::exchange(observers_, {});
    for (const std::weak_ptr<AtspiObserver>& weak : observers)
        if (std::shared_ptr<AtspiObserver> observer = weak.lock())
            observer->detach();
    if (listener_) {
        for (const char* event : observedEvents)
            atspi_event_listener_deregister(listener_, event, nullptr);
        g_object_unref(listener_);
    }
    AtspiReadAhead::shared().clear();
    for (AtspiAccessible* application : std::as_const(applications_))
        g_object_unref(application);
}

AXError AtspiAccessibility::createObserver(qint32 pid, AXObserverCallback callback,
                                           std::shared_ptr<AXObserver>& observer) {
    if (pid <= 0 || !callback)
        return AXError::illegalArgument;
    auto created = std::make_shared<AtspiObserver>(*this, pid, std::move(callback));
    std::erase_if(observers_, [](const std::weak_ptr<AtspiObserver>& weak) { return weak.expired(); });
    observers_.push_back(created);
    observer = created;
    return AXError::success;
}

void AtspiAccessibility::onEvent(AtspiEvent* event, void* self) {
    [[maybe_unused]] const OwnAllocations ours; // also when libatspi delivers the event inside a call of ours
    static_cast<AtspiAccessibility*>(self)->dispatch(event);
    g_boxed_free(ATSPI_TYPE_EVENT, event);
}

void AtspiAccessibility::dispatch(AtspiEvent* event) {
    AtspiReadAhead::shared().invalidate(event->source);
    if (!event->source || observers_.empty())
        return;
    // libatspi may deliver events while a call of ours waits for its answer, and no call may be made from
    // here: the event is only handed on.
    const QByteArray type(event->type ? event->type : "");
    if (type.startsWith("object:state-changed") && !type.startsWith("object:state-changed:defunct"))
        return; // listened to only so that Chromium keeps libatspi's states current
    const AtspiApplication* sender = ATSPI_OBJECT(event->source)->app;
    const qint32 sourcePid = sender ? pidsByBusName_.value(QByteArray(sender->bus_name)) : 0;
    if (sourcePid <= 0)
        return;
    const AXElement source = wrap(static_cast<AtspiAccessible*>(g_object_ref(event->source)), sourcePid);
    for (const std::weak_ptr<AtspiObserver>& weak : observers_) {
        std::shared_ptr<AtspiObserver> observer = weak.lock();
        if (!observer || observer->pid() != sourcePid)
            continue;
        mainQueue().async([weak, type, source, sourcePid] {
            if (auto target = weak.lock())
                target->handle(type, source, sourcePid);
        });
    }
}

} // namespace host
