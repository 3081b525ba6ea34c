#include "CorvaneCore/Foundation/JSONCoding.h"
#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneCore/ProxyApps/AppConfig.h"
#include "CorvaneHost/PropertyList.h"
#include "Support/TemporaryHome.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {

StubConfig workConfig() {
    return StubConfig("Profile 1", "Work", QString("Work"), false, true, false, true, "briefcase", "#336699",
                      StubConfig::SymbolStyle::Dark, StubConfig::IconStyle::Ring);
}

QJsonObject json(const char* text) {
    return QJsonDocument::fromJson(text).object();
}

TEST(StubConfig, AnEmptyTabGroupNameIsNoTabGroup) {
    const StubConfig config("Default", "Personal", QString(""));
    EXPECT_EQ(config.tabGroupName, std::nullopt);
    EXPECT_FALSE(config.isTabGroup());
    EXPECT_EQ(config.plistEntries().size(), 9);
    EXPECT_FALSE(config.plistEntries().contains("CVNOwnWindow"));
    EXPECT_FALSE(config.toJson().contains("tabGroupName"));
    EXPECT_EQ(config.toJson().size(), 10);
}

TEST(StubConfig, PlistEntriesOfATabGroupCarryItsOwnWindowFlag) {
    const QVariantMap entries = workConfig().plistEntries();
    EXPECT_EQ(entries, (QVariantMap{
                           {"CVNProfileDirectory", "Profile 1"},
                           {"CVNProfileName", "Work"},
                           {"CVNTabGroupName", "Work"},
                           {"CVNOwnWindow", false},
                           {"CVNCloseOnQuit", true},
                           {"CVNIncludeIncognito", false},
                           {"CVNCountAppWindows", true},
                           {"CVNSymbolName", "briefcase"},
                           {"CVNBadgeColor", "#336699"},
                           {"CVNSymbolStyle", "dark"},
                           {"CVNIconStyle", "ring"},
                       }));
    EXPECT_EQ(StubConfig::fromPlist(entries), workConfig());
}

TEST(StubConfig, PlistReaderTakesLegacyKeysAndItsOwnDefaults) {
    const auto config = StubConfig::fromPlist(QVariantMap{{"OMBProfileDirectory", "Profile 2"}});
    ASSERT_TRUE(config.has_value());
    EXPECT_EQ(*config, StubConfig("Profile 2", "Profile 2", std::nullopt, true, false, true, false, "globe",
                                  "#1F2124", StubConfig::SymbolStyle::Auto, StubConfig::IconStyle::Badge));

    // A current key of the wrong type counts as absent; the legacy key wins.
    const auto mistyped = StubConfig::fromPlist(QVariantMap{{"CVNProfileDirectory", qint64(3)},
                                                            {"TVRProfileDirectory", "Default"},
                                                            {"TVRCloseOnQuit", true},
                                                            {"OMBCloseOnQuit", QString("yes")}});
    ASSERT_TRUE(mistyped.has_value());
    EXPECT_EQ(mistyped->profileDirectory, "Default");
    EXPECT_TRUE(mistyped->closeOnQuit);

    // Styles that name no case fall back; an empty tab group is none.
    const auto styled = StubConfig::fromPlist(QVariantMap{{"CVNProfileDirectory", "Default"},
                                                          {"CVNSymbolStyle", "neon"},
                                                          {"CVNIconStyle", "hexagon"},
                                                          {"CVNTabGroupName", ""}});
    ASSERT_TRUE(styled.has_value());
    EXPECT_EQ(styled->symbolStyle, StubConfig::SymbolStyle::Auto);
    EXPECT_EQ(styled->iconStyle, StubConfig::IconStyle::Badge);
    EXPECT_EQ(styled->tabGroupName, std::nullopt);

    EXPECT_EQ(StubConfig::fromPlist(QVariantMap{{"CVNProfileName", "Work"}}), std::nullopt);
    EXPECT_EQ(StubConfig::fromPlist(QVariantMap{{"CVNProfileDirectory", true}}), std::nullopt);
}

TEST(StubConfig, JsonFormRoundTripsWithTheSharedEncoder) {
    const QByteArray bytes = JSONEncoder::corvane().encode(workConfig().toJson());
    EXPECT_EQ(bytes, QByteArray("{\n"
                                "  \"badgeColorHex\" : \"#336699\",\n"
                                "  \"closeOnQuit\" : true,\n"
                                "  \"countAppWindows\" : true,\n"
                                "  \"iconStyle\" : \"ring\",\n"
                                "  \"includeIncognito\" : false,\n"
                                "  \"ownWindow\" : false,\n"
                                "  \"profileDirectory\" : \"Profile 1\",\n"
                                "  \"profileName\" : \"Work\",\n"
                                "  \"symbolName\" : \"briefcase\",\n"
                                "  \"symbolStyle\" : \"dark\",\n"
                                "  \"tabGroupName\" : \"Work\"\n"
                                "}"));
    EXPECT_EQ(StubConfig::fromJson(JSONDecoder::corvane().decode(bytes)), workConfig());
}

TEST(StubConfig, JsonReaderDefaultsDifferFromThePlistReader) {
    const StubConfig config =
        StubConfig::fromJson(json(R"({"profileDirectory":"Default","tabGroupName":""})"));
    EXPECT_EQ(config, StubConfig("Default", "", std::nullopt, true, false, true, false, "globe", "#1F2124",
                                 StubConfig::SymbolStyle::Auto, StubConfig::IconStyle::Segments));
    EXPECT_EQ(StubConfig::fromPlist(QVariantMap{{"CVNProfileDirectory", "Default"}})->iconStyle,
              StubConfig::IconStyle::Badge);
    EXPECT_EQ(StubConfig::fromPlist(QVariantMap{{"CVNProfileDirectory", "Default"}})->profileName, "Default");
}

TEST(StubConfig, JsonReaderRejectsMissingOrMistypedValues) {
    for (const char* text :
         {R"({"profileName":"Work"})", R"({"profileDirectory":null})", R"({"profileDirectory":1})",
          R"({"profileDirectory":"D","ownWindow":"yes"})", R"({"profileDirectory":"D","symbolName":2})",
          R"({"profileDirectory":"D","iconStyle":"hexagon"})",
          R"({"profileDirectory":"D","symbolStyle":"AUTO"})", R"(["D"])"}) {
        EXPECT_THROW(StubConfig::fromJson(QJsonDocument::fromJson(text).isArray()
                                              ? QJsonValue(QJsonDocument::fromJson(text).array())
                                              : QJsonValue(json(text))),
                     JSONDecodingError)
            << text;
    }
    // Unknown keys and nulls are no error.
    EXPECT_NO_THROW(StubConfig::fromJson(json(R"({"profileDirectory":"D","extra":1,"profileName":null})")));
}

TEST(StubConfig, StylesConvertToAndFromTheirRawValues) {
    QStringList raw, titles;
    for (const auto style : StubConfig::allCases<StubConfig::IconStyle>()) {
        raw.append(StubConfig::rawValue(style));
        titles.append(StubConfig::title(style));
        EXPECT_EQ(StubConfig::iconStyleFromRaw(StubConfig::rawValue(style)), style);
    }
    EXPECT_EQ(raw, QStringList({"segments", "ring", "badge"}));
    EXPECT_EQ(titles, QStringList({"Segments", "Ring", "Corner badge"}));
    QStringList symbols;
    for (const auto style : StubConfig::allCases<StubConfig::SymbolStyle>())
        symbols.append(StubConfig::rawValue(style));
    EXPECT_EQ(symbols, QStringList({"auto", "light", "dark"}));
    EXPECT_EQ(StubConfig::symbolStyleFromRaw("Dark"), std::nullopt);
}

class BundleConfigTest : public ::testing::Test {
protected:
    void SetUp() override {
        app = home.file("Work.app");
        QDir().mkpath(app + "/Contents/Resources");
        ASSERT_TRUE(host::writePropertyListFile(
            app + "/Contents/Info.plist",
            QVariantMap{{"CVNProfileDirectory", "Profile 3"}, {"CVNSymbolName", "star"}}));
    }
    void writeConfig(const QByteArray& bytes) {
        QFile file(app + "/Contents/Resources/config.json");
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    test::TemporaryHome home;
    QString app;
};

TEST_F(BundleConfigTest, ConfigJsonComesFirst) {
    writeConfig(R"({"profileDirectory":"Profile 9","symbolName":"leaf"})");
    const auto config = StubConfig::load(host::Bundle(app));
    ASSERT_TRUE(config.has_value());
    EXPECT_EQ(config->profileDirectory, "Profile 9");
    EXPECT_EQ(config->iconStyle, StubConfig::IconStyle::Segments);
}

TEST_F(BundleConfigTest, AnUndecodableConfigJsonFallsBackToThePlist) {
    writeConfig(R"({"profileDirectory":"Profile 9","iconStyle":"hexagon"})");
    auto config = StubConfig::load(host::Bundle(app));
    ASSERT_TRUE(config.has_value());
    EXPECT_EQ(config->profileDirectory, "Profile 3");
    EXPECT_EQ(config->symbolName, "star");
    EXPECT_EQ(config->iconStyle, StubConfig::IconStyle::Badge);

    writeConfig("not json");
    EXPECT_EQ(StubConfig::load(host::Bundle(app))->profileDirectory, "Profile 3");
    QFile::remove(app + "/Contents/Resources/config.json");
    EXPECT_EQ(StubConfig::load(host::Bundle(app))->profileDirectory, "Profile 3");
    QFile::remove(app + "/Contents/Info.plist");
    EXPECT_EQ(StubConfig::load(host::Bundle(app)), std::nullopt);
}

TEST(NewBundleID, TwelveHexDigitsBehindThePrefixAvoidingTakenOnes) {
    static const QRegularExpression shortForm("^app\\.corvane\\.[0-9a-f]{12}$");
    const QString id = Corvane::newBundleID(QSet<QString>{});
    EXPECT_EQ(id.size(), 24);
    EXPECT_TRUE(shortForm.match(id).hasMatch()) << id.toStdString();

    int asked = 0;
    const QString second = Corvane::newBundleID([&](const QString& candidate) {
        EXPECT_TRUE(shortForm.match(candidate).hasMatch());
        return ++asked < 3;
    });
    EXPECT_EQ(asked, 3);
    EXPECT_TRUE(shortForm.match(second).hasMatch());
}

TEST(NewBundleID, GivesUpAfterSixtyFourTakenCandidates) {
    int asked = 0;
    const QString id = Corvane::newBundleID([&](const QString&) {
        ++asked;
        return true;
    });
    EXPECT_EQ(asked, 64);
    EXPECT_TRUE(QRegularExpression("^app\\.corvane\\.[0-9a-f]{32}$").match(id).hasMatch())
        << id.toStdString();
}

TEST(Slug, KeepsLettersAndDigitsOfAnyScriptWithSingleDashes) {
    EXPECT_EQ(Corvane::slug(" Work / Home 2 "), "work-home-2");
    EXPECT_EQ(Corvane::slug(QString::fromUtf8("Ünïcode")), QString::fromUtf8("ünïcode"));
    // The same text with combining marks keeps each letter whole.
    EXPECT_EQ(Corvane::slug(QString::fromUtf8("U\u0308n")), QString::fromUtf8("u\u0308n"));
    EXPECT_EQ(Corvane::slug("!!!"), "app");
    EXPECT_EQ(Corvane::slug(""), "app");
    EXPECT_EQ(Corvane::slug("a--b"), "a-b");
    EXPECT_EQ(Corvane::slug(QString::fromUtf8("Работа №5")), QString::fromUtf8("работа-5"));
}

} // namespace
