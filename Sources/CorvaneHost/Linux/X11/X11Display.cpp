#include "CorvaneHost/Linux/X11/X11Display.h"

#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>
#include <xcb/xtest.h>

#include <QByteArray>
#include <QHash>
#include <QList>
#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace host {

struct X11Display::Connection {
    xcb_connection_t* xcb = nullptr;
    xcb_ewmh_connection_t ewmh{};
    int screen = 0;
    xcb_atom_t changeStateAtom = XCB_NONE;
    xcb_keycode_t minKeycode = 0;
    std::vector<xcb_keysym_t> keysyms; // the keyboard map, read once
    QHash<QByteArray, xcb_atom_t> atoms;
    int keysymsPerKeycode = 0;

    ~Connection() {
        if (ewmh.connection)
            xcb_ewmh_connection_wipe(&ewmh);
        if (xcb)
            xcb_disconnect(xcb);
    }
    xcb_window_t root() const { return ewmh.screens[screen]->root; }
};

namespace {

std::mutex sharedMutex;
std::shared_ptr<X11Display> sharedDisplay;

xcb_atom_t internAtom(xcb_connection_t* xcb, const char* name) {
    xcb_intern_atom_reply_t* reply =
        xcb_intern_atom_reply(xcb, xcb_intern_atom(xcb, 0, std::strlen(name), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : XCB_NONE;
    std::free(reply);
    return atom;
}

bool containsAtom(const xcb_ewmh_get_atoms_reply_t& atoms, xcb_atom_t atom) {
    for (uint32_t i = 0; i < atoms.atoms_len; ++i)
        if (atoms.atoms[i] == atom)
            return true;
    return false;
}

} // namespace

std::shared_ptr<X11Display> X11Display::shared() {
    const QByteArray name = qgetenv("DISPLAY");
    std::lock_guard lock(sharedMutex);
    if (sharedDisplay && sharedDisplay->name_ == name &&
        !xcb_connection_has_error(sharedDisplay->connection_->xcb))
        return sharedDisplay;
    sharedDisplay.reset();
    if (name.isEmpty())
        return nullptr;
    auto connection = std::make_unique<Connection>();
    connection->xcb = xcb_connect(name.constData(), &connection->screen);
    if (xcb_connection_has_error(connection->xcb))
        return nullptr;
    xcb_intern_atom_cookie_t* cookies = xcb_ewmh_init_atoms(connection->xcb, &connection->ewmh);
    if (!xcb_ewmh_init_atoms_replies(&connection->ewmh, cookies, nullptr)) {
        connection->ewmh = {};
        return nullptr;
    }
    connection->changeStateAtom = internAtom(connection->xcb, "WM_CHANGE_STATE");
    sharedDisplay.reset(new X11Display(std::move(connection), name));
    return sharedDisplay;
}

X11Display::X11Display(std::unique_ptr<Connection> connection, QByteArray name)
    : connection_(std::move(connection))
    , name_(std::move(name)) {}

X11Display::~X11Display() = default;

bool X11Display::hasWindowManager() {
    std::lock_guard lock(mutex_);
    xcb_window_t check = XCB_NONE;
    return xcb_ewmh_get_supporting_wm_check_reply(
               &connection_->ewmh, xcb_ewmh_get_supporting_wm_check(&connection_->ewmh, connection_->root()),
               &check, nullptr) &&
           check != XCB_NONE;
}

std::vector<X11ClientWindow> X11Display::clientWindows() {
    std::lock_guard lock(mutex_);
    xcb_connection_t* xcb = connection_->xcb;
    xcb_ewmh_connection_t* ewmh = &connection_->ewmh;
    xcb_ewmh_get_windows_reply_t list{};
    if (!xcb_ewmh_get_client_list_stacking_reply(
            ewmh, xcb_ewmh_get_client_list_stacking(ewmh, connection_->screen), &list, nullptr))
        return {};
    const std::vector<xcb_window_t> ids(list.windows, list.windows + list.windows_len);
    xcb_ewmh_get_windows_reply_wipe(&list);

    // Every request goes out before the first reply is read: one round trip for the whole list.
    struct Pending {
        xcb_get_property_cookie_t pid, name, legacyName, windowClass, state, type;
        xcb_get_geometry_cookie_t geometry;
        xcb_translate_coordinates_cookie_t origin;
        xcb_get_window_attributes_cookie_t attributes;
    };
    std::vector<Pending> pending;
    pending.reserve(ids.size());
    for (xcb_window_t id : ids)
        pending.push_back({xcb_ewmh_get_wm_pid(ewmh, id), xcb_ewmh_get_wm_name(ewmh, id),
                           xcb_get_property(xcb, 0, id, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 0, 1024),
                           xcb_get_property(xcb, 0, id, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 256),
                           xcb_ewmh_get_wm_state(ewmh, id), xcb_ewmh_get_wm_window_type(ewmh, id),
                           xcb_get_geometry(xcb, id),
                           xcb_translate_coordinates(xcb, id, connection_->root(), 0, 0),
                           xcb_get_window_attributes(xcb, id)});

    std::vector<X11ClientWindow> windows;
    windows.reserve(ids.size());
    for (size_t i = 0; i < ids.size(); ++i) {
        const Pending& p = pending[i];
        X11ClientWindow window;
        window.id = ids[i];
        uint32_t pid = 0;
        if (xcb_ewmh_get_wm_pid_reply(ewmh, p.pid, &pid, nullptr))
            window.pid = qint32(pid);
        xcb_ewmh_get_utf8_strings_reply_t name{};
        if (xcb_ewmh_get_wm_name_reply(ewmh, p.name, &name, nullptr)) {
            window.title = QString::fromUtf8(name.strings, int(name.strings_len));
            xcb_ewmh_get_utf8_strings_reply_wipe(&name);
        }
        if (xcb_get_property_reply_t* legacy = xcb_get_property_reply(xcb, p.legacyName, nullptr)) {
            if (window.title.isEmpty())
                window.title = QString::fromLatin1(static_cast<const char*>(xcb_get_property_value(legacy)),
                                                   xcb_get_property_value_length(legacy));
            std::free(legacy);
        }
        if (xcb_get_property_reply_t* windowClass = xcb_get_property_reply(xcb, p.windowClass, nullptr)) {
            // Two strings, each ended by a NUL: the instance, then the class.
            const QList<QByteArray> names =
                QByteArray(static_cast<const char*>(xcb_get_property_value(windowClass)),
                           xcb_get_property_value_length(windowClass))
                    .split('\0');
            window.wmInstance = names.size() > 0 ? QString::fromLatin1(names[0]) : QString();
            window.wmClass = names.size() > 1 ? QString::fromLatin1(names[1]) : QString();
            std::free(windowClass);
        }
        xcb_ewmh_get_atoms_reply_t atoms{};
        if (xcb_ewmh_get_wm_state_reply(ewmh, p.state, &atoms, nullptr)) {
            window.hidden = containsAtom(atoms, ewmh->_NET_WM_STATE_HIDDEN);
            window.keepAbove = containsAtom(atoms, ewmh->_NET_WM_STATE_ABOVE);
            xcb_ewmh_get_atoms_reply_wipe(&atoms);
        }
        if (xcb_ewmh_get_wm_window_type_reply(ewmh, p.type, &atoms, nullptr)) {
            window.desktop = containsAtom(atoms, ewmh->_NET_WM_WINDOW_TYPE_DESKTOP);
            window.dock = containsAtom(atoms, ewmh->_NET_WM_WINDOW_TYPE_DOCK);
            xcb_ewmh_get_atoms_reply_wipe(&atoms);
        }
        xcb_get_geometry_reply_t* geometry = xcb_get_geometry_reply(xcb, p.geometry, nullptr);
        xcb_translate_coordinates_reply_t* origin = xcb_translate_coordinates_reply(xcb, p.origin, nullptr);
        if (geometry && origin)
            window.bounds = QRect(origin->dst_x, origin->dst_y, geometry->width, geometry->height);
        std::free(geometry);
        std::free(origin);
        if (xcb_get_window_attributes_reply_t* attributes =
                xcb_get_window_attributes_reply(xcb, p.attributes, nullptr)) {
            window.viewable = attributes->map_state == XCB_MAP_STATE_VIEWABLE;
            std::free(attributes);
        }
        windows.push_back(window);
    }
    // The stacking list runs bottom to top; callers want the frontmost first.
    std::reverse(windows.begin(), windows.end());
    return windows;
}

quint32 X11Display::activeWindow() {
    std::lock_guard lock(mutex_);
    xcb_window_t window = XCB_NONE;
    if (!xcb_ewmh_get_active_window_reply(&connection_->ewmh,
                                          xcb_ewmh_get_active_window(&connection_->ewmh, connection_->screen),
                                          &window, nullptr))
        return 0;
    return window;
}

void X11Display::activate(quint32 window) {
    std::lock_guard lock(mutex_);
    // Asked as a pager would, so that focus-stealing prevention lets the request through.
    xcb_ewmh_request_change_active_window(&connection_->ewmh, connection_->screen, window,
                                          XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER, XCB_CURRENT_TIME, XCB_NONE);
    // A round trip: the server has handled every request of this connection before it answers.
    std::free(xcb_get_input_focus_reply(connection_->xcb, xcb_get_input_focus(connection_->xcb), nullptr));
}

quint32 X11Display::atom(const char* name) {
    const QByteArray key(name);
    auto found = connection_->atoms.constFind(key);
    if (found != connection_->atoms.constEnd())
        return *found;
    const xcb_atom_t made = internAtom(connection_->xcb, name);
    if (made != XCB_NONE)
        connection_->atoms.insert(key, made);
    return made;
}

std::vector<quint32> X11Display::rootNumbers(const char* property) {
    std::lock_guard lock(mutex_);
    const xcb_atom_t name = atom(property);
    if (name == XCB_NONE)
        return {};
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        connection_->xcb,
        xcb_get_property(connection_->xcb, 0, connection_->root(), name, XCB_ATOM_CARDINAL, 0, 64), nullptr);
    if (!reply)
        return {};
    std::vector<quint32> numbers;
    if (reply->format == 32) {
        const auto* values = static_cast<const quint32*>(xcb_get_property_value(reply));
        numbers.assign(values, values + xcb_get_property_value_length(reply) / 4);
    }
    std::free(reply);
    return numbers;
}

void X11Display::setRootNumbers(const char* property, const std::vector<quint32>& numbers) {
    std::lock_guard lock(mutex_);
    const xcb_atom_t name = atom(property);
    if (name == XCB_NONE)
        return;
    xcb_change_property(connection_->xcb, XCB_PROP_MODE_REPLACE, connection_->root(), name, XCB_ATOM_CARDINAL,
                        32, uint32_t(numbers.size()), numbers.data());
    xcb_flush(connection_->xcb);
}

void X11Display::sendRootMessage(quint32 window, quint32 type, const quint32 (&data)[5]) {
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = type;
    for (int i = 0; i < 5; ++i)
        event.data.data32[i] = data[i];
    xcb_send_event(connection_->xcb, 0, connection_->root(),
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&event));
    xcb_flush(connection_->xcb);
}

void X11Display::minimize(quint32 window) {
    std::lock_guard lock(mutex_);
    constexpr quint32 iconicState = 3;
    sendRootMessage(window, connection_->changeStateAtom, {iconicState, 0, 0, 0, 0});
}

void X11Display::close(quint32 window) {
    std::lock_guard lock(mutex_);
    xcb_ewmh_request_close_window(&connection_->ewmh, connection_->screen, window, XCB_CURRENT_TIME,
                                  XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER);
    xcb_flush(connection_->xcb);
}

quint8 X11Display::keycodeFor(quint32 keysym) {
    xcb_connection_t* xcb = connection_->xcb;
    if (connection_->keysyms.empty()) {
        const xcb_setup_t* setup = xcb_get_setup(xcb);
        const int count = setup->max_keycode - setup->min_keycode + 1;
        xcb_get_keyboard_mapping_reply_t* mapping = xcb_get_keyboard_mapping_reply(
            xcb, xcb_get_keyboard_mapping(xcb, setup->min_keycode, count), nullptr);
        if (!mapping)
            return 0;
        const xcb_keysym_t* symbols = xcb_get_keyboard_mapping_keysyms(mapping);
        connection_->keysyms.assign(symbols, symbols + xcb_get_keyboard_mapping_keysyms_length(mapping));
        connection_->keysymsPerKeycode = mapping->keysyms_per_keycode;
        connection_->minKeycode = setup->min_keycode;
        std::free(mapping);
    }
    const int perKeycode = connection_->keysymsPerKeycode;
    for (size_t i = 0; perKeycode > 0 && i < connection_->keysyms.size(); ++i)
        if (connection_->keysyms[i] == keysym)
            return quint8(connection_->minKeycode + i / perKeycode);
    return 0;
}

bool X11Display::sendKey(quint32 keysym, bool down) {
    std::lock_guard lock(mutex_);
    const quint8 keycode = keycodeFor(keysym);
    if (!keycode)
        return false;
    xcb_test_fake_input(connection_->xcb, down ? XCB_KEY_PRESS : XCB_KEY_RELEASE, keycode, XCB_CURRENT_TIME,
                        XCB_NONE, 0, 0, 0);
    xcb_flush(connection_->xcb);
    return true;
}

} // namespace host
