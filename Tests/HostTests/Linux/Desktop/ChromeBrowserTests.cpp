#include "CorvaneHost/Linux/Desktop/ChromeBrowser.h"

#include <gmock/gmock.h>

namespace {

using host::isChromeMainProcess;
using host::runsOnDataFolder;

host::ChromeBrowser chromium() {
    host::DesktopEntry entry;
    entry.id = QStringLiteral("chromium");
    return *host::chromeAmong({entry});
}

const QString program = QStringLiteral("/usr/lib/chromium/chromium");

// Chromium's processes rewrite their command line as one line of text once they run, so /proc shows every
// switch inside the first argument: a renderer is no main process whichever way its switches are read.
TEST(ChromeBrowserTest, HelperProcessesAreNoMainProcessAlsoWithTheirCommandLineRewritten) {
    const auto chrome = chromium();
    EXPECT_TRUE(isChromeMainProcess(chrome, program, {program, QStringLiteral("--new-window"), {}}));
    EXPECT_FALSE(isChromeMainProcess(chrome, program, {program, QStringLiteral("--type=renderer"), {}}));
    EXPECT_TRUE(isChromeMainProcess(
        chrome, program,
        {program + QStringLiteral(" --no-default-browser-check --new-window about:blank"), {}}));
    EXPECT_FALSE(isChromeMainProcess(
        chrome, program,
        {program + QStringLiteral(" --type=renderer --lang=en-US --renderer-client-id=7"), {}}));
    // The wrapper script of the browser, before it hands over.
    EXPECT_TRUE(isChromeMainProcess(chrome, QStringLiteral("/usr/bin/dash"),
                                    {QStringLiteral("/bin/sh"), QStringLiteral("/usr/bin/chromium")}));
    EXPECT_FALSE(isChromeMainProcess(chrome, QStringLiteral("/usr/bin/sleep"), {QStringLiteral("sleep")}));
}

TEST(ChromeBrowserTest, TheDataFolderIsTheOneTheSwitchNamesElseTheDefault) {
    const QString mine = QStringLiteral("/home/me/.config/chromium");
    EXPECT_TRUE(runsOnDataFolder({program, QStringLiteral("--new-window")}, mine));
    EXPECT_TRUE(
        runsOnDataFolder({program, QStringLiteral("--user-data-dir=/home/me/.config/chromium/")}, mine));
    EXPECT_FALSE(runsOnDataFolder({program, QStringLiteral("--user-data-dir=/tmp/other")}, mine));
    EXPECT_FALSE(
        runsOnDataFolder({program + QStringLiteral(" --user-data-dir=/tmp/other --new-window"), {}}, mine));
}

} // namespace
