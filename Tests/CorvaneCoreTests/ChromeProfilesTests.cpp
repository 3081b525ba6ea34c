#include "CorvaneCore/ProxyApps/ChromeProfiles.h"
#include "Support/TemporaryHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>
#include <unordered_set>

namespace {

void writeLocalState(const QByteArray& bytes) {
    const QString path = ChromeProfiles::localStateURL();
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

// A Local State with the given "info_cache" and, when given, "profiles_order".
void writeProfiles(const QJsonObject& infoCache, const std::optional<QJsonArray>& order = std::nullopt) {
    QJsonObject profile{{"info_cache", infoCache}, {"last_used", "Default"}};
    if (order)
        profile.insert("profiles_order", *order);
    writeLocalState(QJsonDocument(QJsonObject{{"profile", profile}, {"browser", QJsonObject{}}}).toJson());
}

QStringList directories(const std::vector<ChromeProfile>& profiles) {
    QStringList result;
    for (const auto& profile : profiles)
        result.append(profile.directory);
    return result;
}

QStringList names(const std::vector<ChromeProfile>& profiles) {
    QStringList result;
    for (const auto& profile : profiles)
        result.append(profile.name);
    return result;
}

// Where no Google Chrome is installed, Chromium serves as Chrome, with its own folder.
TEST(ChromeProfiles, LocalStateLiesInTheFolderOfThisMachinesChrome) {
    test::TemporaryHome home;
    EXPECT_EQ(ChromeProfiles::localStateURL(), home.path() + "/.config/chromium/Local State");

    const QString entries = home.path() + "/.local/share/applications";
    QDir().mkpath(entries);
    QFile entry(entries + "/google-chrome.desktop");
    ASSERT_TRUE(entry.open(QIODevice::WriteOnly));
    entry.write("[Desktop Entry]\nType=Application\nName=Google Chrome\nExec=google-chrome %U\n"
                "MimeType=x-scheme-handler/http;\n");
    entry.close();
    EXPECT_EQ(ChromeProfiles::localStateURL(), home.path() + "/.config/google-chrome/Local State");
}

TEST(ChromeProfiles, AnythingUnreadableGivesNoProfiles) {
    test::TemporaryHome home;
    EXPECT_TRUE(ChromeProfiles::load().empty()) << "no file";

    for (const QByteArray& bytes :
         {QByteArray(), QByteArray("{\"profile\":"), QByteArray("[1,2]"), QByteArray("\"profile\""),
          QByteArray("{\"profile\":[]}"), QByteArray("{\"profile\":{}}"),
          QByteArray("{\"profile\":{\"info_cache\":[]}}"),
          QByteArray("{\"other\":{\"info_cache\":{\"Default\":{}}}}")}) {
        writeLocalState(bytes);
        EXPECT_TRUE(ChromeProfiles::load().empty()) << bytes.constData();
    }

    // A folder where the file should be.
    QFile::remove(ChromeProfiles::localStateURL());
    QDir().mkpath(ChromeProfiles::localStateURL());
    EXPECT_TRUE(ChromeProfiles::load().empty());
}

TEST(ChromeProfiles, ReadsFieldsAndFallsBackOnMissingOrMistypedKeys) {
    test::TemporaryHome home;
    writeProfiles(QJsonObject{
        {"Default", QJsonObject{{"name", "Work"},
                                {"user_name", "ada@example.com"},
                                {"gaia_name", "Ada Lovelace"},
                                {"gaia_given_name", "Ada"},
                                {"profile_highlight_color", -16744448},
                                {"avatar_icon", "chrome://theme/IDR_PROFILE_AVATAR_26"}}},
        {"Profile 1", QJsonObject{{"user_name", 7}, {"profile_highlight_color", "red"}}},
        {"Profile 2", QJsonObject{{"name", QJsonValue::Null}, {"profile_highlight_color", 1.5}}},
        {"Profile 3", QJsonObject{{"name", "Big"}, {"profile_highlight_color", 4294967295.0}}},
        {"Profile 4", QJsonObject{{"name", "Flag"}, {"profile_highlight_color", true}}},
        {"Broken", "not an object"},
        {"Also broken", QJsonArray{1}},
    });
    const auto profiles = ChromeProfiles::load();
    ASSERT_EQ(profiles.size(), 5u) << "members that are not objects are skipped";

    auto find = [&](const QString& directory) {
        return *std::find_if(profiles.begin(), profiles.end(),
                             [&](const ChromeProfile& p) { return p.directory == directory; });
    };
    const ChromeProfile work = find("Default");
    EXPECT_EQ(work, (ChromeProfile{"Default", "Work", "ada@example.com", "Ada Lovelace", "Ada", -16744448}));
    EXPECT_EQ(work.subtitle(), "ada@example.com");
    // The colour's low 32 bits are ARGB.
    EXPECT_EQ(quint32(*work.highlightColor), 0xFF008000u);

    EXPECT_EQ(find("Profile 1"), (ChromeProfile{"Profile 1", "Profile 1", "", "", "", std::nullopt}));
    EXPECT_EQ(find("Profile 1").subtitle(), "Profile 1") << "no signed-in account: the folder name";
    EXPECT_EQ(find("Profile 2").name, "Profile 2");
    EXPECT_EQ(find("Profile 2").highlightColor, std::nullopt) << "a fraction is not a colour number";
    EXPECT_EQ(find("Profile 3").highlightColor, std::optional<qint64>(4294967295));
    EXPECT_EQ(find("Profile 4").highlightColor, std::nullopt) << "a Boolean is not a colour number";
}

TEST(ChromeProfiles, ProfilesOrderDecidesAndUnlistedComeLastInPlainOrder) {
    test::TemporaryHome home;
    writeProfiles(
        QJsonObject{
            {"Default", QJsonObject{{"name", "Alpha"}}},
            {"Profile 1", QJsonObject{{"name", "Zulu"}}},
            {"Profile 2", QJsonObject{{"name", "bravo"}}},
            {"Profile 3", QJsonObject{{"name", "Charlie"}}},
        },
        QJsonArray{"Profile 1", "Default", "Gone", "Profile 1"});
    // Listed in the array's order whatever the names; the two unlisted by plain order, capitals first.
    EXPECT_EQ(directories(ChromeProfiles::load()),
              (QStringList{"Profile 1", "Default", "Profile 3", "Profile 2"}));

    writeProfiles(
        QJsonObject{
            {"A", QJsonObject{{"name", "bravo"}}},
            {"B", QJsonObject{{"name", "Charlie"}}},
            {"C", QJsonObject{{"name", "Émile"}}},
            {"D", QJsonObject{{"name", "\U0001F600 smile"}}},
            {"E", QJsonObject{{"name", "\uFF21 wide"}}},
        },
        QJsonArray{});
    // An empty order falls back to code-point order: U+FF21 comes before U+1F600 although its UTF-16 unit is
    // larger than the emoji's leading surrogate.
    EXPECT_EQ(names(ChromeProfiles::load()),
              (QStringList{"Charlie", "bravo", "Émile", "\uFF21 wide", "\U0001F600 smile"}));
}

TEST(ChromeProfiles, WithoutUsableOrderNamesSortLikeFileNames) {
    test::TemporaryHome home;
    const QJsonObject cache{
        {"P1", QJsonObject{{"name", "Work 10"}}}, {"P2", QJsonObject{{"name", "work 9"}}},
        {"P3", QJsonObject{{"name", "Charlie"}}}, {"P4", QJsonObject{{"name", "bravo"}}},
        {"P5", QJsonObject{{"name", "alpha"}}},
    };
    const QStringList expected{"alpha", "bravo", "Charlie", "work 9", "Work 10"};

    writeProfiles(cache);
    EXPECT_EQ(names(ChromeProfiles::load()), expected) << "no profiles_order";

    writeProfiles(cache, QJsonArray{"P3", 2, "P1"});
    EXPECT_EQ(names(ChromeProfiles::load()), expected) << "a number among the strings: treated as absent";

    QJsonObject profile{{"info_cache", cache}, {"profiles_order", "P3"}};
    writeLocalState(QJsonDocument(QJsonObject{{"profile", profile}}).toJson());
    EXPECT_EQ(names(ChromeProfiles::load()), expected) << "not an array: treated as absent";
}

TEST(ChromeProfiles, EqualNamesKeepOneAnotherInAStableOrder) {
    test::TemporaryHome home;
    writeProfiles(QJsonObject{{"Profile 2", QJsonObject{{"name", "Same"}}},
                              {"Profile 1", QJsonObject{{"name", "same"}}},
                              {"Profile 3", QJsonObject{{"name", "Same"}}}});
    const auto first = directories(ChromeProfiles::load());
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(directories(ChromeProfiles::load()), first);
}

TEST(ChromeProfile, TitleIdentitiesAreDistinctAndLongestFirst) {
    const ChromeProfile full{"Default", "Work", "ada@example.com", "Ada Lovelace", "Ada", std::nullopt};
    EXPECT_EQ(full.titleIdentities(),
              (QStringList{"Ada Lovelace (Work)", "ada@example.com", "Ada Lovelace", "Ada (Work)", "Work"}));

    const ChromeProfile sameNames{"Default", "Home", "", "Ada", "Ada", std::nullopt};
    EXPECT_EQ(sameNames.titleIdentities(), (QStringList{"Ada (Home)", "Home", "Ada"}));

    EXPECT_EQ((ChromeProfile{"Profile 1", "Person 1", "", "", "", std::nullopt}).titleIdentities(),
              QStringList{"Person 1"});
    EXPECT_EQ((ChromeProfile{"Profile 1", "", "", "", "", std::nullopt}).titleIdentities(), QStringList{""})
        << "the name is always a candidate";

    // Length counts characters as seen: "Zoë" written with a combining diaeresis is three long, so the
    // four-letter "Anna" comes first.
    const ChromeProfile combining{"P", "Zoe\u0308", "Anna", "", "", std::nullopt};
    EXPECT_EQ(combining.titleIdentities(), (QStringList{"Anna", "Zoe\u0308"}));
}

TEST(ChromeProfile, EqualityAndHashCoverEveryField) {
    const ChromeProfile base{"Default", "Work", "u", "g", "gg", 5};
    std::unordered_set<ChromeProfile> set{base};
    EXPECT_TRUE(set.contains(base));
    for (const ChromeProfile& other : {ChromeProfile{"Other", "Work", "u", "g", "gg", 5},
                                       ChromeProfile{"Default", "Home", "u", "g", "gg", 5},
                                       ChromeProfile{"Default", "Work", "v", "g", "gg", 5},
                                       ChromeProfile{"Default", "Work", "u", "h", "gg", 5},
                                       ChromeProfile{"Default", "Work", "u", "g", "hh", 5},
                                       ChromeProfile{"Default", "Work", "u", "g", "gg", 6},
                                       ChromeProfile{"Default", "Work", "u", "g", "gg", std::nullopt}}) {
        EXPECT_NE(other, base);
        EXPECT_FALSE(set.contains(other));
    }
    // No colour and a colour of 0 differ.
    EXPECT_NE(qHash(ChromeProfile{"D", "N", "", "", "", std::nullopt}),
              qHash(ChromeProfile{"D", "N", "", "", "", 0}));
}

} // namespace
