#include "Corvane/Models/SigningIdentity.h"
#include "Support/RecordingProcessRunner.h"

#include <gtest/gtest.h>

namespace {

const QString security = QStringLiteral("/usr/bin/security");
const QString developmentHash = QStringLiteral("1111111111111111111111111111111111111111");
const QString developerIDHash = QStringLiteral("2222222222222222222222222222222222222222");

TEST(SigningIdentity, DeveloperIDWinsWhereverItStands) {
    test::RecordingProcessRunnerScope runner;
    runner->respond(security, QStringLiteral("  1) %1 \"Apple Development: A (X)\"\n"
                                             "  2) %2 \"Developer ID Application: A (X)\"\n"
                                             "     2 valid identities found\n")
                                  .arg(developmentHash, developerIDHash));
    EXPECT_EQ(SigningIdentity::preferred(), developerIDHash);
    ASSERT_EQ(runner->runs().size(), 1u);
    EXPECT_EQ(runner->runs()[0].arguments,
              (QStringList{QStringLiteral("find-identity"), QStringLiteral("-v"), QStringLiteral("-p"),
                           QStringLiteral("codesigning")}));
}

TEST(SigningIdentity, LinesWithoutAHashAreSkipped) {
    EXPECT_EQ(SigningIdentity::fromListing(QStringLiteral("Policy: Apple Development\n"
                                                          "  1) %1 \"Apple Development: A\"\n")
                                               .arg(developmentHash)),
              developmentHash);
    EXPECT_EQ(SigningIdentity::fromListing(QStringLiteral("     0 valid identities found\n")),
              QStringLiteral("-"));
}

TEST(SigningIdentity, FailingToolSignsAdHoc) {
    test::RecordingProcessRunnerScope runner;
    runner->exitWith(security, 1, QStringLiteral("no keychain"));
    EXPECT_EQ(SigningIdentity::preferred(), QStringLiteral("-"));
    runner->failLaunch(security);
    EXPECT_EQ(SigningIdentity::preferred(), QStringLiteral("-"));
}

} // namespace
