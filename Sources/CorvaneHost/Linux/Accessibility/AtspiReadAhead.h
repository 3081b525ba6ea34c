#pragma once

#include "CorvaneHost/Linux/X11/X11Display.h"

#include <QByteArray>
#include <QHash>
#include <QRect>
#include <QSet>
#include <QString>
#include <functional>
#include <optional>
#include <vector>

using AtspiAccessible = struct _AtspiAccessible;
struct DBusMessage;

namespace host {

// What one read-ahead learnt of an element.
struct AtspiReadFacts {
    std::optional<QString> role; // AT-SPI's role name
    std::optional<QHash<QString, QString>> attributes;
    std::optional<QString> name;
    std::optional<QString> description;
    std::optional<bool> shown; // visible and not defunct
    std::optional<QByteArray> parentPath;
    std::optional<QRect> extents; // on the screen; read for windows only
    // Owned references, in the program's order.
    std::optional<std::vector<AtspiAccessible*>> children;
};

// Reads what a search is about to ask of many elements (role, object attributes, children, and whether the
// children are shown) with the requests of each step sent together, so that a step costs one round trip to
// the program instead of one per request and element. What a search then asks of one element on its own
// (a name, a description) is kept for the rest of the pass.
//
// The answers are a snapshot of one pass over the tree: they are dropped as soon as the event loop turns
// again, and what was read of an element as soon as an event names it (Chromium announces changes of states
// and names all the while it builds a window, so dropping everything at each event left a search of a new
// window reading most of it twice). Children of an application (its windows) are never kept: whether a
// window is still there is always asked of the program itself. Main thread only.
class AtspiReadAhead {
public:
    static AtspiReadAhead& shared();

    // Off, nothing is read ahead and nothing is answered: every read goes to the program, one at a time.
    void setEnabled(bool enabled);
    bool isEnabled() const { return enabled_; }

    void readAhead(const std::vector<AtspiAccessible*>& objects, double timeout);
    // The windows a program listed in this pass. The first time one of them is asked for what a pass over the
    // windows reads of each (name, description, parent, place on the screen), all of them are read together,
    // in one round trip; a pass that only lists them costs nothing more. The list itself never answers.
    void listWindows(const std::vector<AtspiAccessible*>& windows);
    void readWindowAhead(AtspiAccessible* window, double timeout);
    // What was read of `object` in this pass, or null.
    const AtspiReadFacts* find(AtspiAccessible* object);
    // Where a read of `object` that went to the program on its own is kept for the rest of the pass; null
    // when nothing is kept.
    AtspiReadFacts* keep(AtspiAccessible* object);
    // Something changed in `source` (in some program, without one): what was read of it no longer holds.
    // Safe while an event is dispatched: it is forgotten at the next look.
    void invalidate(AtspiAccessible* source = nullptr);
    void clear();

    // The window manager's windows, read once in this pass by `read` and dropped with the rest. A caller that
    // does not find what it looks for, or must see a change at once, asks for a fresh read.
    using ClientWindowsReader = std::function<std::vector<X11ClientWindow>()>;
    const std::vector<X11ClientWindow>& clientWindows(const ClientWindowsReader& read, bool fresh = false);

private:
    AtspiReadAhead() = default;
    AtspiReadFacts& entry(AtspiAccessible* object);
    void clearAtNextTurn();
    bool shownKnown(AtspiAccessible* object) const;
    void readWindowsAhead(const std::vector<AtspiAccessible*>& windows, double timeout);
    void dropIfStale();

    bool enabled_ = true;
    bool clearQueued_ = false;
    quint64 generation_ = 0;
    quint64 filledAt_ = 0;
    QSet<QByteArray> changed_; // elements named by events since the last look
    QHash<QByteArray, AtspiReadFacts> facts_;
    std::vector<AtspiAccessible*> listedWindows_; // owned references
    std::optional<std::vector<X11ClientWindow>> clientWindows_;
    std::vector<X11ClientWindow> unkeptClientWindows_; // what a read returned while nothing is kept
};

// The children named by an answer to GetChildren, as new references; none when the answer is not one, or
// names a child that cannot be made (not yet made by the program). `ownBus` stands in for an empty bus name.
std::optional<std::vector<AtspiAccessible*>> atspiChildrenOf(DBusMessage* reply, const char* ownBus);

} // namespace host
