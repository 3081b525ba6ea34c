#pragma once

#include "CorvaneCore/Routing/LinkRule.h"

#include <QString>
#include <QStringView>
#include <QUrl>
#include <optional>

// The router's answer: the first enabled rule that matched, and its target; neither when no rule matched.
struct RouteDecision {
    std::optional<LinkRule> rule = {};
    std::optional<RouteTarget> target = {};

    bool isFallback() const { return !rule.has_value(); }
    bool operator==(const RouteDecision&) const = default;
};

size_t qHash(const RouteDecision& decision, size_t seed = 0) noexcept;

template <> struct std::hash<RouteDecision> {
    size_t operator()(const RouteDecision& value) const noexcept { return qHash(value); }
};

// Decides where a link goes. Pure functions (apart from reading the home folder for "~/" patterns); nothing
// is compiled or kept between calls, so an edited rule set applies to the very next link.
namespace LinkRouter {

// Tries the enabled rules in order; the first whose conditions match wins. The source is the bundle
// identifier of the application that sent the link, when known. `written` is the link's text as it arrived:
// its host is compared as written there (a parsed URL has decoded its escapes and lower-cased it); without
// it, the URL's own text.
RouteDecision decide(const QUrl& url, const std::optional<QString>& sourceBundleID, const RuleSet& set,
                     const std::optional<QString>& written = std::nullopt);

// Whether the rule's usable conditions match (one or all of them, by its match mode); its enabled flag is not
// looked at. A rule without a usable condition never matches.
bool matches(const LinkRule& rule, const QUrl& url, const std::optional<QString>& sourceBundleID);
// Whether one condition matches: an apps condition compares the source case-insensitively, an addresses
// condition tries each usable value with matchesAddress.
bool matches(const Condition& condition, const QUrl& url, const std::optional<QString>& sourceBundleID);

// One address or file-path pattern against the link.
bool matchesAddress(const QString& pattern, const QUrl& url);
// The trimmed pattern begins with "/" or "~/".
bool isFilePathPattern(const QString& pattern);
// Lower-cased host as written, then the decoded path, then "?" and the decoded query when there is one; a
// bare "/" path without a query gives the host alone. The fragment never takes part.
QString address(const QUrl& url);
// The canonical path of the standardized file link (/tmp, /var and /etc lie under /private).
QString filePath(const QUrl& url);
// The host test of a host pattern: Glob, and "*.b.c" also takes b.c itself.
bool matchesHost(const QString& pattern, const QString& host);

} // namespace LinkRouter

// Case-insensitive whole-string wildcard match in which only "*" is special (it matches any run of
// characters, "/" included). Compares user-perceived characters, so composed and decomposed letters agree.
namespace Glob {
bool matches(const QString& pattern, const QString& text);
bool matches(QStringView pattern, QStringView text);
} // namespace Glob
