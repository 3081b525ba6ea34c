#pragma once

#include "CorvaneCore/Routing/LinkRule.h"
#include "CorvaneHost/AppleEvent.h"
#include "CorvaneHost/Workspace.h"

#include <QString>
#include <QUrl>
#include <functional>
#include <memory>
#include <optional>

class RuleStore;
class RecentLinksStore;

// The helper's front end for every link that reaches it: takes the URL-opening event, finds the application
// that sent the link, asks the router for a decision by the user's rules, opens the link with the first
// candidate that is installed (the rule's target, the local-file target for files, the fallback, the
// last-resort browser), retries with the last resort when that open fails, and records the link when the
// history switch is on. Main thread; own it through a std::shared_ptr (open completions hold it weakly).
class LinkHandler : public std::enable_shared_from_this<LinkHandler> {
public:
    LinkHandler();
    LinkHandler(RuleStore& rules, RecentLinksStore& history);

    // Called after each link is recorded.
    std::function<void()> onHistoryRecorded;

    // Takes the URL-opening event of the application from now on.
    void install();

    // The application that sent an event: the sender process when it is an application other than the
    // helper, else the frontmost application unless that is the helper; none otherwise.
    static std::optional<host::RunningApplication> sender(const host::AppleEvent& event);

    // Routes one link; `source` is the application that sent it, when known.
    void route(const QUrl& url, const std::optional<host::RunningApplication>& source);
    // The same for a link that arrived as text: the log lines, the record and the rules' host test see it as
    // written there.
    void route(const QUrl& url, const QString& written,
               const std::optional<host::RunningApplication>& source);

    // The text of a link in the log lines and records.
    static QString absoluteString(const QUrl& url);

private:
    void handleGetURL(const host::AppleEvent& event);
    void openAsLastResort(const QUrl& url, const QString& written, const RuleSet& set,
                          const QString& avoiding);

    RuleStore& rules_;
    RecentLinksStore& history_;
};
