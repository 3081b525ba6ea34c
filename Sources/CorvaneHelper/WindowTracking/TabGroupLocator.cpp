#include "CorvaneHelper/WindowTracking/TabGroupLocator.h"

#include "CorvaneHelper/WindowTracking/AX.h"
#include "CorvaneHelper/WindowTracking/WindowProfileSource.h"

#include <QRegularExpression>

namespace TabGroupLocator {

namespace {

const QString descriptionKey = QStringLiteral("AXDescription");
const QString headerClass = QStringLiteral("TabGroupHeader");
const QString tabClass = QStringLiteral("Tab");
const QString labelSeparator = QStringLiteral(" group - ");
constexpr int searchDepth = 10;
constexpr int searchLimit = 2000;

QString withoutLeadingSpaces(const QString& text) {
    qsizetype start = 0;
    while (start < text.size() && text.at(start) == QLatin1Char(' '))
        ++start;
    return text.mid(start);
}

bool hasClass(const host::AXElement& element, const QString& name) {
    return AX::domClasses(element).contains(name);
}

std::optional<host::AXElement> findByClass(const host::AXElement& root, const QString& name) {
    return AX::findDescendant(
        root, searchDepth, searchLimit, AX::skipRoles(),
        [&name](const host::AXElement& element, const QString&) { return hasClass(element, name); });
}

// The description without its first word: "Group Work - 3 tabs" gives "Work - 3 tabs".
std::optional<QString> descriptionBody(const QString& description) {
    const QString rest = withoutLeadingSpaces(description);
    const qsizetype space = rest.indexOf(QLatin1Char(' '));
    if (rest.isEmpty() || space < 0)
        return std::nullopt;
    return rest.mid(space + 1);
}

// Chromium on this desktop names a group's header " group <name> - <n> tabs, \u2022  <title>, \u2022  <title>
// - Expanded" (" - Collapsed" once collapsed; " unnamed group - <n> tabs, ..." for a group without a name):
// the name is followed by the count of the group's tabs, each tab's title after a bullet, and the group's
// state. The name may itself hold " - ", bullets, digits or the word "group", and so may the titles: the name
// ends at the first count that the number of bulleted titles after it confirms.
const QString expandedState = QStringLiteral(" - Expanded");
const QString collapsedState = QStringLiteral(" - Collapsed");
const QString namedPrefix = QStringLiteral("group ");
const QString unnamedPrefix = QStringLiteral("unnamed group - ");
const QString titleBullet = QStringLiteral(", \u2022  ");

struct ListingForm {
    QString name; // empty for a group without a name
    bool collapsed;
};

std::optional<ListingForm> listingForm(const QString& description) {
    const QString text = withoutLeadingSpaces(description);
    const bool collapsed = text.endsWith(collapsedState);
    if (!collapsed && !text.endsWith(expandedState))
        return std::nullopt;
    if (text.startsWith(unnamedPrefix))
        return ListingForm{QString(), collapsed};
    if (!text.startsWith(namedPrefix))
        return std::nullopt;
    const QString listing =
        text.mid(namedPrefix.size()).chopped((collapsed ? collapsedState : expandedState).size());
    static const QRegularExpression count(QStringLiteral(" - (\\d+) tabs?(?=, |$)"));
    std::optional<qsizetype> first;
    for (auto matches = count.globalMatch(listing); matches.hasNext();) {
        const QRegularExpressionMatch match = matches.next();
        if (!first)
            first = match.capturedStart();
        if (listing.mid(match.capturedEnd()).count(titleBullet) == match.captured(1).toLongLong())
            return ListingForm{listing.left(match.capturedStart()), collapsed};
    }
    if (!first)
        return std::nullopt;
    return ListingForm{listing.left(*first), collapsed};
}

struct Header {
    qsizetype index;
    QString description;
    QString body;
};

std::optional<Header> headerAt(const QList<host::AXElement>& items, qsizetype index) {
    if (!hasClass(items.at(index), headerClass))
        return std::nullopt;
    const auto description = AX::string(items.at(index), descriptionKey);
    if (!description)
        return std::nullopt;
    const QString canonical = canonicalName(*description);
    const auto body = descriptionBody(canonical);
    if (!body)
        return std::nullopt;
    return Header{index, canonical, *body};
}

// The group's tabs: the tabs right after its header whose description names the group.
QList<host::AXElement> tabsFollowing(qsizetype headerIndex, const QList<host::AXElement>& items,
                                     const QString& groupName) {
    QList<host::AXElement> run;
    const QString marker = QStringLiteral(" group ") + groupName;
    for (qsizetype index = headerIndex + 1; index < items.size(); ++index) {
        const host::AXElement& item = items.at(index);
        if (!hasClass(item, tabClass))
            break;
        const auto description = AX::string(item, descriptionKey);
        if (!description || !canonicalName(*description).contains(marker))
            break;
        run.append(item);
    }
    return run;
}

std::optional<host::AXElement> savedBar(const host::AXElement& window) {
    return findByClass(window, QStringLiteral("SavedTabGroupBar"));
}

// The trimmed descriptions of the saved-group chips, with their elements.
QList<std::pair<host::AXElement, QString>> savedChips(const host::AXElement& window) {
    QList<std::pair<host::AXElement, QString>> chips;
    const auto bar = savedBar(window);
    if (!bar)
        return chips;
    for (const host::AXElement& child : AX::children(*bar)) {
        if (!hasClass(child, QStringLiteral("SavedTabGroupButton")))
            continue;
        if (const auto description = AX::string(child, descriptionKey))
            chips.append({child, withoutLeadingSpaces(canonicalName(*description))});
    }
    return chips;
}

} // namespace

std::optional<host::AXElement> tabStrip(const host::AXElement& window) {
    return AX::findDescendant(window, searchDepth, searchLimit, AX::skipRoles(),
                              [](const host::AXElement& element, const QString& role) {
                                  return role == QStringLiteral("AXTabGroup") &&
                                         hasClass(element, QStringLiteral("TabContainerImpl"));
                              });
}

std::optional<host::AXElement> appMenuButton(const host::AXElement& root) {
    return findByClass(root, QStringLiteral("BrowserAppMenuButton"));
}

QStringList groupNames(const host::AXElement& tabStrip) {
    QStringList names;
    const auto items = AX::children(tabStrip);
    for (qsizetype index = 0; index < items.size(); ++index) {
        if (!hasClass(items.at(index), headerClass))
            continue;
        if (const auto description = AX::string(items.at(index), descriptionKey))
            if (const auto name = parseName(*description))
                names.append(*name);
    }
    return names;
}

std::optional<TabGroupSnapshot> group(const QString& asked, const host::AXElement& tabStrip) {
    if (asked.isEmpty())
        return std::nullopt;
    const QString name = canonicalName(asked);
    const auto items = AX::children(tabStrip);
    // A group named "Work - Home" also passes the prefix test for "Work": a header whose name is exactly the
    // one asked for wins, so that acting on "Work" never reaches another group.
    std::optional<Header> exact;
    std::optional<Header> prefixed;
    for (qsizetype index = 0; index < items.size() && !exact; ++index) {
        const auto header = headerAt(items, index);
        if (!header)
            continue;
        if (const auto listed = listingForm(header->description)) {
            // Chromium's header names the group exactly: a longer name is another group.
            if (listed->name == name)
                exact = header;
            continue;
        }
        if (header->body != name && !header->body.startsWith(name + QStringLiteral(" - ")))
            continue;
        if (parseName(header->description) == name)
            exact = header;
        else if (!prefixed)
            prefixed = header;
    }
    const auto chosen = exact ? exact : prefixed;
    if (!chosen)
        return std::nullopt;
    const auto run = tabsFollowing(chosen->index, items, name);
    TabGroupSnapshot snapshot;
    snapshot.name = asked;
    snapshot.isCollapsed = run.isEmpty();
    // A collapsed group's tabs stay in Chromium's strip but are not shown, so they are not among its
    // children.
    const auto listed = listingForm(chosen->description);
    snapshot.expandsOnPress = listed && listed->collapsed;
    snapshot.header = items.at(chosen->index);
    if (!run.isEmpty())
        snapshot.firstTab = run.first();
    snapshot.tabCount = int(run.size());
    return snapshot;
}

int tabCount(const host::AXElement& element) {
    int count = 0;
    for (const host::AXElement& child : AX::children(element))
        if (hasClass(child, tabClass))
            ++count;
    return count;
}

QStringList savedGroupNames(const host::AXElement& window) {
    QStringList names;
    for (const auto& chip : savedChips(window))
        if (const auto name = groupName(chip.second))
            names.append(*name);
    return names;
}

std::optional<host::AXElement> savedChip(const QString& asked, const host::AXElement& window) {
    if (asked.isEmpty())
        return std::nullopt;
    const QString name = canonicalName(asked);
    for (const auto& [chip, label] : savedChips(window))
        if (label == name || label.startsWith(name + labelSeparator))
            return chip;
    return std::nullopt;
}

std::optional<QString> parseName(const QString& headerDescription) {
    if (const auto listed = listingForm(headerDescription))
        return listed->name.isEmpty() ? std::nullopt : std::optional<QString>(listed->name);
    const auto body = descriptionBody(headerDescription);
    if (!body)
        return std::nullopt;
    QString name = *body;
    if (const qsizetype quoted = body->indexOf(QStringLiteral(" - \"")); quoted >= 0)
        name = body->left(quoted);
    else if (const qsizetype last = body->lastIndexOf(QStringLiteral(" - ")); last >= 0)
        name = body->left(last);
    if (name.isEmpty())
        return std::nullopt;
    return name;
}

std::optional<QString> groupName(const QString& label) {
    const QString trimmed = withoutLeadingSpaces(label);
    const qsizetype last = trimmed.lastIndexOf(labelSeparator);
    if (last < 0)
        return std::nullopt;
    const QString name = trimmed.left(last);
    // Chromium calls a group without a name "unnamed" on its saved-group button and by its tab count ("2
    // tabs") in the app menu's list of tab groups.
    static const QRegularExpression unnamed(QStringLiteral("^(unnamed|\\d+ tabs?)$"));
    if (name.isEmpty() || unnamed.match(name).hasMatch())
        return std::nullopt;
    return name;
}

} // namespace TabGroupLocator
