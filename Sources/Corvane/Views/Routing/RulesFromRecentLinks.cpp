#include "Corvane/Views/Routing/RulesFromRecentLinks.h"

#include "Corvane/Models/AppModel.h"
#include "Corvane/Models/RoutingModel.h"
#include "CorvaneHost/LinkText.h"

#include <algorithm>

RulesFromRecentLinks::RulesFromRecentLinks(AppModel& model, RoutingModel& routing,
                                           std::function<void(const LinkRule&)> edit)
    : model_(model)
    , routing_(routing)
    , edit_(std::move(edit)) {}

std::optional<QString> RulesFromRecentLinks::host(const QString& url) {
    const std::optional<QUrl> parsed = host::parseLink(url);
    if (!parsed)
        return std::nullopt;
    // As written rather than as parsed: the router compares a rule's value with the host the link's text
    // carries, and a parsed host has its escapes decoded.
    std::optional<QString> written = host::writtenHost(url);
    if (!written)
        written = parsed->host(QUrl::FullyEncoded);
    if (written->startsWith(QLatin1Char('[')) && written->endsWith(QLatin1Char(']')))
        written = written->mid(1, written->size() - 2);
    if (written->isEmpty())
        return std::nullopt;
    return written;
}

std::vector<MenuEntry> RulesFromRecentLinks::ruleActions(const RecentLink& link) {
    std::vector<MenuEntry> entries;
    if (const std::optional<LinkRule> rule = matchedRule(link)) {
        MenuEntry edit{.title = QStringLiteral("Edit “") + rule->name + QStringLiteral("”…")};
        edit.action = [this, rule = *rule] {
            if (edit_)
                edit_(rule);
        };
        entries.push_back(edit);
        entries.push_back(MenuEntry::divider());
    }
    MenuEntry create{.title = QStringLiteral("New Rule from This Link…")};
    create.action = [this, link] { newRule(link); };
    entries.push_back(create);

    const std::vector<LinkRule>& rules = routing_.ruleSet().rules;
    if (!rules.empty()) {
        MenuEntry addTo{.title = QStringLiteral("Add to Rule")};
        for (const LinkRule& rule : rules) {
            MenuEntry item{.title = rule.name};
            item.action = [this, link, rule] { add(link, rule); };
            addTo.children.push_back(item);
        }
        entries.push_back(addTo);
    }
    return entries;
}

std::optional<LinkRule> RulesFromRecentLinks::matchedRule(const RecentLink& link) const {
    if (!link.ruleID)
        return std::nullopt;
    const std::vector<LinkRule>& rules = routing_.ruleSet().rules;
    const auto found = std::find_if(rules.begin(), rules.end(),
                                    [&](const LinkRule& rule) { return rule.id == *link.ruleID; });
    if (found == rules.end())
        return std::nullopt;
    return *found;
}

RouteTarget RulesFromRecentLinks::targetFor(const QString& bundleID) const {
    const std::vector<RegisteredApp>& apps = model_.apps();
    const bool isProxyApp = std::any_of(apps.begin(), apps.end(),
                                        [&](const RegisteredApp& app) { return app.bundleID == bundleID; });
    return isProxyApp ? RouteTarget::proxyApp(bundleID) : RouteTarget::browser(bundleID, false);
}

void RulesFromRecentLinks::newRule(const RecentLink& link) {
    const std::optional<QString> linkHost = host(link.url);
    if (!linkHost)
        return;
    std::optional<RouteTarget> target;
    if (link.targetBundleID)
        target = targetFor(*link.targetBundleID);
    else if (!model_.apps().empty())
        target = RouteTarget::proxyApp(model_.apps().front().bundleID);
    if (!target) {
        routing_.setErrorMessage(QStringLiteral("Create a proxy app first, or install another browser."));
        return;
    }
    const LinkRule rule{QUuid::createUuid(),
                        *linkHost,
                        *target,
                        true,
                        MatchMode::any,
                        {Condition{Condition::Kind::addresses, {*linkHost}}}};
    RuleSet changed = routing_.ruleSet();
    changed.rules.push_back(rule);
    routing_.setRuleSet(std::move(changed));
    routing_.save();
    if (edit_)
        edit_(rule);
}

void RulesFromRecentLinks::add(const RecentLink& link, const LinkRule& chosen) {
    const std::optional<QString> linkHost = host(link.url);
    if (!linkHost)
        return;
    // The rule as it stands now: the file may have been rewritten since the menu was built, and a copy from
    // then would undo those edits. A rule removed meanwhile gets nothing, so no success is reported.
    const std::vector<LinkRule>& rules = routing_.ruleSet().rules;
    const auto current =
        std::find_if(rules.begin(), rules.end(), [&](const LinkRule& rule) { return rule.id == chosen.id; });
    if (current == rules.end())
        return;
    const LinkRule rule = *current;
    for (const Condition& condition : rule.conditions) {
        if (condition.kind != Condition::Kind::addresses)
            continue;
        for (const QString& value : condition.usableValues()) {
            if (value.compare(*linkHost, Qt::CaseInsensitive) == 0) {
                routing_.setStatusMessage(QStringLiteral("“") + rule.name +
                                          QStringLiteral("” already covers ") + *linkHost +
                                          QStringLiteral("."));
                return;
            }
        }
    }
    LinkRule changed = rule;
    const auto addresses =
        std::find_if(changed.conditions.begin(), changed.conditions.end(),
                     [](const Condition& c) { return c.kind == Condition::Kind::addresses; });
    if (addresses != changed.conditions.end())
        addresses->values.append(*linkHost);
    else
        changed.conditions.push_back(Condition{Condition::Kind::addresses, {*linkHost}});
    routing_.update(changed);
    routing_.setStatusMessage(QStringLiteral("Added ") + *linkHost + QStringLiteral(" to “") + rule.name +
                              QStringLiteral("”."));
}
