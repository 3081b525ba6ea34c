#pragma once

#include "Support/ChromiumSession.h"
#include "Support/TabGroupExtension.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

namespace test {

// A ChromiumHelperSession whose Chromium runs the tab-group extension (TabGroupExtension), with a window of
// Work that stays open throughout (its "anchor", showing a page titled "work-anchor") and the extension's
// worker of Work found: tests make Work's windows and groups through it and read Chromium's report of them.
class TabGroupSession {
public:
    // A group made by make(): its window, Chromium's id for it and the titles of its tabs.
    struct Group {
        qint64 windowId = 0;
        qint64 groupId = 0;
        QStringList tabTitles;
    };

    TabGroupSession();
    TabGroupSession(const TabGroupSession&) = delete;
    TabGroupSession& operator=(const TabGroupSession&) = delete;

    // False, with failure(), when the extension's server, the desktop, Chromium, the helper or Work's worker
    // does not come up.
    bool start();
    const QString& failure() const { return failure_; }

    ChromiumHelperSession& chromium() { return chromium_; }
    DesktopSession& desktop() { return chromium_.desktop(); }
    HelperProcess& helper() { return chromium_.helper(); }
    TabGroupExtension& extension() { return extension_; }
    qint64 anchorWindow() const { return anchorWindow_; }
    // The extension's worker of Work, for commands posted to it directly.
    const QString& workWorker() const { return workWorker_; }

    // Runs a command of the extension in Work; its answer, or none with lastFailure().
    std::optional<QJsonObject> run(const QJsonObject& command);
    QString lastFailure() const { return extension_.failure(); }
    // Chromium's report of Work.
    ChromiumReport report();

    // A new window of Work with two ungrouped tabs, "<prefix>-start" (active) and "<prefix>-other"; its
    // id, or 0.
    qint64 openWindow(const QString& prefix);
    // A group `title` of two new tabs, "<title in lower case>-one" and "-two", between the window's first and
    // second tab, as a user makes one; collapsed if asked. Its groupId is 0 when Chromium did not make it.
    Group makeGroup(qint64 windowId, const QString& title, bool collapsed = false);
    // A new window (openWindow with the group's stem) holding a new group `title`.
    Group makeGroupInNewWindow(const QString& title, bool collapsed = false);
    // Closes every window of Work but the anchor, and every tab of the anchor but its first; whether Chromium
    // did.
    bool closeAllButTheAnchor();
    // Whether Chromium has the group's window in front (focused) with one of its tabs active.
    bool groupInFront(const QString& title);

private:
    QString findWorkersWorker();

    QString failure_;
    TabGroupExtension extension_;
    ChromiumHelperSession chromium_;
    // A client of Home for the session's lifetime: the helper ends once it has had no client for a while.
    std::unique_ptr<HelperClient> keeper_;
    QString workWorker_;
    qint64 anchorWindow_ = 0;
};

} // namespace test
