#include "CorvaneCore/Foundation/JSONCoding.h"
#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneCore/Routing/AppSettings.h"
#include "Support/Files.h"
#include "Support/LogCapture.h"
#include "Support/TemporaryHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimeZone>
#include <gtest/gtest.h>

namespace {

using test::contents;
using test::setModified;
using test::writeFile;

const QString unreadableMessage = QStringLiteral("settings.json could not be read; using defaults");

QDateTime at(int minute) {
    return QDateTime(QDate(2026, 3, 1), QTime(10, minute, 0, 500), QTimeZone::utc());
}

AppSettings decode(const char* json) {
    return AppSettings::fromJson(JSONDecoder::corvane().decode(QByteArray(json)));
}

TEST(AppSettingsJson, MissingKeysTakeDefaultsAndWrongTypesFail) {
    EXPECT_EQ(decode("{}"), (AppSettings{1, true, false}));
    EXPECT_EQ(
        decode(R"({"version":2,"disablesHelper":true,"notifiesWhenProxyAppsAreOutdated":null,"extra":[1]})"),
        (AppSettings{2, true, true}));
    EXPECT_THROW(decode(R"({"disablesHelper":"yes"})"), JSONDecodingError);
    EXPECT_THROW(decode(R"({"version":"1"})"), JSONDecodingError);
    EXPECT_THROW(decode(R"({"notifiesWhenProxyAppsAreOutdated":0})"), JSONDecodingError);
    EXPECT_THROW(decode("true"), JSONDecodingError);
}

TEST(AppSettingsJson, WritesAllThreeKeysSorted) {
    EXPECT_EQ(JSONEncoder::corvane().encode(AppSettings{1, false, true}.toJson()),
              "{\n  \"disablesHelper\" : true,\n  \"notifiesWhenProxyAppsAreOutdated\" : false,\n"
              "  \"version\" : 1\n}");
    const AppSettings settings{5, false, true};
    EXPECT_EQ(AppSettings::fromJson(settings.toJson()), settings);
}

TEST(SettingsStore, WithoutAFileHoldsTheDefaults) {
    test::TemporaryHome home;
    test::LogCapture log;
    SettingsStore store;
    EXPECT_EQ(store.settings(), AppSettings{});
    EXPECT_FALSE(store.loadedModification().has_value());
    EXPECT_FALSE(store.reloadIfChanged());
    EXPECT_TRUE(log.lines().empty());
}

TEST(SettingsStore, CreatorSaveIsSeenOnceByTheHelper) {
    test::TemporaryHome home;
    SettingsStore creator;
    SettingsStore helper;
    const AppSettings changed{1, false, true};
    creator.save(changed);
    EXPECT_FALSE(creator.reloadIfChanged());
    EXPECT_EQ(creator.settings(), changed);
    EXPECT_TRUE(helper.reloadIfChanged());
    EXPECT_EQ(helper.current(), changed);
    EXPECT_FALSE(helper.reloadIfChanged());

    // Same date, other content: not read again; a new date is.
    writeFile(Corvane::settingsURL(), R"({"disablesHelper":false})", at(1));
    EXPECT_TRUE(helper.reloadIfChanged());
    EXPECT_EQ(helper.settings(), AppSettings{});
    writeFile(Corvane::settingsURL(), R"({"disablesHelper":true})", at(1));
    EXPECT_FALSE(helper.reloadIfChanged());
    EXPECT_FALSE(helper.settings().disablesHelper);
    EXPECT_EQ(helper.loadedModification(), at(1));

    // Deleting the file after it was read gives the defaults once.
    ASSERT_TRUE(QFile::remove(Corvane::settingsURL()));
    EXPECT_TRUE(creator.reloadIfChanged());
    EXPECT_EQ(creator.settings(), AppSettings{});
    EXPECT_FALSE(creator.reloadIfChanged());
    EXPECT_TRUE(helper.reloadIfChanged());
    EXPECT_FALSE(helper.reloadIfChanged());
}

TEST(SettingsStore, UndecodableFileIsLoggedOnceAndKeptAsideBeforeTheFirstSave) {
    test::TemporaryHome home;
    test::LogCapture log;
    const QString path = Corvane::settingsURL();
    writeFile(path, R"({"disablesHelper":true})", at(1));
    SettingsStore store;
    EXPECT_TRUE(store.settings().disablesHelper);

    writeFile(path, R"({"disablesHelper":"yes"})", at(2));
    EXPECT_TRUE(store.reloadIfChanged());
    EXPECT_EQ(store.settings(), AppSettings{});
    EXPECT_TRUE(log.contains("creator", host::LogLevel::Error, unreadableMessage));
    EXPECT_FALSE(store.reloadIfChanged());
    EXPECT_EQ(log.count(unreadableMessage), 1);
    EXPECT_EQ(contents(path), R"({"disablesHelper":"yes"})");

    store.save(AppSettings{1, true, true});
    EXPECT_EQ(contents(path + ".unreadable"), R"({"disablesHelper":"yes"})");
    store.save(AppSettings{1, false, true});
    EXPECT_EQ(contents(path + ".unreadable"), R"({"disablesHelper":"yes"})");
    EXPECT_EQ(contents(path), JSONEncoder::corvane().encode(AppSettings{1, false, true}.toJson()));
}

TEST(SettingsStore, FailedSaveKeepsTheHeldSettings) {
    test::TemporaryHome home;
    SettingsStore store;
    writeFile(Corvane::supportDirectory(), "blocker", at(1));
    EXPECT_THROW(store.save(AppSettings{1, false, true}), host::Error);
    EXPECT_EQ(store.settings(), AppSettings{});
    EXPECT_FALSE(store.loadedModification().has_value());
}

} // namespace
