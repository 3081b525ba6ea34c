#pragma once

#include <QJsonObject>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <atomic>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace test {

// Chromium's own report of one profile's normal windows, their tabs and its open tab groups, as its extension
// API gives them (chrome.windows.getAll with its tabs, chrome.tabGroups.query).
struct ChromiumReport {
    struct Tab {
        qint64 id = 0;
        QString title;
        QString url;
        bool active = false;
        qint64 groupId = -1;
    };
    struct Window {
        qint64 id = 0;
        bool focused = false;
        std::vector<Tab> tabs;
    };
    struct Group {
        qint64 id = 0;
        QString title;
        bool collapsed = false;
        qint64 windowId = 0;
    };

    std::vector<Window> windows;
    std::vector<Group> groups;

    static ChromiumReport fromJson(const QJsonObject& object);
    // The open groups of that title.
    std::vector<Group> groupsTitled(const QString& title) const;
    std::vector<Tab> tabsOf(qint64 groupId) const;
    const Window* window(qint64 id) const;
    const Window* focusedWindow() const;
    // Every tab's title, window by window.
    QStringList tabTitles() const;
    // One line per window: its tabs, their groups, the focused window and active tab marked.
    QString describe() const;
};

// The unpacked extension in Tests/EndToEnd/Desktop/TabGroupExtension, copied into a temporary folder beside
// the port of a small HTTP server on the loopback that this object runs on a thread of its own. Chromium,
// started with --load-extension=directory(), runs the extension's worker in every profile it loads; each
// worker asks the server for commands and posts back what it did with Chromium's report. The server also
// serves pages titled as their path says (pageURL), so that tabs have known titles without the network.
class TabGroupExtension {
public:
    TabGroupExtension();
    ~TabGroupExtension();
    TabGroupExtension(const TabGroupExtension&) = delete;
    TabGroupExtension& operator=(const TabGroupExtension&) = delete;

    // Listens and prepares the folder; false, with failure(), when either cannot be done.
    bool start();
    const QString& failure() const { return failure_; }
    QString directory() const { return folder_.path(); }
    QString pageURL(const QString& title) const;

    // The workers that have asked for commands, each named by the id it keeps in its profile's storage, in
    // the order they first asked: one per profile that loaded the extension.
    QStringList workers() const;
    // Has the worker carry out `command` (its "op" and arguments; see worker.js) and waits up to `seconds`
    // for its answer: what the command returned beside Chromium's report ("windows", "groups"), or nothing,
    // with failure() saying why.
    std::optional<QJsonObject> run(const QString& worker, QJsonObject command, double seconds = 15);
    // The same in two steps, for a command that waits in Chromium while the caller acts: post() hands it to
    // the worker and gives its id, awaitAnswer() waits for the answer as run() does.
    qint64 post(const QString& worker, QJsonObject command);
    std::optional<QJsonObject> awaitAnswer(qint64 id, double seconds);
    // Whether the worker took the posted command within `seconds`.
    bool handedOut(qint64 id, double seconds);
    // Chromium's report as the worker sees it now; an empty one, with failure(), when it did not answer.
    ChromiumReport report(const QString& worker);

private:
    void serve();
    void answer(int connection);

    QTemporaryDir folder_;
    QString failure_;
    int listener_ = -1;
    quint16 port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread thread_;

    mutable std::mutex mutex_; // guards what follows
    QStringList workers_;
    QMap<QString, std::vector<QJsonObject>> commands_; // by worker
    QMap<qint64, QJsonObject> results_;                // by command id
    QSet<qint64> abandoned_;                           // commands whose answer no one awaits
    qint64 nextId_ = 1;
};

} // namespace test
