#include "CorvaneCore/Foundation/BuildInfo.h"
#include "CorvaneHost/PropertyList.h"
#include "Support/TemporaryHome.h"

#include <QDir>
#include <QFile>
#include <QTimeZone>
#include <ctime>
#include <gtest/gtest.h>

namespace {

QDateTime utc(int year, int month, int day, int hour, int minute, int second) {
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second), QTimeZone::utc());
}

TEST(BuildInfo, ReadsTheInternetDateWithItsZone) {
    EXPECT_EQ(BuildInfo::buildDate(QVariantMap{{"CVNBuildDate", "2026-03-04T10:20:30Z"}}),
              utc(2026, 3, 4, 10, 20, 30));
    EXPECT_EQ(BuildInfo::buildDate(QVariantMap{{"CVNBuildDate", "2026-03-04T10:20:30+01:00"}}),
              utc(2026, 3, 4, 9, 20, 30));
}

// Runs the test in a time zone far from UTC, so that a stamp read in any other zone shows.
struct ZoneScope {
    QByteArray saved = qgetenv("TZ");
    bool hadZone = qEnvironmentVariableIsSet("TZ");
    explicit ZoneScope(const char* zone) {
        qputenv("TZ", zone);
        ::tzset();
    }
    ~ZoneScope() {
        if (hadZone)
            qputenv("TZ", saved);
        else
            qunsetenv("TZ");
        ::tzset();
    }
};

TEST(BuildInfo, FallsBackToALegacyBundleVersionStampInTheLocalZone) {
    const ZoneScope zone("Pacific/Auckland");
    // July is winter there: twelve hours ahead of UTC.
    const QDateTime legacy = utc(2024, 7, 1, 1, 45, 9);
    EXPECT_EQ(BuildInfo::buildDate(QVariantMap{{"CFBundleVersion", "20240701134509"}}), legacy);
    // An unparsable stamp (fractional seconds, or not a string) falls through to the bundle version.
    EXPECT_EQ(BuildInfo::buildDate(QVariantMap{{"CVNBuildDate", "2026-03-04T10:20:30.5Z"},
                                               {"CFBundleVersion", "20240701134509"}}),
              legacy);
    EXPECT_EQ(BuildInfo::buildDate(QVariantMap{{"CVNBuildDate", utc(2026, 1, 1, 0, 0, 0)},
                                               {"CFBundleVersion", "20240701134509"}}),
              legacy);
    EXPECT_EQ(BuildInfo::buildDate(QVariantMap{{"CVNBuildDate", "2026-03-04T10:20:30.5Z"}}), std::nullopt);
}

TEST(BuildInfo, OrdinaryVersionsAndBadStampsGiveNone) {
    for (const char* version :
         {"1.4", "1", "2024070113450", "202407011345099", "20241301134509", "2024-07-01", "20240701134509\n"})
        EXPECT_EQ(BuildInfo::buildDate(QVariantMap{{"CFBundleVersion", version}}), std::nullopt) << version;
    EXPECT_EQ(BuildInfo::buildDate(QVariantMap{}), std::nullopt);
}

TEST(BuildInfo, FormatsTheDateOfABundleOnDisk) {
    test::TemporaryHome home;
    const QString app = home.file("Corvane.app");
    QDir().mkpath(app + "/Contents");
    EXPECT_EQ(BuildInfo::formattedBuildDate(app), std::nullopt);

    ASSERT_TRUE(host::writePropertyListFile(app + "/Contents/Info.plist",
                                            QVariantMap{{"CVNBuildDate", "2026-03-04T10:20:30Z"}},
                                            host::PropertyListFormat::Binary));
    const auto text = BuildInfo::formattedBuildDate(app);
    ASSERT_TRUE(text.has_value());
    EXPECT_TRUE(text->contains("2026")) << text->toStdString();
    const host::Bundle bundle(app);
    EXPECT_EQ(BuildInfo::formattedBuildDate(bundle), text);
    EXPECT_EQ(BuildInfo::buildDate(bundle), utc(2026, 3, 4, 10, 20, 30));

    ASSERT_TRUE(
        host::writePropertyListFile(app + "/Contents/Info.plist", QVariantMap{{"CFBundleVersion", "1.4"}}));
    EXPECT_EQ(BuildInfo::formattedBuildDate(app), std::nullopt);

    ASSERT_TRUE(host::writePropertyListFile(app + "/Contents/Info.plist", QVariantList{"CVNBuildDate"}));
    EXPECT_EQ(BuildInfo::formattedBuildDate(app), std::nullopt);
}

TEST(BuildInfo, TheBuiltBundlesCarryTheirStamp) {
    const auto text = BuildInfo::formattedBuildDate(QStringLiteral(CORVANE_BUILD_DIR "/Corvane.app"));
    EXPECT_TRUE(text.has_value());
}

} // namespace
