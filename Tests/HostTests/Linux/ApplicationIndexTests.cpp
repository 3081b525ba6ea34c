#include "CorvaneHost/Linux/ApplicationIndex.h"
#include "CorvaneHost/Linux/Desktop/DesktopEntries.h"
#include "CorvaneHost/Linux/HostWorkspace.h"

#include "CorvaneHost/Folders.h"
#include "CorvaneHost/PropertyList.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <gmock/gmock.h>

using host::ApplicationIndex;
using host::HostWorkspace;

namespace {

// Longer than the time after a change within which a file's stamp is not trusted yet: what follows must be
// seen through a changed stamp, not through a listing made again anyway.
void letStampsSettle() {
    QThread::msleep(80);
}

void writeInfo(const QString& bundle, const QString& identifier) {
    QDir().mkpath(bundle + QStringLiteral("/Contents"));
    ASSERT_TRUE(host::writePropertyListFile(
        bundle + QStringLiteral("/Contents/Info.plist"),
        QVariantMap{{QStringLiteral("CFBundleIdentifier"), identifier},
                    {QStringLiteral("CFBundleExecutable"), QStringLiteral("run")}}));
}

// Rewrites the Info.plist in place (same file, same size): its folder's time does not move.
void rewriteInPlace(const QString& bundle, const QString& identifier) {
    QFile file(bundle + QStringLiteral("/Contents/Info.plist"));
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    const QByteArray before = file.readAll();
    QByteArray after = host::serializePropertyList(
        QVariantMap{{QStringLiteral("CFBundleIdentifier"), identifier},
                    {QStringLiteral("CFBundleExecutable"), QStringLiteral("run")}});
    ASSERT_EQ(after.size(), before.size());
    ASSERT_TRUE(file.seek(0));
    ASSERT_EQ(file.write(after), after.size());
}

QStringList identifiers(const std::vector<host::IndexedApplication>& applications) {
    QStringList found;
    for (const auto& app : applications)
        found.append(app.bundleIdentifier());
    return found;
}

// Sets an environment variable for as long as it lives.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const QString& value)
        : name_(name)
        , saved_(qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt) {
        qputenv(name, QFile::encodeName(value));
    }
    ~ScopedVariable() {
        if (saved_)
            qputenv(name_, *saved_);
        else
            qunsetenv(name_);
    }

private:
    const char* name_;
    std::optional<QByteArray> saved_;
};

class ApplicationIndexTest : public testing::Test {
protected:
    ApplicationIndexTest() {
        QDir().mkpath(apps);
        QDir().mkpath(entries);
    }
    ApplicationIndex::Sources sources() const {
        return {dir.filePath(QStringLiteral("state.json")), {apps}, host::desktopEntryDirectories()};
    }

    QTemporaryDir dir;
    const QString apps = dir.filePath(QStringLiteral("Apps"));
    // The desktop's entries are this test's alone.
    ScopedVariable dataHome{"XDG_DATA_HOME", dir.filePath(QStringLiteral("data"))};
    ScopedVariable dataDirs{"XDG_DATA_DIRS", dir.filePath(QStringLiteral("share"))};
    const QString entries = dir.filePath(QStringLiteral("share/applications"));
    QStringList registered;
    ApplicationIndex index{[this] { return sources(); }, [this] { return registered; }};
};

TEST_F(ApplicationIndexTest, ListsAgainOnlyWhenSomethingItWasReadFromChanged) {
    writeInfo(apps + QStringLiteral("/A.app"), QStringLiteral("org.example.a"));
    letStampsSettle();
    EXPECT_THAT(identifiers(index.applications()), testing::ElementsAre("org.example.a"));
    const int listed = index.rebuildCount();
    EXPECT_THAT(identifiers(index.applications()), testing::ElementsAre("org.example.a"));
    EXPECT_TRUE(index.application(apps + QStringLiteral("/A.app")));
    EXPECT_EQ(index.rebuildCount(), listed);

    // A bundle two folders down, put there by anyone.
    writeInfo(apps + QStringLiteral("/Tools/Web/B.app"), QStringLiteral("org.example.b"));
    EXPECT_THAT(identifiers(index.applications()), testing::ElementsAre("org.example.a", "org.example.b"));
    letStampsSettle();

    // The registrations are read when the state file changes, and come first.
    registered = {dir.filePath(QStringLiteral("Elsewhere/C.app"))};
    writeInfo(registered.first(), QStringLiteral("org.example.c"));
    QFile state(sources().stateFile);
    ASSERT_TRUE(state.open(QIODevice::WriteOnly));
    state.close();
    EXPECT_THAT(identifiers(index.applications()),
                testing::ElementsAre("org.example.c", "org.example.a", "org.example.b"));
    letStampsSettle();

    // This process's own changes need no status to move.
    const int before = index.rebuildCount();
    index.invalidate();
    index.applications();
    EXPECT_EQ(index.rebuildCount(), before + 1);
}

TEST_F(ApplicationIndexTest, ABrowsersEntryIsListedAfterTheBundlesUnlessItStandsForOne) {
    writeInfo(apps + QStringLiteral("/A.app"), QStringLiteral("org.example.a"));
    letStampsSettle();
    EXPECT_FALSE(index.chrome());
    const auto writeEntry = [&](const QString& name, const QByteArray& extra) {
        QFile file(entries + QLatin1Char('/') + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[Desktop Entry]\nType=Application\nName=Browser\nExec=browser %U\n"
                   "MimeType=x-scheme-handler/http;\n" +
                   extra);
    };
    writeEntry(QStringLiteral("chromium.desktop"), "");
    writeEntry(QStringLiteral("org.example.a.desktop"),
               "X-Corvane-Bundle=" + QFile::encodeName(apps + QStringLiteral("/A.app")) + "\n");
    EXPECT_THAT(identifiers(index.applications()),
                testing::ElementsAre("org.example.a", "com.google.Chrome"));
    ASSERT_TRUE(index.chrome());
    EXPECT_EQ(index.chrome()->entry.path, entries + QStringLiteral("/chromium.desktop"));

    QFile::remove(entries + QStringLiteral("/chromium.desktop"));
    EXPECT_THAT(identifiers(index.applications()), testing::ElementsAre("org.example.a"));
    EXPECT_FALSE(index.chrome());
}

// The workspace answers from its index: what changes on the disk is seen at the very next lookup, whoever
// changed it and however.
TEST(WorkspaceApplicationIndex, AnAppInstalledRebuiltInPlaceOrRemovedIsSeenAtTheNextLookup) {
    QTemporaryDir dir;
    const QString apps = dir.filePath(QStringLiteral("Apps"));
    QDir().mkpath(apps);
    ScopedVariable applications("CORVANE_APPLICATIONS_PATH", apps);
    HostWorkspace workspace;
    const QString bundle = apps + QStringLiteral("/Work.app");
    EXPECT_FALSE(workspace.urlForApplication(QStringLiteral("org.example.work1")));
    letStampsSettle();

    writeInfo(bundle, QStringLiteral("org.example.work1"));
    EXPECT_EQ(workspace.urlForApplication(QStringLiteral("org.example.work1")), bundle);
    letStampsSettle();

    rewriteInPlace(bundle, QStringLiteral("org.example.work2"));
    EXPECT_FALSE(workspace.urlForApplication(QStringLiteral("org.example.work1")));
    EXPECT_EQ(workspace.urlForApplication(QStringLiteral("org.example.work2")), bundle);
    EXPECT_EQ(workspace.bundleInfo(bundle)->value(QStringLiteral("CFBundleIdentifier")),
              QStringLiteral("org.example.work2"));
    letStampsSettle();

    ASSERT_TRUE(QDir(bundle).removeRecursively());
    EXPECT_FALSE(workspace.urlForApplication(QStringLiteral("org.example.work2")));
    EXPECT_FALSE(workspace.bundleInfo(bundle));

    // A bundle outside the application folders is found once registered, and its rebuilds are seen too.
    const QString elsewhere = dir.filePath(QStringLiteral("Elsewhere/Helper.app"));
    writeInfo(elsewhere, QStringLiteral("org.example.help1"));
    EXPECT_FALSE(workspace.urlForApplication(QStringLiteral("org.example.help1")));
    workspace.registerBundle(elsewhere);
    EXPECT_EQ(workspace.urlForApplication(QStringLiteral("org.example.help1")), elsewhere);
    letStampsSettle();
    rewriteInPlace(elsewhere, QStringLiteral("org.example.help2"));
    EXPECT_EQ(workspace.urlForApplication(QStringLiteral("org.example.help2")), elsewhere);
}

} // namespace
