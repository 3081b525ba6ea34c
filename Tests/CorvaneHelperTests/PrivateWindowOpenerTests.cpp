#include "CorvaneHelper/Shell/PrivateWindowOpener.h"
#include "CorvaneHost/Linux/DesktopScriptRunner.h"
#include "CorvaneHost/Services.h"
#include "Support/Eventually.h"
#include "Support/FakeWorkspace.h"
#include "Support/Files.h"
#include "Support/HelperDoubles.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

TEST(PrivateWindowOpenerTest, ScriptIsTheFixedTextWithBothValuesEscaped) {
    const QString expected = QStringLiteral(
        "tell application id \"com.example.Bro\\\\wser\\\"\"\n"
        "    activate\n"
        "    set privateWindow to missing value\n"
        "    repeat with w in windows\n"
        "        if mode of w is \"incognito\" then\n"
        "            set privateWindow to w\n"
        "            exit repeat\n"
        "        end if\n"
        "    end repeat\n"
        "    if privateWindow is missing value then\n"
        "        set privateWindow to make new window with properties {mode:\"incognito\"}\n"
        "        set URL of active tab of privateWindow to \"https://example.com/a\\\"b\\\\c\"\n"
        "    else\n"
        "        tell privateWindow\n"
        "            make new tab at end of tabs with properties {URL:\"https://example.com/a\\\"b\\\\c\"}\n"
        "        end tell\n"
        "        set index of privateWindow to 1\n"
        "    end if\n"
        "end tell");
    EXPECT_EQ(PrivateWindowOpener::source(QStringLiteral("https://example.com/a\"b\\c"),
                                          QStringLiteral("com.example.Bro\\wser\"")),
              expected);
    // Backslashes first, then quotes: a quote never ends up unescaped.
    EXPECT_EQ(PrivateWindowOpener::escaped(QStringLiteral("a\\\"b")), QStringLiteral("a\\\\\\\"b"));
}

TEST(PrivateWindowOpenerTest, ScriptErrorsBecomeFailures) {
    test::HelperHostScope host;
    const QString link = QStringLiteral("https://example.com/");
    const QString chrome = QStringLiteral("com.google.Chrome");

    PrivateWindowOpener::open(link, chrome);
    EXPECT_EQ(host.scripts().executions, 1);

    auto failure = [&]() -> std::optional<PrivateWindowOpener::Failure> {
        try {
            PrivateWindowOpener::open(link, chrome);
        } catch (const PrivateWindowOpener::Failure& thrown) {
            return thrown;
        }
        return std::nullopt;
    };

    host.scripts().error = QVariantMap{{host::kScriptErrorNumber, qint64(-1743)},
                                       {host::kScriptErrorMessage, QStringLiteral("Not authorized")}};
    auto thrown = failure();
    ASSERT_TRUE(thrown);
    EXPECT_EQ(thrown->code(), PrivateWindowOpener::Failure::Code::notPermitted);
    EXPECT_EQ(thrown->description(), QStringLiteral("notPermitted"));

    host.scripts().error = QVariantMap{{host::kScriptErrorNumber, qint64(-1728)},
                                       {host::kScriptErrorMessage, QStringLiteral("Can’t get window 1.")}};
    thrown = failure();
    ASSERT_TRUE(thrown);
    EXPECT_EQ(thrown->code(), PrivateWindowOpener::Failure::Code::scriptFailed);
    EXPECT_EQ(thrown->description(), QStringLiteral("scriptFailed(\"Can’t get window 1.\")"));

    host.scripts().error = QVariantMap{{host::kScriptErrorNumber, qint64(-2700)}};
    thrown = failure();
    ASSERT_TRUE(thrown);
    EXPECT_EQ(thrown->message(), QStringLiteral("unknown error"));

    // A script that cannot be made opened nothing, and says so.
    host.scripts().error.reset();
    host.scripts().compiles = false;
    thrown = failure();
    ASSERT_TRUE(thrown);
    EXPECT_EQ(thrown->code(), PrivateWindowOpener::Failure::Code::scriptFailed);
}

// The desktop reads the browser and the link back out of the script, whatever the link holds.
TEST(PrivateWindowOpenerTest, TheDesktopReadsTheBrowserAndTheLinkBackFromTheScript) {
    const QString chrome = QStringLiteral("com.google.Chrome");
    for (const QString& link :
         {QStringLiteral("https://example.com/a\"b\\c"), QStringLiteral("https://example.com/\"}\\\""),
          QStringLiteral("https://fonts.example/css?family=Roboto|Lato&q=%41%7e#caf\u00e9")})
        EXPECT_EQ(host::privateWindowRequest(PrivateWindowOpener::source(link, chrome)),
                  (host::PrivateWindowRequest{chrome, link}))
            << link.toStdString();

    // Any other script is no such request: one that makes a normal window, or another script altogether.
    QString normalWindow = PrivateWindowOpener::source(QStringLiteral("https://example.com/"), chrome);
    normalWindow.replace(QStringLiteral("{mode:\"incognito\"}"), QStringLiteral("{mode:\"normal\"}"));
    EXPECT_FALSE(host::privateWindowRequest(normalWindow));
    EXPECT_FALSE(host::privateWindowRequest(QStringLiteral("tell application id \"x\"\nend tell")));
}

class DesktopPrivateWindowTest : public testing::Test {
protected:
    void SetUp() override {
        // A stand-in for the browser's program: records its arguments, one a line.
        test::writeFile(program(),
                        QStringLiteral("#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\" >> '%1'; done\n")
                            .arg(record())
                            .toUtf8(),
                        QDateTime::currentDateTime());
        QFile::setPermissions(program(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    // A desktop entry named `id` whose program is the stand-in, standing for the browser `bundleID`.
    QString addEntry(const QString& id, const QString& bundleID, const QByteArray& rest = {}) {
        const QString path = folder.filePath(id + QStringLiteral(".desktop"));
        test::writeFile(path,
                        "[Desktop Entry]\nType=Application\nName=" + id.toUtf8() +
                            "\nExec=" + program().toUtf8() + " %U\n" + rest,
                        QDateTime::currentDateTime());
        workspace->addApplicationAt(path, test::FakeWorkspace::browserInfo(bundleID));
        return path;
    }

    QString program() const { return folder.filePath(QStringLiteral("browser")); }
    QString record() const { return folder.filePath(QStringLiteral("arguments.txt")); }

    std::optional<PrivateWindowOpener::Failure> failureOpening(const QString& link, const QString& bundleID) {
        try {
            PrivateWindowOpener::open(link, bundleID);
        } catch (const PrivateWindowOpener::Failure& failure) {
            return failure;
        }
        return std::nullopt;
    }

    QTemporaryDir folder;
    test::FakeWorkspaceScope workspace;
    test::ServiceOverride<host::ScriptRunner> runner{host::services().scriptRunner,
                                                     std::make_shared<host::DesktopScriptRunner>()};
};

TEST_F(DesktopPrivateWindowTest, ChromiumIsStartedWithThePrivateSwitchAndTheLinkAsWritten) {
    addEntry(QStringLiteral("chromium"), QStringLiteral("com.google.Chrome"));
    const QString link = QStringLiteral("https://Caf%C3%A9.example/menu?day=%41%7e&who='me'");

    PrivateWindowOpener::open(link, QStringLiteral("com.google.Chrome"));

    EXPECT_TRUE(test::eventually([&] {
        return test::linesOf(record()) == QStringList{QStringLiteral("--incognito"), link};
    })) << test::readText(record()).toStdString();
}

TEST_F(DesktopPrivateWindowTest, EveryOtherBrowserIsRefusedWithTheReason) {
    // Firefox's entry offers a private window of its own, but it is no browser of the Chromium family.
    addEntry(QStringLiteral("firefox-esr"), QStringLiteral("org.mozilla.firefox"),
             "Actions=new-private-window;\n[Desktop Action new-private-window]\nName=Private\nExec=" +
                 program().toUtf8() + " --private-window %u\n");
    workspace->addApplication(QStringLiteral("Bundled Chromium"),
                              test::FakeWorkspace::browserInfo(QStringLiteral("com.example.bundled")));
    const QString link = QStringLiteral("https://example.com/");

    for (const auto& [bundleID, message] :
         {std::pair{QStringLiteral("org.mozilla.firefox"),
                    QStringLiteral("org.mozilla.firefox opens no private window from the desktop")},
          std::pair{QStringLiteral("com.example.bundled"),
                    QStringLiteral("com.example.bundled opens no private window from the desktop")},
          std::pair{QStringLiteral("com.example.none"),
                    QStringLiteral("no application com.example.none is installed")}}) {
        const auto failure = failureOpening(link, bundleID);
        ASSERT_TRUE(failure) << bundleID.toStdString();
        EXPECT_EQ(failure->code(), PrivateWindowOpener::Failure::Code::scriptFailed);
        EXPECT_EQ(failure->message(), message);
    }
    EXPECT_FALSE(QFile::exists(record()));

    // Every other script says there is no scripting here.
    const auto script = host::scriptRunner().compile(QStringLiteral("tell application id \"x\"\nend tell"));
    ASSERT_TRUE(script);
    EXPECT_EQ(script->execute().value_or(QVariantMap()).value(host::kScriptErrorMessage).toString(),
              QStringLiteral("browser scripting is not available on this machine"));
}

} // namespace
