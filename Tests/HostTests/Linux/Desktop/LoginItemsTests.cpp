#include "CorvaneHost/Linux/Desktop/AutostartLoginItems.h"
#include "CorvaneHost/LoginItems.h"
#include "CorvaneHost/PropertyList.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gmock/gmock.h>

namespace {

using host::LoginItemStatus;
using testing::HasSubstr;

const QString identifier = QStringLiteral("app.corvane.helper");

// A program bundle carrying the login item, at a path with characters an Exec line must quote.
struct ProgramBundle {
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("My Apps/100% $Corvane\".app"));
    QString executable =
        path + QStringLiteral("/Contents/Library/LoginItems/CorvaneHelper.app/Contents/MacOS/CorvaneHelper");

    explicit ProgramBundle(bool withLoginItem = true) {
        QDir().mkpath(path + QStringLiteral("/Contents/Library/LoginItems"));
        if (!withLoginItem)
            return;
        const QString item = path + QStringLiteral("/Contents/Library/LoginItems/CorvaneHelper.app");
        QDir().mkpath(item + QStringLiteral("/Contents/MacOS"));
        host::writePropertyListFile(
            item + QStringLiteral("/Contents/Info.plist"),
            QVariantMap{{QStringLiteral("CFBundleIdentifier"), identifier},
                        {QStringLiteral("CFBundleExecutable"), QStringLiteral("CorvaneHelper")},
                        {QStringLiteral("CFBundleName"), QStringLiteral("CorvaneHelper")}});
        QFile file(executable);
        file.open(QIODevice::WriteOnly);
        file.close();
        file.setPermissions(QFile::ReadOwner | QFile::ExeOwner);
    }
};

// Every test starts without autostart entries.
class LoginItemsTests : public testing::Test {
protected:
    void SetUp() override { QDir(host::AutostartLoginItems::autostartDirectory()).removeRecursively(); }
};

QString entryText() {
    QFile file(host::AutostartLoginItems::entryPath(identifier));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

TEST_F(LoginItemsTests, RegisterWritesAnAutostartEntryThatStartsTheLoginItem) {
    ProgramBundle bundle;
    host::AutostartLoginItems items(bundle.path);
    EXPECT_EQ(items.status(identifier), LoginItemStatus::notRegistered);

    items.registerItem(identifier);
    EXPECT_EQ(items.status(identifier), LoginItemStatus::enabled);
    EXPECT_EQ(host::AutostartLoginItems::entryPath(identifier),
              qEnvironmentVariable("XDG_CONFIG_HOME") +
                  QStringLiteral("/autostart/app.corvane.helper.desktop"));
    // Quoted for the Exec key ("\"", "$" and "\\" escaped, "%" doubled), then the backslashes escaped again
    // as the string value they stand in.
    QString expected = bundle.executable;
    expected.replace(QStringLiteral("\""), QStringLiteral("\\\\\""))
        .replace(QStringLiteral("$"), QStringLiteral("\\\\$"))
        .replace(QStringLiteral("%"), QStringLiteral("%%"));
    EXPECT_THAT(entryText().toStdString(), HasSubstr(("\nExec=\"" + expected + "\"\n").toStdString()));
    EXPECT_THAT(entryText().toStdString(), HasSubstr("X-GNOME-Autostart-enabled=true\n"));

    // Registering twice is harmless; unregistering removes the entry, and again is no error.
    items.registerItem(identifier);
    items.unregisterItem(identifier);
    EXPECT_EQ(items.status(identifier), LoginItemStatus::notRegistered);
    EXPECT_FALSE(QFile::exists(host::AutostartLoginItems::entryPath(identifier)));
    items.unregisterItem(identifier);
}

TEST_F(LoginItemsTests, AnEntryTheUserSwitchedOffNeedsApprovalAndStaysOff) {
    ProgramBundle bundle;
    host::AutostartLoginItems items(bundle.path);
    items.registerItem(identifier);
    QString text = entryText();
    text.replace(QStringLiteral("X-GNOME-Autostart-enabled=true"),
                 QStringLiteral("X-GNOME-Autostart-enabled=false"));
    QFile file(host::AutostartLoginItems::entryPath(identifier));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text.toUtf8());
    file.close();
    EXPECT_EQ(items.status(identifier), LoginItemStatus::requiresApproval);

    items.registerItem(identifier);
    EXPECT_EQ(items.status(identifier), LoginItemStatus::requiresApproval);
}

TEST_F(LoginItemsTests, AProgramWithoutTheLoginItemCannotRegisterIt) {
    ProgramBundle bundle(false);
    host::AutostartLoginItems items(bundle.path);
    EXPECT_EQ(items.status(identifier), LoginItemStatus::notFound);
    try {
        items.registerItem(identifier);
        FAIL() << "registered a missing login item";
    } catch (const host::SystemError& error) {
        EXPECT_EQ(error.domain(), host::loginItemsErrorDomain);
    }
    EXPECT_FALSE(QFile::exists(host::AutostartLoginItems::entryPath(identifier)));
    EXPECT_THROW(items.registerItem(QStringLiteral("../escape")), host::SystemError);
}

TEST_F(LoginItemsTests, TheConfigHomeDecidesTheAutostartFolder) {
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    qunsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(host::AutostartLoginItems::autostartDirectory(),
              QDir::homePath() + QStringLiteral("/.config/autostart"));
    qputenv("XDG_CONFIG_HOME", "/somewhere/config");
    EXPECT_EQ(host::AutostartLoginItems::autostartDirectory(), QStringLiteral("/somewhere/config/autostart"));
    qputenv("XDG_CONFIG_HOME", saved);
}

} // namespace
