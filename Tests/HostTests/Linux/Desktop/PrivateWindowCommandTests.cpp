#include "CorvaneHost/Linux/Desktop/PrivateWindowCommand.h"
#include "Support/Files.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using host::privateWindowCommand;

// Links as desktop programs hand them over: raw characters a browser escapes itself, escapes that a parsed
// link would decode, quotes.
const QStringList links{QStringLiteral("https://fonts.example/css?family=Roboto|Lato&q=%41%7e"),
                        QStringLiteral("https://Caf%C3%A9.example/a\"b'c")};

class PrivateWindowCommandTest : public testing::Test {
protected:
    // The entry file `id`.desktop with the lines given after its group header.
    host::DesktopEntry entry(const QString& id, const QByteArray& lines) {
        const QString path = folder.filePath(id + QStringLiteral(".desktop"));
        test::writeFile(path, "[Desktop Entry]\nType=Application\nName=" + id.toUtf8() + "\n" + lines,
                        QDateTime::currentDateTime());
        auto read = host::readDesktopEntry(path, id);
        EXPECT_TRUE(read) << id.toStdString();
        return read.value_or(host::DesktopEntry{});
    }

    QTemporaryDir folder;
};

TEST_F(PrivateWindowCommandTest, WithoutAnActionTheBrowsersOwnCommandTakesTheSwitchAndTheLinkAsWritten) {
    // Debian's Chromium entry carries no actions.
    const auto chromium = entry(QStringLiteral("chromium"), "Exec=/usr/bin/chromium %U\n");
    const auto edge = entry(QStringLiteral("microsoft-edge"),
                            "Exec=/usr/bin/microsoft-edge-stable --enable-features=A %U\n"
                            // An action group that the Actions key does not name is not the entry's.
                            "[Desktop Action new-private-window]\nExec=/usr/bin/other --incognito\n");
    for (const QString& link : links) {
        EXPECT_EQ(privateWindowCommand(chromium, link),
                  (QStringList{QStringLiteral("/usr/bin/chromium"), QStringLiteral("--incognito"), link}));
        EXPECT_EQ(privateWindowCommand(edge, link),
                  (QStringList{QStringLiteral("/usr/bin/microsoft-edge-stable"),
                               QStringLiteral("--enable-features=A"), QStringLiteral("--incognito"), link}));
    }
}

TEST_F(PrivateWindowCommandTest, AnEntrysPrivateWindowActionIsTheCommand) {
    // As Google Chrome's entry has it.
    const auto chrome =
        entry(QStringLiteral("google-chrome"),
              "Exec=/usr/bin/google-chrome-stable %U\n"
              "Actions=new-window;new-private-window;\n"
              "[Desktop Action new-window]\nName=New Window\nExec=/usr/bin/google-chrome-stable\n"
              "[Desktop Action new-private-window]\nName=New Incognito Window\n"
              "Exec=/opt/google/chrome/google-chrome --incognito\n");
    for (const QString& link : links)
        EXPECT_EQ(privateWindowCommand(chrome, link),
                  (QStringList{QStringLiteral("/opt/google/chrome/google-chrome"),
                               QStringLiteral("--incognito"), link}));
}

TEST_F(PrivateWindowCommandTest, ABrowserOutsideTheChromiumFamilyIsRefused) {
    // Firefox offers a private window through an action too, but with a switch of its own and its own
    // reading of it: the host asks only the browsers it knows.
    const auto firefox = entry(QStringLiteral("firefox-esr"),
                               "Exec=/usr/lib/firefox-esr/firefox-esr %u\nActions=new-private-window;\n"
                               "[Desktop Action new-private-window]\n"
                               "Exec=/usr/lib/firefox-esr/firefox-esr --private-window %u\n");
    const auto other = entry(QStringLiteral("org.example.Browser"), "Exec=/usr/bin/example-browser %U\n");
    // An entry the host wrote for a bundle runs that bundle's program, whatever the entry is called.
    const auto bundle = entry(
        QStringLiteral("chromium-browser"),
        "Exec=/home/me/Applications/Fake.app/Contents/MacOS/run %U\nX-Corvane-Bundle=/home/me/Fake.app\n");
    EXPECT_FALSE(privateWindowCommand(firefox, links[0]));
    EXPECT_FALSE(privateWindowCommand(other, links[0]));
    EXPECT_FALSE(privateWindowCommand(bundle, links[0]));
    EXPECT_TRUE(host::opensPrivateWindowsAtStart(entry(QStringLiteral("brave-browser"), "Exec=brave %U\n")));
}

} // namespace
