#include "CorvaneCore/Routing/LinkRule.h"

#include "CorvaneCore/Foundation/JSONFields.h"
#include "CorvaneCore/Foundation/Paths.h"

#include <QHashFunctions>
#include <QJsonArray>

namespace {

// Trimming everywhere in the rules: spaces of every kind and the tab, never line breaks.
bool isTrimmedCharacter(QChar c) {
    return c == QLatin1Char('\t') || c == QLatin1Char(' ') ||
           (c.unicode() > 0x7f && c.category() == QChar::Separator_Space);
}

bool isLineBreak(QChar c) {
    switch (c.unicode()) {
    case 0x000A:
    case 0x000B:
    case 0x000C:
    case 0x000D:
    case 0x0085:
    case 0x2028:
    case 0x2029:
        return true;
    default:
        return false;
    }
}

// --- Decoding: strict about types, lenient about missing keys where the format allows it ---

using JSONFields::failFormat;
using JSONFields::isAbsent;
using JSONFields::optionalArray;
using JSONFields::optionalBool;
using JSONFields::optionalInteger;
using JSONFields::optionalString;
using JSONFields::uuidFromString;
using JSONFields::uuidText;

QJsonObject objectOf(const QJsonValue& json, const char* what) {
    return JSONFields::objectOf(json,
                                QStringLiteral("Expected %1 to be an object.").arg(QLatin1String(what)));
}

QString requiredString(const QJsonObject& object, const QString& key) {
    if (isAbsent(object, key))
        failFormat(QStringLiteral("No value for key \"%1\".").arg(key));
    return *optionalString(object, key);
}

QStringList stringsOf(const QJsonValue& value, const QString& key) {
    if (!value.isArray())
        failFormat(QStringLiteral("Expected an array of strings for key \"%1\".").arg(key));
    QStringList strings;
    const QJsonArray array = value.toArray();
    strings.reserve(array.size());
    for (const QJsonValue& element : array) {
        if (!element.isString())
            failFormat(QStringLiteral("Expected only strings in \"%1\".").arg(key));
        strings.append(element.toString());
    }
    return strings;
}

std::optional<QStringList> optionalStrings(const QJsonObject& object, const QString& key) {
    if (isAbsent(object, key))
        return std::nullopt;
    return stringsOf(object.value(key), key);
}

std::optional<RouteTarget> optionalTarget(const QJsonObject& object, const QString& key) {
    if (isAbsent(object, key))
        return std::nullopt;
    return RouteTarget::fromJson(object.value(key));
}

QJsonArray toJsonArray(const QStringList& strings) {
    QJsonArray array;
    for (const QString& string : strings)
        array.append(string);
    return array;
}

} // namespace

QStringView RuleValue::trimmedSlowly(QStringView value) {
    qsizetype begin = 0;
    qsizetype end = value.size();
    while (begin < end && isTrimmedCharacter(value[begin]))
        ++begin;
    while (end > begin && isTrimmedCharacter(value[end - 1]))
        --end;
    return value.sliced(begin, end - begin);
}

// --- Enumerations ---

QString toString(RouteTarget::Kind kind) {
    return kind == RouteTarget::Kind::proxyApp ? QStringLiteral("proxyApp") : QStringLiteral("browser");
}

std::optional<RouteTarget::Kind> routeTargetKindFromString(const QString& text) {
    if (text == QLatin1String("proxyApp"))
        return RouteTarget::Kind::proxyApp;
    if (text == QLatin1String("browser"))
        return RouteTarget::Kind::browser;
    return std::nullopt;
}

QString toString(MatchMode mode) {
    return mode == MatchMode::any ? QStringLiteral("any") : QStringLiteral("all");
}

std::optional<MatchMode> matchModeFromString(const QString& text) {
    if (text == QLatin1String("any"))
        return MatchMode::any;
    if (text == QLatin1String("all"))
        return MatchMode::all;
    return std::nullopt;
}

QString toString(Condition::Kind kind) {
    return kind == Condition::Kind::addresses ? QStringLiteral("addresses") : QStringLiteral("apps");
}

std::optional<Condition::Kind> conditionKindFromString(const QString& text) {
    if (text == QLatin1String("addresses"))
        return Condition::Kind::addresses;
    if (text == QLatin1String("apps"))
        return Condition::Kind::apps;
    return std::nullopt;
}

QString title(MatchMode mode) {
    return mode == MatchMode::any ? QStringLiteral("Any Condition") : QStringLiteral("All Conditions");
}

QString title(Condition::Kind kind) {
    return kind == Condition::Kind::addresses ? QStringLiteral("Addresses") : QStringLiteral("Source Apps");
}

QString noun(Condition::Kind kind, qsizetype count) {
    if (kind == Condition::Kind::addresses)
        return count == 1 ? QStringLiteral("address") : QStringLiteral("addresses");
    return count == 1 ? QStringLiteral("source app") : QStringLiteral("source apps");
}

// --- RouteTarget ---

QJsonObject RouteTarget::toJson() const {
    QJsonObject object{{QStringLiteral("kind"), toString(kind_)}, {QStringLiteral("bundleID"), bundleID_}};
    if (isPrivate())
        object.insert(QStringLiteral("isPrivate"), true);
    return object;
}

RouteTarget RouteTarget::fromJson(const QJsonValue& json) {
    const QJsonObject object = objectOf(json, "a route target");
    const QString bundleID = requiredString(object, QStringLiteral("bundleID"));
    const QString kindText = requiredString(object, QStringLiteral("kind"));
    const auto kind = routeTargetKindFromString(kindText);
    if (!kind)
        failFormat(QStringLiteral("Unknown target kind \"%1\".").arg(kindText));
    if (*kind == Kind::proxyApp)
        return proxyApp(bundleID);
    return browser(bundleID, optionalBool(object, QStringLiteral("isPrivate")).value_or(false));
}

// --- Condition ---

QStringList Condition::usableValues() const {
    QStringList usable;
    for (const QString& value : values) {
        const QStringView trimmed = RuleValue::trimmed(value);
        if (!trimmed.isEmpty())
            usable.append(trimmed.toString());
    }
    return usable;
}

bool Condition::isEmpty() const {
    for (const QString& value : values) {
        if (!RuleValue::trimmed(value).isEmpty())
            return false;
    }
    return true;
}

QString Condition::summary() const {
    const qsizetype count = usableValues().size();
    return QString::number(count) + QLatin1Char(' ') + noun(kind, count);
}

QString Condition::text() const {
    return usableValues().join(QLatin1Char('\n'));
}

QStringList Condition::valuesFromText(const QString& text) {
    QStringList result;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i < text.size() && !isLineBreak(text[i]))
            continue;
        const QStringView line = RuleValue::trimmed(QStringView(text).sliced(start, i - start));
        if (!line.isEmpty())
            result.append(line.toString());
        start = i + 1;
    }
    return result;
}

QJsonObject Condition::toJson() const {
    return QJsonObject{{QStringLiteral("kind"), toString(kind)},
                       {QStringLiteral("values"), toJsonArray(values)}};
}

Condition Condition::fromJson(const QJsonValue& json) {
    const QJsonObject object = objectOf(json, "a condition");
    if (const auto kindText = optionalString(object, QStringLiteral("kind"))) {
        const auto kind = conditionKindFromString(*kindText);
        if (!kind)
            failFormat(QStringLiteral("Unknown condition kind \"%1\".").arg(*kindText));
        return Condition{*kind, optionalStrings(object, QStringLiteral("values")).value_or(QStringList{})};
    }
    // The older form: a field name, a list of patterns and a single pattern.
    const QString field = optionalString(object, QStringLiteral("field")).value_or(QStringLiteral("host"));
    QStringList values = optionalStrings(object, QStringLiteral("patterns")).value_or(QStringList{});
    if (const auto pattern = optionalString(object, QStringLiteral("pattern"));
        pattern && !pattern->isEmpty())
        values.append(*pattern);
    return Condition{field == QLatin1String("fromApp") ? Kind::apps : Kind::addresses, values};
}

// --- LinkRule ---

std::vector<Condition> LinkRule::usableConditions() const {
    std::vector<Condition> usable;
    for (const Condition& condition : conditions) {
        if (!condition.isEmpty())
            usable.push_back(condition);
    }
    return usable;
}

bool LinkRule::matchesNothing() const {
    for (const Condition& condition : conditions) {
        if (!condition.isEmpty())
            return false;
    }
    return true;
}

QString LinkRule::conditionSummary() const {
    const std::vector<Condition> usable = usableConditions();
    if (usable.empty())
        return QStringLiteral("No conditions");
    QStringList summaries;
    for (const Condition& condition : usable)
        summaries.append(condition.summary());
    return summaries.join(match == MatchMode::any ? QStringLiteral(" or ") : QStringLiteral(" and "));
}

QJsonObject LinkRule::toJson() const {
    QJsonArray conditionArray;
    for (const Condition& condition : conditions)
        conditionArray.append(condition.toJson());
    return QJsonObject{
        {QStringLiteral("id"), uuidText(id)},        {QStringLiteral("name"), name},
        {QStringLiteral("target"), target.toJson()}, {QStringLiteral("isEnabled"), isEnabled},
        {QStringLiteral("match"), toString(match)},  {QStringLiteral("conditions"), conditionArray},
    };
}

LinkRule LinkRule::fromJson(const QJsonValue& json) {
    const QJsonObject object = objectOf(json, "a rule");
    if (isAbsent(object, QStringLiteral("target")))
        failFormat(QStringLiteral("No value for key \"target\"."));

    QUuid id;
    if (const auto idText = optionalString(object, QStringLiteral("id"))) {
        const auto parsed = uuidFromString(*idText);
        if (!parsed)
            failFormat(QStringLiteral("Attempted to decode a UUID from invalid string \"%1\".").arg(*idText));
        id = *parsed;
    } else {
        id = QUuid::createUuid();
    }
    const QString name = optionalString(object, QStringLiteral("name")).value_or(QStringLiteral("Rule"));
    const RouteTarget target = RouteTarget::fromJson(object.value(QStringLiteral("target")));
    const bool isEnabled = optionalBool(object, QStringLiteral("isEnabled")).value_or(true);
    MatchMode match = MatchMode::any;
    if (const auto matchText = optionalString(object, QStringLiteral("match"))) {
        const auto mode = matchModeFromString(*matchText);
        if (!mode)
            failFormat(QStringLiteral("Unknown match mode \"%1\".").arg(*matchText));
        match = *mode;
    }

    // Adjacent conditions of one kind become one, so a rule saved by an older version reads as the editor
    // shows it; non-adjacent ones stay apart, and nothing is dropped or de-duplicated.
    std::vector<Condition> conditions;
    for (const QJsonValue& element :
         optionalArray(object, QStringLiteral("conditions")).value_or(QJsonArray{})) {
        Condition condition = Condition::fromJson(element);
        if (!conditions.empty() && conditions.back().kind == condition.kind)
            conditions.back().values.append(condition.values);
        else
            conditions.push_back(std::move(condition));
    }

    return LinkRule{id, name, target, isEnabled, match, std::move(conditions)};
}

// --- RuleSet ---

int RuleSet::enabledRuleCount() const {
    int count = 0;
    for (const LinkRule& rule : rules) {
        if (rule.isEnabled)
            ++count;
    }
    return count;
}

QString RuleSet::summary() const {
    const auto n = static_cast<qsizetype>(rules.size());
    const int k = enabledRuleCount();
    if (n == 0)
        return QStringLiteral("No rules yet");
    if (k == n)
        return QString::number(n) + QStringLiteral(" rule") + (n == 1 ? QString() : QStringLiteral("s")) +
               QStringLiteral(" enabled, first match wins");
    return QStringLiteral("%1 of %2 rules enabled, first match wins").arg(k).arg(n);
}

QJsonObject RuleSet::toJson() const {
    QJsonArray ruleArray;
    for (const LinkRule& rule : rules)
        ruleArray.append(rule.toJson());
    QJsonObject choices;
    for (auto it = browserChoices.cbegin(); it != browserChoices.cend(); ++it)
        choices.insert(it.key(), it.value());

    QJsonObject object{
        {QStringLiteral("version"), version},
        {QStringLiteral("rules"), ruleArray},
        {QStringLiteral("recordsHistory"), recordsHistory},
        {QStringLiteral("browserChoices"), choices},
        {QStringLiteral("handlesHTMLFiles"), handlesHTMLFiles},
        {QStringLiteral("additionalBrowserIDs"), toJsonArray(additionalBrowserIDs)},
    };
    if (fallback)
        object.insert(QStringLiteral("fallback"), fallback->toJson());
    if (localFileTarget)
        object.insert(QStringLiteral("localFileTarget"), localFileTarget->toJson());
    return object;
}

RuleSet RuleSet::fromJson(const QJsonValue& json) {
    const QJsonObject object = objectOf(json, "a rule set");
    RuleSet set;
    set.version = optionalInteger(object, QStringLiteral("version")).value_or(1);
    for (const QJsonValue& element : optionalArray(object, QStringLiteral("rules")).value_or(QJsonArray{}))
        set.rules.push_back(LinkRule::fromJson(element));
    set.fallback = optionalTarget(object, QStringLiteral("fallback"));
    set.localFileTarget = optionalTarget(object, QStringLiteral("localFileTarget"));
    set.recordsHistory = optionalBool(object, QStringLiteral("recordsHistory")).value_or(true);
    if (!isAbsent(object, QStringLiteral("browserChoices"))) {
        const QJsonValue choices = object.value(QStringLiteral("browserChoices"));
        if (!choices.isObject())
            failFormat(QStringLiteral("Expected an object for key \"browserChoices\"."));
        const QJsonObject choiceObject = choices.toObject();
        for (auto it = choiceObject.begin(); it != choiceObject.end(); ++it) {
            if (!it.value().isBool())
                failFormat(QStringLiteral("Expected a Boolean for browser choice \"%1\".").arg(it.key()));
            set.browserChoices.insert(it.key(), it.value().toBool());
        }
    }
    set.handlesHTMLFiles = optionalBool(object, QStringLiteral("handlesHTMLFiles")).value_or(false);
    set.additionalBrowserIDs =
        optionalStrings(object, QStringLiteral("additionalBrowserIDs")).value_or(QStringList{});
    return set;
}

// --- Hashing over every field ---

size_t qHash(const RouteTarget& target, size_t seed) noexcept {
    return qHashMulti(seed, static_cast<int>(target.kind()), target.bundleID(), target.isPrivate());
}

size_t qHash(const Condition& condition, size_t seed) noexcept {
    return qHashMulti(seed, static_cast<int>(condition.kind), condition.values);
}

size_t qHash(const LinkRule& rule, size_t seed) noexcept {
    seed = qHashMulti(seed, rule.id, rule.name, rule.target, rule.isEnabled, static_cast<int>(rule.match));
    for (const Condition& condition : rule.conditions)
        seed = QtPrivate::QHashCombine{}(seed, qHash(condition));
    return seed;
}

size_t qHash(const RuleSet& set, size_t seed) noexcept {
    seed = qHashMulti(seed, set.version, set.recordsHistory, set.handlesHTMLFiles, set.additionalBrowserIDs);
    for (const LinkRule& rule : set.rules)
        seed = QtPrivate::QHashCombine{}(seed, qHash(rule));
    for (const std::optional<RouteTarget>* target : {&set.fallback, &set.localFileTarget})
        seed = QtPrivate::QHashCombine{}(seed, *target ? qHash(**target) : size_t(0x9e37));
    for (auto it = set.browserChoices.cbegin(); it != set.browserChoices.cend(); ++it)
        seed = qHashMulti(seed, it.key(), it.value());
    return seed;
}
