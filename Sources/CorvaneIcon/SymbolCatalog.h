#pragma once

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

// One category of the symbol chooser: its key in the metadata and the symbol that stands for it.
struct SymbolCategory {
    QString key;
    QString icon;

    // The entry of SymbolCatalog::categoryTitles() for the key, else the key capitalized word by word.
    QString title() const;

    bool operator==(const SymbolCategory&) const = default;
};

size_t qHash(const SymbolCategory& category, size_t seed = 0);

// The symbols the user may pick for a proxy app's icon, read once per process from the symbol metadata
// folder (this machine ships one generated from its SVG icon set).
namespace SymbolCatalog {

// The loaded catalog: an immutable value, all operations pure.
struct Catalog {
    QStringList symbols;
    std::vector<SymbolCategory> categories;
    QHash<QString, QStringList> membership;
    QHash<QString, QStringList> searchTerms;
    QHash<QString, QString> fillForBase;
    QHash<QString, QString> baseForFill;
    QHash<QString, QString> introducedYear;
    QHash<QString, QString> macOSForYear;
    QStringList browsable;

    QStringList symbolsInCategory(const std::optional<QString>& category) const;
    QStringList search(const QString& query, const std::optional<QString>& category = std::nullopt) const;
    std::optional<QString> filled(const QString& name) const;
    std::optional<QString> unfilled(const QString& name) const;
    bool isFilled(const QString& name) const;
    bool hasFillVariant(const QString& name) const;
    QString resolve(const QString& name, bool filled) const;
    std::optional<QString> availability(const QString& name) const;
    QStringList categoryTitles(const QString& name) const;
    QStringList variants(const QString& name) const;
    QString variantLabel(const QString& member, const QString& stemOf) const;

    bool operator==(const Catalog&) const = default;
};

// The metadata folder: the creator app's "Contents/Resources/Symbols", else the one in the source tree.
QString resourceDirectory();
const QSet<QString>& localeSuffixes();
const QSet<QString>& variantTokens();
const QHash<QString, QString>& categoryTitles();
const QStringList& fallbackSymbols();

// The catalog of this process: read from resourceDirectory() on the first call (once, under a lock), then
// the same value. Never fails: without a symbol order it is the fallback catalog.
Catalog load();
// The catalog of a given metadata folder, read afresh (what load() does once).
Catalog read(const QString& directory);

// The symbol name without its trailing variant tokens, keeping at least its first part.
QString stem(const QString& name);
// The human name of a symbol ("person.2.fill" gives "Person 2").
QString displayName(const QString& name);
// Whether the symbol image source can draw the named symbol.
bool canRender(const QString& name);

// The SVG file (base name) of each symbol whose file is not its name with dashes for dots, from the
// metadata folder's "symbol_files.plist"; read once.
const QHash<QString, QString>& symbolFiles();

} // namespace SymbolCatalog
