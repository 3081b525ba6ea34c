#include "CorvaneHost/Error.h"
#include "CorvaneHost/Folders.h"
#include "CorvaneHost/Linux/Desktop/DesktopEntries.h"
#include "CorvaneHost/Trash.h"
#include "Support/Files.h"
#include "Support/TemporaryHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

namespace {

void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// Runs the test with a working directory of its own, so a stray "files" folder would be seen.
class TrashTest : public testing::Test {
protected:
    test::TemporaryHome home;
    QString previousDirectory = QDir::currentPath();
    void SetUp() override {
        QDir().mkpath(home.file("work"));
        QDir::setCurrent(home.file("work"));
    }
    void TearDown() override { QDir::setCurrent(previousDirectory); }
};

TEST_F(TrashTest, MovesFilesAndFoldersIntoTheHomeTrash) {
    writeFile(home.file("Old/data.json"), "kept");
    const QString placed = host::moveToTrash(home.file("Old"));
    EXPECT_EQ(placed, home.file(".local/share/Trash/files/Old"));
    EXPECT_FALSE(QFileInfo::exists(home.file("Old")));
    QFile moved(placed + "/data.json");
    ASSERT_TRUE(moved.open(QIODevice::ReadOnly));
    EXPECT_EQ(moved.readAll(), "kept");
    EXPECT_TRUE(QFileInfo::exists(home.file(".local/share/Trash/info/Old.trashinfo")));

    // The same name again gets a place of its own.
    writeFile(home.file("Old/other.json"), "second");
    EXPECT_NE(host::moveToTrash(home.file("Old")), placed);
}

TEST_F(TrashTest, AMissingItemIsReported) {
    try {
        host::moveToTrash(home.file("Nothing.app"));
        FAIL() << "expected an error";
    } catch (const host::SystemError& error) {
        EXPECT_EQ(error.domain(), "NSCocoaErrorDomain");
        EXPECT_EQ(error.code(), 4);
        EXPECT_TRUE(error.description().startsWith("“Nothing.app” couldn’t be moved to the Trash: "));
    }
}

TEST_F(TrashTest, AnUnusableTrashIsReportedAndTheItemStays) {
    writeFile(home.file("Old/data.json"), "kept");
    writeFile(home.file(".local/share/Trash"), "a file where the Trash belongs");
    EXPECT_THROW(host::moveToTrash(home.file("Old")), host::SystemError);
    EXPECT_TRUE(QFileInfo::exists(home.file("Old/data.json")));
    EXPECT_TRUE(QDir(home.file("work")).isEmpty()) << "nothing went to the working directory";
}

TEST_F(TrashTest, AHomeWithoutItsDataFolderStillGetsATrash) {
    // A fresh account: ~/.local/share does not exist yet.
    ASSERT_FALSE(QFileInfo::exists(home.file(".local/share")));
    writeFile(home.file("file.txt"), "x");
    EXPECT_EQ(host::moveToTrash(home.file("file.txt")), home.file(".local/share/Trash/files/file.txt"));
    EXPECT_TRUE(QDir(home.file("work")).isEmpty());
}

// A proxy app with its entry in the desktop's menu, as the workspace registers it.
QString registeredProxyApp(const test::TemporaryHome& home, const QString& name, const QString& identifier) {
    const QString bundle = home.file("Applications/" + name + ".app");
    const QVariantMap info{{"CFBundleIdentifier", identifier},
                           {"CFBundleName", name},
                           {"CFBundleExecutable", "run"},
                           {"CFBundleIconFile", "AppIcon"},
                           {"CVNProfileDirectory", "Profile 1"}};
    EXPECT_TRUE(test::writeScriptBundle(bundle, info, "#!/bin/sh\n"));
    writeFile(bundle + "/Contents/Resources/AppIcon.icns", test::icnsWithOnePicture("ic04", 16));
    host::writeBundleDesktopEntry(bundle, info);
    return bundle;
}

TEST_F(TrashTest, AnAppInTheTrashLeavesTheDesktopsMenuWithItsIconAndTheOthersStay) {
    const QString trashed = registeredProxyApp(home, "Work", "app.corvane.work");
    registeredProxyApp(home, "Home", "app.corvane.home");
    const QString menu = home.file(".local/share/applications/");
    const QString icons = host::hostStateDirectory() + "/icons/";
    ASSERT_TRUE(QFileInfo::exists(menu + "app.corvane.work.desktop"));
    ASSERT_TRUE(QFileInfo::exists(icons + "app.corvane.work.png"));
    // An entry of the desktop's own with the same name is not the host's to remove.
    writeFile(menu + "work.desktop", "[Desktop Entry]\nType=Application\nName=Work\nExec=work\n");

    host::moveToTrash(trashed);
    EXPECT_FALSE(QFileInfo::exists(menu + "app.corvane.work.desktop"));
    EXPECT_FALSE(QFileInfo::exists(icons + "app.corvane.work.png"));
    EXPECT_TRUE(QFileInfo::exists(menu + "app.corvane.home.desktop"));
    EXPECT_TRUE(QFileInfo::exists(icons + "app.corvane.home.png"));
    EXPECT_TRUE(QFileInfo::exists(menu + "work.desktop"));
}

} // namespace
