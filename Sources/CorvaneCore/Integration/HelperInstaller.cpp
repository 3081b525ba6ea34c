#include "CorvaneCore/Integration/HelperInstaller.h"

#include "CorvaneCore/Foundation/Logging.h"
#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneHost/Bundle.h"
#include "CorvaneHost/MainQueue.h"
#include "CorvaneHost/ProcessRunner.h"
#include "CorvaneHost/PropertyList.h"
#include "CorvaneHost/Services.h"
#include "CorvaneHost/Workspace.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <unistd.h>

namespace HelperInstaller {
namespace {

const QString versionKey = QStringLiteral("CFBundleVersion");
constexpr double quitGracePeriod = 0.4;

// Anything at the path counts, a dangling symbolic link included.
bool pathExists(const QString& path) {
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

std::filesystem::path fsPath(const QString& path) {
    return std::filesystem::path(QFile::encodeName(path).toStdString());
}

// Removes a file or a whole folder, never following a symbolic link; a missing path is no error.
void removeItem(const QString& path) {
    std::error_code error;
    std::filesystem::remove_all(fsPath(path), error);
    if (error)
        throw host::SystemError::fromErrno(QStringLiteral("could not remove %1").arg(path), error.value());
}

// The same where a failure changes nothing: cleaning up after the work is done or has failed.
void discardItem(const QString& path) noexcept {
    std::error_code ignored;
    std::filesystem::remove_all(fsPath(path), ignored);
}

void moveItem(const QString& from, const QString& to) {
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0)
        throw host::SystemError::fromErrno(QStringLiteral("could not move %1 to %2").arg(from, to), errno);
}

std::vector<host::RunningApplication> runningHelpers() {
    std::vector<host::RunningApplication> helpers;
    for (const host::RunningApplication& application : host::workspace().runningApplications())
        if (application.bundleIdentifier == Corvane::helperBundleID)
            helpers.push_back(application);
    return helpers;
}

} // namespace

InstallError::InstallError(Code code)
    : host::Error(QStringLiteral("could not find a helper to install"))
    , code_(code) {}

size_t qHash(const InstallError& error, size_t seed) {
    return ::qHash(static_cast<int>(error.code()), seed);
}

InstallLock::InstallLock() {
    const QString path = installLockURL();
    fd_ = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0)
        throw host::SystemError::fromErrno(QStringLiteral("could not open %1").arg(path), errno);
    while (::flock(fd_, LOCK_EX) != 0) {
        if (errno != EINTR) {
            const int error = errno;
            ::close(fd_);
            throw host::SystemError::fromErrno(QStringLiteral("could not lock %1").arg(path), error);
        }
    }
}

InstallLock::~InstallLock() {
    ::close(fd_);
}

QString installLockURL() {
    return Corvane::supportDirectory() + QStringLiteral("/helper-install.lock");
}

std::optional<QString> sourceHelperURL() {
    const QString own = host::Bundle::main().bundlePath() + QLatin1Char('/') + Corvane::helperInBundle;
    if (pathExists(own))
        return own;
    if (const auto creator = host::workspace().urlForApplication(Corvane::creatorBundleID)) {
        const QString inCreator = *creator + QLatin1Char('/') + Corvane::helperInBundle;
        if (pathExists(inCreator))
            return inCreator;
    }
    return std::nullopt;
}

std::optional<QString> version(const QString& bundleURL) {
    const auto info = host::readBundleInfo(bundleURL);
    if (!info)
        return std::nullopt;
    const QVariant value = info->value(versionKey);
    if (value.typeId() != QMetaType::QString)
        return std::nullopt;
    return value.toString();
}

std::optional<QString> installedVersion() {
    return version(Corvane::installedHelperURL());
}

bool installFromCreatorBundle(bool force) {
    const auto source = sourceHelperURL();
    if (!source)
        throw InstallError(InstallError::Code::noSourceBundle);
    const QString destination = Corvane::installedHelperURL();
    const auto sourceVersion = version(*source);

    // A version that cannot be read on either side never counts as current: it only makes the copy happen.
    const auto isCurrent = [&] {
        if (force || !pathExists(destination))
            return false;
        const auto destinationVersion = version(destination);
        return sourceVersion && destinationVersion && *sourceVersion == *destinationVersion;
    };
    if (isCurrent())
        return false;

    Corvane::ensureSupportDirectory();
    const InstallLock lock;
    // Another installer may have put this very version in place while this one waited for the lock.
    if (isCurrent())
        return false;

    terminateRunningHelper();

    copyIntoPlace(*source, destination);

    Log::ipc.info(
        QStringLiteral("installed helper %1 to fixed path").arg(sourceVersion.value_or(QStringLiteral("?"))));
    return true;
}

void copyIntoPlace(const QString& source, const QString& destination) {
    // The copy is made beside the installed one and only swapped in once whole, so a failed or interrupted
    // copy never leaves a partial helper at the fixed place (where an equal version would keep it forever).
    const QString staging = destination + QStringLiteral(".installing");
    const QString replaced = destination + QStringLiteral(".replaced");
    removeItem(staging); // leftovers of an interrupted install
    removeItem(replaced);
    try {
        run(QStringLiteral("/usr/bin/ditto"), {source, staging});
    } catch (...) {
        discardItem(staging);
        throw;
    }

    const bool hadCopy = pathExists(destination);
    try {
        if (hadCopy)
            moveItem(destination, replaced);
    } catch (...) {
        discardItem(staging);
        throw;
    }
    try {
        moveItem(staging, destination);
    } catch (...) {
        if (hadCopy)
            ::rename(QFile::encodeName(replaced).constData(), QFile::encodeName(destination).constData());
        discardItem(staging);
        throw;
    }
    discardItem(replaced);

    try {
        run(QStringLiteral("/usr/bin/xattr"), {QStringLiteral("-cr"), destination});
    } catch (const host::Error&) {
        // The copy stays usable with its attributes.
    }
}

void terminateRunningHelper() {
    const auto helpers = runningHelpers();
    if (!helpers.empty()) {
        // The polite request first, so the helper runs its own shutdown.
        for (const host::RunningApplication& helper : helpers)
            host::workspace().terminate(helper.processIdentifier);
        host::clock().sleep(quitGracePeriod);
    }
    for (const host::RunningApplication& helper : runningHelpers())
        host::workspace().forceTerminate(helper.processIdentifier);
}

QString run(const QString& executablePath, const QStringList& arguments) {
    return host::processRunner().run(executablePath, arguments);
}

} // namespace HelperInstaller
