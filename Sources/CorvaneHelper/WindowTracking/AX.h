#pragma once

#include "CorvaneHost/Accessibility.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <vector>

// An element of Chrome's interface as a map key: equal when the accessibility interface says both stand for
// the same element, hashed by that identity alone.
struct AXWindowRef {
    host::AXElement element;

    bool operator==(const AXWindowRef& other) const { return element == other.element; }
};

template <> struct std::hash<AXWindowRef> {
    size_t operator()(const AXWindowRef& ref) const noexcept { return ref.element.hash(); }
};

// The thin reading layer over the accessibility interface. Every failure (an error status, no value, a value
// of another type) is the absence of a value; nothing here logs, throws or retries.
namespace AX {

// Roles whose subtrees the searches never enter: web content, text, lists, tables and the menu bar.
const QSet<QString>& skipRoles();

std::optional<QString> string(const host::AXElement& element, const QString& attribute);
std::optional<bool> boolean(const host::AXElement& element, const QString& attribute);
std::optional<double> number(const host::AXElement& element, const QString& attribute);
std::optional<host::AXElement> element(const host::AXElement& element, const QString& attribute);
QList<host::AXElement> windows(const host::AXElement& application);
QList<host::AXElement> children(const host::AXElement& element);
QStringList domClasses(const host::AXElement& element);

using Match = std::function<bool(const host::AXElement& element, const QString& role)>;

// The child indices that lead from an element down to one of its descendants.
using Route = std::vector<int>;

// Breadth-first from `root` (depth 0): the first element that passes `matches`. At most `maxElements` are
// tested; children of elements at `maxDepth`, and of non-root elements whose role is in `skip`, are not read.
// The route to what was found is put in `route`, where one is given.
std::optional<host::AXElement> findDescendant(const host::AXElement& root, int maxDepth, int maxElements,
                                              const QSet<QString>& skip, const Match& matches,
                                              Route* route = nullptr);

// The descendant of `root` that `route` leads to, where it passes `matches` and no element on the way below
// `root` has a role in `skip`. One element is read a level: far fewer reads than a search where windows
// are built alike, as a program's windows are.
std::optional<host::AXElement> followRoute(const host::AXElement& root, const Route& route,
                                           const QSet<QString>& skip, const Match& matches);

} // namespace AX
