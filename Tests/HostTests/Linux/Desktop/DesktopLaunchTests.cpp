// What a program started by the desktop takes from its arguments: the links as written, and files.
#include "CorvaneHost/Linux/Desktop/DesktopLaunch.h"
#include "Support/TemporaryHome.h"

#include <QFile>
#include <gtest/gtest.h>

namespace {

TEST(DesktopLaunchTest, LinksKeepTheirTextAndFilesAreFiles) {
    test::TemporaryHome home;
    const QString page = home.file(QStringLiteral("page.html"));
    QFile(page).open(QIODevice::WriteOnly);
    const QString escaped = QStringLiteral("https://caf%C3%A9.example/menu");

    const auto links = host::desktopLaunchLinks({escaped, page, QStringLiteral("https://example.com/")});
    ASSERT_TRUE(links) << "a host written with escapes is a link";
    ASSERT_EQ(links->urls.size(), 3);
    EXPECT_TRUE(links->urls[1].isLocalFile());
    EXPECT_EQ(links->written, (QStringList{escaped, QStringLiteral("https://example.com/")}));

    // Switches of the program's own are no desktop start.
    EXPECT_FALSE(host::desktopLaunchLinks({QStringLiteral("--verbose")}));
    EXPECT_FALSE(host::desktopLaunchLinks({escaped, QStringLiteral("relative/page")}));
}

} // namespace
