#include "CorvaneHelper/Shell/PrivateWindowOpener.h"

#include "CorvaneHost/ScriptRunner.h"
#include "CorvaneHost/Services.h"

namespace PrivateWindowOpener {

Failure::Failure(Code code, QString message)
    : host::Error(code == Code::notPermitted ? QStringLiteral("notPermitted")
                                             : QStringLiteral("scriptFailed(\"%1\")").arg(message))
    , code_(code)
    , message_(std::move(message)) {}

Failure Failure::scriptFailed(const QString& message) {
    return Failure(Code::scriptFailed, message);
}

Failure Failure::notPermitted() {
    return Failure(Code::notPermitted, QString());
}

QString escaped(const QString& value) {
    QString result = value;
    result.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    result.replace(QLatin1Char('"'), QStringLiteral("\\\""));
    return result;
}

QString source(const QString& link, const QString& bundleID) {
    const QString id = escaped(bundleID);
    const QString url = escaped(link);
    return QStringLiteral("tell application id \"") + id +
           QStringLiteral(
               "\"\n"
               "    activate\n"
               "    set privateWindow to missing value\n"
               "    repeat with w in windows\n"
               "        if mode of w is \"incognito\" then\n"
               "            set privateWindow to w\n"
               "            exit repeat\n"
               "        end if\n"
               "    end repeat\n"
               "    if privateWindow is missing value then\n"
               "        set privateWindow to make new window with properties {mode:\"incognito\"}\n"
               "        set URL of active tab of privateWindow to \"") +
           url +
           QStringLiteral("\"\n"
                          "    else\n"
                          "        tell privateWindow\n"
                          "            make new tab at end of tabs with properties {URL:\"") +
           url +
           QStringLiteral("\"}\n"
                          "        end tell\n"
                          "        set index of privateWindow to 1\n"
                          "    end if\n"
                          "end tell");
}

void open(const QString& link, const QString& bundleID) {
    auto script = host::scriptRunner().compile(source(link, bundleID));
    // A script that cannot be made has opened nothing: say so, so the caller opens the link normally rather
    // than losing it.
    if (!script)
        throw Failure::scriptFailed(QStringLiteral("the script could not be compiled"));
    const std::optional<QVariantMap> error = script->execute();
    if (!error)
        return;
    const QVariant number = error->value(host::kScriptErrorNumber);
    if (number.isValid() && number.toLongLong() == kNotPermittedErrorNumber)
        throw Failure::notPermitted();
    const QVariant message = error->value(host::kScriptErrorMessage);
    if (message.typeId() == QMetaType::QString)
        throw Failure::scriptFailed(message.toString());
    throw Failure::scriptFailed(QStringLiteral("unknown error"));
}

} // namespace PrivateWindowOpener
