#include "CorvaneHost/Defaults.h"
#include "CorvaneHost/Folders.h"
#include "CorvaneHost/Linux/Files/SettingsFileDefaults.h"
#include "Support/TemporaryHome.h"

#include <QFileInfo>
#include <gtest/gtest.h>

namespace {

const QString creator = QStringLiteral("app.corvane.main");

TEST(Defaults, TypedValuesRoundTripAndSurviveANewInstance) {
    test::TemporaryHome home;
    {
        host::SettingsFileDefaults defaults;
        defaults.setBool(creator, "Flag", true);
        defaults.setInteger(creator, "Count", -42);
        defaults.setString(creator, "GeneratedAppsDirectory", "/Users/ada/Applications/Chrome Apps");
        defaults.setData(creator, "Blob",
                         QByteArray("\x00\x01\xFF"
                                    "bytes",
                                    8));
    }
    host::SettingsFileDefaults defaults;
    EXPECT_TRUE(defaults.boolValue(creator, "Flag"));
    EXPECT_EQ(defaults.integerValue(creator, "Count"), -42);
    EXPECT_EQ(defaults.stringValue(creator, "GeneratedAppsDirectory"), "/Users/ada/Applications/Chrome Apps");
    EXPECT_EQ(defaults.dataValue(creator, "Blob"), QByteArray("\x00\x01\xFF"
                                                              "bytes",
                                                              8));
    EXPECT_TRUE(QFileInfo::exists(host::SettingsFileDefaults::fileFor(creator)));
    EXPECT_TRUE(host::SettingsFileDefaults::fileFor(creator).startsWith(host::hostStateDirectory() + "/"));
}

TEST(Defaults, MissingOrMistypedValuesReadAsNothing) {
    test::TemporaryHome home;
    host::SettingsFileDefaults defaults;
    EXPECT_FALSE(defaults.boolValue(creator, "Missing"));
    EXPECT_EQ(defaults.integerValue(creator, "Missing"), 0);
    EXPECT_EQ(defaults.stringValue(creator, "Missing"), std::nullopt);
    EXPECT_EQ(defaults.dataValue(creator, "Missing"), std::nullopt);
    EXPECT_EQ(defaults.value(creator, "Missing"), std::nullopt);

    defaults.setString(creator, "Text", "hello");
    EXPECT_FALSE(defaults.boolValue(creator, "Text"));
    EXPECT_EQ(defaults.integerValue(creator, "Text"), 0);
    EXPECT_EQ(defaults.dataValue(creator, "Text"), std::nullopt);
    defaults.setData(creator, "Blob", "abc");
    EXPECT_EQ(defaults.stringValue(creator, "Blob"), std::nullopt);
    EXPECT_FALSE(defaults.boolValue(creator, "Blob"));

    defaults.setString(creator, "Yes", "YES");
    EXPECT_TRUE(defaults.boolValue(creator, "Yes"));
    defaults.setBool(creator, "Off", false);
    EXPECT_FALSE(defaults.boolValue(creator, "Off"));
    EXPECT_TRUE(defaults.value(creator, "Off").has_value()) << "false is a value, not an absence";
}

TEST(Defaults, RemoveAndDomainsAreSeparate) {
    test::TemporaryHome home;
    host::SettingsFileDefaults defaults;
    defaults.setBool(creator, "MigrationDeclined", true);
    EXPECT_FALSE(defaults.boolValue("app.corvane.helper", "MigrationDeclined"));
    defaults.removeValue(creator, "MigrationDeclined");
    EXPECT_EQ(defaults.value(creator, "MigrationDeclined"), std::nullopt);
    defaults.removeValue(creator, "NeverSet"); // no error
}

TEST(Defaults, AnIdentifierCannotReachOutsideTheFolder) {
    test::TemporaryHome home;
    const QString file = host::SettingsFileDefaults::fileFor("../../escape/x");
    EXPECT_EQ(QFileInfo(file).absolutePath(), host::hostStateDirectory() + "/defaults");
    host::SettingsFileDefaults defaults;
    defaults.setString("../../escape/x", "Key", "value");
    EXPECT_EQ(defaults.stringValue("../../escape/x", "Key"), "value");
    EXPECT_FALSE(QFileInfo::exists(home.file(".local/escape")));
}

} // namespace
