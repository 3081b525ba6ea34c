// The stand-ins that seal bundles (codesign), pack icon sets (iconutil) and give proxy apps a desktop entry
// (lsregister).
#include "CorvaneHost/PropertyList.h"
#include "Support/Files.h"
#include "Support/HostToolRun.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>
#include <gmock/gmock.h>

namespace {

using testing::HasSubstr;

QString makeBundle(const QString& path, QVariantMap info) {
    QDir().mkpath(path + QStringLiteral("/Contents/MacOS"));
    QDir().mkpath(path + QStringLiteral("/Contents/Resources"));
    EXPECT_TRUE(host::writePropertyListFile(path + QStringLiteral("/Contents/Info.plist"), info));
    test::writeFile(path + QStringLiteral("/Contents/MacOS/Stub"), "#!/bin/sh\n",
                    QDateTime::currentDateTimeUtc());
    QFile::setPermissions(path + QStringLiteral("/Contents/MacOS/Stub"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return path;
}

test::ToolRun codesign(const QStringList& arguments) {
    return test::runHostTool(QStringLiteral("codesign"), arguments);
}

test::ToolRun sign(const QString& bundle) {
    return codesign({"--force", "--sign", "-", "--identifier", "app.corvane.test", "--options", "runtime",
                     "--timestamp=none", bundle});
}

test::ToolRun verify(const QString& bundle) {
    return codesign({"--verify", "--strict", bundle});
}

// A PNG of the given size as iconutil takes it.
QByteArray png(int pixels) {
    QImage image(pixels, pixels, QImage::Format_ARGB32);
    image.fill(Qt::green);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

TEST(CodesignTool, ASealedBundleVerifies) {
    QTemporaryDir dir;
    const QString bundle = makeBundle(dir.filePath("Work.app"), {{"CFBundleIdentifier", "app.corvane.x"}});
    QFile::link(QStringLiteral("MacOS/Stub"), bundle + QStringLiteral("/Contents/Link"));
    ASSERT_EQ(sign(bundle).status, 0) << sign(bundle).errors.toStdString();
    const auto seal = host::readPropertyListFile(bundle + "/Contents/_CodeSignature/CodeResources");
    ASSERT_TRUE(seal);
    EXPECT_EQ(seal->value("identifier"), "app.corvane.test");
    EXPECT_EQ(seal->value("identity"), "-");
    EXPECT_TRUE(seal->value("files").toMap().contains("Contents/MacOS/Stub"));
    const test::ToolRun run = verify(bundle);
    EXPECT_EQ(run.status, 0) << run.errors.toStdString();
    // Signing again over an existing seal is fine.
    EXPECT_EQ(sign(bundle).status, 0);
    EXPECT_EQ(verify(bundle).status, 0);
}

// The seal holds each file's SHA-256 in hex with its mode, however large the file (the launcher is tens of
// megabytes): an empty file, a short one and one that ends part-way through a read.
TEST(CodesignTool, TheSealHoldsEachFilesSha256AndMode) {
    QTemporaryDir dir;
    const QString bundle = makeBundle(dir.filePath("Work.app"), {{"CFBundleIdentifier", "app.corvane.x"}});
    QByteArray large(3 * 1024 * 1024 + 12345, '\0');
    for (qsizetype i = 0; i < large.size(); ++i)
        large[i] = char((i * 7919) >> 3);
    test::writeFile(bundle + "/Contents/Resources/large", large, QDateTime::currentDateTimeUtc());
    test::writeFile(bundle + "/Contents/Resources/empty", "", QDateTime::currentDateTimeUtc());
    ASSERT_EQ(sign(bundle).status, 0);

    const auto seal = host::readPropertyListFile(bundle + "/Contents/_CodeSignature/CodeResources");
    ASSERT_TRUE(seal);
    const QVariantMap files = seal->value("files").toMap();
    const QVariantMap stub = files.value("Contents/MacOS/Stub").toMap();
    EXPECT_EQ(stub.value("hash"), "a8076d3d28d21e02012b20eaf7dbf75409a6277134439025f282e368e3305abf");
    EXPECT_EQ(stub.value("mode").toLongLong(), 0700);
    EXPECT_EQ(files.value("Contents/Resources/empty").toMap().value("hash"),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(files.value("Contents/Resources/large").toMap().value("hash"),
              QString::fromLatin1(QCryptographicHash::hash(large, QCryptographicHash::Sha256).toHex()));
    EXPECT_EQ(verify(bundle).status, 0);
}

TEST(CodesignTool, AnyChangeBreaksTheSeal) {
    QTemporaryDir dir;
    const QString bundle = makeBundle(dir.filePath("Work.app"), {{"CFBundleIdentifier", "app.corvane.x"}});
    ASSERT_EQ(sign(bundle).status, 0);

    test::writeFile(bundle + "/Contents/Resources/extra", "x", QDateTime::currentDateTimeUtc());
    test::ToolRun run = verify(bundle);
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.errors.toStdString(), HasSubstr("file added: Contents/Resources/extra"));
    QFile::remove(bundle + "/Contents/Resources/extra");
    EXPECT_EQ(verify(bundle).status, 0);

    test::writeFile(bundle + "/Contents/MacOS/Stub", "#!/bin/sh\nexit 1\n", QDateTime::currentDateTimeUtc());
    run = verify(bundle);
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.errors.toStdString(), HasSubstr("file modified: Contents/MacOS/Stub"));

    ASSERT_EQ(sign(bundle).status, 0);
    QFile::setPermissions(bundle + "/Contents/MacOS/Stub", QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    EXPECT_THAT(verify(bundle).errors.toStdString(), HasSubstr("file modified: Contents/MacOS/Stub"));

    ASSERT_EQ(sign(bundle).status, 0);
    QFile::remove(bundle + "/Contents/MacOS/Stub");
    EXPECT_THAT(verify(bundle).errors.toStdString(), HasSubstr("file missing: Contents/MacOS/Stub"));
}

TEST(CodesignTool, RefusesUnsignedAndMalformedInput) {
    QTemporaryDir dir;
    const QString bundle = makeBundle(dir.filePath("Work.app"), {{"CFBundleIdentifier", "app.corvane.x"}});
    const test::ToolRun unsigned_ = verify(bundle);
    EXPECT_EQ(unsigned_.status, 1);
    EXPECT_THAT(unsigned_.errors.toStdString(), HasSubstr("not signed at all"));
    EXPECT_EQ(codesign({"--verify", dir.filePath("Missing.app")}).status, 1);
    EXPECT_EQ(codesign({}).status, 2);
    EXPECT_EQ(codesign({"--sign", "-", "--verify", bundle}).status, 2);
    QDir().mkpath(dir.filePath("Bare.app"));
    EXPECT_EQ(sign(dir.filePath("Bare.app")).status, 1);
}

TEST(IconutilTool, PacksTheIconSetAsPngIcons) {
    QTemporaryDir dir;
    const QString set = dir.filePath("AppIcon.iconset");
    for (const auto& [name, pixels] : std::vector<std::pair<QString, int>>{
             {"icon_16x16.png", 16}, {"icon_32x32.png", 32}, {"icon_512x512@2x.png", 1024}})
        test::writeFile(set + "/" + name, png(pixels), QDateTime::currentDateTimeUtc());
    const QString icns = dir.filePath("out/AppIcon.icns");
    QDir().mkpath(dir.filePath("out"));
    const test::ToolRun run = test::runHostTool("iconutil", {"-c", "icns", "-o", icns, set});
    ASSERT_EQ(run.status, 0) << run.errors.toStdString();
    const QByteArray bytes = test::contents(icns);
    ASSERT_GE(bytes.size(), 8);
    EXPECT_EQ(bytes.left(4), "icns");
    EXPECT_EQ(qFromBigEndian<quint32>(bytes.constData() + 4), quint32(bytes.size()));
    EXPECT_EQ(bytes.mid(8, 4), "ic10"); // the largest first
    EXPECT_TRUE(bytes.contains("icp4") && bytes.contains("icp5"));
    // Qt's own icns reader takes it.
    EXPECT_FALSE(QImage(icns).isNull());
}

TEST(IconutilTool, RefusesAWrongSizeOrNoImages) {
    QTemporaryDir dir;
    const QString set = dir.filePath("AppIcon.iconset");
    QDir().mkpath(set);
    EXPECT_EQ(test::runHostTool("iconutil", {"-c", "icns", set}).status, 1);
    test::writeFile(set + "/icon_32x32.png", png(16), QDateTime::currentDateTimeUtc());
    const test::ToolRun run = test::runHostTool("iconutil", {"-c", "icns", set});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.errors.toStdString(), HasSubstr("expected 32x32"));
    EXPECT_EQ(test::runHostTool("iconutil", {"-c", "png", set}).status, 2);
}

TEST(LsregisterDesktopEntry, AProxyAppGetsAnEntryWithItsNameIconAndExecutable) {
    QTemporaryDir dir;
    const QString set = dir.filePath("AppIcon.iconset");
    test::writeFile(set + "/icon_128x128.png", png(128), QDateTime::currentDateTimeUtc());
    const QString bundle =
        makeBundle(dir.filePath("Apps/Work $1.app"), {{"CFBundleIdentifier", "app.corvane.0123456789ab"},
                                                      {"CFBundleName", "Work $1"},
                                                      {"CFBundleExecutable", "Stub"},
                                                      {"CFBundleIconFile", "AppIcon"},
                                                      {"CVNProfileDirectory", "Profile 1"}});
    ASSERT_EQ(
        test::runHostTool("iconutil", {"-c", "icns", "-o", bundle + "/Contents/Resources/AppIcon.icns", set})
            .status,
        0);
    const test::ToolRun run = test::runHostTool("lsregister", {"-f", bundle});
    ASSERT_EQ(run.status, 0) << run.errors.toStdString();

    const QString entryPath = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                              "/applications/app.corvane.0123456789ab.desktop";
    const QString entry = QString::fromUtf8(test::contents(entryPath));
    EXPECT_THAT(entry.toStdString(), HasSubstr("Name=Work $1\n"));
    EXPECT_THAT(entry.toStdString(), HasSubstr("Exec=\"" + dir.filePath("Apps/").toStdString() +
                                               "Work \\\\$1.app/Contents/MacOS/Stub\"\n"));
    EXPECT_THAT(entry.toStdString(), testing::Not(HasSubstr("MimeType")));
    const QString iconLine = entry.section("Icon=", 1).section('\n', 0, 0);
    EXPECT_EQ(QImage(iconLine).size(), QSize(128, 128));

    // Declared a browser: the entry takes web links.
    QVariantMap info = *host::readBundleInfo(bundle);
    info.insert("CFBundleURLTypes",
                QVariantList{QVariantMap{{"CFBundleURLSchemes", QVariantList{"http", "https"}}}});
    ASSERT_TRUE(host::writePropertyListFile(bundle + "/Contents/Info.plist", info));
    ASSERT_EQ(test::runHostTool("lsregister", {"-f", bundle}).status, 0);
    const std::string browser = test::contents(entryPath).toStdString();
    EXPECT_THAT(browser, HasSubstr("/Contents/MacOS/Stub\" %U\n"));
    EXPECT_THAT(browser, HasSubstr("MimeType=x-scheme-handler/http;x-scheme-handler/https;text/html;\n"));
}

TEST(LsregisterDesktopEntry, OtherBundlesGetTheWorkspacesPlainEntry) {
    QTemporaryDir dir;
    const QString bundle = makeBundle(dir.filePath("Other.app"), {{"CFBundleIdentifier", "org.example.other"},
                                                                  {"CFBundleExecutable", "Stub"}});
    ASSERT_EQ(test::runHostTool("lsregister", {"-f", bundle}).status, 0);
    // Every registered bundle stands in the desktop's menu by its entry; one without an icon file has no
    // icon.
    const QString entryPath = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                              "/applications/org.example.other.desktop";
    const std::string entry = test::contents(entryPath).toStdString();
    EXPECT_THAT(entry, HasSubstr("Name=Other\n"));
    EXPECT_THAT(entry, testing::Not(HasSubstr("Icon=")));

    // With the icon file its bundle names (as the creator app has), the entry shows that icon.
    const QString set = dir.filePath("AppIcon.iconset");
    test::writeFile(set + "/icon_128x128.png", png(128), QDateTime::currentDateTimeUtc());
    makeBundle(bundle, {{"CFBundleIdentifier", "org.example.other"},
                        {"CFBundleExecutable", "Stub"},
                        {"CFBundleIconFile", "AppIcon"}});
    ASSERT_EQ(
        test::runHostTool("iconutil", {"-c", "icns", "-o", bundle + "/Contents/Resources/AppIcon.icns", set})
            .status,
        0);
    ASSERT_EQ(test::runHostTool("lsregister", {"-f", bundle}).status, 0);
    const QString withIcon = QString::fromUtf8(test::contents(entryPath));
    EXPECT_EQ(QImage(withIcon.section("Icon=", 1).section('\n', 0, 0)).size(), QSize(128, 128));
    EXPECT_THAT(withIcon.toStdString(), testing::Not(HasSubstr("NoDisplay")));
}

} // namespace
