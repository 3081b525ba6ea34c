#pragma once

#include "CorvaneHost/FileStamp.h"
#include "CorvaneHost/Linux/Desktop/ChromeBrowser.h"
#include "CorvaneHost/Linux/Desktop/DesktopEntries.h"

#include <QPointer>
#include <QStringList>
#include <QVariantMap>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class QFileSystemWatcher;

namespace host {

// One application the workspace offers: a bundle folder with its Info.plist, or a desktop entry.
struct IndexedApplication {
    QString path;
    QVariantMap info;
    std::optional<DesktopEntry> desktopEntry;
    QString bundleIdentifier() const;
};

// Every application the workspace offers, read once and kept while nothing it was read from changes: the
// registered bundles, the ".app" bundles of the application folders (three levels deep) and the browsers'
// desktop entries. Each lookup checks it with one status call per folder it covers and per bundle's
// Info.plist (a plist rewritten in place leaves its folder's time alone), so a change made by another
// process is seen at once, even before the folder watcher reports it; the watcher makes the next lookup
// read afresh. The bundles and the desktop entries are listed again apart, and an unchanged Info.plist is
// not parsed again (readBundleInfo keeps it). Safe to use from several threads; the watcher lives on the
// main thread.
class ApplicationIndex {
public:
    struct Sources {
        QString stateFile;               // the registrations, whose bundles are listed first
        QStringList applicationFolders;  // searched for bundles, in order
        QStringList desktopEntryFolders; // searched for browsers: desktopEntryDirectories()
        bool operator==(const Sources&) const = default;
    };
    // `sources` tells where to look now (the folders follow the environment); `registeredBundles` reads the
    // state file's list of bundles, called only when that file changed.
    ApplicationIndex(std::function<Sources()> sources, std::function<QStringList()> registeredBundles);
    ~ApplicationIndex();
    ApplicationIndex(const ApplicationIndex&) = delete;
    ApplicationIndex& operator=(const ApplicationIndex&) = delete;

    // Registered bundles first (most recent first), then the application folders' bundles, then the
    // browsers' desktop entries that stand for no bundle; each path once.
    std::vector<IndexedApplication> applications();
    // The listed application at `path` (cleaned, absolute); none when the index does not list it.
    std::optional<IndexedApplication> application(const QString& path);
    // This machine's Chrome among the desktop's browsers.
    std::optional<ChromeBrowser> chrome();
    // This process changed registrations or a bundle: the next lookup reads afresh.
    void invalidate();

    // How many times the bundles and the desktop entries were listed afresh (for tests of the index).
    int rebuildCount() const { return rebuilds_.load(); }

private:
    struct Stamped {
        QByteArray path;
        FileStamp stamp;
    };
    // One part of the listing with the status of everything it was read from.
    struct Part {
        qint64 readAt = 0; // when the listing began, nanoseconds since the epoch
        std::vector<Stamped> stamps;
        QStringList folders; // the folders among them, watched
    };
    struct Snapshot {
        Sources where;
        Part bundlePart;
        std::vector<IndexedApplication> bundles; // registered first, then the folders'
        Part entryPart;
        std::vector<DesktopEntry> browsers;
        std::vector<IndexedApplication> applications;
    };

    static bool isCurrent(const Part& part);
    const Snapshot& current();
    Part listBundles(const QString& stateFile, const QStringList& folders,
                     std::vector<IndexedApplication>& bundles) const;
    static Part listBrowsers(const QStringList& folders, std::vector<DesktopEntry>& browsers);
    void watch(const Snapshot& snapshot);

    std::function<Sources()> sources_;
    std::function<QStringList()> registeredBundles_;
    std::mutex mutex_;
    std::unique_ptr<Snapshot> snapshot_;
    // Set by the watcher and by invalidate(); shared with the watcher's connection, which may outlive us.
    std::shared_ptr<std::atomic<bool>> stale_ = std::make_shared<std::atomic<bool>>(false);
    std::atomic<int> rebuilds_{0};
    QPointer<QFileSystemWatcher> watcher_;
    QStringList watched_;
};

} // namespace host
