#include "Support/HostToolRun.h"
#include "Support/TemporaryHome.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace {

TEST(BrowserListTool, ListsEachBrowserByTheIdentifierARuleNamesItByAndFailsWithoutOne) {
    // The temporary home's system data folder is the only one with application entries.
    test::TemporaryHome home;
    const QString applications = home.file("usr/share/applications");
    ASSERT_TRUE(QDir().mkpath(applications));

    const auto none = test::runHostTool(QStringLiteral("corvane-dev-browsers"), {});
    EXPECT_EQ(none.status, 1);
    EXPECT_TRUE(none.output.isEmpty()) << none.output.toStdString();

    QFile entry(applications + "/fakebrowser.desktop");
    ASSERT_TRUE(entry.open(QIODevice::WriteOnly));
    entry.write("[Desktop Entry]\nType=Application\nName=Fake Browser\nExec=/bin/true %U\n"
                "MimeType=x-scheme-handler/http;x-scheme-handler/https;\n");
    entry.close();
    const auto one = test::runHostTool(QStringLiteral("corvane-dev-browsers"), {});
    EXPECT_EQ(one.status, 0) << one.errors.toStdString();
    const QStringList columns = one.output.split(QLatin1Char('\t'));
    ASSERT_EQ(columns.size(), 3) << one.output.toStdString();
    EXPECT_EQ(columns[0], QStringLiteral("desktop.fakebrowser"));
    EXPECT_EQ(columns[2], applications + "/fakebrowser.desktop");
}

} // namespace
