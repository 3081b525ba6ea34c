#include "CorvaneHost/ApplicationIcons.h"

#include "CorvaneHost/PropertyList.h"
#include "Support/Files.h"

#include <QDir>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QString dataHome() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
}

TEST(ApplicationIcons, ADesktopEntryGivesItsLargestThemeIcon) {
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QString entry = dataHome() + "/applications/chromium.desktop";
    test::writeFile(
        entry, "[Desktop Entry]\nName=Chromium\nExec=chromium %U\nIcon=chromium\n[Other]\nIcon=wrong\n", now);
    for (const char* size : {"16x16", "256x256", "48x48"})
        test::writeFile(dataHome() + "/icons/hicolor/" + size + "/apps/chromium.png", "png", now);
    test::writeFile(dataHome() + "/icons/hicolor/scalable/apps/chromium.svg", "svg", now);
    EXPECT_EQ(host::applicationIconFile(entry), dataHome() + "/icons/hicolor/256x256/apps/chromium.png");

    // Only a scalable picture: that one.
    test::writeFile(entry, "[Desktop Entry]\nIcon=vector\n", now);
    test::writeFile(dataHome() + "/icons/hicolor/scalable/apps/vector.svg", "svg", now);
    EXPECT_EQ(host::applicationIconFile(entry), dataHome() + "/icons/hicolor/scalable/apps/vector.svg");

    // An absolute icon path, a missing icon, a name that tries to leave the theme.
    test::writeFile(entry, "[Desktop Entry]\nIcon=" + (dataHome() + "/own.png").toUtf8() + "\n", now);
    test::writeFile(dataHome() + "/own.png", "png", now);
    EXPECT_EQ(host::applicationIconFile(entry), dataHome() + "/own.png");
    test::writeFile(entry, "[Desktop Entry]\nIcon=nothing-here\n", now);
    EXPECT_FALSE(host::applicationIconFile(entry));
    test::writeFile(entry, "[Desktop Entry]\nIcon=../../own\n", now);
    EXPECT_FALSE(host::applicationIconFile(entry));
}

TEST(ApplicationIcons, ABundleGivesItsIconFile) {
    QTemporaryDir dir;
    const QString bundle = dir.filePath("Google Chrome.app");
    QDir().mkpath(bundle + "/Contents/Resources");
    test::writeFile(bundle + "/Contents/Resources/app.icns", "icns", QDateTime::currentDateTimeUtc());
    EXPECT_EQ(host::applicationIconFile(bundle), bundle + "/Contents/Resources/app.icns");
    ASSERT_TRUE(host::writePropertyListFile(bundle + "/Contents/Info.plist",
                                            QVariantMap{{"CFBundleIconFile", "own"}}));
    EXPECT_FALSE(host::applicationIconFile(bundle));
    test::writeFile(bundle + "/Contents/Resources/own.icns", "icns", QDateTime::currentDateTimeUtc());
    EXPECT_EQ(host::applicationIconFile(bundle), bundle + "/Contents/Resources/own.icns");
    EXPECT_FALSE(host::applicationIconFile(dir.filePath("Missing.app")));
}

} // namespace
