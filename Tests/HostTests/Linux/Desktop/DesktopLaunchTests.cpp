// What a program started by the desktop takes from its arguments: the links as written, and files.
#include "CorvaneHost/Linux/Desktop/DesktopLaunch.h"
#include "CorvaneHost/Linux/Processes/EventDelivery.h"
#include "Support/Files.h"
#include "Support/LogCapture.h"
#include "Support/TemporaryHome.h"
#include "Support/VanishingListener.h"
#include "Support/VirtualTime.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QThread>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

TEST(DesktopLaunchTest, LinksKeepTheirTextAndFilesAreFiles) {
    test::TemporaryHome home;
    const QString page = home.file(QStringLiteral("page.html"));
    QFile(page).open(QIODevice::WriteOnly);
    const QString escaped = QStringLiteral("https://caf%C3%A9.example/menu");
    const QString raw = QStringLiteral("https://fonts.example/css?family=Roboto|Lato&t=%7E");

    const auto links = host::desktopLaunchLinks({escaped, page, raw});
    ASSERT_TRUE(links) << "a host written with escapes is a link";
    ASSERT_EQ(links->urls.size(), 3);
    EXPECT_TRUE(links->urls[1].isLocalFile());
    EXPECT_EQ(links->written, (QStringList{escaped, raw}));
    EXPECT_TRUE(links->unusable.isEmpty());

    // A path as given, relative to the working folder, names the file there.
    const QString previous = QDir::currentPath();
    QDir::setCurrent(home.path());
    const auto relative = host::desktopLaunchLinks({QStringLiteral("./page.html")});
    QDir::setCurrent(previous);
    ASSERT_TRUE(relative);
    EXPECT_EQ(relative->urls, QList<QUrl>{QUrl::fromLocalFile(page)});

    // Switches of the program's own are no desktop start.
    EXPECT_FALSE(host::desktopLaunchLinks({QStringLiteral("--verbose")}));
    EXPECT_FALSE(host::desktopLaunchLinks({escaped, QStringLiteral("-v")}));
}

TEST(DesktopLaunchTest, WhatCannotBeTakenIsLoggedAndAStartWithNothingElseEnds) {
    test::TemporaryHome home;
    test::LogCapture log;
    const QString hostHidden = QStringLiteral("https://a.example\\@b.example/");
    const auto links = host::desktopLaunchLinks({QStringLiteral("relative/page"), hostHidden});
    ASSERT_TRUE(links);
    EXPECT_TRUE(links->urls.isEmpty());
    EXPECT_EQ(links->unusable, (QStringList{QStringLiteral("relative/page"), hostHidden}));

    // No plain start of the program for links that were asked for and could not be taken.
    EXPECT_EQ(host::handOnDesktopLaunch({hostHidden, QStringLiteral("https://a.example/\nx")}), 1);
    EXPECT_TRUE(
        log.contains(QStringLiteral("application"), host::LogLevel::Error,
                     QStringLiteral("a desktop start carried no usable URL: \"%1\"").arg(hostHidden)));
    EXPECT_TRUE(
        log.contains(QStringLiteral("a desktop start carried no usable URL: \"https://a.example/\\nx\"")));
}

// A running copy took the links and ended before it answered, perhaps after it handed them on: the copy
// started next gets them under the mark the running one had them with, and so skips them when that one did.
TEST(DesktopLaunchTest, LinksARunningCopyDroppedGoToTheNextCopyUnderTheSameMark) {
    test::TemporaryHome home;
    test::VirtualTimeScope time; // the start's confirmation reports to a main queue
    const QString identifier = QStringLiteral("com.example.desktop-launch.dropped");
    const QString bundle = home.file(QStringLiteral("Applications/Dropped.app"));
    const QString started = home.file(QStringLiteral("started-with.txt"));
    ASSERT_TRUE(test::writeScriptBundle(
        bundle,
        {{QStringLiteral("CFBundleIdentifier"), identifier},
         {QStringLiteral("CFBundleExecutable"), QStringLiteral("run")}},
        QStringLiteral("#!/bin/sh\nprintf '%s' \"$%1\" > '%2.tmp' && mv '%2.tmp' '%2'\n")
            .arg(QString::fromLatin1(host::kLaunchEventsVariable), started)));
    test::VanishingListener running(host::eventSocketPath(identifier));

    // The road ends by giving its standard streams up, as a start from the desktop does: this test keeps its
    // own.
    int streams[3];
    for (int fd = 0; fd < 3; ++fd)
        streams[fd] = ::dup(fd);
    const QString link = QStringLiteral("https://dropped.example/page");
    const auto status = host::handOnDesktopLaunch({link}, host::Bundle(bundle));
    for (int fd = 0; fd < 3; ++fd) {
        ::dup2(streams[fd], fd);
        ::close(streams[fd]);
    }
    host::setEventSenderPID(0);
    EXPECT_EQ(status, 0);

    const auto handed = running.line();
    ASSERT_TRUE(handed);
    const auto dropped = host::decodeDeliveredEvents(*handed);
    ASSERT_TRUE(dropped);
    EXPECT_FALSE(dropped->deliveryID.isEmpty());
    QDeadlineTimer deadline(10000);
    while (!QFile::exists(started) && !deadline.hasExpired())
        QThread::msleep(10);
    QFile file(started);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const auto next = host::decodeDeliveredEvents(file.readAll());
    ASSERT_TRUE(next);
    EXPECT_EQ(next->deliveryID, dropped->deliveryID);
    ASSERT_EQ(next->events.size(), 1u);
    EXPECT_EQ(next->events[0].directObject, link);
}

} // namespace
