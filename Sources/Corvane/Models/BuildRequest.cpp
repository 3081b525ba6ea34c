#include "Corvane/Models/BuildRequest.h"

#include "CorvaneHost/Error.h"

#include <QDir>

QString BuildRequest::destinationPath() const {
    return QDir::cleanPath(destinationDirectory.toLocalFile()) + QLatin1Char('/') + name +
           QStringLiteral(".app");
}

BuildFunction defaultBuildFunction() {
    // The app builder is not part of this build yet: every build fails with a clear message.
    return [](const BuildRequest&, const QString&) -> RegisteredApp {
        throw host::Error(QStringLiteral("the app builder is not available in this build"));
    };
}

RestampFunction defaultRestampFunction() {
    return [](const QString&, const StubConfig&) {};
}
