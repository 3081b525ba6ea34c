#include "CorvaneIcon/SymbolCatalog.h"

#include "CorvaneHost/Bundle.h"
#include "CorvaneHost/PropertyList.h"
#include "CorvaneIcon/SymbolImages.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHashFunctions>
#include <algorithm>
#include <mutex>

#ifndef CORVANE_SYMBOL_RESOURCES_DIR
#define CORVANE_SYMBOL_RESOURCES_DIR ""
#endif

namespace {

const QSet<QString>& leftOutCategoryKeys() {
    static const QSet<QString> keys{QStringLiteral("all"), QStringLiteral("whatsnew"),
                                    QStringLiteral("variable"), QStringLiteral("multicolor")};
    return keys;
}

QStringList parts(const QString& name) {
    return name.split(QLatin1Char('.'), Qt::SkipEmptyParts);
}

QStringList withoutTrailingVariants(QStringList pieces) {
    while (pieces.size() >= 2 && SymbolCatalog::variantTokens().contains(pieces.last()))
        pieces.removeLast();
    return pieces;
}

std::optional<QVariant> readPlist(const QString& directory, const QString& fileName) {
    QFile file(QDir(directory).filePath(fileName));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return host::parsePropertyList(file.readAll());
}

std::optional<QStringList> stringArray(const QVariant& value) {
    if (value.typeId() != QMetaType::QVariantList)
        return std::nullopt;
    QStringList result;
    for (const QVariant& item : value.toList()) {
        if (item.typeId() != QMetaType::QString)
            return std::nullopt;
        result.append(item.toString());
    }
    return result;
}

std::optional<QHash<QString, QString>> stringDictionary(const QVariant& value) {
    if (value.typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    QHash<QString, QString> result;
    const QVariantMap map = value.toMap();
    for (auto it = map.begin(); it != map.end(); ++it) {
        if (it.value().typeId() != QMetaType::QString)
            return std::nullopt;
        result.insert(it.key(), it.value().toString());
    }
    return result;
}

std::optional<QHash<QString, QStringList>> arrayDictionary(const QVariant& value) {
    if (value.typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    QHash<QString, QStringList> result;
    const QVariantMap map = value.toMap();
    for (auto it = map.begin(); it != map.end(); ++it) {
        const auto array = stringArray(it.value());
        if (!array)
            return std::nullopt;
        result.insert(it.key(), *array);
    }
    return result;
}

template <typename T, typename Shape>
T readShaped(const QString& directory, const QString& fileName, Shape shape) {
    const auto value = readPlist(directory, fileName);
    if (!value)
        return T{};
    return shape(*value).value_or(T{});
}

SymbolCatalog::Catalog fallbackCatalog() {
    SymbolCatalog::Catalog catalog;
    catalog.symbols = SymbolCatalog::fallbackSymbols();
    catalog.browsable = SymbolCatalog::fallbackSymbols();
    return catalog;
}

void readAvailability(const QString& directory, SymbolCatalog::Catalog& catalog) {
    const auto value = readPlist(directory, QStringLiteral("name_availability.plist"));
    if (!value || value->typeId() != QMetaType::QVariantMap)
        return;
    const QVariantMap map = value->toMap();
    catalog.introducedYear =
        stringDictionary(map.value(QStringLiteral("symbols"))).value_or(QHash<QString, QString>{});
    const QVariant releases = map.value(QStringLiteral("year_to_release"));
    if (releases.typeId() != QMetaType::QVariantMap)
        return;
    QHash<QString, QString> macOSForYear;
    const QVariantMap releaseMap = releases.toMap();
    for (auto it = releaseMap.begin(); it != releaseMap.end(); ++it) {
        const auto release = stringDictionary(it.value());
        if (!release)
            return;
        if (release->contains(QStringLiteral("macOS")))
            macOSForYear.insert(it.key(), release->value(QStringLiteral("macOS")));
    }
    catalog.macOSForYear = macOSForYear;
}

std::vector<SymbolCategory> readCategories(const QString& directory) {
    const auto value = readPlist(directory, QStringLiteral("categories.plist"));
    if (!value || value->typeId() != QMetaType::QVariantList)
        return {};
    std::vector<SymbolCategory> categories;
    for (const QVariant& item : value->toList()) {
        const auto entry = stringDictionary(item);
        if (!entry)
            return {};
        const QString key = entry->value(QStringLiteral("key"));
        if (entry->contains(QStringLiteral("key")) && entry->contains(QStringLiteral("icon")) &&
            !leftOutCategoryKeys().contains(key))
            categories.push_back(SymbolCategory{key, entry->value(QStringLiteral("icon"))});
    }
    return categories;
}

// Scores a token against one name as the search ranks it; none when it does not match.
std::optional<int> tokenScore(const QString& token, const QString& name, const QString& spaced,
                              const QStringList& terms) {
    if (name == token)
        return 0;
    if (spaced.startsWith(token))
        return 1;
    if (spaced.contains(token))
        return 2;
    for (const QString& term : terms)
        if (term.toLower().startsWith(token))
            return 3;
    return std::nullopt;
}

} // namespace

QString SymbolCategory::title() const {
    const auto known = SymbolCatalog::categoryTitles().constFind(key);
    if (known != SymbolCatalog::categoryTitles().constEnd())
        return *known;
    QString result = key.toLower();
    bool startOfWord = true;
    for (QChar& c : result) {
        if (startOfWord && c.isLetter())
            c = c.toUpper();
        startOfWord = !c.isLetterOrNumber();
    }
    return result;
}

size_t qHash(const SymbolCategory& category, size_t seed) {
    return qHashMulti(seed, category.key, category.icon);
}

namespace SymbolCatalog {

QString resourceDirectory() {
    const QString inBundle =
        host::Bundle::main().bundlePath() + QStringLiteral("/Contents/Resources/Symbols");
    if (QFileInfo(inBundle).isDir())
        return inBundle;
    return QStringLiteral(CORVANE_SYMBOL_RESOURCES_DIR);
}

const QSet<QString>& localeSuffixes() {
    static const QSet<QString> suffixes{"ar",  "bn", "el", "gu", "he", "hi", "ja", "km", "kn", "ko", "ml",
                                        "mni", "mr", "my", "or", "pa", "ru", "si", "ta", "te", "th", "zh"};
    return suffixes;
}

const QSet<QString>& variantTokens() {
    static const QSet<QString> tokens{"fill",    "circle",  "square", "rectangle", "triangle",
                                      "diamond", "hexagon", "shield", "slash"};
    return tokens;
}

const QHash<QString, QString>& categoryTitles() {
    static const QHash<QString, QString> titles{
        {"whatsnew", "What's New"},
        {"multicolor", "Multicolor"},
        {"variable", "Variable"},
        {"communication", "Communication"},
        {"weather", "Weather"},
        {"maps", "Maps"},
        {"objectsandtools", "Objects & Tools"},
        {"devices", "Devices"},
        {"cameraandphotos", "Camera & Photos"},
        {"gaming", "Gaming"},
        {"connectivity", "Connectivity"},
        {"transportation", "Transportation"},
        {"automotive", "Automotive"},
        {"accessibility", "Accessibility"},
        {"privacyandsecurity", "Privacy & Security"},
        {"human", "Human"},
        {"home", "Home"},
        {"fitness", "Fitness"},
        {"nature", "Nature"},
        {"editing", "Editing"},
        {"textformatting", "Text Formatting"},
        {"media", "Media"},
        {"keyboard", "Keyboard"},
        {"commerce", "Commerce"},
        {"time", "Time"},
        {"health", "Health"},
        {"shapes", "Shapes"},
        {"arrows", "Arrows"},
        {"indices", "Indices"},
        {"math", "Math"},
        {"draw", "Draw"},
        {"all", "All"},
    };
    return titles;
}

const QStringList& fallbackSymbols() {
    static const QStringList names{
        "briefcase.fill",    "house.fill",       "person.fill",
        "person.2.fill",     "building.2.fill",  "globe",
        "network",           "cloud.fill",       "envelope.fill",
        "message.fill",      "phone.fill",       "calendar",
        "clock.fill",        "bell.fill",        "flag.fill",
        "bookmark.fill",     "tag.fill",         "folder.fill",
        "doc.fill",          "book.fill",        "graduationcap.fill",
        "cart.fill",         "creditcard.fill",  "banknote.fill",
        "chart.bar.fill",    "gearshape.fill",   "wrench.fill",
        "hammer.fill",       "terminal.fill",    "chevron.left.forwardslash.chevron.right",
        "cube.fill",         "shippingbox.fill", "gamecontroller.fill",
        "music.note",        "photo.fill",       "camera.fill",
        "video.fill",        "film.fill",        "paintbrush.fill",
        "paintpalette.fill", "star.fill",        "heart.fill",
        "bolt.fill",         "flame.fill",       "leaf.fill",
        "pawprint.fill",     "airplane",         "car.fill",
        "bicycle",           "figure.run",       "cup.and.saucer.fill",
        "fork.knife",        "lock.fill",        "key.fill",
        "shield.fill",       "eye.fill",         "magnifyingglass",
        "sparkles"};
    return names;
}

Catalog read(const QString& directory) {
    const auto order = readShaped<QStringList>(directory, QStringLiteral("symbol_order.plist"), stringArray);
    if (order.isEmpty())
        return fallbackCatalog();
    const auto restricted = readShaped<QHash<QString, QString>>(
        directory, QStringLiteral("symbol_restrictions.strings"), stringDictionary);
    Catalog catalog;
    catalog.membership = readShaped<QHash<QString, QStringList>>(
        directory, QStringLiteral("symbol_categories.plist"), arrayDictionary);
    catalog.searchTerms = readShaped<QHash<QString, QStringList>>(
        directory, QStringLiteral("symbol_search.plist"), arrayDictionary);
    const auto fills = readShaped<QHash<QString, QString>>(
        directory, QStringLiteral("nofill_to_fill.strings"), stringDictionary);
    readAvailability(directory, catalog);
    catalog.categories = readCategories(directory);

    for (const QString& name : order) {
        const QStringList pieces = parts(name);
        if (restricted.contains(name) || (!pieces.isEmpty() && localeSuffixes().contains(pieces.last())))
            continue;
        catalog.symbols.append(name);
    }
    const QSet<QString> offered(catalog.symbols.begin(), catalog.symbols.end());
    for (auto it = fills.begin(); it != fills.end(); ++it) {
        if (offered.contains(it.key()) && offered.contains(it.value())) {
            catalog.fillForBase.insert(it.key(), it.value());
            catalog.baseForFill.insert(it.value(), it.key());
        }
    }
    for (const QString& name : catalog.symbols)
        if (!catalog.baseForFill.contains(name))
            catalog.browsable.append(name);
    return catalog;
}

Catalog load() {
    // Built once: every caller, from any thread, waits for the one load and then shares its value.
    static std::once_flag once;
    static Catalog cached;
    std::call_once(once, [] { cached = read(resourceDirectory()); });
    return cached;
}

QString stem(const QString& name) {
    return withoutTrailingVariants(parts(name)).join(QLatin1Char('.'));
}

QString displayName(const QString& name) {
    QString result = withoutTrailingVariants(parts(name)).join(QLatin1Char(' '));
    if (!result.isEmpty())
        result[0] = result[0].toUpper();
    return result;
}

bool canRender(const QString& name) {
    return symbolImageSource()->canRender(name);
}

const QHash<QString, QString>& symbolFiles() {
    static const QHash<QString, QString> files = readShaped<QHash<QString, QString>>(
        resourceDirectory(), QStringLiteral("symbol_files.plist"), stringDictionary);
    return files;
}

} // namespace SymbolCatalog

QStringList SymbolCatalog::Catalog::symbolsInCategory(const std::optional<QString>& category) const {
    if (!category || *category == QLatin1String("all"))
        return browsable;
    QStringList result;
    for (const QString& name : browsable) {
        const auto fill = fillForBase.constFind(name);
        if (membership.value(name).contains(*category) ||
            (fill != fillForBase.constEnd() && membership.value(*fill).contains(*category)))
            result.append(name);
    }
    return result;
}

QStringList SymbolCatalog::Catalog::search(const QString& query,
                                           const std::optional<QString>& category) const {
    const QStringList pool = symbolsInCategory(category);
    const QString text = query.trimmed().toLower();
    if (text.isEmpty())
        return pool;
    QString separated = text;
    separated.replace(QLatin1Char('.'), QLatin1Char(' '));
    const QStringList tokens = separated.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    // A query of dots alone names nothing; it must not match everything.
    if (tokens.isEmpty())
        return {};

    struct Hit {
        QString name;
        int score;
    };
    std::vector<Hit> hits;
    for (const QString& name : pool) {
        QString spaced = name;
        spaced.replace(QLatin1Char('.'), QLatin1Char(' '));
        QStringList terms = searchTerms.value(name);
        if (const auto fill = fillForBase.constFind(name); fill != fillForBase.constEnd())
            terms += searchTerms.value(*fill);
        int best = 4;
        bool matches = true;
        for (const QString& token : tokens) {
            const auto score = tokenScore(token, name, spaced, terms);
            if (!score) {
                matches = false;
                break;
            }
            best = std::min(best, *score);
        }
        if (matches)
            hits.push_back({name, best});
    }
    std::stable_sort(hits.begin(), hits.end(), [](const Hit& a, const Hit& b) {
        if (a.score != b.score)
            return a.score < b.score;
        return a.name.size() < b.name.size();
    });
    QStringList result;
    for (const Hit& hit : hits)
        result.append(hit.name);
    return result;
}

std::optional<QString> SymbolCatalog::Catalog::filled(const QString& name) const {
    if (const auto fill = fillForBase.constFind(name); fill != fillForBase.constEnd())
        return *fill;
    if (baseForFill.contains(name))
        return name;
    return std::nullopt;
}

std::optional<QString> SymbolCatalog::Catalog::unfilled(const QString& name) const {
    if (const auto base = baseForFill.constFind(name); base != baseForFill.constEnd())
        return *base;
    if (fillForBase.contains(name))
        return name;
    return std::nullopt;
}

bool SymbolCatalog::Catalog::isFilled(const QString& name) const {
    return baseForFill.contains(name);
}

bool SymbolCatalog::Catalog::hasFillVariant(const QString& name) const {
    return fillForBase.contains(name) || baseForFill.contains(name);
}

QString SymbolCatalog::Catalog::resolve(const QString& name, bool filled) const {
    return filled ? fillForBase.value(name, name) : baseForFill.value(name, name);
}

std::optional<QString> SymbolCatalog::Catalog::availability(const QString& name) const {
    const auto year = introducedYear.constFind(name);
    if (year == introducedYear.constEnd())
        return std::nullopt;
    if (const auto macOS = macOSForYear.constFind(*year); macOS != macOSForYear.constEnd())
        return QStringLiteral("macOS ") + *macOS;
    return QStringLiteral("SF Symbols ") + *year;
}

QStringList SymbolCatalog::Catalog::categoryTitles(const QString& name) const {
    QStringList keys = membership.value(name);
    std::optional<QString> counterpart;
    if (const auto fill = fillForBase.constFind(name); fill != fillForBase.constEnd())
        counterpart = *fill;
    else if (const auto base = baseForFill.constFind(name); base != baseForFill.constEnd())
        counterpart = *base;
    if (counterpart)
        keys += membership.value(*counterpart);
    QStringList titles;
    QSet<QString> seen;
    for (const QString& key : keys) {
        if (leftOutCategoryKeys().contains(key) || seen.contains(key))
            continue;
        seen.insert(key);
        const auto category = std::find_if(categories.begin(), categories.end(),
                                           [&](const SymbolCategory& c) { return c.key == key; });
        if (category != categories.end())
            titles.append(category->title());
        else if (const auto title = SymbolCatalog::categoryTitles().constFind(key);
                 title != SymbolCatalog::categoryTitles().constEnd())
            titles.append(*title);
    }
    return titles;
}

QStringList SymbolCatalog::Catalog::variants(const QString& name) const {
    const QString familyStem = SymbolCatalog::stem(name);
    const QString prefix = familyStem + QLatin1Char('.');
    QStringList family;
    for (const QString& candidate : symbols) {
        if (candidate == familyStem) {
            family.append(candidate);
            continue;
        }
        if (!candidate.startsWith(prefix))
            continue;
        const QStringList rest = parts(candidate.mid(prefix.size()));
        if (!rest.isEmpty() && std::all_of(rest.begin(), rest.end(), [](const QString& piece) {
                return variantTokens().contains(piece);
            }))
            family.append(candidate);
    }
    return family;
}

QString SymbolCatalog::Catalog::variantLabel(const QString& member, const QString& stemOf) const {
    const QString familyStem = SymbolCatalog::stem(stemOf);
    if (member == familyStem)
        return QStringLiteral("Outline");
    // A member shorter than the stem (not of this family at all) has no remainder to label.
    QStringList pieces = parts(member.mid(familyStem.size() + 1));
    if (pieces.isEmpty())
        return QStringLiteral("Outline");
    for (QString& piece : pieces)
        if (piece == QLatin1String("fill"))
            piece = QStringLiteral("filled");
    QString label = pieces.join(QLatin1Char(' '));
    label[0] = label[0].toUpper();
    return label;
}
