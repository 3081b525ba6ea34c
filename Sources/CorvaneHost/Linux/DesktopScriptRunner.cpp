#include "CorvaneHost/Linux/DesktopScriptRunner.h"

#include "CorvaneHost/LinkText.h"
#include "CorvaneHost/Linux/Desktop/ChromeBrowser.h"
#include "CorvaneHost/Linux/Desktop/PrivateWindowCommand.h"
#include "CorvaneHost/Linux/Processes/ChildProcess.h"
#include "CorvaneHost/Services.h"
#include "CorvaneHost/Workspace.h"

#include <QFileInfo>

namespace host {

ScriptRunner& scriptRunner() {
    return ensureService(services().scriptRunner, [] { return std::make_shared<DesktopScriptRunner>(); });
}

namespace {

// -1708: the target does not understand the message, which is what a browser without scripting says.
QVariantMap scriptError(const QString& message) {
    return QVariantMap{{kScriptErrorNumber, qint64(-1708)}, {kScriptErrorMessage, message}};
}

// The value of the script string literal that makes up all of `line` between `prefix` and `suffix`: a
// backslash stands before each backslash and double quote of the value, and before nothing else.
std::optional<QString> literalBetween(QStringView line, QLatin1String prefix, QLatin1String suffix) {
    if (line.size() < prefix.size() + suffix.size() || !line.startsWith(prefix) || !line.endsWith(suffix))
        return std::nullopt;
    const QStringView written = line.sliced(prefix.size(), line.size() - prefix.size() - suffix.size());
    QString value;
    value.reserve(written.size());
    for (qsizetype i = 0; i < written.size(); ++i) {
        QChar c = written[i];
        if (c == QLatin1Char('"'))
            return std::nullopt;
        if (c == QLatin1Char('\\')) {
            if (i + 1 == written.size() ||
                (written[i + 1] != QLatin1Char('\\') && written[i + 1] != QLatin1Char('"')))
                return std::nullopt;
            c = written[++i];
        }
        value.append(c);
    }
    return value;
}

class FailingScript final : public Script {
public:
    explicit FailingScript(QString message)
        : message_(std::move(message)) {}
    std::optional<QVariantMap> execute() override { return scriptError(message_); }

private:
    QString message_;
};

class PrivateWindowScript final : public Script {
public:
    explicit PrivateWindowScript(PrivateWindowRequest request)
        : request_(std::move(request)) {}

    std::optional<QVariantMap> execute() override {
        // The link is handed to the browser as an argument: it must read as a link, never as a switch.
        if (!parseLink(request_.link))
            return scriptError(QStringLiteral("“%1” is no link to hand to a browser").arg(request_.link));
        const std::optional<QString> path = workspace().urlForApplication(request_.bundleID);
        if (!path)
            return scriptError(QStringLiteral("no application %1 is installed").arg(request_.bundleID));
        const QFileInfo file(*path);
        const std::optional<DesktopEntry> entry = file.suffix() == QLatin1String("desktop")
                                                      ? readDesktopEntry(*path, file.completeBaseName())
                                                      : std::nullopt;
        const std::optional<QStringList> command =
            entry ? privateWindowCommand(*entry, request_.link) : std::nullopt;
        if (!command)
            return scriptError(
                QStringLiteral("%1 opens no private window from the desktop").arg(request_.bundleID));
        QString failure;
        if (!startDetached(command->first(), command->mid(1), launchEnvironment(request_.bundleID),
                           file.completeBaseName(), failure))
            return scriptError(QStringLiteral("could not start %1: %2").arg(command->first(), failure));
        return std::nullopt;
    }

private:
    PrivateWindowRequest request_;
};

} // namespace

std::optional<PrivateWindowRequest> privateWindowRequest(const QString& source) {
    const QStringList lines = source.split(QLatin1Char('\n'));
    if (lines.size() < 3 || lines.last() != QLatin1String("end tell"))
        return std::nullopt;
    const std::optional<QString> bundleID =
        literalBetween(lines.first(), QLatin1String("tell application id \""), QLatin1String("\""));
    bool makesPrivateWindow = false;
    std::optional<QString> windowLink;
    std::optional<QString> tabLink;
    for (const QString& line : lines) {
        const QStringView statement = QStringView(line).trimmed();
        if (statement ==
            QLatin1String("set privateWindow to make new window with properties {mode:\"incognito\"}"))
            makesPrivateWindow = true;
        else if (auto link =
                     literalBetween(statement, QLatin1String("set URL of active tab of privateWindow to \""),
                                    QLatin1String("\"")))
            windowLink = link;
        else if (auto link = literalBetween(
                     statement, QLatin1String("make new tab at end of tabs with properties {URL:\""),
                     QLatin1String("\"}")))
            tabLink = link;
    }
    if (!bundleID || bundleID->isEmpty() || !makesPrivateWindow || !windowLink || windowLink != tabLink)
        return std::nullopt;
    return PrivateWindowRequest{*bundleID, *windowLink};
}

std::unique_ptr<Script> DesktopScriptRunner::compile(const QString& source) {
    if (auto request = privateWindowRequest(source))
        return std::make_unique<PrivateWindowScript>(std::move(*request));
    return std::make_unique<FailingScript>(
        QStringLiteral("browser scripting is not available on this machine"));
}

} // namespace host
