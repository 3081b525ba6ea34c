#pragma once

// Header-only: used by widget tests, which link Qt Widgets (the shared test support does not).
#include <QAccessible>
#include <QAccessibleInterface>
#include <QStringList>
#include <QWidget>

namespace test {

// One element a screen reader could not name.
struct UnnamedElement {
    QString path; // roles and object names from the audited widget down, e.g. "Client/RootView > List"
    QAccessible::Role role;
};

namespace detail {

inline bool isInteractive(const QAccessibleInterface* element) {
    const QAccessible::State state = element->state();
    if (state.invisible || state.offscreen)
        return false;
    switch (element->role()) {
    case QAccessible::PushButton:
    case QAccessible::CheckBox:
    case QAccessible::RadioButton:
    case QAccessible::ComboBox:
    case QAccessible::EditableText:
    case QAccessible::SpinBox:
    case QAccessible::Slider:
    case QAccessible::ButtonMenu:
    case QAccessible::ButtonDropDown:
    case QAccessible::MenuItem:
    case QAccessible::PageTab:
    case QAccessible::Link:
    case QAccessible::List:
    case QAccessible::Table:
    case QAccessible::Tree:
        return true;
    case QAccessible::ListItem:
    case QAccessible::TreeItem:
    case QAccessible::Cell:
        // Rows that cannot be chosen (section headers) are not controls.
        return state.selectable || state.focusable;
    default:
        return false;
    }
}

inline QString describe(const QAccessibleInterface* element) {
    QString text = QString::number(int(element->role()), 16);
    if (QObject* object = element->object(); object && !object->objectName().isEmpty())
        text += QLatin1Char('/') + object->objectName();
    else if (object)
        text += QLatin1Char('/') + QString::fromLatin1(object->metaObject()->className());
    return text;
}

inline void walk(QAccessibleInterface* element, const QString& path, std::vector<UnnamedElement>& found,
                 int depth) {
    if (!element || !element->isValid() || depth > 64)
        return;
    const QString here =
        path.isEmpty() ? describe(element) : path + QStringLiteral(" > ") + describe(element);
    if (isInteractive(element) && element->text(QAccessible::Name).trimmed().isEmpty())
        found.push_back({here, element->role()});
    const int count = element->childCount();
    for (int i = 0; i < count; ++i)
        walk(element->child(i), here, found, depth + 1);
}

} // namespace detail

// Walks the accessibility tree of `widget` (which must be shown; headless is fine) and lists every
// interactive element (buttons, fields, boxes, lists and the rows that can be chosen, tabs, links) that has
// no accessible name: such a control reaches a screen reader, and the accessibility bus, as a blank.
inline std::vector<UnnamedElement> unnamedInteractiveElements(QWidget* widget) {
    std::vector<UnnamedElement> found;
    detail::walk(QAccessible::queryAccessibleInterface(widget), {}, found, 0);
    return found;
}

namespace detail {

inline void collect(QAccessibleInterface* element, QAccessible::Role role, const QString& name,
                    std::vector<QAccessibleInterface*>& found, int depth) {
    if (!element || !element->isValid() || depth > 64)
        return;
    if (element->role() == role && (name.isNull() || element->text(QAccessible::Name) == name))
        found.push_back(element);
    const int count = element->childCount();
    for (int i = 0; i < count; ++i)
        collect(element->child(i), role, name, found, depth + 1);
}

} // namespace detail

// Every element below `widget` (depth first, through the same tree the accessibility bus shows) with that
// role and, unless `name` is null, that name: what a screen reader finds by role and text.
inline std::vector<QAccessibleInterface*> accessibleElements(QWidget* widget, QAccessible::Role role,
                                                             const QString& name = QString()) {
    std::vector<QAccessibleInterface*> found;
    detail::collect(QAccessible::queryAccessibleInterface(widget), role, name, found, 0);
    return found;
}

// The first of them, or null.
inline QAccessibleInterface* accessibleElement(QWidget* widget, QAccessible::Role role,
                                               const QString& name = QString()) {
    const std::vector<QAccessibleInterface*> found = accessibleElements(widget, role, name);
    return found.empty() ? nullptr : found.front();
}

// The direct children of `element` with that role.
inline std::vector<QAccessibleInterface*> accessibleChildren(QAccessibleInterface* element,
                                                             QAccessible::Role role) {
    std::vector<QAccessibleInterface*> found;
    for (int i = 0; element && i < element->childCount(); ++i)
        if (QAccessibleInterface* child = element->child(i); child && child->role() == role)
            found.push_back(child);
    return found;
}

// The same as text, one element per line (for a test's failure message).
inline QString describeUnnamed(const std::vector<UnnamedElement>& elements) {
    QStringList lines;
    for (const UnnamedElement& element : elements)
        lines.append(element.path);
    return lines.join(QLatin1Char('\n'));
}

} // namespace test
