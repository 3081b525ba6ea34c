#pragma once

#include "CorvaneCore/ProxyApps/AppConfig.h"
#include "CorvaneCore/ProxyApps/Registry.h"
#include "CorvaneHost/Error.h"
#include "CorvaneIcon/IconSpec.h"

#include <QString>
#include <QVariantMap>
#include <optional>

// Turns a proxy app's configuration into an installed, sealed application bundle made from the launcher
// template, and re-applies an installed app's icon. Operations block until their tools have finished, so
// callers run them off the main thread.
namespace AppBuilder {

struct Request {
    QString name; // also the bundle's file name, with ".app"
    QString bundleID;
    StubConfig config;
    QString destinationDirectory;
    bool registerAsBrowser = false;
    std::optional<QString> replacing; // an earlier copy that the new bundle supersedes

    QString destinationURL() const;
};

class BuildError : public host::Error {
public:
    enum class Code { iconNameWouldWin, notWritable, templateMissing, invalidName };

    static BuildError iconNameWouldWin(const QString& bundleFileName);
    static BuildError notWritable(const QString& path);
    static BuildError templateMissing();
    static BuildError invalidName(const QString& name);

    Code code() const { return code_; }

private:
    BuildError(Code code, QString description);
    Code code_;
};

// The launcher template inside the creator app (or the installed creator app), else "dist/StubTemplate.app"
// in the working folder; none when none exists.
std::optional<QString> templateURL();

// Builds and installs the bundle and returns its registry record. Throws BuildError, a file-system error or a
// tool's error; a failed build leaves the destination as it was and no work folder behind.
RegisteredApp build(const Request& request, const QString& signIdentity);

// Touches the bundle and registers it again so the desktop picks up its new icon. Never fails.
void refreshCaches(const QString& bundlePath);
// Writes the installed bundle's icon afresh (without signing again), then its file-manager icon. Never fails.
void restampFinderIcon(const QString& bundlePath, const IconSpec& iconDescription);
// Sets the bundle's file-manager icon from an icon file; whether it was set.
bool stampFinderIcon(const QString& bundlePath, const QString& icnsPath);

// The template's Info.plist with the request's edits (a pure step of the build).
QVariantMap patchedInfo(QVariantMap info, const Request& request);

} // namespace AppBuilder
