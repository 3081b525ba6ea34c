#include "CorvaneCore/Foundation/JSONCoding.h"
#include "CorvaneHost/Folders.h"
#include "CorvaneHost/ProcessRunner.h"
#include "CorvaneHost/PropertyList.h"
#include "CorvaneHost/Services.h"
#include "CorvaneIcon/AppBuilder.h"
#include "CorvaneIcon/IconFiles.h"
#include "Support/Files.h"
#include "Support/OutsidePrograms.h"
#include "Support/RecordingProcessRunner.h"
#include "TestSymbols.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QUrl>
#include <gmock/gmock.h>
#include <optional>
#include <sys/stat.h>

namespace {

const QString codesign = QStringLiteral("/usr/bin/codesign");
const QString xattr = QStringLiteral("/usr/bin/xattr");
const QString killall = QStringLiteral("/usr/bin/killall");

StubConfig workConfig() {
    StubConfig config(QStringLiteral("Profile 1"), QStringLiteral("Work"));
    config.symbolName = QStringLiteral("square.fill");
    config.badgeColorHex = QStringLiteral("#336699");
    config.iconStyle = StubConfig::IconStyle::Ring;
    return config;
}

QStringList workFolders() {
    return QDir(host::temporaryDirectory())
        .entryList({"corvane-build-*", "corvane-icon-*"}, QDir::Dirs | QDir::NoDotAndDotDot);
}

// Builds against a launcher template of the test's own (found as "dist/StubTemplate.app" in the working
// folder), with the signing and registration tools recorded and iconutil run for real.
class AppBuilderTest : public testing::Test {
protected:
    void SetUp() override {
        previousDirectory = QDir::currentPath();
        QDir::setCurrent(work.path());
        stubTemplate = work.filePath("dist/StubTemplate.app");
        QDir().mkpath(stubTemplate + "/Contents/MacOS");
        QVariantMap info{
            {"CFBundleExecutable", "CorvaneStub"},
            {"CFBundleIdentifier", "app.corvane.stub"},
            {"CFBundleName", "CorvaneStub"},
            {"CFBundleIconName", "AppIcon"},
            {"CVNStubRevision", 3},
            {"CFBundleURLTypes", QVariantList{QVariantMap{{"CFBundleURLSchemes", QVariantList{"ftp"}}}}}};
        ASSERT_TRUE(host::writePropertyListFile(stubTemplate + "/Contents/Info.plist", info));
        test::writeFile(stubTemplate + "/Contents/MacOS/CorvaneStub", "#!/bin/sh\n",
                        QDateTime::currentDateTimeUtc());
        ::chmod(QFile::encodeName(stubTemplate + "/Contents/MacOS/CorvaneStub").constData(), 0755);
        test::writeFile(stubTemplate + "/Icon\r", "", QDateTime::currentDateTimeUtc());

        // The builder gives the file-manager icon only where gio is installed, and the bootstrap installs it.
        const QString gio = test::missingProgram(QStringLiteral("/usr/bin/gio"));
        ASSERT_TRUE(gio.isEmpty()) << gio.toStdString();
        host::processRunner();
        runner->forwardTo(real);
        for (const QString& tool :
             {codesign, xattr, killall, host::lsregisterToolPath, QStringLiteral("/usr/bin/gio")})
            runner->respond(tool, QString());

        request.name = "Work";
        request.bundleID = "app.corvane.0123456789ab";
        request.config = workConfig();
        request.destinationDirectory = destination.path();
    }
    void TearDown() override { QDir::setCurrent(previousDirectory); }

    QString destinationApp() const { return request.destinationURL(); }

    // The file-manager icon's picture is the bundle's icon file at its largest size, as that file's PNG.
    static void expectTheIconFilesLargestImage(const QString& picture, const QString& bundle) {
        const QImage icon(bundle + "/Contents/Resources/AppIcon.icns");
        ASSERT_FALSE(icon.isNull());
        EXPECT_EQ(icon.size(), QSize(1024, 1024));
        EXPECT_EQ(test::contents(picture), pngData(icon));
    }
    QString lastPicture() {
        const auto gio = runner->argumentsOf("/usr/bin/gio");
        return gio.empty() ? QString() : QUrl(gio.back().value(5)).toLocalFile();
    }

    test::TestSymbolsScope symbols;
    std::shared_ptr<host::ProcessRunner> real = (host::processRunner(), host::services().processRunner);
    test::RecordingProcessRunnerScope runner;
    QTemporaryDir work;
    QTemporaryDir destination;
    QString previousDirectory;
    QString stubTemplate;
    AppBuilder::Request request;
};

TEST_F(AppBuilderTest, BuildsSignsInstallsAndRegisters) {
    const RegisteredApp app = AppBuilder::build(request, "-");
    const QString bundle = destination.filePath("Work.app");

    EXPECT_EQ(app.bundleID, request.bundleID);
    EXPECT_EQ(app.name, "Work");
    EXPECT_EQ(app.path, bundle);
    EXPECT_EQ(app.config, request.config);
    EXPECT_EQ(app.stubRevision, 7);
    EXPECT_TRUE(app.bookmark);
    EXPECT_FALSE(app.isMissing);

    const auto signs = runner->argumentsOf(codesign);
    ASSERT_EQ(signs.size(), 2u);
    EXPECT_EQ(signs[0].mid(0, 8),
              QStringList({"--force", "--sign", "-", "--identifier", "app.corvane.0123456789ab", "--options",
                           "runtime", "--timestamp=none"}));
    EXPECT_EQ(signs[0].size(), 9);
    EXPECT_TRUE(signs[0].last().endsWith("/Work.app"));
    EXPECT_NE(signs[0].last(), bundle); // signed while staged
    EXPECT_EQ(signs[1], QStringList({"--verify", "--strict", signs[0].last()}));
    EXPECT_EQ(runner->argumentsOf(xattr), std::vector<QStringList>(2, QStringList({"-cr", signs[0].last()})));
    EXPECT_EQ(runner->argumentsOf(host::lsregisterToolPath),
              std::vector<QStringList>{QStringList({"-f", bundle})});
    EXPECT_EQ(runner->argumentsOf(killall), std::vector<QStringList>{QStringList{"Dock"}});
    // The file-manager icon points at a picture kept outside the bundle, so the seal stays whole.
    const auto gio = runner->argumentsOf("/usr/bin/gio");
    ASSERT_EQ(gio.size(), 1u);
    EXPECT_EQ(gio[0].mid(0, 5), QStringList({"set", "-t", "string", bundle, "metadata::custom-icon"}));
    const QString picture = QUrl(gio[0].value(5)).toLocalFile();
    EXPECT_FALSE(picture.startsWith(bundle));
    expectTheIconFilesLargestImage(picture, bundle);

    const auto info = host::readBundleInfo(bundle);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->value("CFBundleIdentifier"), "app.corvane.0123456789ab");
    EXPECT_EQ(info->value("CFBundleName"), "Work");
    EXPECT_EQ(info->value("CFBundleDisplayName"), "Work");
    EXPECT_EQ(info->value("CFBundleIconFile"), "AppIcon");
    EXPECT_EQ(info->value("CVNStubRevision").typeId(), QMetaType::LongLong);
    EXPECT_EQ(info->value("CVNStubRevision").toInt(), 7);
    EXPECT_EQ(info->value("CVNProfileDirectory"), "Profile 1");
    EXPECT_FALSE(info->contains("CFBundleIconName"));
    EXPECT_FALSE(info->contains("CFBundleURLTypes"));
    EXPECT_TRUE(test::contents(bundle + "/Contents/Info.plist").startsWith("<?xml"));

    const QJsonDocument config =
        QJsonDocument::fromJson(test::contents(bundle + "/Contents/Resources/config.json"));
    EXPECT_EQ(StubConfig::fromJson(config.object()), request.config);
    EXPECT_FALSE(QImage(bundle + "/Contents/Resources/AppIcon.icns").isNull());
    EXPECT_FALSE(QFile::exists(bundle + "/Icon\r"));
    EXPECT_TRUE(QFileInfo(bundle + "/Contents/MacOS/CorvaneStub").isExecutable());
    EXPECT_TRUE(workFolders().isEmpty());
    EXPECT_EQ(QDir(destination.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{"Work.app"});
}

TEST_F(AppBuilderTest, BrowsersDeclareWebLinks) {
    request.registerAsBrowser = true;
    AppBuilder::build(request, "0123456789012345678901234567890123456789");
    const auto types = host::readBundleInfo(destinationApp())->value("CFBundleURLTypes").toList();
    ASSERT_EQ(types.size(), 1);
    const QVariantMap type = types[0].toMap();
    EXPECT_EQ(type.value("CFBundleURLName"), "Web site URL");
    EXPECT_EQ(type.value("CFBundleURLSchemes").toList(), QVariantList({"http", "https"}));
    EXPECT_EQ(type.value("CFBundleTypeRole"), "Viewer");
    EXPECT_EQ(runner->argumentsOf(codesign)[0][2], "0123456789012345678901234567890123456789");
}

TEST_F(AppBuilderTest, AnAssetCatalogInTheTemplateFailsEveryBuild) {
    test::writeFile(stubTemplate + "/Contents/Resources/Assets.car", "x", QDateTime::currentDateTimeUtc());
    try {
        AppBuilder::build(request, "-");
        FAIL() << "built with an asset catalog";
    } catch (const AppBuilder::BuildError& error) {
        EXPECT_EQ(error.code(), AppBuilder::BuildError::Code::iconNameWouldWin);
        EXPECT_EQ(error.description(),
                  "Work.app still has CFBundleIconName/Assets.car, which outranks CFBundleIconFile");
    }
    EXPECT_TRUE(runner->argumentsOf(codesign).empty());
    EXPECT_FALSE(QFile::exists(destinationApp()));
    EXPECT_TRUE(workFolders().isEmpty());
}

TEST_F(AppBuilderTest, ASealThatDoesNotVerifyLeavesTheOldAppInPlace) {
    test::writeFile(destinationApp() + "/Contents/old", "old app", QDateTime::currentDateTimeUtc());
    runner->handle(codesign, [](const QStringList& arguments) -> QString {
        if (arguments.first() == "--verify")
            throw host::toolFailure(codesign, 1, "a sealed resource is missing or invalid");
        return {};
    });
    request.replacing = destinationApp();
    EXPECT_THROW(AppBuilder::build(request, "-"), host::SystemError);
    EXPECT_EQ(test::contents(destinationApp() + "/Contents/old"), "old app");
    EXPECT_TRUE(workFolders().isEmpty());
    EXPECT_TRUE(runner->argumentsOf(host::lsregisterToolPath).empty());
}

TEST_F(AppBuilderTest, InfoPlistThatIsNoDictionaryCannotBeWritten) {
    ASSERT_TRUE(host::writePropertyListFile(stubTemplate + "/Contents/Info.plist", QVariantList{"x"}));
    try {
        AppBuilder::build(request, "-");
        FAIL();
    } catch (const AppBuilder::BuildError& error) {
        EXPECT_EQ(error.code(), AppBuilder::BuildError::Code::notWritable);
        EXPECT_TRUE(error.description().startsWith("cannot write to /"));
        EXPECT_TRUE(error.description().endsWith("/Work.app/Contents/Info.plist"));
    }
    EXPECT_TRUE(workFolders().isEmpty());
}

TEST_F(AppBuilderTest, NamesThatLeaveTheFolderAreRefusedBeforeAnythingIsWritten) {
    for (const QString& name :
         {QString(), QStringLiteral("."), QStringLiteral(".."), QStringLiteral("../Evil"),
          QStringLiteral("a/b"), QStringLiteral("a") + QChar(0) + QStringLiteral("b")}) {
        request.name = name;
        try {
            AppBuilder::build(request, "-");
            FAIL() << "built " << name.toStdString();
        } catch (const AppBuilder::BuildError& error) {
            EXPECT_EQ(error.code(), AppBuilder::BuildError::Code::invalidName);
        }
    }
    EXPECT_TRUE(runner->runs().empty());
    EXPECT_TRUE(QDir(destination.path()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    EXPECT_TRUE(workFolders().isEmpty());
}

TEST_F(AppBuilderTest, NoTemplateNoBuild) {
    QDir(stubTemplate).removeRecursively();
    try {
        AppBuilder::build(request, "-");
        FAIL();
    } catch (const AppBuilder::BuildError& error) {
        EXPECT_EQ(error.description(), "the stub template is missing from the app bundle");
    }
}

TEST_F(AppBuilderTest, ATemplateReachedThroughLinksIsCopiedAndNeverWritten) {
    // The template is a link to the real one, whose Info.plist is itself a link to a shared file.
    const QString real = work.filePath("real/StubTemplate.app");
    QDir().mkpath(work.filePath("real"));
    ASSERT_TRUE(QDir().rename(stubTemplate, real));
    ASSERT_TRUE(QFile::link(real, stubTemplate));
    const QString sharedInfo = work.filePath("real/Info.plist");
    ASSERT_TRUE(QFile::rename(real + "/Contents/Info.plist", sharedInfo));
    ASSERT_TRUE(QFile::link(sharedInfo, real + "/Contents/Info.plist"));
    const QByteArray infoBefore = test::contents(sharedInfo);

    AppBuilder::build(request, "-");
    const QFileInfo installed(destinationApp());
    EXPECT_TRUE(installed.isDir());
    EXPECT_FALSE(installed.isSymLink());
    EXPECT_FALSE(QFileInfo(destinationApp() + "/Contents/Info.plist").isSymLink());
    EXPECT_EQ(host::readBundleInfo(destinationApp())->value("CFBundleIdentifier"), request.bundleID);
    EXPECT_EQ(test::contents(sharedInfo), infoBefore);
    EXPECT_FALSE(QFile::exists(real + "/Contents/Resources/config.json"));
    EXPECT_FALSE(QFile::exists(real + "/Contents/Resources/AppIcon.icns"));

    // A link that leads nowhere is no template.
    QFile::remove(stubTemplate);
    ASSERT_TRUE(QFile::link(work.filePath("nowhere"), stubTemplate));
    try {
        AppBuilder::build(request, "-");
        FAIL();
    } catch (const AppBuilder::BuildError& error) {
        EXPECT_EQ(error.code(), AppBuilder::BuildError::Code::templateMissing);
    }
}

// Every app is a folder of its own, however the template's folders are linked: one app's configuration is
// never written into a folder another app (or the template) reads.
TEST_F(AppBuilderTest, LinkedFoldersInsideTheTemplateAreCopiedNotShared) {
    for (const QString linked : {"Contents/Resources", "Contents"}) {
        SCOPED_TRACE(linked.toStdString());
        const QString shared = work.filePath("shared/" + QString(linked).replace('/', '-'));
        QDir().mkpath(QFileInfo(shared).path());
        QDir().mkpath(stubTemplate + "/Contents/Resources");
        ASSERT_TRUE(QDir().rename(stubTemplate + "/" + linked, shared));
        ASSERT_TRUE(QFile::link(shared, stubTemplate + "/" + linked));

        request.name = "Work";
        request.config.profileDirectory = "Profile 1";
        AppBuilder::build(request, "-");
        AppBuilder::Request other = request;
        other.name = "Home";
        other.bundleID = "app.corvane.home";
        other.config.profileDirectory = "Profile 2";
        AppBuilder::build(other, "-");

        for (const QString& part :
             {QString("/Contents"), QString("/Contents/Resources"),
              QString("/Contents/Resources/config.json"), QString("/Contents/Info.plist")})
            EXPECT_FALSE(QFileInfo(destinationApp() + part).isSymLink()) << part.toStdString();
        const auto config = [](const QString& app) {
            return QJsonDocument::fromJson(test::contents(app + "/Contents/Resources/config.json"))
                .object()
                .value("profileDirectory")
                .toString();
        };
        EXPECT_EQ(config(destinationApp()), "Profile 1");
        EXPECT_EQ(config(other.destinationURL()), "Profile 2");
        EXPECT_EQ(host::readBundleInfo(destinationApp())->value("CFBundleIdentifier"), request.bundleID);
        EXPECT_FALSE(QFile::exists(stubTemplate + "/Contents/Resources/config.json"));
        EXPECT_EQ(host::readBundleInfo(stubTemplate)->value("CFBundleIdentifier"), "app.corvane.stub");

        // Back as it was for the next round.
        QFile::remove(stubTemplate + "/" + linked);
        ASSERT_TRUE(QDir().rename(shared, stubTemplate + "/" + linked));
        QDir(destinationApp()).removeRecursively();
        QDir(other.destinationURL()).removeRecursively();
    }
}

TEST_F(AppBuilderTest, ATemplateThatLinksBackIntoItselfIsRefused) {
    ASSERT_TRUE(QFile::link(stubTemplate + "/Contents", stubTemplate + "/Contents/MacOS/Loop"));
    EXPECT_THROW(AppBuilder::build(request, "-"), host::Error);
    EXPECT_FALSE(QFileInfo::exists(destinationApp()));
    EXPECT_TRUE(workFolders().isEmpty());
}

// The launcher is the template's byte for byte, with its mode, however large (it is tens of megabytes).
TEST_F(AppBuilderTest, TheLauncherIsCopiedByteForByteWithItsMode) {
    const QString launcher = stubTemplate + "/Contents/MacOS/CorvaneStub";
    QByteArray bytes(5 * 1024 * 1024 + 321, '\0');
    for (qsizetype i = 0; i < bytes.size(); ++i)
        bytes[i] = char((i * 2654435761u) >> 13);
    test::writeFile(launcher, bytes, QDateTime::currentDateTimeUtc());
    ::chmod(QFile::encodeName(launcher).constData(), 0751);

    AppBuilder::build(request, "-");
    const QString copied = destinationApp() + "/Contents/MacOS/CorvaneStub";
    EXPECT_EQ(test::contents(copied), bytes);
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(copied).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0751u);
    EXPECT_EQ(test::contents(launcher), bytes);
}

TEST_F(AppBuilderTest, RebuildingInPlaceReplacesTheBundleHoweverTheOldPathIsSpelt) {
    AppBuilder::build(request, "-");
    test::writeFile(destinationApp() + "/Contents/stale", "x", QDateTime::currentDateTimeUtc());
    // The same bundle, spelt with a detour and through a link to its folder.
    QFile::link(destination.path(), work.filePath("link"));
    for (const QString& replacing :
         {destination.path() + "/./sub/../Work.app", work.filePath("link/Work.app")}) {
        QDir().mkpath(destination.filePath("sub"));
        request.replacing = replacing;
        AppBuilder::build(request, "-");
        EXPECT_TRUE(QFile::exists(destinationApp() + "/Contents/Info.plist")) << replacing.toStdString();
        EXPECT_FALSE(QFile::exists(destinationApp() + "/Contents/stale"));
        QDir(destination.filePath("sub")).removeRecursively();
    }
    EXPECT_EQ(QDir(destination.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{"Work.app"});
}

TEST_F(AppBuilderTest, ARenameLeavesOnlyTheNewBundle) {
    AppBuilder::build(request, "-");
    request.replacing = destinationApp();
    request.name = "Work Renamed";
    AppBuilder::build(request, "-");
    EXPECT_EQ(QDir(destination.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{"Work Renamed.app"});
    // A superseded copy that is gone already is no matter.
    request.replacing = destination.filePath("Gone.app");
    EXPECT_NO_THROW(AppBuilder::build(request, "-"));
}

// The device of the file system that holds `path`, or -1.
qint64 deviceOf(const QString& path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? qint64(info.st_dev) : -1;
}

TEST_F(AppBuilderTest, InstallsAcrossFileSystems) {
    // The shared memory's file system, or where the temporary folder lies on that one, the build folder's.
    const qint64 here = deviceOf(host::temporaryDirectory());
    std::optional<QTemporaryDir> found;
    for (const QString& parent : {QStringLiteral("/dev/shm"), QStringLiteral(CORVANE_BUILD_DIR)}) {
        found.emplace(parent + QStringLiteral("/corvane-builder-XXXXXX"));
        if (found->isValid() && deviceOf(found->path()) != here)
            break;
        found.reset();
    }
    ASSERT_TRUE(found) << "neither /dev/shm nor the build folder lies on another file system than "
                       << host::temporaryDirectory().toStdString();
    QTemporaryDir& other = *found;
    request.destinationDirectory = other.path();
    AppBuilder::build(request, "-");
    test::writeFile(other.filePath("Work.app/Contents/stale"), "x", QDateTime::currentDateTimeUtc());
    AppBuilder::build(request, "-");
    EXPECT_TRUE(QFileInfo(other.filePath("Work.app/Contents/MacOS/CorvaneStub")).isExecutable());
    EXPECT_FALSE(QFile::exists(other.filePath("Work.app/Contents/stale")));
    EXPECT_EQ(QDir(other.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{"Work.app"});
    EXPECT_TRUE(workFolders().isEmpty());
}

TEST_F(AppBuilderTest, RestampingRewritesTheIconWithoutSigning) {
    AppBuilder::build(request, "-");
    const QByteArray before = test::contents(destinationApp() + "/Contents/Resources/AppIcon.icns");
    runner->clear();
    IconSpec iconDescription(request.config);
    iconDescription.badgeColor = IconColor::rgb(1, 0, 0);
    AppBuilder::restampFinderIcon(destinationApp(), iconDescription);
    EXPECT_NE(test::contents(destinationApp() + "/Contents/Resources/AppIcon.icns"), before);
    expectTheIconFilesLargestImage(lastPicture(), destinationApp());
    EXPECT_TRUE(runner->argumentsOf(codesign).empty());
    EXPECT_EQ(runner->argumentsOf(host::lsregisterToolPath).size(), 1u);
}

TEST(AppBuilderInfo, ConfigKeysOverwriteTheTemplates) {
    AppBuilder::Request request;
    request.name = "N";
    request.bundleID = "b";
    request.config = workConfig();
    const QVariantMap info = AppBuilder::patchedInfo(
        {{"CVNProfileDirectory", "Old"}, {"Other", "kept"}, {"CFBundleIconName", "x"}}, request);
    EXPECT_EQ(info.value("CVNProfileDirectory"), "Profile 1");
    EXPECT_EQ(info.value("Other"), "kept");
    EXPECT_FALSE(info.contains("CFBundleIconName"));
}

} // namespace
