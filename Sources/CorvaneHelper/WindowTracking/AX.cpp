#include "CorvaneHelper/WindowTracking/AX.h"

#include <deque>
#include <utility>

namespace AX {

namespace {

std::optional<host::AXValue> read(const host::AXElement& element, const QString& attribute) {
    host::AXValue value;
    if (host::accessibility().copyAttributeValue(element, attribute, value) != host::AXError::success)
        return std::nullopt;
    if (std::holds_alternative<std::monostate>(value))
        return std::nullopt;
    return value;
}

template <typename T> std::optional<T> typed(const host::AXElement& element, const QString& attribute) {
    const auto value = read(element, attribute);
    if (!value || !std::holds_alternative<T>(*value))
        return std::nullopt;
    return std::get<T>(*value);
}

} // namespace

const QSet<QString>& skipRoles() {
    static const QSet<QString> roles{
        QStringLiteral("AXWebArea"),   QStringLiteral("AXScrollArea"), QStringLiteral("AXTabGroup"),
        QStringLiteral("AXTextField"), QStringLiteral("AXTextArea"),   QStringLiteral("AXStaticText"),
        QStringLiteral("AXImage"),     QStringLiteral("AXList"),       QStringLiteral("AXTable"),
        QStringLiteral("AXOutline"),   QStringLiteral("AXMenuBar"),
    };
    return roles;
}

std::optional<QString> string(const host::AXElement& element, const QString& attribute) {
    return typed<QString>(element, attribute);
}

std::optional<bool> boolean(const host::AXElement& element, const QString& attribute) {
    return typed<bool>(element, attribute);
}

std::optional<double> number(const host::AXElement& element, const QString& attribute) {
    return typed<double>(element, attribute);
}

std::optional<host::AXElement> element(const host::AXElement& element, const QString& attribute) {
    auto found = typed<host::AXElement>(element, attribute);
    if (found && found->isNull())
        return std::nullopt;
    return found;
}

QList<host::AXElement> windows(const host::AXElement& application) {
    return typed<QList<host::AXElement>>(application, QStringLiteral("AXWindows"))
        .value_or(QList<host::AXElement>{});
}

QList<host::AXElement> children(const host::AXElement& element) {
    return typed<QList<host::AXElement>>(element, QStringLiteral("AXChildren"))
        .value_or(QList<host::AXElement>{});
}

QStringList domClasses(const host::AXElement& element) {
    return typed<QStringList>(element, QStringLiteral("AXDOMClassList")).value_or(QStringList{});
}

std::optional<host::AXElement> findDescendant(const host::AXElement& root, int maxDepth, int maxElements,
                                              const QSet<QString>& skip, const Match& matches, Route* route) {
    struct Queued {
        host::AXElement element;
        int depth;
        Route route;
    };
    std::deque<Queued> queue{{root, 0, {}}};
    int tested = 0;
    int readLevel = -1;
    while (!queue.empty()) {
        // Each level of the tree is read at once: what the search asks of its elements, and their children.
        if (const int level = queue.front().depth; level > readLevel) {
            QList<host::AXElement> elements;
            for (const Queued& queued : queue)
                if (queued.depth == level)
                    elements.append(queued.element);
            host::accessibility().prefetch(elements);
            readLevel = level;
        }
        Queued next = std::move(queue.front());
        queue.pop_front();
        if (++tested > maxElements)
            return std::nullopt;
        const QString role = string(next.element, QStringLiteral("AXRole")).value_or(QStringLiteral("?"));
        if (matches(next.element, role)) {
            if (route)
                *route = std::move(next.route);
            return next.element;
        }
        if (next.depth >= 1 && !skip.isEmpty() && skip.contains(role))
            continue;
        if (next.depth >= maxDepth)
            continue;
        const QList<host::AXElement> below = children(next.element);
        for (int index = 0; index < below.size(); ++index) {
            Route childRoute = next.route;
            childRoute.push_back(index);
            queue.push_back({below[index], next.depth + 1, std::move(childRoute)});
        }
    }
    return std::nullopt;
}

std::optional<host::AXElement> followRoute(const host::AXElement& root, const Route& route,
                                           const QSet<QString>& skip, const Match& matches) {
    host::AXElement element = root;
    for (std::size_t step = 0; step < route.size(); ++step) {
        host::accessibility().prefetch({element});
        if (step > 0 && skip.contains(string(element, QStringLiteral("AXRole")).value_or(QString())))
            return std::nullopt;
        const QList<host::AXElement> below = children(element);
        if (route[step] >= below.size())
            return std::nullopt;
        element = below[route[step]];
    }
    host::accessibility().prefetch({element});
    if (!matches(element, string(element, QStringLiteral("AXRole")).value_or(QStringLiteral("?"))))
        return std::nullopt;
    return element;
}

} // namespace AX
