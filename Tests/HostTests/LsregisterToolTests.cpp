#include "CorvaneHost/Linux/HostWorkspace.h"

#include "CorvaneHost/PropertyList.h"
#include "Support/HostToolRun.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <gmock/gmock.h>

namespace {

test::ToolRun lsregister(const QStringList& arguments) {
    return test::runHostTool(QStringLiteral("lsregister"), arguments);
}

QString makeBundle(const QString& path, const QVariantMap& info) {
    QDir().mkpath(path + QStringLiteral("/Contents/MacOS"));
    EXPECT_TRUE(host::writePropertyListFile(path + QStringLiteral("/Contents/Info.plist"), info));
    return path;
}

TEST(LsregisterToolTest, RegistersABundleSoTheWorkspaceFindsItByIdentifier) {
    QTemporaryDir dir;
    const QString bundle =
        makeBundle(dir.path() + QStringLiteral("/Out of the way/Work.app"),
                   {{QStringLiteral("CFBundleIdentifier"), QStringLiteral("app.corvane.proxy.w")}});
    EXPECT_EQ(host::HostWorkspace().urlForApplication(QStringLiteral("app.corvane.proxy.w")), std::nullopt);

    const test::ToolRun run = lsregister({QStringLiteral("-f"), bundle});
    EXPECT_EQ(run.status, 0) << run.errors.toStdString();
    EXPECT_EQ(run.errors, QString());
    EXPECT_EQ(host::HostWorkspace().urlForApplication(QStringLiteral("app.corvane.proxy.w")), bundle);
}

TEST(LsregisterToolTest, RefusesBadInputWithAMessageAndAFailingStatus) {
    QTemporaryDir dir;
    const QString noIdentifier = makeBundle(dir.path() + QStringLiteral("/Bare.app"), {});

    for (const QStringList& arguments :
         {QStringList{}, QStringList{QStringLiteral("-f")}, QStringList{QStringLiteral("-u"), noIdentifier},
          QStringList{noIdentifier}}) {
        const test::ToolRun run = lsregister(arguments);
        EXPECT_EQ(run.status, 2) << arguments.join(' ').toStdString();
        EXPECT_THAT(run.errors.toStdString(), testing::HasSubstr("usage: lsregister -f"));
    }

    test::ToolRun run = lsregister({QStringLiteral("-f"), dir.path() + QStringLiteral("/Missing.app")});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.errors.toStdString(), testing::HasSubstr("lsregister: no bundle at"));

    run = lsregister({QStringLiteral("-f"), noIdentifier});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.errors.toStdString(), testing::HasSubstr("has no bundle identifier"));
    EXPECT_FALSE(host::HostWorkspace::readState().registeredBundles.contains(noIdentifier));
}

} // namespace
