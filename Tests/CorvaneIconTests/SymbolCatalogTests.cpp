#include "CorvaneHost/PropertyList.h"
#include "CorvaneIcon/SymbolCatalog.h"
#include "CorvaneIcon/SymbolImages.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <thread>

namespace {

using SymbolCatalog::Catalog;

void writePlist(const QTemporaryDir& folder, const QString& name, const QVariant& value) {
    ASSERT_TRUE(host::writePropertyListFile(folder.filePath(name), value));
}

QVariantMap strings(std::initializer_list<std::pair<QString, QString>> pairs) {
    QVariantMap map;
    for (const auto& [key, value] : pairs)
        map.insert(key, value);
    return map;
}

// A small metadata folder exercising every file the catalog reads.
class SymbolCatalogFolder : public testing::Test {
protected:
    void SetUp() override {
        writePlist(folder, "symbol_order.plist",
                   QVariantList{"star", "star.fill", "star.circle", "star.circle.fill", "secret", "a.ja",
                                "car", "car.fill", "heart", "heart.fill", "shield", "shield.fill", "ghost"});
        writePlist(folder, "symbol_restrictions.strings", strings({{"secret", "Apple only"}}));
        QVariantMap membership;
        membership.insert("star.fill", QVariantList{"all", "shapes", "whatsnew"});
        membership.insert("star", QVariantList{"objectsandtools", "shapes"});
        membership.insert("car.fill", QVariantList{"transportation"});
        membership.insert("heart", QVariantList{"all", "whatsnew"});
        writePlist(folder, "symbol_categories.plist", membership);
        QVariantMap search;
        search.insert("car.fill", QVariantList{"Automobile", "drive"});
        search.insert("star", QVariantList{"favourite"});
        writePlist(folder, "symbol_search.plist", search);
        writePlist(folder, "nofill_to_fill.strings",
                   strings({{"star", "star.fill"},
                            {"car", "car.fill"},
                            {"heart", "heart.fill"},
                            {"ghost", "ghost.fill"},
                            {"a", "a.ja"}}));
        QVariantMap availability;
        availability.insert("symbols", strings({{"star", "2019"}, {"car", "2023"}}));
        QVariantMap releases;
        releases.insert("2019", strings({{"macOS", "11.0"}, {"iOS", "13.0"}}));
        releases.insert("2023", strings({{"iOS", "17.0"}}));
        availability.insert("year_to_release", releases);
        writePlist(folder, "name_availability.plist", availability);
        writePlist(folder, "categories.plist",
                   QVariantList{strings({{"key", "all"}, {"icon", "square.grid.2x2"}}),
                                strings({{"key", "shapes"}, {"icon", "star.fill"}}),
                                strings({{"key", "whatsnew"}, {"icon", "sparkles"}}),
                                strings({{"key", "customthings"}, {"icon", "star"}}),
                                strings({{"key", "noicon"}}),
                                strings({{"key", "transportation"}, {"icon", "car.fill"}})});
        catalog = SymbolCatalog::read(folder.path());
    }

    QTemporaryDir folder;
    Catalog catalog;
};

TEST_F(SymbolCatalogFolder, FiltersRestrictedAndLocalizedNamesAndDropsBrokenPairs) {
    EXPECT_EQ(catalog.symbols,
              QStringList({"star", "star.fill", "star.circle", "star.circle.fill", "car", "car.fill", "heart",
                           "heart.fill", "shield", "shield.fill", "ghost"}));
    EXPECT_EQ(catalog.browsable, QStringList({"star", "star.circle", "star.circle.fill", "car", "heart",
                                              "shield", "shield.fill", "ghost"}));
    EXPECT_FALSE(catalog.filled("ghost"));
    EXPECT_EQ(catalog.filled("star"), "star.fill");
    EXPECT_EQ(catalog.filled("star.fill"), "star.fill");
    EXPECT_EQ(catalog.unfilled("star.fill"), "star");
    EXPECT_EQ(catalog.unfilled("star"), "star");
    EXPECT_FALSE(catalog.unfilled("shield"));
    EXPECT_TRUE(catalog.isFilled("car.fill"));
    EXPECT_FALSE(catalog.isFilled("shield.fill"));
    EXPECT_TRUE(catalog.hasFillVariant("car"));
    EXPECT_EQ(catalog.resolve("car", true), "car.fill");
    EXPECT_EQ(catalog.resolve("car.fill", false), "car");
    EXPECT_EQ(catalog.resolve("ghost", true), "ghost");
}

TEST_F(SymbolCatalogFolder, CategoriesKeepFileOrderWithoutTheSpecialKeys) {
    ASSERT_EQ(catalog.categories.size(), 3u);
    EXPECT_EQ(catalog.categories[0], (SymbolCategory{"shapes", "star.fill"}));
    EXPECT_EQ(catalog.categories[1].title(), "Customthings");
    EXPECT_EQ(catalog.categories[2].title(), "Transportation");
    EXPECT_EQ((SymbolCategory{"objectsandtools", "x"}).title(), "Objects & Tools");
    EXPECT_EQ((SymbolCategory{"some words", "x"}).title(), "Some Words");
}

TEST_F(SymbolCatalogFolder, CategoryListsIncludeOutlinesOfMembersFilledForms) {
    EXPECT_EQ(catalog.symbolsInCategory(std::nullopt), catalog.browsable);
    EXPECT_EQ(catalog.symbolsInCategory(QStringLiteral("all")), catalog.browsable);
    EXPECT_EQ(catalog.symbolsInCategory(QStringLiteral("transportation")), QStringList{"car"});
    EXPECT_EQ(catalog.symbolsInCategory(QStringLiteral("shapes")), QStringList{"star"});
    EXPECT_TRUE(catalog.symbolsInCategory(QStringLiteral("nothing")).isEmpty());
    EXPECT_TRUE(catalog.search("car", QStringLiteral("nothing")).isEmpty());
}

TEST_F(SymbolCatalogFolder, SearchUsesTheFilledFormsKeywords) {
    EXPECT_EQ(catalog.search("automob"), QStringList{"car"});
    EXPECT_EQ(catalog.search("DRIVE"), QStringList{"car"});
    EXPECT_EQ(catalog.search("fav"), QStringList{"star"});
    EXPECT_EQ(catalog.search("star circle"), QStringList({"star.circle", "star.circle.fill"}));
}

TEST_F(SymbolCatalogFolder, CategoryTitlesOfANameAndItsPartner) {
    EXPECT_EQ(catalog.categoryTitles("star"), QStringList({"Objects & Tools", "Shapes"}));
    EXPECT_EQ(catalog.categoryTitles("star.fill"), QStringList({"Shapes", "Objects & Tools"}));
    EXPECT_TRUE(catalog.categoryTitles("heart").isEmpty());
    EXPECT_TRUE(catalog.categoryTitles("unknown").isEmpty());
}

TEST_F(SymbolCatalogFolder, AvailabilityNamesTheReleaseOrTheSymbolSetYear) {
    EXPECT_EQ(catalog.availability("star"), "macOS 11.0");
    EXPECT_EQ(catalog.availability("car"), "SF Symbols 2023");
    EXPECT_FALSE(catalog.availability("heart"));
}

TEST_F(SymbolCatalogFolder, VariantsAndTheirLabels) {
    EXPECT_EQ(catalog.variants("star.circle.fill"),
              QStringList({"star", "star.fill", "star.circle", "star.circle.fill"}));
    EXPECT_EQ(catalog.variants("shield.fill"), QStringList({"shield", "shield.fill"}));
    EXPECT_EQ(catalog.variantLabel("star", "star.circle"), "Outline");
    EXPECT_EQ(catalog.variantLabel("star.circle.fill", "star"), "Circle filled");
    EXPECT_EQ(catalog.variantLabel("shield.fill", "shield"), "Filled");
    EXPECT_EQ(catalog.variantLabel("shield", "shield.fill"), "Outline");
    // Members shorter than the stem, or not of its family, are labelled safely.
    EXPECT_EQ(catalog.variantLabel("st", "star.circle"), "Outline");
    EXPECT_EQ(catalog.variantLabel("", "star"), "Outline");
    EXPECT_EQ(catalog.variantLabel("starship", "star"), "Hip");
}

TEST(SymbolCatalogFallback, MissingOrEmptyOrderGivesTheFixedList) {
    QTemporaryDir folder;
    const Catalog missing = SymbolCatalog::read(folder.path());
    EXPECT_EQ(missing.symbols.size(), 58);
    EXPECT_EQ(missing.symbols.first(), "briefcase.fill");
    EXPECT_EQ(missing.browsable, missing.symbols);
    EXPECT_TRUE(missing.categories.empty() && missing.searchTerms.isEmpty() && missing.fillForBase.isEmpty());
    writePlist(folder, "symbol_order.plist", QVariantList{});
    EXPECT_EQ(SymbolCatalog::read(folder.path()), missing);
    writePlist(folder, "symbol_order.plist", QVariantList{"a", 3});
    EXPECT_EQ(SymbolCatalog::read(folder.path()), missing);
}

TEST(SymbolCatalogFallback, SearchRanksByScoreThenLength) {
    const Catalog catalog = SymbolCatalog::read(QStringLiteral("/nonexistent"));
    EXPECT_EQ(catalog.search("car"), QStringList({"car.fill", "cart.fill", "creditcard.fill"}));
    EXPECT_EQ(catalog.search("fill car"), catalog.search("car"));
    EXPECT_EQ(catalog.search("car fill"), catalog.search("car"));
    EXPECT_EQ(catalog.search("globe").first(), "globe");
    EXPECT_EQ(catalog.search("  \n"), catalog.browsable);
    EXPECT_EQ(catalog.search(""), catalog.browsable);
    EXPECT_TRUE(catalog.search("car zzz").isEmpty());
    // A query of dots has no tokens: nothing, not everything.
    EXPECT_TRUE(catalog.search(".").isEmpty());
    EXPECT_TRUE(catalog.search(" .. . ").isEmpty());
}

TEST(SymbolCatalogNames, DisplayNamesDropTrailingVariants) {
    EXPECT_EQ(SymbolCatalog::displayName("person.2.fill"), "Person 2");
    EXPECT_EQ(SymbolCatalog::displayName("cup.and.saucer.fill"), "Cup and saucer");
    EXPECT_EQ(SymbolCatalog::displayName("chevron.left.forwardslash.chevron.right"),
              "Chevron left forwardslash chevron right");
    EXPECT_EQ(SymbolCatalog::displayName("shield.fill"), "Shield");
    EXPECT_EQ(SymbolCatalog::displayName(""), "");
    EXPECT_EQ(SymbolCatalog::stem("shield.fill"), "shield");
    EXPECT_EQ(SymbolCatalog::stem("fill"), "fill");
}

TEST(SymbolCatalogShipped, EveryFallbackSymbolIsOfferedAndDrawn) {
    const Catalog catalog = SymbolCatalog::load();
    EXPECT_GT(catalog.symbols.size(), 1000);
    for (const QString& name : SymbolCatalog::fallbackSymbols()) {
        EXPECT_TRUE(catalog.symbols.contains(name)) << name.toStdString();
        EXPECT_TRUE(SymbolCatalog::canRender(name)) << name.toStdString();
        const auto image = symbolImageSource()->image(name, 32, SymbolWeight::Bold);
        ASSERT_TRUE(image) << name.toStdString();
        EXPECT_EQ(image->size(), QSize(32, 32));
    }
    EXPECT_TRUE(SymbolCatalog::canRender("circle.fill"));
    EXPECT_TRUE(SymbolCatalog::canRender("checkmark.circle.fill"));
    EXPECT_FALSE(SymbolCatalog::canRender("no.such.symbol"));
    EXPECT_FALSE(SymbolCatalog::canRender("../svg/house"));
}

TEST(SymbolCatalogShipped, OrderCategoriesAndFamiliesOfTheIconSet) {
    const Catalog catalog = SymbolCatalog::load();
    EXPECT_EQ(catalog.symbols.mid(0, 58), SymbolCatalog::fallbackSymbols());
    ASSERT_FALSE(catalog.categories.empty());
    EXPECT_EQ(catalog.categories.front().key, "communication");
    EXPECT_EQ(catalog.filled("briefcase"), "briefcase.fill");
    EXPECT_FALSE(catalog.browsable.contains("briefcase.fill"));
    EXPECT_TRUE(catalog.search("work").contains("briefcase"));
    EXPECT_TRUE(catalog.symbolsInCategory(QStringLiteral("communication")).contains("envelope"));
    EXPECT_EQ(catalog.variants("arrow.up.circle"),
              QStringList({"arrow.up", "arrow.up.circle", "arrow.up.circle.fill", "arrow.up.square",
                           "arrow.up.square.fill"}));
    EXPECT_EQ(catalog.categoryTitles("briefcase"), QStringList{"Objects & Tools"});
}

TEST(SymbolCatalogShipped, LoadsOnceForEveryThread) {
    std::vector<Catalog> loaded(6);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < loaded.size(); ++i)
        threads.emplace_back([&, i] { loaded[i] = SymbolCatalog::load(); });
    for (auto& thread : threads)
        thread.join();
    const Catalog fresh = SymbolCatalog::read(SymbolCatalog::resourceDirectory());
    for (const Catalog& catalog : loaded)
        EXPECT_EQ(catalog, fresh);
}

} // namespace
