#pragma once

#include "CorvaneCore/ProxyApps/Registry.h"

#include <QString>
#include <QUrl>
#include <functional>
#include <optional>

// What the app model asks the app builder to build: a proxy app's name, identity, configuration and folder.
struct BuildRequest {
    QString name;
    QString bundleID;
    StubConfig config;
    QUrl destinationDirectory;
    bool registerAsBrowser = false;
    std::optional<QUrl> replacing;

    bool operator==(const BuildRequest&) const = default;
    // The bundle the build leaves: the destination folder with "<name>.app".
    QString destinationPath() const;
};

// Builds, signs and installs one proxy app; returns its registry entry or throws (host::Error). Runs off the
// main thread and touches nothing but the request.
using BuildFunction = std::function<RegisteredApp(const BuildRequest& request, const QString& signIdentity)>;

// Puts the icon of a configuration on an installed bundle again; reports no failure.
using RestampFunction = std::function<void(const QString& bundlePath, const StubConfig& config)>;

// The app builder and icon restamp of this build of the creator app.
BuildFunction defaultBuildFunction();
RestampFunction defaultRestampFunction();
