// The desktop's own defaults (mimeapps.list) and the desktop entries the host writes for bundles.
#include "CorvaneHost/Error.h"
#include "CorvaneHost/Linux/Desktop/DesktopEntries.h"
#include "CorvaneHost/Linux/Desktop/MimeApps.h"
#include "Support/TemporaryHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gmock/gmock.h>

using testing::ElementsAre;

namespace {

void writeText(const QString& path, const QString& text) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text.toUtf8());
}

QString readText(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

TEST(MimeAppsTest, NamingADefaultKeepsEveryOtherLine) {
    test::TemporaryHome home;
    const QString path = host::userMimeAppsPath();
    EXPECT_EQ(path, home.file(QStringLiteral(".config/mimeapps.list")));

    // No file yet: the group is made.
    host::setUserDefaults({QStringLiteral("x-scheme-handler/http")}, QStringLiteral("a.desktop"));
    EXPECT_EQ(readText(path), QStringLiteral("[Default Applications]\nx-scheme-handler/http=a.desktop\n"));

    writeText(path, QStringLiteral("# mine\n[Added Associations]\ntext/html=b.desktop;\n\n"
                                   "[Default Applications]\ntext/plain=editor.desktop\n"
                                   "x-scheme-handler/http=old.desktop;other.desktop\n\n"
                                   "[Removed Associations]\nimage/png=viewer.desktop;\n"));
    host::setUserDefaults({QStringLiteral("x-scheme-handler/http"), QStringLiteral("x-scheme-handler/https")},
                          QStringLiteral("app.corvane.helper.desktop"));
    EXPECT_EQ(readText(path), QStringLiteral("# mine\n[Added Associations]\ntext/html=b.desktop;\n\n"
                                             "[Default Applications]\ntext/plain=editor.desktop\n"
                                             "x-scheme-handler/http=app.corvane.helper.desktop\n"
                                             "x-scheme-handler/https=app.corvane.helper.desktop\n\n"
                                             "[Removed Associations]\nimage/png=viewer.desktop;\n"));
}

TEST(MimeAppsTest, ALinkedFileIsChangedWhereItLies) {
    test::TemporaryHome home;
    const QString kept = home.file(QStringLiteral("dotfiles/mimeapps.list"));
    writeText(kept, QStringLiteral("[Default Applications]\ntext/plain=editor.desktop\n"));
    QDir().mkpath(home.file(QStringLiteral(".config")));
    ASSERT_TRUE(QFile::link(kept, host::userMimeAppsPath()));
    host::setUserDefaults({QStringLiteral("text/html")}, QStringLiteral("a.desktop"));
    EXPECT_TRUE(QFileInfo(host::userMimeAppsPath()).isSymLink());
    EXPECT_EQ(readText(kept),
              QStringLiteral("[Default Applications]\ntext/plain=editor.desktop\ntext/html=a.desktop\n"));
}

TEST(MimeAppsTest, DefaultsAreReadInTheRulesOrder) {
    test::TemporaryHome home;
    qputenv("XDG_CURRENT_DESKTOP", "X-Test:Other");
    writeText(home.file(QStringLiteral(".config/x-test-mimeapps.list")),
              QStringLiteral("[Default Applications]\ntext/html=desktop.desktop\n"));
    writeText(home.file(QStringLiteral(".config/mimeapps.list")),
              QStringLiteral("[Default Applications]\ntext/html=user.desktop;second.desktop\n"));
    writeText(home.file(QStringLiteral("etc/xdg/mimeapps.list")),
              QStringLiteral("[Default Applications]\ntext/html=system.desktop\n"));
    writeText(home.file(QStringLiteral("usr/share/applications/mimeapps.list")),
              QStringLiteral("[Default Applications]\ntext/html=data.desktop\n"
                             "[Added Associations]\ntext/plain=added.desktop\n"));
    EXPECT_THAT(
        host::defaultDesktopIds(QStringLiteral("text/html")),
        ElementsAre("desktop.desktop", "user.desktop", "second.desktop", "system.desktop", "data.desktop"));
    EXPECT_TRUE(host::defaultDesktopIds(QStringLiteral("text/plain")).isEmpty());
    qunsetenv("XDG_CURRENT_DESKTOP");
}

TEST(BundleDesktopEntryTest, TheEntryStartsTheBundlesProgramWithTheLinks) {
    test::TemporaryHome home;
    // Characters the Exec quoting and the file's escapes both care about.
    const QString bundle =
        home.file(QStringLiteral("My \"odd\" $HOME `x` 100% \\ folder/Corvane Helper.app"));
    QVariantMap info{
        {QStringLiteral("CFBundleIdentifier"), QStringLiteral("app.corvane.helper")},
        {QStringLiteral("CFBundleExecutable"), QStringLiteral("CorvaneHelper")},
        {QStringLiteral("LSUIElement"), true},
        {QStringLiteral("CFBundleURLTypes"),
         QVariantList{QVariantMap{{QStringLiteral("CFBundleURLSchemes"), QStringList{"http", "HTTPS"}}}}},
        {QStringLiteral("CFBundleDocumentTypes"),
         QVariantList{QVariantMap{{QStringLiteral("LSItemContentTypes"),
                                   QStringList{"public.html", "public.svg-image", "com.apple.webarchive",
                                               "com.example.unknown"}}}}}};
    EXPECT_EQ(host::writeBundleDesktopEntry(bundle, info), QStringLiteral("app.corvane.helper.desktop"));

    const auto entry = host::findDesktopEntry(QStringLiteral("app.corvane.helper.desktop"));
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->path, home.file(QStringLiteral(".local/share/applications/app.corvane.helper.desktop")));
    EXPECT_EQ(entry->name, QStringLiteral("Corvane Helper"));
    EXPECT_EQ(entry->bundlePath, bundle);
    EXPECT_THAT(entry->mimeTypes, ElementsAre("x-scheme-handler/http", "x-scheme-handler/https", "text/html",
                                              "image/svg+xml", "application/x-webarchive"));
    EXPECT_TRUE(readText(entry->path).contains(QStringLiteral("\nNoDisplay=true\n")));
    EXPECT_TRUE(readText(entry->path).contains(QStringLiteral("%U\n")));

    // The program is named by a plain path (openers that do not honour quotes can start it), which leads to
    // the bundle's program.
    const QList<QUrl> links{QUrl(QStringLiteral("https://example.com/a")),
                            QUrl(QStringLiteral("http://example.org/b"))};
    const auto commands = host::desktopEntryCommands(*entry, links);
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_FALSE(host::needsExecQuoting(commands[0].first()));
    EXPECT_EQ(QFileInfo(commands[0].first()).symLinkTarget(),
              bundle + QStringLiteral("/Contents/MacOS/CorvaneHelper"));
    EXPECT_EQ(commands[0].mid(1), QStringList({"https://example.com/a", "http://example.org/b"}));

    // Quoting as the rules ask, where a path must be quoted.
    const QString file = home.file(QStringLiteral("q.desktop"));
    writeText(file, QStringLiteral("[Desktop Entry]\nType=Application\nName=Q\nExec=") +
                        host::execLineFor(bundle) + QLatin1Char('\n'));
    const auto quoted = host::readDesktopEntry(file, QStringLiteral("q"));
    ASSERT_TRUE(quoted);
    EXPECT_THAT(host::desktopEntryCommands(*quoted, {links.first()}),
                ElementsAre(QStringList{bundle, "https://example.com/a"}));

    // No identifier, or a path that cannot be written into the file: no entry.
    EXPECT_THROW(host::writeBundleDesktopEntry(bundle, {{QStringLiteral("CFBundleExecutable"), "x"}}),
                 host::SystemError);
    EXPECT_THROW(host::writeBundleDesktopEntry(home.file(QStringLiteral("a\nb.app")), info),
                 host::SystemError);
}

} // namespace
