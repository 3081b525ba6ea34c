#include "CorvaneIcon/AppBuilder.h"

#include "CorvaneCore/Foundation/JSONCoding.h"
#include "CorvaneCore/Foundation/Logging.h"
#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneCore/Integration/HelperInstaller.h"
#include "CorvaneCore/ProxyApps/StubRevision.h"
#include "CorvaneHost/Bundle.h"
#include "CorvaneHost/CustomIcons.h"
#include "CorvaneHost/MainQueue.h"
#include "CorvaneHost/ProcessRunner.h"
#include "CorvaneHost/PropertyList.h"
#include "CorvaneHost/Services.h"
#include "CorvaneHost/Workspace.h"
#include "CorvaneIcon/IconFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QUuid>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace AppBuilder {

namespace {

const QString signTool = QStringLiteral("/usr/bin/codesign");
const QString xattrTool = QStringLiteral("/usr/bin/xattr");
const QString killallTool = QStringLiteral("/usr/bin/killall");

QByteArray encoded(const QString& path) {
    return QFile::encodeName(path);
}

host::SystemError fileError(const QString& what, const QString& path, int error = errno) {
    return host::SystemError::fromErrno(QStringLiteral("%1 %2").arg(what, path), error ? error : EIO);
}

bool exists(const QString& path) {
    struct stat info {};
    return ::lstat(encoded(path).constData(), &info) == 0;
}

// Removes a file, a link (not what it points at) or a folder with everything in it.
bool removeItem(const QString& path) {
    struct stat info {};
    if (::lstat(encoded(path).constData(), &info) != 0)
        return errno == ENOENT;
    if (S_ISDIR(info.st_mode))
        return QDir(path).removeRecursively();
    return ::unlink(encoded(path).constData()) == 0;
}

// Copies a file of `size` bytes within the kernel (the launcher in every bundle is tens of megabytes, and
// copy_file_range moves it several times faster than reading and writing it); false, with no file left
// behind, when the file system cannot, so the caller copies the usual way.
bool copyInKernel(const QString& source, const QString& destination, off_t size) {
    const int in = ::open(encoded(source).constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return false;
    const int out = ::open(encoded(destination).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out < 0) {
        ::close(in);
        return false;
    }
    off_t left = size;
    while (left > 0) {
        const ssize_t copied = ::copy_file_range(in, nullptr, out, nullptr, size_t(left), 0);
        if (copied < 0 && errno == EINTR)
            continue;
        if (copied <= 0)
            break;
        left -= copied;
    }
    const bool complete = left == 0 && ::close(out) == 0;
    ::close(in);
    if (!complete) {
        if (left != 0)
            ::close(out);
        ::unlink(encoded(destination).constData());
    }
    return complete;
}

struct FileIdentity {
    dev_t device;
    ino_t inode;
    bool operator==(const FileIdentity&) const = default;
};

// Copies a tree keeping modes, with every link copied as what it leads to: the copy holds no link that could
// lead out of it, so nothing written into it reaches the source or a file other copies share. `enclosing`
// are the folders being copied around this one; a link back to one of them would never end. Throws the file
// system's error.
void copyTree(const QString& source, const QString& destination, std::vector<FileIdentity>& enclosing) {
    struct stat info {};
    if (::stat(encoded(source).constData(), &info) != 0)
        throw fileError(QStringLiteral("could not read"), source);
    if (S_ISDIR(info.st_mode)) {
        const FileIdentity identity{info.st_dev, info.st_ino};
        if (std::find(enclosing.begin(), enclosing.end(), identity) != enclosing.end())
            throw fileError(QStringLiteral("could not copy the link back into its own folder"), source,
                            ELOOP);
        if (::mkdir(encoded(destination).constData(), 0700) != 0)
            throw fileError(QStringLiteral("could not create"), destination);
        enclosing.push_back(identity);
        const QStringList names =
            QDir(source).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        for (const QString& name : names)
            copyTree(source + QLatin1Char('/') + name, destination + QLatin1Char('/') + name, enclosing);
        enclosing.pop_back();
        ::chmod(encoded(destination).constData(), info.st_mode & 07777);
    } else if (S_ISREG(info.st_mode)) {
        QFile::remove(destination);
        if (!copyInKernel(source, destination, info.st_size) && !QFile::copy(source, destination))
            throw fileError(QStringLiteral("could not copy"), source, EIO);
        ::chmod(encoded(destination).constData(), info.st_mode & 07777);
    } else {
        throw fileError(QStringLiteral("cannot copy the special file"), source, ENOTSUP);
    }
}

void copyTree(const QString& source, const QString& destination) {
    std::vector<FileIdentity> enclosing;
    copyTree(source, destination, enclosing);
}

// Moves an item, copying it when source and destination lie on different file systems.
void moveItem(const QString& source, const QString& destination) {
    if (::rename(encoded(source).constData(), encoded(destination).constData()) == 0)
        return;
    if (errno != EXDEV)
        throw fileError(QStringLiteral("could not move"), source);
    try {
        copyTree(source, destination);
    } catch (...) {
        removeItem(destination);
        throw;
    }
    removeItem(source);
}

// Whether two paths name the same file, however spelt (links followed).
bool sameFile(const QString& a, const QString& b) {
    struct stat first {
    }, second{};
    if (::stat(encoded(a).constData(), &first) != 0 || ::stat(encoded(b).constData(), &second) != 0)
        return QDir::cleanPath(QFileInfo(a).absoluteFilePath()) ==
               QDir::cleanPath(QFileInfo(b).absoluteFilePath());
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool isUsableName(const QString& name) {
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/')) && !name.contains(QChar(0));
}

void runIgnoringFailure(const QString& tool, const QStringList& arguments) {
    try {
        HelperInstaller::run(tool, arguments);
    } catch (const host::Error&) {
    }
}

QByteArray readWhole(const QString& path) {
    QFile file(path);
    errno = 0;
    if (!file.open(QIODevice::ReadOnly))
        throw fileError(QStringLiteral("could not read"), path);
    return file.readAll();
}

void writeWhole(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    errno = 0;
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        throw fileError(QStringLiteral("could not write"), path);
}

void patchInfoPlist(const QString& infoPath, const Request& request) {
    const auto parsed = host::parsePropertyList(readWhole(infoPath));
    if (!parsed)
        throw host::SystemError(QStringLiteral("NSCocoaErrorDomain"), 3840,
                                QStringLiteral("%1 is not a property list").arg(infoPath));
    if (parsed->typeId() != QMetaType::QVariantMap)
        throw BuildError::notWritable(infoPath);
    writeWhole(infoPath, host::serializePropertyList(patchedInfo(parsed->toMap(), request)));
}

void assertIconFileWins(const QString& staged) {
    const QString fileName = QFileInfo(staged).fileName();
    if (const auto info = host::readBundleInfo(staged);
        info && info->contains(QStringLiteral("CFBundleIconName")))
        throw BuildError::iconNameWouldWin(fileName);
    if (exists(staged + QStringLiteral("/Contents/Resources/Assets.car")))
        throw BuildError::iconNameWouldWin(fileName);
}

// Puts the staged bundle at `destination` in one step: it is first brought beside the destination (copied
// when it lies on another file system), then swapped with the old app atomically, so a failure at any point
// leaves the old app in place.
void install(const QString& staged, const QString& destination) {
    const QString folder = QFileInfo(destination).absolutePath();
    errno = 0;
    if (!QDir().mkpath(folder))
        throw fileError(QStringLiteral("could not create the folder"), folder);
    const QString beside = folder + QStringLiteral("/.") + QFileInfo(destination).fileName() +
                           QStringLiteral(".installing-") +
                           QUuid::createUuid().toString(QUuid::WithoutBraces);
    moveItem(staged, beside);
    if (!exists(destination)) {
        if (::rename(encoded(beside).constData(), encoded(destination).constData()) != 0) {
            const int error = errno;
            removeItem(beside);
            throw fileError(QStringLiteral("could not move the app to"), destination, error);
        }
        return;
    }
    if (::renameat2(AT_FDCWD, encoded(beside).constData(), AT_FDCWD, encoded(destination).constData(),
                    RENAME_EXCHANGE) == 0) {
        removeItem(beside); // now the old app
        return;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        const int error = errno;
        removeItem(beside);
        throw fileError(QStringLiteral("could not replace"), destination, error);
    }
    // A file system without the atomic exchange: set the old app aside, and put it back if the new one
    // cannot take its place.
    const QString aside = beside + QStringLiteral(".old");
    if (::rename(encoded(destination).constData(), encoded(aside).constData()) != 0) {
        const int error = errno;
        removeItem(beside);
        throw fileError(QStringLiteral("could not replace"), destination, error);
    }
    if (::rename(encoded(beside).constData(), encoded(destination).constData()) != 0) {
        const int error = errno;
        ::rename(encoded(aside).constData(), encoded(destination).constData());
        removeItem(beside);
        throw fileError(QStringLiteral("could not replace"), destination, error);
    }
    removeItem(aside);
}

// Sets the bundle's file-manager icon from the PNG of its icon's largest size; whether it was set.
bool setFinderIcon(const QString& bundlePath, const QByteArray& png) {
    const bool set = host::setCustomIcon(bundlePath, png);
    if (!set)
        Log::creator.log(QStringLiteral("no file-manager icon set for %1").arg(bundlePath));
    return set;
}

void setModificationDate(const QString& path, const QDateTime& date) {
    QFile file(path);
    if (QFileInfo(path).isDir()) {
        const qint64 ms = date.toMSecsSinceEpoch();
        const timespec time{static_cast<time_t>(ms / 1000), static_cast<long>((ms % 1000) * 1000000)};
        const timespec times[2] = {time, time};
        ::utimensat(AT_FDCWD, encoded(path).constData(), times, 0);
        return;
    }
    if (file.open(QIODevice::ReadWrite))
        file.setFileTime(date, QFileDevice::FileModificationTime);
}

} // namespace

QString Request::destinationURL() const {
    return QDir(destinationDirectory).filePath(name + QStringLiteral(".app"));
}

BuildError::BuildError(Code code, QString description)
    : host::Error(std::move(description))
    , code_(code) {}

BuildError BuildError::iconNameWouldWin(const QString& bundleFileName) {
    return BuildError(
        Code::iconNameWouldWin,
        bundleFileName +
            QStringLiteral(" still has CFBundleIconName/Assets.car, which outranks CFBundleIconFile"));
}

BuildError BuildError::notWritable(const QString& path) {
    return BuildError(Code::notWritable, QStringLiteral("cannot write to ") + path);
}

BuildError BuildError::templateMissing() {
    return BuildError(Code::templateMissing,
                      QStringLiteral("the stub template is missing from the app bundle"));
}

BuildError BuildError::invalidName(const QString& name) {
    QString shown = name;
    shown.replace(QChar(0), QStringLiteral("\\0"));
    return BuildError(Code::invalidName,
                      QStringLiteral("\u201C%1\u201D cannot be used as an app's file name").arg(shown));
}

std::optional<QString> templateURL() {
    QStringList candidates{host::Bundle::main().bundlePath() + QLatin1Char('/') +
                           Corvane::stubTemplateInBundle};
    if (const auto creator = host::workspace().urlForApplication(Corvane::creatorBundleID))
        candidates << *creator + QLatin1Char('/') + Corvane::stubTemplateInBundle;
    candidates << QDir::currentPath() + QStringLiteral("/dist/StubTemplate.app");
    for (const QString& candidate : candidates)
        if (exists(candidate))
            return candidate;
    return std::nullopt;
}

QVariantMap patchedInfo(QVariantMap info, const Request& request) {
    info.insert(QStringLiteral("CFBundleIdentifier"), request.bundleID);
    info.insert(QStringLiteral("CFBundleName"), request.name);
    info.insert(QStringLiteral("CFBundleDisplayName"), request.name);
    info.insert(QStringLiteral("CFBundleIconFile"), QStringLiteral("AppIcon"));
    info.insert(StubRevision::plistKey, qint64(StubRevision::current));
    info.remove(QStringLiteral("CFBundleIconName"));
    const QVariantMap entries = request.config.plistEntries();
    for (auto it = entries.begin(); it != entries.end(); ++it)
        info.insert(it.key(), it.value());
    if (request.registerAsBrowser) {
        QVariantMap type;
        type.insert(QStringLiteral("CFBundleURLName"), QStringLiteral("Web site URL"));
        type.insert(QStringLiteral("CFBundleURLSchemes"),
                    QVariantList{QStringLiteral("http"), QStringLiteral("https")});
        type.insert(QStringLiteral("CFBundleTypeRole"), QStringLiteral("Viewer"));
        info.insert(QStringLiteral("CFBundleURLTypes"), QVariantList{type});
    } else {
        info.remove(QStringLiteral("CFBundleURLTypes"));
    }
    return info;
}

RegisteredApp build(const Request& request, const QString& signIdentity) {
    // The name becomes a file name: one that leaves the destination folder must not reach the disk.
    if (!isUsableName(request.name))
        throw BuildError::invalidName(request.name);
    const auto stubTemplate = templateURL();
    if (!stubTemplate)
        throw BuildError::templateMissing();
    // A template reached through a link is copied as the folder it leads to, and so is every link inside it:
    // the app is a folder of its own and the template is never written.
    const QString templateFolder = QFileInfo(*stubTemplate).canonicalFilePath();
    if (templateFolder.isEmpty())
        throw BuildError::templateMissing();

    WorkFolder work(QStringLiteral("corvane-build-"));
    const QString staged = work.path() + QLatin1Char('/') + request.name + QStringLiteral(".app");
    copyTree(templateFolder, staged);
    ::unlink(encoded(staged + QStringLiteral("/Icon\r")).constData());
    runIgnoringFailure(xattrTool, {QStringLiteral("-cr"), staged});

    patchInfoPlist(staged + QStringLiteral("/Contents/Info.plist"), request);
    QDir().mkpath(staged + QStringLiteral("/Contents/Resources"));
    writeWhole(staged + QStringLiteral("/Contents/Resources/config.json"),
               JSONEncoder::corvane().encode(request.config.toJson()));
    const QByteArray largestIcon = IcnsWriter::write(
        IconSpec(request.config), staged + QStringLiteral("/Contents/Resources/AppIcon.icns"));
    assertIconFileWins(staged);
    runIgnoringFailure(xattrTool, {QStringLiteral("-cr"), staged});

    HelperInstaller::run(signTool,
                         {QStringLiteral("--force"), QStringLiteral("--sign"), signIdentity,
                          QStringLiteral("--identifier"), request.bundleID, QStringLiteral("--options"),
                          QStringLiteral("runtime"), QStringLiteral("--timestamp=none"), staged});
    HelperInstaller::run(signTool, {QStringLiteral("--verify"), QStringLiteral("--strict"), staged});

    const QString destination = request.destinationURL();
    install(staged, destination);

    // The superseded copy goes, unless it is the very bundle just installed (another spelling or a link).
    if (request.replacing && exists(*request.replacing) && !sameFile(*request.replacing, destination))
        removeItem(*request.replacing);

    setFinderIcon(destination, largestIcon);
    refreshCaches(destination);

    RegisteredApp app;
    app.bundleID = request.bundleID;
    app.name = request.name;
    app.path = destination;
    app.config = request.config;
    app.createdAt = host::clock().now();
    app.stubRevision = StubRevision::current;
    app.isMissing = false;
    app.refreshBookmark();
    return app;
}

void refreshCaches(const QString& bundlePath) {
    const QDateTime now = host::clock().now();
    setModificationDate(bundlePath, now);
    setModificationDate(bundlePath + QStringLiteral("/Contents/Info.plist"), now);
    runIgnoringFailure(host::lsregisterToolPath, {QStringLiteral("-f"), bundlePath});
    runIgnoringFailure(killallTool, {QStringLiteral("Dock")});
}

void restampFinderIcon(const QString& bundlePath, const IconSpec& iconDescription) {
    const QString icns = bundlePath + QStringLiteral("/Contents/Resources/AppIcon.icns");
    try {
        setFinderIcon(bundlePath, IcnsWriter::write(iconDescription, icns));
    } catch (const host::Error& error) {
        Log::creator.error(
            QStringLiteral("could not write the icon of %1: %2").arg(bundlePath, error.description()));
        stampFinderIcon(bundlePath, icns);
    }
    refreshCaches(bundlePath);
}

bool stampFinderIcon(const QString& bundlePath, const QString& icnsPath) {
    const QImage image(icnsPath);
    if (image.isNull())
        return false;
    try {
        return setFinderIcon(bundlePath, pngData(image));
    } catch (const host::Error&) {
        return false;
    }
}

} // namespace AppBuilder
