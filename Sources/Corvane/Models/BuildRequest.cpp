#include "Corvane/Models/BuildRequest.h"

#include "CorvaneIcon/AppBuilder.h"
#include "CorvaneIcon/IconSpec.h"

#include <QDir>

QString BuildRequest::destinationPath() const {
    return QDir::cleanPath(destinationDirectory.toLocalFile()) + QLatin1Char('/') + name +
           QStringLiteral(".app");
}

BuildFunction defaultBuildFunction() {
    return [](const BuildRequest& request, const QString& signIdentity) {
        AppBuilder::Request built;
        built.name = request.name;
        built.bundleID = request.bundleID;
        built.config = request.config;
        built.destinationDirectory = QDir::cleanPath(request.destinationDirectory.toLocalFile());
        built.registerAsBrowser = request.registerAsBrowser;
        if (request.replacing)
            built.replacing = request.replacing->toLocalFile();
        return AppBuilder::build(built, signIdentity);
    };
}

RestampFunction defaultRestampFunction() {
    return [](const QString& bundlePath, const StubConfig& config) {
        AppBuilder::restampFinderIcon(bundlePath, IconSpec(config));
    };
}
