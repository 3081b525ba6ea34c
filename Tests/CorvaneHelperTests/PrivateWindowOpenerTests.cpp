#include "CorvaneHelper/Shell/PrivateWindowOpener.h"
#include "CorvaneHost/Linux/UnavailableScriptRunner.h"
#include "Support/HelperDoubles.h"

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
        "        set URL of active tab of privateWindow to \"https://example.com/a%22b%5Cc\"\n"
        "    else\n"
        "        tell privateWindow\n"
        "            make new tab at end of tabs with properties {URL:\"https://example.com/a%22b%5Cc\"}\n"
        "        end tell\n"
        "        set index of privateWindow to 1\n"
        "    end if\n"
        "end tell");
    EXPECT_EQ(PrivateWindowOpener::source(QUrl(QStringLiteral("https://example.com/a\"b\\c")),
                                          QStringLiteral("com.example.Bro\\wser\"")),
              expected);
    // Backslashes first, then quotes: a quote never ends up unescaped.
    EXPECT_EQ(PrivateWindowOpener::escaped(QStringLiteral("a\\\"b")), QStringLiteral("a\\\\\\\"b"));
}

TEST(PrivateWindowOpenerTest, ScriptErrorsBecomeFailures) {
    test::HelperHostScope host;
    const QUrl link(QStringLiteral("https://example.com/"));
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

TEST(PrivateWindowOpenerTest, ThisMachineSaysItHasNoBrowserScripting) {
    host::UnavailableScriptRunner runner;
    auto script = runner.compile(QStringLiteral("tell application id \"x\"\nend tell"));
    ASSERT_TRUE(script);
    const auto error = script->execute();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->value(host::kScriptErrorMessage).toString(),
              QStringLiteral("browser scripting is not available on this machine"));
}

} // namespace
