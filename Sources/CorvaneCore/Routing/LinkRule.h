#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <QUuid>
#include <array>
#include <cstddef>
#include <functional>
#include <optional>
#include <vector>

// The routing configuration that the creator app edits and the helper applies: the content of "rules.json".
// All types are plain values; decoding (`fromJson`) throws JSONDecodingError (CorvaneCore/Paths.h) and
// encoding never fails.

// Where a link goes: a generated proxy app, or an installed browser (optionally in a private window).
class RouteTarget {
public:
    enum class Kind { proxyApp, browser };

    static RouteTarget proxyApp(QString bundleID) {
        return RouteTarget(Kind::proxyApp, std::move(bundleID), false);
    }
    static RouteTarget browser(QString bundleID, bool isPrivate = false) {
        return RouteTarget(Kind::browser, std::move(bundleID), isPrivate);
    }

    Kind kind() const { return kind_; }
    const QString& bundleID() const { return bundleID_; }
    bool isProxyApp() const { return kind_ == Kind::proxyApp; }
    // Only a browser target can be private; a proxy app never is.
    bool isPrivate() const { return isPrivate_; }

    // {"kind", "bundleID"} plus "isPrivate": true for a private browser target only.
    QJsonObject toJson() const;
    static RouteTarget fromJson(const QJsonValue& json);

    bool operator==(const RouteTarget&) const = default;

private:
    RouteTarget(Kind kind, QString bundleID, bool isPrivate)
        : kind_(kind)
        , bundleID_(std::move(bundleID))
        , isPrivate_(kind == Kind::browser && isPrivate) {}

    Kind kind_;
    QString bundleID_;
    bool isPrivate_;
};

// Whether a rule needs one or all of its conditions.
enum class MatchMode { any, all };

struct Condition {
    // What a condition looks at: the link's address or file path, or the application that sent it.
    enum class Kind { addresses, apps };

    Kind kind = Kind::addresses;
    // As the user typed them: untrimmed, in the user's order.
    QStringList values = {};

    // Each value trimmed of leading and trailing spaces and tabs, blanks dropped; only these ever match or
    // count.
    QStringList usableValues() const;
    bool isEmpty() const;
    // "2 addresses", "1 source app", "0 addresses".
    QString summary() const;
    // The usable values, one per line.
    QString text() const;
    // Splits a text at every line break, trims each line and drops blank ones (the inverse of `text`). Named
    // apart from the `values` field, which a static member of that name would clash with.
    static QStringList valuesFromText(const QString& text);

    QJsonObject toJson() const;
    // Reads the current form {"kind", "values"} and the older {"field", "patterns", "pattern"}.
    static Condition fromJson(const QJsonValue& json);

    bool operator==(const Condition&) const = default;
};

struct LinkRule {
    QUuid id = QUuid::createUuid();
    QString name = QStringLiteral("Rule");
    RouteTarget target;
    bool isEnabled = true;
    MatchMode match = MatchMode::any;
    std::vector<Condition> conditions = {};

    // The conditions that have at least one usable value, as stored.
    std::vector<Condition> usableConditions() const;
    // A rule without a usable condition never matches any link.
    bool matchesNothing() const;
    // "No conditions", one condition's summary, or the summaries joined by " or " / " and ".
    QString conditionSummary() const;

    // The id is written in its upper-case hyphenated form and read in either case.
    QJsonObject toJson() const;
    // Only "target" is required; adjacent conditions of the same kind are merged into one.
    static LinkRule fromJson(const QJsonValue& json);

    bool operator==(const LinkRule&) const = default;
};

struct RuleSet {
    qint64 version = 1;
    // In priority order: the first enabled rule that matches wins.
    std::vector<LinkRule> rules = {};
    // None means the automatic last-resort browser.
    std::optional<RouteTarget> fallback = {};
    // For links to local files that no rule took; tried before the fallback.
    std::optional<RouteTarget> localFileTarget = {};
    bool recordsHistory = true;
    // Per browser bundle identifier: whether it is offered as a target.
    QMap<QString, bool> browserChoices = {};
    bool handlesHTMLFiles = false;
    // Applications the user added by hand as browsers.
    QStringList additionalBrowserIDs = {};

    int enabledRuleCount() const;
    // "No rules yet", "3 rules enabled, first match wins", "1 of 3 rules enabled, first match wins".
    QString summary() const;

    // "fallback" and "localFileTarget" are left out when none; every other key is always written.
    QJsonObject toJson() const;
    // Every key is optional; any error anywhere makes the whole document unreadable.
    static RuleSet fromJson(const QJsonValue& json);

    bool operator==(const RuleSet&) const = default;
};

// Raw values (the JSON texts) and display texts of the enumerations.
QString toString(RouteTarget::Kind kind);
std::optional<RouteTarget::Kind> routeTargetKindFromString(const QString& text);
QString toString(MatchMode mode);
std::optional<MatchMode> matchModeFromString(const QString& text);
QString toString(Condition::Kind kind);
std::optional<Condition::Kind> conditionKindFromString(const QString& text);

// "Any Condition", "All Conditions".
QString title(MatchMode mode);
// "Addresses", "Source Apps".
QString title(Condition::Kind kind);
// "address"/"addresses", "source app"/"source apps": the singular for a count of 1 only.
QString noun(Condition::Kind kind, qsizetype count);

// A value as the rules use it: without the spaces of every kind and the tabs at either end, never line
// breaks. The editor, the decoder and the router all trim this one way.
namespace RuleValue {
QStringView trimmedSlowly(QStringView value);
// Inline because the router trims each pattern of each rule for every link, and most values begin and end
// with a visible ASCII character: nothing to trim.
inline QStringView trimmed(QStringView value) {
    if (!value.isEmpty() && value.front().unicode() - 0x21u < 0x5Fu && value.back().unicode() - 0x21u < 0x5Fu)
        return value;
    return trimmedSlowly(value);
}
} // namespace RuleValue

// The cases of an enumeration in their declared order: allCases<MatchMode>(), allCases<Condition::Kind>().
template <typename E> constexpr auto allCases();
template <> constexpr auto allCases<MatchMode>() {
    return std::array{MatchMode::any, MatchMode::all};
}
template <> constexpr auto allCases<Condition::Kind>() {
    return std::array{Condition::Kind::addresses, Condition::Kind::apps};
}

size_t qHash(const RouteTarget& target, size_t seed = 0) noexcept;
size_t qHash(const Condition& condition, size_t seed = 0) noexcept;
size_t qHash(const LinkRule& rule, size_t seed = 0) noexcept;
size_t qHash(const RuleSet& set, size_t seed = 0) noexcept;

template <> struct std::hash<RouteTarget> {
    size_t operator()(const RouteTarget& value) const noexcept { return qHash(value); }
};
template <> struct std::hash<Condition> {
    size_t operator()(const Condition& value) const noexcept { return qHash(value); }
};
template <> struct std::hash<LinkRule> {
    size_t operator()(const LinkRule& value) const noexcept { return qHash(value); }
};
template <> struct std::hash<RuleSet> {
    size_t operator()(const RuleSet& value) const noexcept { return qHash(value); }
};
