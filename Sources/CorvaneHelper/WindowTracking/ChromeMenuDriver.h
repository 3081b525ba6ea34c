#pragma once

#include "CorvaneHost/Accessibility.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

// Drives Chrome's own menus: performs an action on an anchor, waits for the menu it opens, presses the item a
// matcher names, and so on along a path; then presses Escape until what the run opened is closed again. Runs
// are carried out one after another, so that one run never takes another's menu for its own.
namespace ChromeMenuDriver {

// The control to press on one menu.
struct Matcher {
    enum class Kind { loosely, group };
    Kind kind = Kind::loosely;
    QStringList titles; // loosely: a label containing one of them, ignoring case, in this order of preference
    QString name;       // group: the named tab group's item
    // The press before it may open no menu: the path then ends there, chosen. A menu that does open must
    // offer the control.
    bool onlyIfAMenuOpens = false;

    static Matcher loosely(QStringList titles) { return {Kind::loosely, std::move(titles), {}}; }
    static Matcher group(QString name) { return {Kind::group, {}, std::move(name)}; }
    static Matcher looselyIfAMenuOpens(QStringList titles) {
        return {Kind::loosely, std::move(titles), {}, true};
    }
    // For log messages.
    QString text() const;
};

constexpr double messagingTimeout = 2.0;
constexpr double surfaceWait = 2.0;
constexpr double attemptInterval = 0.05;
constexpr int deepestLevel = 7;
constexpr int mostPressables = 200;
constexpr int summaryLength = 30;
constexpr int mostEscapes = 5;
constexpr double escapePause = 0.15;
constexpr int escapeKeyCode = 53;

using ChooseCompletion = std::function<void(bool)>;
using ListCompletion = std::function<void(QStringList)>;

// Presses the whole path; the completion (exactly once, main thread) says whether every step succeeded.
void choose(const QList<Matcher>& matchers, const host::AXElement& anchor, const QString& action,
            const host::AXElement& app, ChooseCompletion completion);

// Presses the path, then gives the labels of the menu that the last press opened (empty on any failure).
void list(const QList<Matcher>& after, const host::AXElement& anchor, const QString& action,
          const host::AXElement& app, ListCompletion completion);

// The label of an element: its title when not empty, else its description, else empty.
QString label(const host::AXElement& element);
// The pressable elements (menu items and buttons) below `surface`, itself included, in pre-order.
QList<host::AXElement> pressables(const host::AXElement& surface);
// The control on `surface` that `matcher` names.
std::optional<host::AXElement> control(const Matcher& matcher, const host::AXElement& surface);

} // namespace ChromeMenuDriver
