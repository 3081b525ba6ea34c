#include "Support/ChromiumSession.h"

#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneHost/Linux/Files/PrivacyGrants.h"
#include "CorvaneHost/Services.h"

namespace test {
namespace {

using host::AXElement;
using host::AXError;
using host::AXValue;

std::optional<QString> string(const AXElement& element, const QString& attribute) {
    AXValue value;
    if (host::accessibility().copyAttributeValue(element, attribute, value) != AXError::success)
        return std::nullopt;
    if (const auto* text = std::get_if<QString>(&value))
        return *text;
    return std::nullopt;
}

QList<AXElement> windowsOf(const AXElement& application) {
    AXValue value;
    if (host::accessibility().copyAttributeValue(application, QStringLiteral("AXWindows"), value) !=
        AXError::success)
        return {};
    if (const auto* list = std::get_if<QList<AXElement>>(&value))
        return *list;
    return {};
}

} // namespace

QList<AXElement> chromiumWindows(const AXElement& chromium, const QString& profile, bool incognito) {
    QList<AXElement> result;
    for (const AXElement& window : windowsOf(chromium)) {
        if (string(window, QStringLiteral("AXSubrole")) != QStringLiteral("AXStandardWindow"))
            continue;
        const QString title = titleOf(window);
        const bool isIncognito = title.contains(QStringLiteral("Incognito"));
        if (isIncognito == incognito && (isIncognito || title.endsWith(QStringLiteral(" - ") + profile)))
            result.append(window);
    }
    return result;
}

QString titleOf(const AXElement& element) {
    return string(element, QStringLiteral("AXTitle")).value_or(QString());
}

void pressCloseButton(const AXElement& window) {
    AXValue button;
    if (host::accessibility().copyAttributeValue(window, QStringLiteral("AXCloseButton"), button) ==
            AXError::success &&
        std::holds_alternative<AXElement>(button))
        host::accessibility().performAction(std::get<AXElement>(button), QStringLiteral("AXPress"));
}

std::optional<AXElement> focusedWindow(const AXElement& chromium) {
    AXValue value;
    if (host::accessibility().copyAttributeValue(chromium, QStringLiteral("AXFocusedWindow"), value) !=
        AXError::success)
        return std::nullopt;
    if (const auto* window = std::get_if<AXElement>(&value))
        return *window;
    return std::nullopt;
}

ChromiumHelperSession::ChromiumHelperSession(DesktopSession::Options options)
    : desktop_(std::move(options)) {}

ChromiumHelperSession::~ChromiumHelperSession() {
    helper_.stop();
    chromium_ = {};
    host::replaceService(host::services().accessibility, {});
}

bool ChromiumHelperSession::start() {
    if (!desktop_.start()) {
        failure_ = desktop_.failure();
        return false;
    }
    // This process's services talk to the session from here on, and find Chromium through the system's
    // desktop entries, as the helper and the launcher do.
    host::replaceService(host::services().accessibility, {});
    host::replaceService(host::services().windowList, {});
    qputenv("XDG_DATA_DIRS",
            desktop_.programEnvironment().value(QStringLiteral("XDG_DATA_DIRS")).toLocal8Bit());
    if (!desktop_.openWindow(QStringLiteral("Home"))) {
        failure_ = QStringLiteral("Chromium did not start");
        return false;
    }
    chromium_ = host::accessibility().createApplication(desktop_.chromiumPid());
    host::accessibility().setMessagingTimeout(chromium_, 2.0);
    if (!DesktopSession::waitUntil([this] { return !windows(QStringLiteral("Home")).isEmpty(); }, 30)) {
        failure_ = QStringLiteral("Chromium published no window of the profile Home");
        return false;
    }
    host::PrivacyGrants::grant(QStringLiteral("Accessibility"), Corvane::helperBundleID);
    if (!helper_.start(desktop_.programEnvironment())) {
        failure_ = QStringLiteral("the helper did not start");
        return false;
    }
    return true;
}

bool ChromiumHelperSession::openWindow(const QString& profile, bool incognito) {
    const qsizetype before = windows(profile, incognito).size();
    if (incognito ? !desktop_.openIncognitoWindow(profile) : !desktop_.openWindow(profile))
        return false;
    return DesktopSession::waitUntil([&] { return windows(profile, incognito).size() > before; }, generous);
}

bool ChromiumHelperSession::closeWindows(const QString& profile, bool incognito) {
    for (const AXElement& window : windows(profile, incognito))
        pressCloseButton(window);
    return DesktopSession::waitUntil([&] { return windows(profile, incognito).isEmpty(); }, generous);
}

} // namespace test
