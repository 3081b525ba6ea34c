// What a program started by the desktop takes from its arguments: the links as written, and files.
#include "CorvaneHost/Linux/Desktop/DesktopLaunch.h"
#include "Support/LogCapture.h"
#include "Support/TemporaryHome.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

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

} // namespace
