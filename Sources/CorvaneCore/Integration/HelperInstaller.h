#pragma once

#include "CorvaneHost/Error.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

// Keeps the installed helper (the copy in the support folder that every program starts) in step with the copy
// that ships inside the creator app, and runs the system's external tools. Holds no state; every operation is
// synchronous and blocks its caller.
namespace HelperInstaller {

class InstallError : public host::Error {
public:
    enum class Code { noSourceBundle };

    explicit InstallError(Code code);
    Code code() const { return code_; }
    bool operator==(const InstallError& other) const { return code_ == other.code_; }

private:
    Code code_;
};

size_t qHash(const InstallError& error, size_t seed = 0);

// The helper bundle to install from: the one in the running program's own bundle, else the one in the creator
// app that the workspace knows; none when neither exists.
std::optional<QString> sourceHelperURL();
// The "CFBundleVersion" of the installed copy, or none.
std::optional<QString> installedVersion();
// The "CFBundleVersion" string of the app bundle at `bundleURL`, or none; never throws or logs.
std::optional<QString> version(const QString& bundleURL);

// Installs or updates the installed copy; true when it copied. Unless `force`, an installed copy of the
// source's version is left alone. The copy is made beside the installed one and swapped into place, and
// concurrent installers (several launchers, the creator app) take turns on a lock file. Throws InstallError
// (noSourceBundle) or the error of a failed step.
bool installFromCreatorBundle(bool force);

// Copies the helper bundle at `source` to `destination` through "<destination>.installing", swaps it into
// place only once whole (the previous copy is put back when the swap fails), then clears its extended
// attributes. The caller holds the InstallLock. Throws the error of the copy or of the swap.
void copyIntoPlace(const QString& source, const QString& destination);

// Asks every running helper to quit, waits 0.4 seconds when there was one, then forces those still running.
void terminateRunningHelper();

// Runs the tool at `executablePath` with `arguments` through the host's process runner and returns its
// combined output. Throws the launch error, or an error of domain "Corvane" whose code is the exit status.
QString run(const QString& executablePath, const QStringList& arguments);

// The lock file that installers of the helper hold while they change the installed copy.
QString installLockURL();

// Holds that lock for its lifetime (an exclusive flock: another holder, in this process or another, waits
// until it is released; the lock goes with its holder, also when that dies). Anything that writes the
// installed copy holds it. Throws host::SystemError when the lock file cannot be opened.
class InstallLock {
public:
    InstallLock();
    ~InstallLock();
    InstallLock(const InstallLock&) = delete;
    InstallLock& operator=(const InstallLock&) = delete;

private:
    int fd_ = -1;
};

} // namespace HelperInstaller

template <> struct std::hash<HelperInstaller::InstallError> {
    size_t operator()(const HelperInstaller::InstallError& error) const noexcept {
        return std::hash<int>()(static_cast<int>(error.code()));
    }
};
