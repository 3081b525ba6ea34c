// Quitting: with close-on-quit the helper first closes what belongs to this app, and the launcher quits once
// it has answered; a page that asks to confirm leaving cancels the quit.
#include "CorvaneHost/Alerts.h"
#include "CorvaneHost/Application.h"
#include "CorvaneHost/MainQueue.h"
#include "CorvaneHost/Services.h"
#include "CorvaneStub/ChromeLauncher.h"
#include "CorvaneStub/StubAppDelegate.h"

namespace {

// The one late answer to a quit request.
struct QuitReply {
    bool closeAnswered = false;
    bool replied = false;
    bool requestReturned = false;

    void send(bool shouldTerminate) {
        if (replied)
            return;
        replied = true;
        host::application().replyToApplicationShouldTerminate(shouldTerminate);
    }
};

} // namespace

host::TerminateReply StubAppDelegate::applicationShouldTerminate() {
    if (!config.closeOnQuit || isSelfQuitting || !isConnected())
        return host::TerminateReply::terminateNow;
    auto reply = std::make_shared<QuitReply>();
    std::weak_ptr<StubAppDelegate> weakSelf = weak_from_this();
    link->request(
        Request::Op::closeWindows, closeWindowsTimeout,
        [](Request& request) { request.timeout = closeWindowsBudget; },
        [weakSelf, reply](const Response& response) {
            reply->closeAnswered = true;
            if (!reply->requestReturned)
                return; // the link could not send it: answered below as terminate now
            if (reply->replied)
                return; // the safety reply has already let the app quit
            auto self = weakSelf.lock();
            if (!self || !response.blocked.value_or(false)) {
                reply->send(true);
                return;
            }
            ChromeLauncher::activateChrome();
            self->showBlockedAlert([reply] { reply->send(false); });
        });
    reply->requestReturned = true;
    if (reply->closeAnswered)
        return host::TerminateReply::terminateNow;
    host::mainQueue().schedule(
        quitSafetyDelay,
        [reply] {
            if (!reply->closeAnswered)
                reply->send(true);
        },
        false);
    return host::TerminateReply::terminateLater;
}

void StubAppDelegate::showBlockedAlert(std::function<void()> dismissed) {
    host::Alert alert;
    alert.style = host::Alert::Style::informational;
    alert.messageText = QStringLiteral("Chrome is asking you to confirm before leaving a page.");
    alert.informativeText =
        displayName() + QStringLiteral(" did not quit, so you don't lose anything. Answer Chrome's prompt, "
                                       "then quit again.");
    alert.buttons = {QStringLiteral("OK")};
    host::alerts().runModal(alert, [dismissed = std::move(dismissed)](int) { dismissed(); });
}
