#include "Support/TabGroupSession.h"

#include <QJsonArray>

namespace test {
namespace {

const QString work = QStringLiteral("Work");
const QString anchorTitle = QStringLiteral("work-anchor");

DesktopSession::Options loading(const QString& extension) {
    DesktopSession::Options options;
    options.extraChromiumArguments = {QStringLiteral("--load-extension=") + extension};
    return options;
}

} // namespace

TabGroupSession::TabGroupSession()
    : chromium_(loading(extension_.directory())) {}

bool TabGroupSession::start() {
    if (!extension_.start()) {
        failure_ = extension_.failure();
        return false;
    }
    if (!chromium_.start()) {
        failure_ = chromium_.failure();
        return false;
    }
    keeper_ = HelperClient::connect(QStringLiteral("Home"), false);
    if (!keeper_) {
        failure_ = QStringLiteral("the helper did not answer a hello");
        return false;
    }
    failure_ = findWorkersWorker();
    return failure_.isEmpty();
}

// Home's worker asks first; then a window of Work, showing a page of known title, brings Work's, told apart
// from Home's by that page in its report.
QString TabGroupSession::findWorkersWorker() {
    if (!DesktopSession::waitUntil([this] { return !extension_.workers().isEmpty(); }, 30))
        return QStringLiteral("the extension's worker of Home never asked for commands: was it loaded?");
    if (!desktop().openWindow(work, extension_.pageURL(anchorTitle)))
        return QStringLiteral("no window of Work");
    const bool found = DesktopSession::waitUntil(
        [this] {
            for (const QString& worker : extension_.workers())
                for (const ChromiumReport::Window& window : extension_.report(worker).windows)
                    for (const ChromiumReport::Tab& tab : window.tabs)
                        if (tab.title == anchorTitle) {
                            workWorker_ = worker;
                            anchorWindow_ = window.id;
                            return true;
                        }
            return false;
        },
        30);
    return found ? QString() : QStringLiteral("no worker of the extension reported Work's window");
}

std::optional<QJsonObject> TabGroupSession::run(const QJsonObject& command) {
    return extension_.run(workWorker_, command);
}

ChromiumReport TabGroupSession::report() {
    return extension_.report(workWorker_);
}

qint64 TabGroupSession::openWindow(const QString& prefix) {
    const QJsonArray urls{extension_.pageURL(prefix + QStringLiteral("-start")),
                          extension_.pageURL(prefix + QStringLiteral("-other"))};
    const auto result =
        run({{QStringLiteral("op"), QStringLiteral("openWindow")}, {QStringLiteral("urls"), urls}});
    return result ? result->value(QStringLiteral("windowId")).toInteger() : 0;
}

TabGroupSession::Group TabGroupSession::makeGroup(qint64 windowId, const QString& title, bool collapsed) {
    const QString stem = title.toLower();
    Group made{windowId, 0, {stem + QStringLiteral("-one"), stem + QStringLiteral("-two")}};
    QJsonArray urls;
    for (const QString& tab : made.tabTitles)
        urls.append(extension_.pageURL(tab));
    const auto result = run({{QStringLiteral("op"), QStringLiteral("makeGroup")},
                             {QStringLiteral("windowId"), windowId},
                             {QStringLiteral("index"), 1},
                             {QStringLiteral("urls"), urls},
                             {QStringLiteral("title"), title},
                             {QStringLiteral("collapsed"), collapsed}});
    if (result)
        made.groupId = result->value(QStringLiteral("groupId")).toInteger();
    return made;
}

TabGroupSession::Group TabGroupSession::makeGroupInNewWindow(const QString& title, bool collapsed) {
    const qint64 window = openWindow(title.toLower());
    return window ? makeGroup(window, title, collapsed) : Group{};
}

bool TabGroupSession::closeAllButTheAnchor() {
    bool closed = true;
    for (const ChromiumReport::Window& window : report().windows) {
        if (window.id != anchorWindow_) {
            closed = run({{QStringLiteral("op"), QStringLiteral("closeWindow")},
                          {QStringLiteral("windowId"), window.id}})
                         .has_value() &&
                     closed;
            continue;
        }
        // A group reopened there goes too.
        QJsonArray others;
        for (const ChromiumReport::Tab& tab : window.tabs)
            if (tab.title != anchorTitle)
                others.append(tab.id);
        if (!others.isEmpty())
            closed =
                run({{QStringLiteral("op"), QStringLiteral("closeTabs")}, {QStringLiteral("tabIds"), others}})
                    .has_value() &&
                closed;
    }
    return closed;
}

bool TabGroupSession::groupInFront(const QString& title) {
    const ChromiumReport now = report();
    const auto groups = now.groupsTitled(title);
    if (groups.size() != 1)
        return false;
    const ChromiumReport::Window* front = now.focusedWindow();
    if (!front || front->id != groups[0].windowId)
        return false;
    for (const ChromiumReport::Tab& tab : front->tabs)
        if (tab.active)
            return tab.groupId == groups[0].id;
    return false;
}

} // namespace test
