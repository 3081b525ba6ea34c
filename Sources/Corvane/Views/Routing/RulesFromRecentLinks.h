#pragma once

#include "Corvane/Views/Kit/MenuEntries.h"
#include "CorvaneCore/Routing/LinkRule.h"
#include "CorvaneCore/Routing/RecentLinks.h"

#include <functional>
#include <optional>
#include <vector>

class AppModel;
class RoutingModel;

// The rule actions of a recent link: open the rule that routed it, write a new rule for its host, or add
// its host to an existing rule. They change the rules through the routing model (which saves at once) and
// report on its status and error lines; a rule to show in the editor goes to `edit`. Main thread only.
class RulesFromRecentLinks {
public:
    RulesFromRecentLinks(AppModel& model, RoutingModel& routing, std::function<void(const LinkRule&)> edit);

    // The link's host as written (percent-encoded), or none when its text is not a link with a host.
    static std::optional<QString> host(const QString& url);

    // "Edit “name”…" with a divider (only for a rule that still exists), "New Rule from This Link…", and an
    // "Add to Rule" submenu of every rule (only when there are rules). Rebuilt for every menu shown.
    std::vector<MenuEntry> ruleActions(const RecentLink& link);

    std::optional<LinkRule> matchedRule(const RecentLink& link) const;
    RouteTarget targetFor(const QString& bundleID) const;
    void newRule(const RecentLink& link);
    void add(const RecentLink& link, const LinkRule& rule);

private:
    AppModel& model_;
    RoutingModel& routing_;
    std::function<void(const LinkRule&)> edit_;
};
