#include "CorvaneHelper/WindowTracking/ProfileClassifier.h"

#include "CorvaneHelper/WindowTracking/AX.h"

#include <QTextBoundaryFinder>

namespace {

const QString incognitoLabel = QStringLiteral("Incognito");
const QString roleKey = QStringLiteral("AXRole");
const QString descriptionKey = QStringLiteral("AXDescription");
constexpr int searchDepth = 10;
constexpr int chipSearchDepth = 3;
constexpr int searchLimit = 2000;

const QStringList& titleSeparators() {
    static const QStringList separators{QStringLiteral(" - "), QStringLiteral(" \u2013 "),
                                        QStringLiteral(" \u2014 ")};
    return separators;
}

// Identities are compared by the characters a reader sees, not by code units.
qsizetype characterCount(const QString& text) {
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (finder.toNextBoundary() >= 0)
        ++count;
    return count;
}

// The descendant of `window` that passes `matches`: where `route` (the one that found it last) leads, else
// as a search finds it, and the search's route is kept for the next window.
std::optional<host::AXElement> findAlongRoute(const host::AXElement& window, AX::Route& route,
                                              const QSet<QString>& skip, const AX::Match& matches) {
    if (!route.empty())
        if (auto found = AX::followRoute(window, route, skip, matches))
            return found;
    AX::Route taken;
    auto found = AX::findDescendant(window, searchDepth, searchLimit, skip, matches, &taken);
    if (found)
        route = std::move(taken);
    return found;
}

bool titleNames(const QString& title, const QString& identity) {
    if (title == identity)
        return true;
    for (const QString& separator : titleSeparators())
        if (title.endsWith(separator + identity))
            return true;
    return false;
}

} // namespace

QString toString(ClassificationSource source) {
    switch (source) {
    case ClassificationSource::attributed:
        return QStringLiteral("attributed");
    case ClassificationSource::chip:
        return QStringLiteral("chip");
    case ClassificationSource::title:
        return QStringLiteral("title");
    case ClassificationSource::inherited:
        return QStringLiteral("inherited");
    }
    return {};
}

QString toString(WindowKind kind) {
    switch (kind) {
    case WindowKind::browser:
        return QStringLiteral("browser");
    case WindowKind::app:
        return QStringLiteral("app");
    case WindowKind::incognito:
        return QStringLiteral("incognito");
    }
    return {};
}

std::optional<ClassificationSource> classificationSourceFromString(const QString& text) {
    for (auto source : {ClassificationSource::attributed, ClassificationSource::chip,
                        ClassificationSource::title, ClassificationSource::inherited})
        if (toString(source) == text)
            return source;
    return std::nullopt;
}

std::optional<WindowKind> windowKindFromString(const QString& text) {
    for (auto kind : {WindowKind::browser, WindowKind::app, WindowKind::incognito})
        if (toString(kind) == text)
            return kind;
    return std::nullopt;
}

Classification ProfileClassifier::classify(const host::AXElement& window,
                                           const std::optional<QString>& attributedProfile,
                                           const std::optional<QString>& parentProfile) const {
    Classification result;
    // The chip is looked for once: each look walks the window's tree, while Chrome is still building it.
    const std::optional<QString> label = chipLabel(window);
    result.kind = kind(window, label);
    if (attributedProfile) {
        result.profileDirectory = attributedProfile;
        result.source = ClassificationSource::attributed;
        return result;
    }
    if (result.kind == WindowKind::incognito) {
        if (parentProfile) {
            result.profileDirectory = parentProfile;
            result.source = ClassificationSource::inherited;
        }
        return result;
    }
    if (label && *label != incognitoLabel) {
        const auto names = byName();
        if (const auto found = names.constFind(*label); found != names.constEnd()) {
            result.profileDirectory = *found;
            result.source = ClassificationSource::chip;
            return result;
        }
    }
    if (const auto title = AX::string(window, QStringLiteral("AXTitle"))) {
        if (const auto profile = profileFromTitle(*title)) {
            result.profileDirectory = profile;
            result.source = ClassificationSource::title;
        }
    }
    return result;
}

WindowKind ProfileClassifier::kind(const host::AXElement& window) const {
    return kind(window, chipLabel(window));
}

WindowKind ProfileClassifier::kind(const host::AXElement& window,
                                   const std::optional<QString>& chipLabel) const {
    if (chipLabel == incognitoLabel)
        return WindowKind::incognito;
    // Where the avatar button does not name it, the browser's own part of the title does
    // ("<page> - Chromium (Incognito)").
    if (const auto title = AX::string(window, QStringLiteral("AXTitle"));
        title && title->endsWith(QStringLiteral(" (") + incognitoLabel + QLatin1Char(')')))
        return WindowKind::incognito;
    return hasTabStrip(window) ? WindowKind::browser : WindowKind::app;
}

std::optional<QString> ProfileClassifier::chipLabel(const host::AXElement& window) const {
    const auto isToolbar = [](const host::AXElement&, const QString& role) {
        return role == QStringLiteral("AXToolbar");
    };
    // A toolbar where the last one was found, but without a chip that names a profile, may be another one
    // (the bookmarks bar, with something shown above it): the first toolbar is then looked for afresh.
    if (!toolbarRoute.empty())
        if (const auto toolbar = AX::followRoute(window, toolbarRoute, AX::skipRoles(), isToolbar))
            if (auto label = chipLabelIn(*toolbar); label && namesAProfile(*label))
                return label;
    AX::Route route;
    const auto toolbar =
        AX::findDescendant(window, searchDepth, searchLimit, AX::skipRoles(), isToolbar, &route);
    if (!toolbar)
        return std::nullopt;
    toolbarRoute = std::move(route);
    return chipLabelIn(*toolbar);
}

std::optional<QString> ProfileClassifier::chipLabelIn(const host::AXElement& toolbar) const {
    const auto items = AX::children(toolbar);
    if (items.size() < 2)
        return std::nullopt;
    // The usual layout: the avatar button sits just before the app menu at the toolbar's end. Where the
    // avatar opens a menu of its own (as on this desktop) it is a pop-up button too, and is taken only when
    // it names a profile: anything else there is looked past, as in any other layout.
    const auto& last = items.at(items.size() - 1);
    const auto& beforeLast = items.at(items.size() - 2);
    if (AX::string(last, roleKey) == QStringLiteral("AXPopUpButton")) {
        const auto role = AX::string(beforeLast, roleKey);
        if (role == QStringLiteral("AXButton"))
            return AX::string(beforeLast, descriptionKey);
        if (role == QStringLiteral("AXPopUpButton"))
            if (const auto label = AX::string(beforeLast, descriptionKey); label && namesAProfile(*label))
                return label;
    }
    return chipLabelByMatching(toolbar);
}

std::optional<QString> ProfileClassifier::chipLabelByMatching(const host::AXElement& toolbar) const {
    const auto names = byName();
    const auto chip = AX::findDescendant(
        toolbar, chipSearchDepth, searchLimit, AX::skipRoles(),
        [&names](const host::AXElement& element, const QString& role) {
            if (role != QStringLiteral("AXButton") && role != QStringLiteral("AXPopUpButton"))
                return false;
            const auto description = AX::string(element, descriptionKey);
            return description && (names.contains(*description) || *description == incognitoLabel);
        });
    if (!chip)
        return std::nullopt;
    return AX::string(*chip, descriptionKey);
}

bool ProfileClassifier::hasTabStrip(const host::AXElement& window) const {
    QSet<QString> skip = AX::skipRoles();
    skip.remove(QStringLiteral("AXTabGroup"));
    return findAlongRoute(window, tabStripRoute, skip,
                          [](const host::AXElement&, const QString& role) {
                              return role == QStringLiteral("AXTabGroup");
                          })
        .has_value();
}

std::optional<QString> ProfileClassifier::profileFromTitle(const QString& title) const {
    std::optional<QString> best;
    qsizetype bestLength = 0;
    for (const ChromeProfile& profile : profiles) {
        for (const QString& identity : profile.titleIdentities()) {
            if (identity.isEmpty() || !titleNames(title, identity))
                continue;
            if (const qsizetype length = characterCount(identity); length > bestLength) {
                best = profile.directory;
                bestLength = length;
            }
        }
    }
    return best;
}

bool ProfileClassifier::namesAProfile(const QString& chipLabel) const {
    return chipLabel == incognitoLabel || byName().contains(chipLabel);
}

QHash<QString, QString> ProfileClassifier::byName() const {
    QHash<QString, QString> names;
    for (const ChromeProfile& profile : profiles)
        if (!names.contains(profile.name))
            names.insert(profile.name, profile.directory);
    return names;
}
