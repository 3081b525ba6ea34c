#include "CorvaneCore/Foundation/Logging.h"
#include "CorvaneCore/Foundation/Paths.h"
#include "Support/LogCapture.h"
#include "Support/TemporaryHome.h"
#include "Support/VirtualTime.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString marker(const QString& key) {
    return Corvane::supportDirectory() + "/warned-" + key;
}

void stamp(const QString& path, const QDateTime& date) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.setFileTime(date, QFileDevice::FileModificationTime));
}

TEST(Log, WritesCategoryLevelAndClearText) {
    test::LogCapture capture;
    Log::helper.error("could not write recent links: https://example.com/a?b");
    Log::ipc.info("connected");
    ASSERT_EQ(capture.lines().size(), 2u);
    EXPECT_TRUE(capture.contains("helper", host::LogLevel::Error,
                                 "could not write recent links: https://example.com/a?b"));
    EXPECT_EQ(capture.messages("ipc"), QStringList{"connected"});
}

TEST(Log, ControlCharactersInArgumentsAreEscapedSoEachEntryStaysOneLine) {
    test::LogCapture capture;
    const QString profile = QStringLiteral("Work\nhelper [Error] forged\r\t\x01\x7F") + QChar(0x2028);
    Log::helper.info(QStringLiteral("hello from profile %1").arg(profile));
    EXPECT_EQ(capture.messages("helper"),
              QStringList{"hello from profile Work\\nhelper [Error] forged\\r\\t\\u0001\\u007f\\u2028"});
    Log::helper.info(QString::fromUtf8("routed “é” plainly"));
    EXPECT_EQ(capture.messages("helper").last(), QString::fromUtf8("routed “é” plainly"));
}

TEST(WarnThrottle, WarnsOncePerIntervalAndStampsTheMarker) {
    test::TemporaryHome home;
    test::VirtualTimeScope time;
    EXPECT_TRUE(WarnThrottle::shouldWarn("group-missing", 300));
    ASSERT_TRUE(QFileInfo::exists(marker("group-missing")));
    EXPECT_EQ(QFileInfo(marker("group-missing")).size(), 0);
    EXPECT_FALSE(WarnThrottle::shouldWarn("group-missing", 300));
    time->advance(299);
    EXPECT_FALSE(WarnThrottle::shouldWarn("group-missing", 300));
    time->advance(1); // exactly the interval after the stamp
    EXPECT_TRUE(WarnThrottle::shouldWarn("group-missing", 300));
    EXPECT_EQ(QFileInfo(marker("group-missing")).lastModified().toUTC(), time->now());
}

TEST(WarnThrottle, FutureMarkerStaysQuietUntilItsDatePlusTheInterval) {
    test::TemporaryHome home;
    test::VirtualTimeScope time;
    Corvane::ensureSupportDirectory();
    stamp(marker("accessibility"), time->now().addSecs(100));
    EXPECT_FALSE(WarnThrottle::shouldWarn("accessibility", 50));
    time->advance(149);
    EXPECT_FALSE(WarnThrottle::shouldWarn("accessibility", 50));
    time->advance(1);
    EXPECT_TRUE(WarnThrottle::shouldWarn("accessibility", 50));
}

TEST(WarnThrottle, ResetMakesTheNextCallWarn) {
    test::TemporaryHome home;
    EXPECT_TRUE(WarnThrottle::shouldWarn("k", 3600));
    WarnThrottle::reset("k");
    EXPECT_TRUE(WarnThrottle::shouldWarn("k", 3600));
    WarnThrottle::reset("never-used");
}

TEST(WarnThrottle, UnwritableSupportFolderAlwaysWarns) {
    test::TemporaryHome home;
    // A file where the support folder must be: no marker can be written, whoever runs the test (folder
    // permissions would not bind the superuser).
    const QString support = Corvane::supportDirectory();
    QDir().mkpath(QFileInfo(support).path());
    QFile blocker(support);
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    EXPECT_TRUE(WarnThrottle::shouldWarn("k", 3600));
    EXPECT_TRUE(WarnThrottle::shouldWarn("k", 3600));
    EXPECT_TRUE(QFileInfo(support).isFile());
}

TEST(WarnThrottle, KeysThatAreNotPlainFileNamesNeverTouchTheDisk) {
    test::TemporaryHome home;
    QDir().mkpath(home.file("victim"));
    QFile victim(home.file("victim/file"));
    ASSERT_TRUE(victim.open(QIODevice::WriteOnly));
    victim.close();
    for (const QString& key : {QString(), QString("."), QString(".."), QString("../../../../victim/file"),
                               QString("a/b"), QString("a") + QChar(u'\0')}) {
        EXPECT_TRUE(WarnThrottle::shouldWarn(key, 3600));
        EXPECT_TRUE(WarnThrottle::shouldWarn(key, 3600));
        WarnThrottle::reset(key);
    }
    EXPECT_TRUE(QFileInfo::exists(home.file("victim/file")));
    EXPECT_FALSE(QFileInfo::exists(Corvane::supportDirectory()));
}

} // namespace
