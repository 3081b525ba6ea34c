#include "CorvaneHost/Linux/ApplicationIndex.h"

#include "CorvaneHost/PropertyList.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QSet>
#include <QThread>

namespace host {
namespace {

constexpr int folderSearchDepth = 3;

QString cleanAbsolute(const QString& path) {
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

QByteArray plistPath(const QString& bundlePath) {
    return QFile::encodeName(bundlePath + QStringLiteral("/Contents/Info.plist"));
}

bool onMainThread() {
    const QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

} // namespace

QString IndexedApplication::bundleIdentifier() const {
    const QVariant value = info.value(QStringLiteral("CFBundleIdentifier"));
    return value.typeId() == QMetaType::QString ? value.toString() : QString();
}

ApplicationIndex::ApplicationIndex(std::function<Sources()> sources,
                                   std::function<QStringList()> registeredBundles)
    : sources_(std::move(sources))
    , registeredBundles_(std::move(registeredBundles)) {}

ApplicationIndex::~ApplicationIndex() {
    // The watcher belongs to the main thread (and goes with the application object, if that goes first).
    if (!watcher_)
        return;
    if (onMainThread())
        delete watcher_.data();
    else
        watcher_->deleteLater();
}

bool ApplicationIndex::isCurrent(const Part& part) {
    for (const Stamped& stamped : part.stamps)
        if (!stamped.stamp.isSettled(part.readAt) || FileStamp::of(stamped.path) != stamped.stamp)
            return false;
    return true;
}

ApplicationIndex::Part ApplicationIndex::listBundles(const QString& stateFile, const QStringList& folders,
                                                     std::vector<IndexedApplication>& bundles) const {
    Part part;
    part.readAt = FileStamp::now();
    const QByteArray statePath = QFile::encodeName(stateFile);
    part.stamps.push_back({statePath, FileStamp::of(statePath)});
    QSet<QString> looked;
    const auto add = [&](const QString& path) {
        const QString cleaned = cleanAbsolute(path);
        if (looked.contains(cleaned))
            return;
        looked.insert(cleaned);
        // Stamped before it is read: a change in between makes the next lookup list it again.
        const QByteArray plist = plistPath(cleaned);
        part.stamps.push_back({plist, FileStamp::of(plist)});
        if (auto info = readBundleInfo(cleaned))
            bundles.push_back(IndexedApplication{cleaned, *info, std::nullopt});
    };

    for (const QString& path : registeredBundles_())
        add(path);

    std::function<void(const QString&, int)> walk = [&](const QString& folder, int depth) {
        const QByteArray encoded = QFile::encodeName(folder);
        const FileStamp stamp = FileStamp::of(encoded);
        part.stamps.push_back({encoded, stamp});
        if (!stamp.exists)
            return;
        part.folders.append(folder);
        const QFileInfoList children =
            QDir(folder).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
        for (const QFileInfo& child : children) {
            if (child.fileName().endsWith(QLatin1String(".app"), Qt::CaseInsensitive))
                add(child.filePath());
            else if (depth < folderSearchDepth && !child.isSymLink())
                walk(child.filePath(), depth + 1);
        }
    };
    for (const QString& folder : folders)
        walk(folder, 1);

    return part;
}

ApplicationIndex::Part ApplicationIndex::listBrowsers(const QStringList& folders,
                                                      std::vector<DesktopEntry>& browsers) {
    Part part;
    part.readAt = FileStamp::now();
    const auto stampFolder = [&part](const QString& folder) {
        const QByteArray encoded = QFile::encodeName(folder);
        const FileStamp stamp = FileStamp::of(encoded);
        part.stamps.push_back({encoded, stamp});
        if (stamp.exists)
            part.folders.append(folder);
        return stamp.exists;
    };
    for (const QString& folder : folders) {
        if (!stampFolder(folder))
            continue;
        QDirIterator it(folder, QDir::Dirs | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
        while (it.hasNext())
            stampFolder(it.next());
    }
    browsers = browserDesktopEntries();
    return part;
}

const ApplicationIndex::Snapshot& ApplicationIndex::current() {
    Sources where = sources_();
    const bool stale = stale_->exchange(false);
    const bool moved = !snapshot_ || snapshot_->where != where;
    const bool bundlesChanged = stale || moved || !isCurrent(snapshot_->bundlePart);
    const bool browsersChanged = stale || moved || !isCurrent(snapshot_->entryPart);
    if (!bundlesChanged && !browsersChanged)
        return *snapshot_;

    auto next = std::make_unique<Snapshot>();
    next->where = std::move(where);
    if (bundlesChanged) {
        next->bundlePart = listBundles(next->where.stateFile, next->where.applicationFolders, next->bundles);
    } else {
        next->bundlePart = std::move(snapshot_->bundlePart);
        next->bundles = std::move(snapshot_->bundles);
    }
    if (browsersChanged) {
        next->entryPart = listBrowsers(next->where.desktopEntryFolders, next->browsers);
    } else {
        next->entryPart = std::move(snapshot_->entryPart);
        next->browsers = std::move(snapshot_->browsers);
    }

    next->applications = next->bundles;
    QSet<QString> seen;
    for (const IndexedApplication& bundle : next->bundles)
        seen.insert(bundle.path);
    for (const DesktopEntry& entry : next->browsers) {
        // An entry the host wrote for a bundle stands for that bundle, which is listed as itself.
        if (seen.contains(entry.path) || !entry.bundlePath.isEmpty())
            continue;
        seen.insert(entry.path);
        next->applications.push_back(IndexedApplication{entry.path, desktopEntryInfo(entry), entry});
    }
    snapshot_ = std::move(next);
    ++rebuilds_;
    watch(*snapshot_);
    return *snapshot_;
}

void ApplicationIndex::watch(const Snapshot& snapshot) {
    // The watcher reports through the main thread's event loop; elsewhere the status checks alone serve.
    if (!onMainThread())
        return;
    if (!watcher_) {
        watcher_ = new QFileSystemWatcher(QCoreApplication::instance());
        QObject::connect(watcher_, &QFileSystemWatcher::directoryChanged, watcher_,
                         [stale = stale_](const QString&) { *stale = true; });
    }
    const QStringList folders = snapshot.bundlePart.folders + snapshot.entryPart.folders;
    const QSet<QString> wanted(folders.begin(), folders.end());
    const QSet<QString> had(watched_.begin(), watched_.end());
    const QStringList gone = (had - wanted).values();
    const QStringList added = (wanted - had).values();
    if (!gone.isEmpty())
        watcher_->removePaths(gone);
    if (!added.isEmpty())
        watcher_->addPaths(added);
    watched_ = watcher_->directories();
}

std::vector<IndexedApplication> ApplicationIndex::applications() {
    std::lock_guard lock(mutex_);
    return current().applications;
}

std::optional<IndexedApplication> ApplicationIndex::application(const QString& path) {
    std::lock_guard lock(mutex_);
    for (const IndexedApplication& app : current().applications)
        if (app.path == path)
            return app;
    return std::nullopt;
}

std::optional<ChromeBrowser> ApplicationIndex::chrome() {
    std::lock_guard lock(mutex_);
    return chromeAmong(current().browsers);
}

void ApplicationIndex::invalidate() {
    *stale_ = true;
}

} // namespace host
