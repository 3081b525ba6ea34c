#include "CorvaneHost/Linux/Accessibility/AtspiReadAhead.h"

#include "CorvaneHost/MainQueue.h"
#include "CorvaneHost/Services.h"

#include <atspi/atspi.h>
#include <dbus/dbus.h>

#include <algorithm>
#include <cstring>
#include <utility>

// libatspi's own way from a (bus name, path) reference to its element, which its public calls use too.
extern "C" AtspiAccessible* _atspi_ref_accessible(const char* app, const char* path);

namespace host {
namespace {

const char* const accessibleInterface = "org.a11y.atspi.Accessible";
const char* const componentInterface = "org.a11y.atspi.Component";
const char* const propertiesInterface = "org.freedesktop.DBus.Properties";
const QByteArray rootPath = QByteArrayLiteral("/org/a11y/atspi/accessible/root");

QByteArray keyOf(AtspiAccessible* object) {
    const AtspiObject* self = ATSPI_OBJECT(object);
    QByteArray key(self->app && self->app->bus_name ? self->app->bus_name : "");
    key += '\n';
    key += self->path ? self->path : "";
    return key;
}

bool isApplication(AtspiAccessible* object) {
    return ATSPI_OBJECT(object)->path && rootPath == ATSPI_OBJECT(object)->path;
}

// Requests sent one after another without waiting, then awaited together: the program answers them in turn,
// and the batch costs one round trip instead of one per request.
class Batch {
public:
    explicit Batch(double timeout)
        : timeout_(int(timeout * 1000)) {}
    ~Batch() {
        for (DBusPendingCall* call : calls_)
            if (call)
                dbus_pending_call_unref(call);
        for (DBusMessage* reply : replies_)
            if (reply)
                dbus_message_unref(reply);
    }
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;

    // The request's index in the batch; its reply is null when it could not be sent.
    int add(AtspiAccessible* object, const char* interface, const char* method,
            const char* argument = nullptr) {
        return send(object, interface, method, [argument](DBusMessage* request) {
            if (argument)
                dbus_message_append_args(request, DBUS_TYPE_STRING, &argument, DBUS_TYPE_INVALID);
        });
    }
    int add(AtspiAccessible* object, const char* interface, const char* method, dbus_uint32_t argument) {
        return send(object, interface, method, [argument](DBusMessage* request) {
            dbus_message_append_args(request, DBUS_TYPE_UINT32, &argument, DBUS_TYPE_INVALID);
        });
    }

    // libdbus counts each request's time-out from when it is awaited, so a program that answers nothing would
    // hold the batch for the time-out once per request. It answers in turn: once one request has had no
    // answer in time, the later ones have none either, and they are given up.
    void awaitAll() {
        if (DBusConnection* bus = atspi_get_a11y_bus())
            dbus_connection_flush(bus);
        bool answering = true;
        for (size_t i = 0; i < calls_.size(); ++i) {
            if (!calls_[i])
                continue;
            if (!answering) {
                dbus_pending_call_cancel(calls_[i]);
                continue;
            }
            dbus_pending_call_block(calls_[i]);
            DBusMessage* reply = dbus_pending_call_steal_reply(calls_[i]);
            if (!reply || dbus_message_is_error(reply, DBUS_ERROR_NO_REPLY))
                answering = false;
            if (reply && dbus_message_get_type(reply) != DBUS_MESSAGE_TYPE_METHOD_RETURN) {
                dbus_message_unref(reply);
                reply = nullptr;
            }
            replies_[i] = reply;
        }
    }

    // Borrowed; null for a request that failed.
    DBusMessage* reply(int index) const { return index < 0 ? nullptr : replies_[size_t(index)]; }

private:
    template <typename Append>
    int send(AtspiAccessible* object, const char* interface, const char* method, Append append) {
        const AtspiObject* self = ATSPI_OBJECT(object);
        DBusConnection* bus = atspi_get_a11y_bus();
        DBusPendingCall* pending = nullptr;
        if (bus && self->app && self->app->bus_name && self->path) {
            if (DBusMessage* request =
                    dbus_message_new_method_call(self->app->bus_name, self->path, interface, method)) {
                append(request);
                if (!dbus_connection_send_with_reply(bus, request, &pending, timeout_))
                    pending = nullptr;
                dbus_message_unref(request);
            }
        }
        calls_.push_back(pending);
        replies_.push_back(nullptr);
        return int(calls_.size()) - 1;
    }

    int timeout_;
    std::vector<DBusPendingCall*> calls_;
    std::vector<DBusMessage*> replies_;
};

std::optional<QString> roleFrom(DBusMessage* reply) {
    DBusMessageIter iterator;
    if (!reply || !dbus_message_iter_init(reply, &iterator) ||
        dbus_message_iter_get_arg_type(&iterator) != DBUS_TYPE_UINT32)
        return std::nullopt;
    dbus_uint32_t role = 0;
    dbus_message_iter_get_basic(&iterator, &role);
    gchar* name = atspi_role_get_name(AtspiRole(role));
    const QString result = QString::fromUtf8(name ? name : "");
    g_free(name);
    return result;
}

std::optional<bool> shownFrom(DBusMessage* reply) {
    DBusMessageIter iterator, array;
    if (!reply || !dbus_message_iter_init(reply, &iterator) ||
        dbus_message_iter_get_arg_type(&iterator) != DBUS_TYPE_ARRAY)
        return std::nullopt;
    dbus_uint32_t words[2] = {0, 0};
    dbus_message_iter_recurse(&iterator, &array);
    for (int word = 0; word < 2 && dbus_message_iter_get_arg_type(&array) == DBUS_TYPE_UINT32; ++word) {
        dbus_message_iter_get_basic(&array, &words[word]);
        dbus_message_iter_next(&array);
    }
    const auto has = [&words](AtspiStateType state) { return (words[state / 32] >> (state % 32)) & 1u; };
    return has(ATSPI_STATE_VISIBLE) && !has(ATSPI_STATE_DEFUNCT);
}

// A dictionary of strings (a{ss}), or of variants of which the strings are kept (a{sv}).
std::optional<QHash<QString, QString>> dictionaryFrom(DBusMessage* reply) {
    DBusMessageIter iterator, array, entry, variant;
    if (!reply || !dbus_message_iter_init(reply, &iterator) ||
        dbus_message_iter_get_arg_type(&iterator) != DBUS_TYPE_ARRAY)
        return std::nullopt;
    QHash<QString, QString> result;
    dbus_message_iter_recurse(&iterator, &array);
    while (dbus_message_iter_get_arg_type(&array) == DBUS_TYPE_DICT_ENTRY) {
        dbus_message_iter_recurse(&array, &entry);
        const char* key = nullptr;
        const char* value = nullptr;
        if (dbus_message_iter_get_arg_type(&entry) == DBUS_TYPE_STRING) {
            dbus_message_iter_get_basic(&entry, &key);
            dbus_message_iter_next(&entry);
            DBusMessageIter* holder = &entry;
            if (dbus_message_iter_get_arg_type(&entry) == DBUS_TYPE_VARIANT) {
                dbus_message_iter_recurse(&entry, &variant);
                holder = &variant;
            }
            if (dbus_message_iter_get_arg_type(holder) == DBUS_TYPE_STRING)
                dbus_message_iter_get_basic(holder, &value);
        }
        if (key && value)
            result.insert(QString::fromUtf8(key), QString::fromUtf8(value));
        dbus_message_iter_next(&array);
    }
    return result;
}

// The path of the Parent property in an answer to Properties.GetAll: a variant holding a (bus name, path)
// reference.
std::optional<QByteArray> parentPathFrom(DBusMessage* reply) {
    DBusMessageIter iterator, array, entry, variant, reference;
    if (!reply || !dbus_message_iter_init(reply, &iterator) ||
        dbus_message_iter_get_arg_type(&iterator) != DBUS_TYPE_ARRAY)
        return std::nullopt;
    dbus_message_iter_recurse(&iterator, &array);
    for (; dbus_message_iter_get_arg_type(&array) == DBUS_TYPE_DICT_ENTRY; dbus_message_iter_next(&array)) {
        dbus_message_iter_recurse(&array, &entry);
        const char* key = nullptr;
        if (dbus_message_iter_get_arg_type(&entry) != DBUS_TYPE_STRING)
            continue;
        dbus_message_iter_get_basic(&entry, &key);
        if (std::strcmp(key, "Parent") != 0 || !dbus_message_iter_next(&entry) ||
            dbus_message_iter_get_arg_type(&entry) != DBUS_TYPE_VARIANT)
            continue;
        dbus_message_iter_recurse(&entry, &variant);
        if (dbus_message_iter_get_arg_type(&variant) != DBUS_TYPE_STRUCT)
            return std::nullopt;
        dbus_message_iter_recurse(&variant, &reference);
        const char* path = nullptr;
        if (dbus_message_iter_next(&reference) &&
            dbus_message_iter_get_arg_type(&reference) == DBUS_TYPE_OBJECT_PATH)
            dbus_message_iter_get_basic(&reference, &path);
        return path ? std::optional<QByteArray>(QByteArray(path)) : std::nullopt;
    }
    return std::nullopt;
}

// An answer to Component.GetExtents: (x, y, width, height).
std::optional<QRect> extentsFrom(DBusMessage* reply) {
    DBusMessageIter iterator, rect;
    if (!reply || !dbus_message_iter_init(reply, &iterator) ||
        dbus_message_iter_get_arg_type(&iterator) != DBUS_TYPE_STRUCT)
        return std::nullopt;
    dbus_message_iter_recurse(&iterator, &rect);
    dbus_int32_t values[4] = {0, 0, 0, 0};
    for (dbus_int32_t& value : values) {
        if (dbus_message_iter_get_arg_type(&rect) != DBUS_TYPE_INT32)
            return std::nullopt;
        dbus_message_iter_get_basic(&rect, &value);
        dbus_message_iter_next(&rect);
    }
    return QRect(values[0], values[1], values[2], values[3]);
}

// Name, description and parent from an answer to Properties.GetAll of the Accessible interface.
void fillProperties(AtspiReadFacts& facts, DBusMessage* reply) {
    if (const auto properties = dictionaryFrom(reply)) {
        facts.name = properties->value(QStringLiteral("Name"));
        facts.description = properties->value(QStringLiteral("Description"));
    }
    facts.parentPath = parentPathFrom(reply);
}

} // namespace

std::optional<std::vector<AtspiAccessible*>> atspiChildrenOf(DBusMessage* reply, const char* ownBus) {
    DBusMessageIter iterator, array, entry;
    if (!reply || !dbus_message_iter_init(reply, &iterator) ||
        dbus_message_iter_get_arg_type(&iterator) != DBUS_TYPE_ARRAY)
        return std::nullopt;
    std::vector<AtspiAccessible*> result;
    bool complete = true;
    dbus_message_iter_recurse(&iterator, &array);
    while (complete && dbus_message_iter_get_arg_type(&array) == DBUS_TYPE_STRUCT) {
        dbus_message_iter_recurse(&array, &entry);
        const char* name = nullptr;
        const char* path = nullptr;
        if (dbus_message_iter_get_arg_type(&entry) == DBUS_TYPE_STRING)
            dbus_message_iter_get_basic(&entry, &name);
        if (dbus_message_iter_next(&entry) && dbus_message_iter_get_arg_type(&entry) == DBUS_TYPE_OBJECT_PATH)
            dbus_message_iter_get_basic(&entry, &path);
        AtspiAccessible* child = nullptr;
        if (name && path && std::strcmp(path, "/org/a11y/atspi/null") != 0)
            child = _atspi_ref_accessible(*name ? name : ownBus, path);
        if (child)
            result.push_back(child);
        else
            complete = false;
        dbus_message_iter_next(&array);
    }
    if (!complete) {
        for (AtspiAccessible* child : result)
            g_object_unref(child);
        return std::nullopt;
    }
    return result;
}

AtspiReadAhead& AtspiReadAhead::shared() {
    // Never destroyed: the accessibility service clears it while the program's statics are already going
    // (its listener hands over late events at exit), so it must outlive them all.
    static AtspiReadAhead* const readAhead = new AtspiReadAhead;
    return *readAhead;
}

void AtspiReadAhead::setEnabled(bool enabled) {
    enabled_ = enabled;
    clear();
}

void AtspiReadAhead::clear() {
    for (AtspiReadFacts& facts : facts_)
        if (facts.children)
            for (AtspiAccessible* child : *facts.children)
                g_object_unref(child);
    facts_.clear();
    changed_.clear();
    // Whatever drops the pass, the next one queues its own end (a clear queued earlier may still run: it
    // only ends a pass at a turn of the event loop too).
    clearQueued_ = false;
    for (AtspiAccessible* window : std::exchange(listedWindows_, {}))
        g_object_unref(window);
    clientWindows_.reset();
}

void AtspiReadAhead::listWindows(const std::vector<AtspiAccessible*>& windows) {
    if (!enabled_)
        return;
    dropIfStale();
    for (AtspiAccessible* window : std::exchange(listedWindows_, {}))
        g_object_unref(window);
    for (AtspiAccessible* window : windows)
        if (window)
            listedWindows_.push_back(static_cast<AtspiAccessible*>(g_object_ref(window)));
    clearAtNextTurn();
}

void AtspiReadAhead::readWindowAhead(AtspiAccessible* window, double timeout) {
    if (!enabled_ || !window)
        return;
    dropIfStale();
    const QByteArray key = keyOf(window);
    if (const auto known = facts_.constFind(key); known != facts_.constEnd() && known->extents)
        return;
    const bool listed = std::any_of(listedWindows_.begin(), listedWindows_.end(),
                                    [&key](AtspiAccessible* other) { return keyOf(other) == key; });
    if (!listed)
        return;
    // References of its own: what the pass keeps may be dropped while the batch is read.
    std::vector<AtspiAccessible*> windows = listedWindows_;
    for (AtspiAccessible* each : windows)
        g_object_ref(each);
    readWindowsAhead(windows, timeout);
    for (AtspiAccessible* each : windows)
        g_object_unref(each);
}

void AtspiReadAhead::invalidate(AtspiAccessible* source) {
    if (!source) {
        ++generation_;
        return;
    }
    // Only what is kept can go stale (a program's answers arrive in the order it sent them, events
    // included), and events keep coming while nothing is read.
    if (const QByteArray key = keyOf(source); facts_.contains(key))
        changed_.insert(key);
}

void AtspiReadAhead::dropIfStale() {
    if (filledAt_ != generation_)
        clear();
    filledAt_ = generation_;
    for (const QByteArray& key : std::exchange(changed_, {})) {
        const auto found = facts_.find(key);
        if (found == facts_.end())
            continue;
        if (found->children)
            for (AtspiAccessible* child : *found->children)
                g_object_unref(child);
        facts_.erase(found);
    }
}

const AtspiReadFacts* AtspiReadAhead::find(AtspiAccessible* object) {
    if (!enabled_ || !object)
        return nullptr;
    dropIfStale();
    const auto found = facts_.constFind(keyOf(object));
    return found == facts_.constEnd() ? nullptr : &*found;
}

void AtspiReadAhead::clearAtNextTurn() {
    if (clearQueued_)
        return;
    // The snapshot lasts for this pass only: the next turn of the event loop starts from the program.
    clearQueued_ = true;
    mainQueue().async([] { shared().clear(); });
}

bool AtspiReadAhead::shownKnown(AtspiAccessible* object) const {
    const auto known = facts_.constFind(keyOf(object));
    return known != facts_.constEnd() && known->shown;
}

AtspiReadFacts* AtspiReadAhead::keep(AtspiAccessible* object) {
    if (!enabled_ || !object)
        return nullptr;
    dropIfStale();
    return &entry(object);
}

AtspiReadFacts& AtspiReadAhead::entry(AtspiAccessible* object) {
    clearAtNextTurn();
    return facts_[keyOf(object)];
}

const std::vector<X11ClientWindow>& AtspiReadAhead::clientWindows(const ClientWindowsReader& read,
                                                                  bool fresh) {
    if (!enabled_) {
        unkeptClientWindows_ = read();
        return unkeptClientWindows_;
    }
    dropIfStale();
    if (fresh || !clientWindows_) {
        clientWindows_ = read();
        clearAtNextTurn();
    }
    return *clientWindows_;
}

void AtspiReadAhead::readAhead(const std::vector<AtspiAccessible*>& objects, double timeout) {
    if (!enabled_ || objects.empty())
        return;
    dropIfStale();
    struct Asked {
        AtspiAccessible* object;
        int role = -1, attributes = -1, children = -1;
    };
    // First step: each element's role, object attributes and children. Names and descriptions are left to be
    // asked where a search needs them (few elements): working them out for a whole level costs Chromium more
    // than a round trip while it builds a window (measured), and a search of a window just shown is what
    // must be quick.
    std::vector<Asked> asked;
    Batch first(timeout);
    for (AtspiAccessible* object : objects) {
        if (!object || isApplication(object))
            continue;
        if (const auto known = facts_.constFind(keyOf(object)); known != facts_.constEnd() && known->role)
            continue;
        Asked one{object};
        one.role = first.add(object, accessibleInterface, "GetRole");
        one.attributes = first.add(object, accessibleInterface, "GetAttributes");
        one.children = first.add(object, accessibleInterface, "GetChildren");
        asked.push_back(one);
    }
    if (asked.empty())
        return;
    const quint64 generation = generation_;
    first.awaitAll();
    if (generation != generation_)
        return; // an event came in meanwhile: what was read may already be out of date
    std::vector<std::pair<AtspiAccessible*, int>> states;
    Batch second(timeout);
    for (const Asked& one : asked) {
        AtspiReadFacts& facts = entry(one.object);
        facts.role = roleFrom(first.reply(one.role));
        facts.attributes = dictionaryFrom(first.reply(one.attributes));
        const AtspiObject* self = ATSPI_OBJECT(one.object);
        facts.children = atspiChildrenOf(first.reply(one.children), self->app ? self->app->bus_name : "");
        // Second step: whether each child is shown, where libatspi does not know it already.
        if (facts.children)
            for (AtspiAccessible* child : *facts.children)
                if (!(child->cached_properties & ATSPI_CACHE_STATES) && !shownKnown(child))
                    states.emplace_back(child, second.add(child, accessibleInterface, "GetState"));
    }
    if (states.empty())
        return;
    second.awaitAll();
    if (generation != generation_)
        return; // an event came in meanwhile: what was read may already be out of date
    for (const auto& [child, index] : states)
        if (const std::optional<bool> shown = shownFrom(second.reply(index)))
            entry(child).shown = shown;
}

void AtspiReadAhead::readWindowsAhead(const std::vector<AtspiAccessible*>& windows, double timeout) {
    if (!enabled_ || windows.empty())
        return;
    dropIfStale();
    struct Asked {
        AtspiAccessible* object;
        int properties = -1, extents = -1, role = -1, states = -1;
    };
    std::vector<Asked> asked;
    Batch batch(timeout);
    for (AtspiAccessible* window : windows) {
        if (!window || isApplication(window))
            continue;
        if (const auto known = facts_.constFind(keyOf(window)); known != facts_.constEnd() && known->extents)
            continue;
        Asked one{window};
        one.properties = batch.add(window, propertiesInterface, "GetAll", accessibleInterface);
        one.extents =
            batch.add(window, componentInterface, "GetExtents", dbus_uint32_t(ATSPI_COORD_TYPE_SCREEN));
        if (!(window->cached_properties & ATSPI_CACHE_ROLE))
            one.role = batch.add(window, accessibleInterface, "GetRole");
        if (!(window->cached_properties & ATSPI_CACHE_STATES))
            one.states = batch.add(window, accessibleInterface, "GetState");
        asked.push_back(one);
    }
    if (asked.empty())
        return;
    const quint64 generation = generation_;
    batch.awaitAll();
    if (generation != generation_)
        return; // an event came in meanwhile: what was read may already be out of date
    for (const Asked& one : asked) {
        AtspiReadFacts& facts = entry(one.object);
        fillProperties(facts, batch.reply(one.properties));
        facts.extents = extentsFrom(batch.reply(one.extents));
        if (one.role >= 0)
            facts.role = roleFrom(batch.reply(one.role));
        if (one.states >= 0)
            facts.shown = shownFrom(batch.reply(one.states));
    }
}

} // namespace host
