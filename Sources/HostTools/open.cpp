// open: opens files and links with their default application (or a chosen one), the way a click in another
// application does: through the workspace's defaults, with the links delivered as events to the application,
// sent on behalf of the program that ran this tool.
//
//   open [-a <application>] [-b <bundle identifier>] [-g] [-n] [--] <file or URL> ...
//
// Exit status 0 when everything was handed on, 1 otherwise (with a message on standard error).
#include "CorvaneHost/LinkText.h"
#include "CorvaneHost/Linux/Processes/EventDelivery.h"
#include "CorvaneHost/MainQueue.h"
#include "CorvaneHost/Services.h"
#include "CorvaneHost/Workspace.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTextStream>
#include <QUrl>
#include <algorithm>
#include <optional>
#include <unistd.h>

namespace {

void fail(const QString& message) {
    QTextStream(stderr) << message << '\n';
}

int usage() {
    fail(QStringLiteral(
        "Usage: open [-a <application>] [-b <bundle identifier>] [-g] [-n] [--] <file or URL> ..."));
    return 1;
}

// The content type of a file by its extension, for the kinds this machine's applications declare.
QString contentTypeOf(const QString& path) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("html") || suffix == QLatin1String("htm") ||
        suffix == QLatin1String("shtml") || suffix == QLatin1String("xhtml"))
        return QStringLiteral("public.html");
    if (suffix == QLatin1String("svg"))
        return QStringLiteral("public.svg-image");
    if (suffix == QLatin1String("webarchive"))
        return QStringLiteral("com.apple.webarchive");
    if (suffix == QLatin1String("txt"))
        return QStringLiteral("public.plain-text");
    if (suffix == QLatin1String("pdf"))
        return QStringLiteral("com.adobe.pdf");
    return QStringLiteral("public.data");
}

// An argument that names an existing file is that file; else it is a link when it parses as an absolute URL
// with a scheme of more than one letter; anything else is a path of a file, taken relative to the current
// folder. The file comes first: a link text is taken as browsers take it, so a file name such as
// "notes:{draft}.html" reads as a link too.
QUrl targetOf(const QString& argument) {
    const QFileInfo file(argument);
    if (!file.exists())
        if (const std::optional<QUrl> url = host::parseLink(argument); url && url->scheme().size() > 1)
            return *url;
    return QUrl::fromLocalFile(QDir::cleanPath(file.absoluteFilePath()));
}

// The application for an explicit -a: a path to a bundle, or the name of one the workspace knows.
std::optional<QString> applicationNamed(const QString& name) {
    const QFileInfo asPath(name);
    if (asPath.isDir())
        return QDir::cleanPath(asPath.absoluteFilePath());
    const QString wanted = name.endsWith(QLatin1String(".app")) ? name : name + QStringLiteral(".app");
    auto& workspace = host::workspace();
    for (const QString& scheme : {QStringLiteral("https"), QStringLiteral("http")})
        for (const QString& path : workspace.applicationsToOpenScheme(scheme))
            if (QFileInfo(path).fileName().compare(wanted, Qt::CaseInsensitive) == 0)
                return path;
    return std::nullopt;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    // The links come from the program that ran this tool, as they would from a click in it.
    host::setEventSenderPID(static_cast<qint32>(::getppid()));

    std::optional<QString> applicationName;
    std::optional<QString> bundleIdentifier;
    host::OpenConfiguration configuration;
    QStringList operands;
    const QStringList arguments = app.arguments().mid(1);
    bool optionsEnded = false;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (optionsEnded || !argument.startsWith(QLatin1Char('-')) || argument == QLatin1String("-")) {
            operands.append(argument);
        } else if (argument == QLatin1String("--")) {
            optionsEnded = true;
        } else if (argument == QLatin1String("-a") || argument == QLatin1String("-b")) {
            if (i + 1 >= arguments.size())
                return usage();
            (argument == QLatin1String("-a") ? applicationName : bundleIdentifier) = arguments[++i];
        } else if (argument == QLatin1String("-g")) {
            configuration.activates = false;
        } else if (argument == QLatin1String("-n")) {
            configuration.createsNewApplicationInstance = true;
        } else {
            fail(QStringLiteral("open: invalid option -- %1").arg(argument.mid(1)));
            return usage();
        }
    }
    if (operands.isEmpty() && !applicationName && !bundleIdentifier)
        return usage();

    auto& workspace = host::workspace();
    std::optional<QString> chosen;
    if (bundleIdentifier) {
        chosen = workspace.urlForApplication(*bundleIdentifier);
        if (!chosen) {
            fail(QStringLiteral("Unable to find application with bundle identifier %1.")
                     .arg(*bundleIdentifier));
            return 1;
        }
    } else if (applicationName) {
        chosen = applicationNamed(*applicationName);
        if (!chosen) {
            fail(QStringLiteral("Unable to find application named '%1'").arg(*applicationName));
            return 1;
        }
    }

    // Each target with its application: the chosen one, else its default. A link goes on as written: its
    // parsed form has the host normalised, and the receiver routes by the text.
    struct Request {
        QString application;
        QList<QUrl> urls;
        QStringList writtenLinks;
    };
    std::vector<Request> requests;
    auto add = [&](const QString& application, const QUrl& url, const QString& written) {
        auto request = std::find_if(requests.begin(), requests.end(),
                                    [&](const Request& each) { return each.application == application; });
        if (request == requests.end())
            request = requests.insert(requests.end(), Request{application, {}, {}});
        request->urls.append(url);
        if (!url.isLocalFile())
            request->writtenLinks.append(written);
    };
    for (const QString& operand : operands) {
        const QUrl target = targetOf(operand);
        if (target.isLocalFile() && !QFileInfo::exists(target.toLocalFile())) {
            fail(QStringLiteral("The file %1 does not exist.").arg(target.toLocalFile()));
            return 1;
        }
        if (chosen) {
            add(*chosen, target, operand);
            continue;
        }
        const std::optional<QString> handler =
            target.isLocalFile()
                ? workspace.defaultApplicationForContentType(contentTypeOf(target.toLocalFile()))
                : workspace.defaultApplicationForScheme(target.scheme().toLower());
        if (!handler) {
            if (target.isLocalFile())
                fail(QStringLiteral("No application knows how to open %1.").arg(target.toLocalFile()));
            else
                fail(QStringLiteral("No application knows how to open URL %1.")
                         .arg(target.toString(QUrl::FullyEncoded)));
            return 1;
        }
        add(*handler, target, operand);
    }

    int status = 0;
    int pending = 0;
    auto finished = [&](const QString& application, std::optional<host::SystemError> error) {
        if (error) {
            fail(QStringLiteral("Unable to open %1: %2")
                     .arg(QFileInfo(application).fileName(), error->description()));
            status = 1;
        }
        if (--pending == 0)
            QCoreApplication::exit(status);
    };
    if (requests.empty()) {
        // Only an application was named: open it.
        pending = 1;
        workspace.openApplication(*chosen, configuration,
                                  [&, application = *chosen](std::optional<host::RunningApplication>,
                                                             std::optional<host::SystemError> error) {
                                      finished(application, error);
                                  });
    } else {
        pending = int(requests.size());
        for (const Request& request : requests) {
            host::OpenConfiguration withLinks = configuration;
            withLinks.writtenLinks = request.writtenLinks;
            workspace.open(request.urls, request.application, withLinks,
                           [&, application = request.application](std::optional<host::RunningApplication>,
                                                                  std::optional<host::SystemError> error) {
                               finished(application, error);
                           });
        }
    }
    return pending == 0 ? status : QCoreApplication::exec();
}
