// Builds a real proxy app from the built launcher template with the real tools and symbols, and checks what
// the desktop and the launcher will find.
#include "CorvaneHost/ProcessRunner.h"
#include "CorvaneHost/PropertyList.h"
#include "CorvaneHost/Services.h"
#include "CorvaneHost/Workspace.h"
#include "CorvaneIcon/AppBuilder.h"
#include "Support/Files.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QJsonDocument>
#include <QStandardPaths>
#include <gmock/gmock.h>

namespace {

using testing::HasSubstr;

class ProxyAppEndToEnd : public testing::Test {
protected:
    void SetUp() override {
        const QString creator = QStringLiteral(CORVANE_BUILD_DIR "/Corvane.app");
        // The test program depends on the creator app, so the build makes it first.
        ASSERT_TRUE(QFileInfo(creator + "/Contents/Library/StubTemplate.app/Contents/MacOS/CorvaneStub")
                        .isExecutable())
            << "the creator app with its launcher template is not built";
        // The builder finds the template inside the creator app that the workspace knows.
        host::workspace().registerBundle(creator);
        request.name = "Work";
        request.bundleID = "app.corvane.5e1f0a2b3c4d";
        request.config = StubConfig(QStringLiteral("Profile 1"), QStringLiteral("Work"));
        request.config.symbolName = QStringLiteral("briefcase.fill");
        request.config.badgeColorHex = QStringLiteral("#1F6FEB");
        request.destinationDirectory = QDir::homePath() + "/Applications";
    }

    void expectSealed(const QString& bundle) {
        EXPECT_NO_THROW(host::processRunner().run("/usr/bin/codesign", {"--verify", "--strict", bundle}));
    }

    AppBuilder::Request request;
};

TEST_F(ProxyAppEndToEnd, BuildsRegistersAndRebuildsAWorkingProxyApp) {
    const RegisteredApp app = AppBuilder::build(request, "-");
    const QString bundle = request.destinationURL();
    ASSERT_EQ(app.path, bundle);

    const auto info = host::readBundleInfo(bundle);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->value("CFBundleExecutable"), "CorvaneStub");
    EXPECT_EQ(info->value("CFBundleIdentifier"), request.bundleID);
    EXPECT_EQ(info->value("CFBundleName"), "Work");
    EXPECT_EQ(info->value("CFBundleIconFile"), "AppIcon");
    EXPECT_EQ(info->value("CVNStubRevision").typeId(), QMetaType::LongLong);
    EXPECT_EQ(info->value("CVNProfileDirectory"), "Profile 1");
    EXPECT_EQ(info->value("CVNProfileName"), "Work");
    EXPECT_EQ(info->value("CVNCloseOnQuit").typeId(), QMetaType::Bool);
    EXPECT_FALSE(info->contains("CVNOwnWindow")); // only with a tab group
    EXPECT_EQ(info->value("CVNSymbolName"), "briefcase.fill");
    EXPECT_EQ(info->value("CVNBadgeColor"), "#1F6FEB");
    EXPECT_EQ(StubConfig::fromPlist(*info), request.config);
    EXPECT_EQ(StubConfig::load(host::Bundle(bundle)), request.config);
    const auto json = QJsonDocument::fromJson(test::contents(bundle + "/Contents/Resources/config.json"));
    EXPECT_EQ(StubConfig::fromJson(json.object()), request.config);
    EXPECT_TRUE(QFileInfo(bundle + "/Contents/MacOS/CorvaneStub").isExecutable());
    EXPECT_EQ(test::contents(bundle + "/Contents/MacOS/CorvaneStub"),
              test::contents(QStringLiteral(CORVANE_BUILD_DIR
                                            "/Corvane.app/Contents/Library/StubTemplate.app/Contents/MacOS/"
                                            "CorvaneStub")));

    const QImage icon(bundle + "/Contents/Resources/AppIcon.icns");
    ASSERT_FALSE(icon.isNull());
    EXPECT_EQ(icon.width(), icon.height());
    expectSealed(bundle);

    // Registered: the workspace finds it by identifier, and the desktop lists it with its icon.
    EXPECT_EQ(host::workspace().urlForApplication(request.bundleID), bundle);
    const QString entry = QString::fromUtf8(
        test::contents(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                       "/applications/" + request.bundleID + ".desktop"));
    EXPECT_THAT(entry.toStdString(), HasSubstr("Name=Work\n"));
    EXPECT_THAT(entry.toStdString(),
                HasSubstr("Exec=\"" + bundle.toStdString() + "/Contents/MacOS/CorvaneStub\"\n"));
    const QString iconPath = entry.section("Icon=", 1).section('\n', 0, 0);
    EXPECT_GE(QImage(iconPath).width(), 512);

    // Rebuilt in place with another colour: one bundle, sealed, its new icon on the desktop.
    const QByteArray firstIcon = test::contents(iconPath);
    request.config.badgeColorHex = QStringLiteral("#EA4335");
    request.replacing = bundle;
    AppBuilder::build(request, "-");
    EXPECT_EQ(
        QDir(request.destinationDirectory).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
        QStringList{"Work.app"});
    expectSealed(bundle);
    EXPECT_EQ(host::readBundleInfo(bundle)->value("CVNBadgeColor"), "#EA4335");
    EXPECT_NE(test::contents(iconPath), firstIcon);
}

} // namespace
