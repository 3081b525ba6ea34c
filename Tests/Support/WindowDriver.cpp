#include "Support/WindowDriver.h"

#include "CorvaneHost/Linux/X11/X11Display.h"
#include "Support/DesktopSession.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QThread>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <atspi/atspi.h>

namespace test {

namespace {

AtspiAccessible* object(const std::shared_ptr<void>& handle) {
    return static_cast<AtspiAccessible*>(handle.get());
}

// Names and children are read from the program every time: a test waits for what it shows now. Roles,
// interfaces and states stay cached (states follow the program's events), since libatspi consults states
// while it dispatches events, where asking the program again would wait for ever. The mask belongs to the
// whole application (set on its root).
void readAfresh(AtspiAccessible* application) {
    atspi_accessible_set_cache_mask(
        application, AtspiCache(ATSPI_CACHE_ROLE | ATSPI_CACHE_INTERFACES | ATSPI_CACHE_STATES));
}

QString takeString(gchar* text) {
    const QString value = text ? QString::fromUtf8(text) : QString();
    g_free(text);
    return value;
}

Display* x(void* display) {
    return static_cast<Display*>(display);
}

} // namespace

AccessibleElement::AccessibleElement(void* handle) {
    if (!handle)
        return;
    auto* element = static_cast<AtspiAccessible*>(handle);
    g_object_ref(element);
    handle_ = std::shared_ptr<void>(element, [](void* held) { g_object_unref(held); });
}

QString AccessibleElement::role() const {
    if (isNull())
        return {};
    return takeString(atspi_accessible_get_role_name(object(handle_), nullptr));
}

QString AccessibleElement::name() const {
    if (isNull())
        return {};
    return takeString(atspi_accessible_get_name(object(handle_), nullptr));
}

QString AccessibleElement::description() const {
    if (isNull())
        return {};
    return takeString(atspi_accessible_get_description(object(handle_), nullptr));
}

QString AccessibleElement::text() const {
    if (isNull())
        return {};
    if (AtspiText* text = atspi_accessible_get_text_iface(object(handle_))) {
        const gint count = atspi_text_get_character_count(text, nullptr);
        QString value = takeString(atspi_text_get_text(text, 0, count, nullptr));
        g_object_unref(text);
        return value;
    }
    return name();
}

QStringList AccessibleElement::states() const {
    QStringList names;
    if (isNull())
        return names;
    // Forgetting what was read of the element makes libatspi ask the program for its states now.
    atspi_accessible_clear_cache(object(handle_));
    AtspiStateSet* set = atspi_accessible_get_state_set(object(handle_));
    if (!set)
        return names;
    GArray* states = atspi_state_set_get_states(set);
    GEnumClass* type = G_ENUM_CLASS(g_type_class_ref(ATSPI_TYPE_STATE_TYPE));
    for (guint i = 0; states && i < states->len; ++i) {
        const GEnumValue* value = g_enum_get_value(type, g_array_index(states, AtspiStateType, i));
        if (value)
            names.append(QString::fromLatin1(value->value_nick));
    }
    g_type_class_unref(type);
    if (states)
        g_array_free(states, TRUE);
    g_object_unref(set);
    return names;
}

bool AccessibleElement::hasState(const QString& state) const {
    return states().contains(state);
}

std::vector<AccessibleElement> AccessibleElement::children() const {
    std::vector<AccessibleElement> found;
    if (isNull())
        return found;
    const gint count = atspi_accessible_get_child_count(object(handle_), nullptr);
    for (gint i = 0; i < count; ++i) {
        AtspiAccessible* child = atspi_accessible_get_child_at_index(object(handle_), i, nullptr);
        // Chromium makes a window's views accessible only once the window's own attributes are asked for.
        if (!child) {
            if (GHashTable* attributes = atspi_accessible_get_attributes(object(handle_), nullptr))
                g_hash_table_unref(attributes);
            child = atspi_accessible_get_child_at_index(object(handle_), i, nullptr);
        }
        if (!child)
            continue;
        found.push_back(AccessibleElement(child));
        g_object_unref(child);
    }
    return found;
}

QRect AccessibleElement::screenExtents() const {
    if (isNull())
        return {};
    AtspiComponent* component = atspi_accessible_get_component_iface(object(handle_));
    if (!component)
        return {};
    AtspiRect* rect = atspi_component_get_extents(component, ATSPI_COORD_TYPE_SCREEN, nullptr);
    g_object_unref(component);
    if (!rect)
        return {};
    const QRect extents(rect->x, rect->y, rect->width, rect->height);
    g_free(rect);
    return extents;
}

pid_t AccessibleElement::processId() const {
    return isNull() ? 0 : pid_t(atspi_accessible_get_process_id(object(handle_), nullptr));
}

QString AccessibleElement::dump(int depth) const {
    QStringList lines;
    std::function<void(const AccessibleElement&, int)> walk = [&](const AccessibleElement& element,
                                                                  int level) {
        lines.append(QString(level * 2, QLatin1Char(' ')) + element.role() + QStringLiteral(" \"") +
                     element.name() + QLatin1Char('"'));
        if (level < depth)
            for (const AccessibleElement& child : element.children())
                walk(child, level + 1);
    };
    if (!isNull())
        walk(*this, 0);
    return lines.join(QLatin1Char('\n'));
}

WindowDriver::WindowDriver() {
    atspi_init();
    display_ = XOpenDisplay(nullptr);
    if (!display_) {
        failure_ = QStringLiteral("cannot open the display %1").arg(qEnvironmentVariable("DISPLAY"));
        return;
    }
    int event = 0, error = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(x(display_), &event, &error, &major, &minor)) {
        failure_ = QStringLiteral("the display has no XTest");
        XCloseDisplay(x(display_));
        display_ = nullptr;
        return;
    }
    // A keycode without symbols carries the characters the keyboard has no key for.
    int lowest = 0, highest = 0;
    XDisplayKeycodes(x(display_), &lowest, &highest);
    int perCode = 0;
    KeySym* map = XGetKeyboardMapping(x(display_), KeyCode(lowest), highest - lowest + 1, &perCode);
    for (int code = highest; map && code >= lowest && spareKeycodes_.size() < 16; --code) {
        bool empty = true;
        for (int i = 0; i < perCode; ++i)
            empty = empty && map[(code - lowest) * perCode + i] == NoSymbol;
        if (empty)
            spareKeycodes_.push_back(unsigned(code));
    }
    if (map)
        XFree(map);
}

WindowDriver::~WindowDriver() {
    if (display_) {
        for (const unsigned int code : spareKeycodes_) {
            KeySym none[2] = {NoSymbol, NoSymbol};
            XChangeKeyboardMapping(x(display_), int(code), 2, none, 1);
        }
        XCloseDisplay(x(display_));
    }
}

bool WindowDriver::waitUntil(const std::function<bool()>& condition, double seconds) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (true) {
        if (condition())
            return true;
        if (elapsed.elapsed() > qint64(seconds * 1000))
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(50);
    }
}

AccessibleElement WindowDriver::application(pid_t pid, double seconds) const {
    AccessibleElement found;
    waitUntil(
        [&] {
            AtspiAccessible* desktop = atspi_get_desktop(0);
            if (!desktop)
                return false;
            const gint count = atspi_accessible_get_child_count(desktop, nullptr);
            for (gint i = 0; i < count && found.isNull(); ++i) {
                AtspiAccessible* app = atspi_accessible_get_child_at_index(desktop, i, nullptr);
                if (!app)
                    continue;
                if (pid_t(atspi_accessible_get_process_id(app, nullptr)) == pid) {
                    readAfresh(app);
                    found = AccessibleElement(app);
                }
                g_object_unref(app);
            }
            g_object_unref(desktop);
            return !found.isNull();
        },
        seconds);
    return found;
}

std::vector<AccessibleElement> WindowDriver::findAll(const AccessibleElement& root, const QString& role,
                                                     const QString& name) const {
    std::vector<AccessibleElement> found;
    std::function<void(const AccessibleElement&, int)> walk = [&](const AccessibleElement& element,
                                                                  int depth) {
        if ((role.isEmpty() || element.role() == role) && (name.isEmpty() || element.name() == name))
            found.push_back(element);
        if (depth < 40)
            for (const AccessibleElement& child : element.children())
                walk(child, depth + 1);
    };
    if (!root.isNull())
        walk(root, 0);
    return found;
}

AccessibleElement WindowDriver::find(const AccessibleElement& root, const QString& role, const QString& name,
                                     double seconds) const {
    AccessibleElement found;
    waitUntil(
        [&] {
            const auto all = findAll(root, role, name);
            if (!all.empty())
                found = all.front();
            return !found.isNull();
        },
        seconds);
    return found;
}

void WindowDriver::settle() const {
    XSync(x(display_), False);
    QThread::msleep(30);
}

bool WindowDriver::clickAt(const QPoint& point, int button) {
    if (!display_)
        return false;
    XTestFakeMotionEvent(x(display_), -1, point.x(), point.y(), CurrentTime);
    settle();
    XTestFakeButtonEvent(x(display_), unsigned(button), True, CurrentTime);
    XTestFakeButtonEvent(x(display_), unsigned(button), False, CurrentTime);
    settle();
    return true;
}

bool WindowDriver::click(const AccessibleElement& element, int button) {
    // A window that has just shown may not be placed or active yet: the element's place and the window
    // manager's answer are read again until they agree.
    QRect extents;
    const bool inFront = waitUntil(
        [&] {
            extents = element.screenExtents();
            return !extents.isEmpty() && bringProgramToFrontAt(element.processId(), extents.center());
        },
        5);
    if (!inFront)
        return false;
    // A window the window manager has just mapped or raised may still be moving into its place: the click
    // goes where the element is once it stays put.
    QRect settled;
    waitUntil(
        [&] {
            const QRect now = element.screenExtents();
            const bool still = !now.isEmpty() && now == settled;
            settled = now;
            return still;
        },
        5);
    if (settled.isEmpty())
        return false;
    if (settled != extents && !bringProgramToFrontAt(element.processId(), settled.center()))
        return false;
    return clickAt(settled.center(), button);
}

bool WindowDriver::bringToFront(quint32 window) {
    for (const host::X11ClientWindow& client : DesktopSession::windowsOnScreen())
        if (client.id == window)
            return bringToFrontAt(window, client.bounds.center());
    return false;
}

bool WindowDriver::bringToFrontAt(quint32 window, const QPoint& point) {
    const auto display = host::X11Display::shared();
    if (!display)
        return false;
    const auto inFront = [&] {
        if (display->activeWindow() != window)
            return false;
        for (const host::X11ClientWindow& client : DesktopSession::windowsOnScreen())
            if (client.bounds.contains(point))
                return client.id == window;
        return false;
    };
    // A request the window manager drops on a loaded machine is asked again.
    for (int attempt = 0; attempt < 10; ++attempt) {
        if (inFront())
            return true;
        display->activate(window);
        if (waitUntil(inFront, 1))
            return true;
    }
    return false;
}

bool WindowDriver::bringProgramToFrontAt(pid_t program, const QPoint& point) {
    const auto display = host::X11Display::shared();
    if (!display || program <= 0)
        return false;
    // A program shows its controls on the accessibility bus before the window manager has mapped its window,
    // the more so on a loaded machine: the window is waited for.
    quint32 target = 0;
    bool activeMenu = false;
    waitUntil(
        [&] {
            const std::vector<host::X11ClientWindow> windows = DesktopSession::windowsOnScreen();
            for (const host::X11ClientWindow& window : windows)
                if (window.pid == program && window.bounds.contains(point)) {
                    target = window.id;
                    return true;
                }
            // None of the program's windows lies there: a menu that pops up past its window's edge, which
            // shows while that window stays the active one.
            const quint32 active = display->activeWindow();
            for (const host::X11ClientWindow& window : windows)
                if (window.id == active && window.pid == program)
                    activeMenu = true;
            return activeMenu;
        },
        10);
    return target ? bringToFrontAt(target, point) : activeMenu;
}

bool WindowDriver::strokeKeysym(unsigned long keysym) {
    if (!display_)
        return false;
    Display* dpy = x(display_);
    KeyCode code = XKeysymToKeycode(dpy, KeySym(keysym));
    bool shifted = false;
    bool remapped = false;
    if (code) {
        // Level 2 of a key needs Shift.
        shifted = XkbKeycodeToKeysym(dpy, code, 0, 0) != KeySym(keysym) &&
                  XkbKeycodeToKeysym(dpy, code, 0, 1) == KeySym(keysym);
    } else {
        if (spareKeycodes_.empty())
            return false;
        const unsigned int spare = spareKeycodes_[nextSpare_++ % spareKeycodes_.size()];
        KeySym both[2] = {KeySym(keysym), KeySym(keysym)};
        XChangeKeyboardMapping(dpy, int(spare), 2, both, 1);
        XSync(dpy, False);
        // The program reads the new keyboard map before the stroke. Chromium loads a new map in a task of its
        // own after the server's notice of it, and nothing it shows tells when that is done: only a pause
        // lets it (without one, the stroke comes through with the former map).
        QThread::msleep(150);
        code = KeyCode(spare);
        remapped = true;
    }
    const KeyCode shift = XKeysymToKeycode(dpy, XK_Shift_L);
    if (shifted)
        XTestFakeKeyEvent(dpy, shift, True, CurrentTime);
    XTestFakeKeyEvent(dpy, code, True, CurrentTime);
    XTestFakeKeyEvent(dpy, code, False, CurrentTime);
    if (shifted)
        XTestFakeKeyEvent(dpy, shift, False, CurrentTime);
    settle();
    if (remapped)
        QThread::msleep(60);
    return true;
}

bool WindowDriver::typeText(const QString& text) {
    for (const uint codePoint : text.toUcs4()) {
        unsigned long keysym = 0;
        if (codePoint == '\n')
            keysym = XK_Return;
        else if (codePoint == '\t')
            keysym = XK_Tab;
        else if (codePoint >= 0x20 && codePoint <= 0x7e)
            keysym = codePoint;
        else if (codePoint >= 0xa0 && codePoint <= 0xff)
            keysym = codePoint;
        else
            keysym = 0x01000000UL | codePoint;
        if (!strokeKeysym(keysym))
            return false;
    }
    return true;
}

namespace {

unsigned long keysymOf(WindowDriver::Key key) {
    switch (key) {
    case WindowDriver::Key::Return:
        return XK_Return;
    case WindowDriver::Key::Escape:
        return XK_Escape;
    case WindowDriver::Key::Tab:
        return XK_Tab;
    case WindowDriver::Key::Backspace:
        return XK_BackSpace;
    case WindowDriver::Key::Up:
        return XK_Up;
    case WindowDriver::Key::Down:
        return XK_Down;
    case WindowDriver::Key::Space:
        return XK_space;
    case WindowDriver::Key::Left:
        return XK_Left;
    case WindowDriver::Key::Right:
        return XK_Right;
    case WindowDriver::Key::Menu:
        return XK_Menu;
    case WindowDriver::Key::F10:
        return XK_F10;
    }
    return NoSymbol;
}

} // namespace

bool WindowDriver::press(Key key) {
    const unsigned long keysym = keysymOf(key);
    return keysym != NoSymbol && strokeKeysym(keysym);
}

bool WindowDriver::pressWithShift(Key key) {
    if (!display_)
        return false;
    Display* dpy = x(display_);
    const KeyCode shift = XKeysymToKeycode(dpy, XK_Shift_L);
    const KeyCode code = XKeysymToKeycode(dpy, KeySym(keysymOf(key)));
    if (!shift || !code)
        return false;
    XTestFakeKeyEvent(dpy, shift, True, CurrentTime);
    XTestFakeKeyEvent(dpy, code, True, CurrentTime);
    XTestFakeKeyEvent(dpy, code, False, CurrentTime);
    XTestFakeKeyEvent(dpy, shift, False, CurrentTime);
    settle();
    return true;
}

bool WindowDriver::closeActiveWindow() {
    if (!display_)
        return false;
    Display* dpy = x(display_);
    const KeyCode alt = XKeysymToKeycode(dpy, XK_Alt_L);
    const KeyCode f4 = XKeysymToKeycode(dpy, XK_F4);
    if (!alt || !f4)
        return false;
    XTestFakeKeyEvent(dpy, alt, True, CurrentTime);
    XTestFakeKeyEvent(dpy, f4, True, CurrentTime);
    XTestFakeKeyEvent(dpy, f4, False, CurrentTime);
    XTestFakeKeyEvent(dpy, alt, False, CurrentTime);
    settle();
    return true;
}

bool WindowDriver::pressWithControl(char letter) {
    if (!display_)
        return false;
    Display* dpy = x(display_);
    const KeyCode control = XKeysymToKeycode(dpy, XK_Control_L);
    const KeyCode key = XKeysymToKeycode(dpy, KeySym(QChar::fromLatin1(letter).toLower().unicode()));
    if (!control || !key)
        return false;
    XTestFakeKeyEvent(dpy, control, True, CurrentTime);
    XTestFakeKeyEvent(dpy, key, True, CurrentTime);
    XTestFakeKeyEvent(dpy, key, False, CurrentTime);
    XTestFakeKeyEvent(dpy, control, False, CurrentTime);
    settle();
    return true;
}

QImage WindowDriver::screenshot() const {
    if (!display_)
        return {};
    Display* dpy = x(display_);
    const Window root = DefaultRootWindow(dpy);
    XWindowAttributes attributes{};
    XGetWindowAttributes(dpy, root, &attributes);
    XImage* shot = XGetImage(dpy, root, 0, 0, unsigned(attributes.width), unsigned(attributes.height),
                             AllPlanes, ZPixmap);
    if (!shot)
        return {};
    QImage image(attributes.width, attributes.height, QImage::Format_RGB32);
    for (int y = 0; y < attributes.height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int column = 0; column < attributes.width; ++column) {
            const unsigned long pixel = XGetPixel(shot, column, y);
            line[column] = qRgb(int((pixel & shot->red_mask) >> 16), int((pixel & shot->green_mask) >> 8),
                                int(pixel & shot->blue_mask));
        }
    }
    XDestroyImage(shot);
    return image;
}

QString WindowDriver::artifactsDirectory() {
    QString folder = qEnvironmentVariable("CORVANE_TEST_ARTIFACTS");
    if (folder.isEmpty())
        folder = QStringLiteral(CORVANE_BUILD_DIR) + QStringLiteral("/Tests/artifacts");
    QDir().mkpath(folder);
    return folder;
}

QString WindowDriver::saveScreenshot(const QString& name) const {
    const QImage image = screenshot();
    if (image.isNull())
        return {};
    const QString path = artifactsDirectory() + QLatin1Char('/') + name + QStringLiteral(".png");
    return image.save(path, "PNG") ? path : QString();
}

std::vector<AccessibleElement> WindowDriver::applications() const {
    std::vector<AccessibleElement> found;
    AtspiAccessible* desktop = atspi_get_desktop(0);
    if (!desktop)
        return found;
    const gint count = atspi_accessible_get_child_count(desktop, nullptr);
    for (gint i = 0; i < count; ++i) {
        AtspiAccessible* app = atspi_accessible_get_child_at_index(desktop, i, nullptr);
        if (!app)
            continue;
        readAfresh(app);
        found.push_back(AccessibleElement(app));
        g_object_unref(app);
    }
    g_object_unref(desktop);
    return found;
}

bool WindowDriver::scrollAt(const QPoint& point, int notches) {
    if (!display_)
        return false;
    XTestFakeMotionEvent(x(display_), -1, point.x(), point.y(), CurrentTime);
    settle();
    // The wheel is buttons 4 (up) and 5 (down).
    const unsigned int button = notches > 0 ? 5 : 4;
    for (int i = 0; i < std::abs(notches); ++i) {
        XTestFakeButtonEvent(x(display_), button, True, CurrentTime);
        XTestFakeButtonEvent(x(display_), button, False, CurrentTime);
    }
    settle();
    return true;
}

ActivationRequestLog::ActivationRequestLog() {
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return;
    display_ = display;
    type_ = XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    XSync(display, False);
}

ActivationRequestLog::~ActivationRequestLog() {
    if (display_)
        XCloseDisplay(static_cast<Display*>(display_));
}

std::vector<quint32> ActivationRequestLog::windows() {
    auto* display = static_cast<Display*>(display_);
    if (!display)
        return windows_;
    XSync(display, False);
    while (XPending(display)) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == ClientMessage && event.xclient.message_type == type_)
            windows_.push_back(quint32(event.xclient.window));
    }
    return windows_;
}

} // namespace test
