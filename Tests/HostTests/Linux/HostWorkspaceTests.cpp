#include "CorvaneHost/BackgroundWork.h"
#include "CorvaneHost/Folders.h"
#include "CorvaneHost/LinkText.h"
#include "CorvaneHost/Linux/HostWorkspace.h"
#include "CorvaneHost/Linux/Processes/ChildProcess.h"
#include "CorvaneHost/Linux/Processes/EventDelivery.h"

#include "CorvaneHost/ChromeBrowser.h"
#include "CorvaneHost/PropertyList.h"
#include "CorvaneHost/Services.h"
#include "Support/Files.h"
#include "Support/LogCapture.h"
#include "Support/VirtualTime.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <cstring>
#include <gmock/gmock.h>
#include <sys/socket.h>
#include <sys/un.h>

using host::HostWorkspace;
using host::OpenConfiguration;
using host::RunningApplication;
using testing::ElementsAre;

namespace {

QVariantMap bundleInfo(const QString& identifier, const QStringList& schemes = {},
                       const QStringList& contentTypes = {}) {
    QVariantMap info;
    if (!identifier.isEmpty())
        info.insert(QStringLiteral("CFBundleIdentifier"), identifier);
    info.insert(QStringLiteral("CFBundleExecutable"), QStringLiteral("run"));
    if (!schemes.isEmpty())
        info.insert(
            QStringLiteral("CFBundleURLTypes"),
            QVariantList{QVariantMap{{QStringLiteral("CFBundleURLSchemes"), QVariant(schemes).toList()}}});
    if (!contentTypes.isEmpty())
        info.insert(QStringLiteral("CFBundleDocumentTypes"),
                    QVariantList{QVariantMap{
                        {QStringLiteral("LSItemContentTypes"), QVariant(contentTypes).toList()}}});
    return info;
}

void writeFile(const QString& path, const QByteArray& bytes, bool executable = false) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
    file.close();
    if (executable)
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// Waits for another process to do something (there is no event to wait on for a detached program).
bool waitFor(const std::function<bool()>& done, int timeoutMs = 10000) {
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(10);
    }
    return true;
}

QString readText(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

class HostWorkspaceTest : public testing::Test {
protected:
    void SetUp() override {
        root_ = dir_.path();
        apps_ = root_ + QStringLiteral("/Apps");
        dataDirs_ = root_ + QStringLiteral("/share");
        QDir().mkpath(apps_);
        QDir().mkpath(dataDirs_);
        saveAndSet("CORVANE_APPLICATIONS_PATH", apps_);
        saveAndSet("XDG_DATA_DIRS", dataDirs_); // keeps this machine's own desktop entries out
        saveAndSet("XDG_CONFIG_DIRS", root_ + QStringLiteral("/etc-xdg"));
        QDir(QDir::homePath() + QStringLiteral("/.local/state/corvane-host")).removeRecursively();
        QDir(qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/applications")).removeRecursively();
        QFile::remove(qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/mimeapps.list"));
    }
    void TearDown() override {
        for (qint32 pid : started_)
            ::kill(pid, SIGKILL);
        for (const auto& [name, value] : saved_) {
            if (value)
                qputenv(name.constData(), *value);
            else
                qunsetenv(name.constData());
        }
    }
    void saveAndSet(const QByteArray& name, const QString& value) {
        saved_.emplace_back(name, qEnvironmentVariableIsSet(name.constData())
                                      ? std::optional(qgetenv(name.constData()))
                                      : std::nullopt);
        qputenv(name.constData(), QFile::encodeName(value));
    }

    // A bundle whose program appends its arguments, one line per start, to `<bundle>.record`, then (with
    // `stays`) keeps running until it is signalled.
    QString makeBundle(const QString& folder, const QString& name, const QVariantMap& info,
                       bool stays = false, host::PropertyListFormat format = host::PropertyListFormat::XML) {
        const QString path = folder + QLatin1Char('/') + name + QStringLiteral(".app");
        QDir().mkpath(path + QStringLiteral("/Contents/MacOS"));
        EXPECT_TRUE(host::writePropertyListFile(path + QStringLiteral("/Contents/Info.plist"), info, format));
        // One write a line, so that programs started together never mix their lines.
        QByteArray script = "#!/bin/sh\nline=$(printf '%s|' \"$@\")\nprintf '%s\\n' \"$line\" >> '" +
                            QFile::encodeName(recordOf(path)) + "'\n";
        if (stays)
            script += "trap 'exit 0' TERM\nwhile :; do sleep 0.05; done\n";
        writeFile(path + QStringLiteral("/Contents/MacOS/run"), script, true);
        return path;
    }
    static QString recordOf(const QString& bundle) { return bundle + QStringLiteral(".record"); }
    static QStringList recordedStarts(const QString& bundle) {
        return readText(recordOf(bundle)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    QString desktopEntry(const QString& folder, const QString& id, const QString& body) {
        const QString path = folder + QLatin1Char('/') + id + QStringLiteral(".desktop");
        writeFile(path, body.toUtf8());
        return path;
    }
    QString dataHomeApplications() const {
        return qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/applications");
    }

    // Runs an open through the workspace and the virtual main queue (a program started for links completes
    // the open once it took them, or ended).
    std::pair<std::optional<RunningApplication>, std::optional<host::SystemError>>
    openAndWait(const std::function<void(host::OpenCompletion)>& start) {
        std::optional<RunningApplication> app;
        std::optional<host::SystemError> error;
        int calls = 0;
        start([&](std::optional<RunningApplication> a, std::optional<host::SystemError> e) {
            app = a;
            error = e;
            ++calls;
        });
        // A hand-over to a running program answers from another thread, and a started one once it took its
        // links or ended.
        time_->runUntil([&] { return calls > 0; }, 20000);
        time_->runUntilIdle();
        EXPECT_EQ(calls, 1);
        if (app)
            started_.push_back(app->processIdentifier);
        return {app, error};
    }

    std::optional<host::SystemError>
    setDefaultAndWait(const std::function<void(host::WorkspaceCompletion)>& start) {
        std::optional<host::SystemError> result;
        int calls = 0;
        start([&](std::optional<host::SystemError> error) {
            result = error;
            ++calls;
        });
        EXPECT_EQ(calls, 0) << "completions come through the main queue";
        time_->runUntilIdle();
        EXPECT_EQ(calls, 1);
        return result;
    }

    QTemporaryDir dir_;
    QString root_, apps_, dataDirs_;
    test::VirtualTimeScope time_;
    HostWorkspace workspace_;
    std::vector<qint32> started_;
    std::vector<std::pair<QByteArray, std::optional<QByteArray>>> saved_;
};

TEST_F(HostWorkspaceTest, FindsBundlesInApplicationFoldersAndRegisteredOnes) {
    const QString chrome = makeBundle(apps_, QStringLiteral("Google Chrome"),
                                      bundleInfo(QStringLiteral("com.google.Chrome"), {"http", "HTTPS"}));
    // Nested one folder down, in binary form, with document types.
    const QString viewer =
        makeBundle(apps_ + QStringLiteral("/Utilities"), QStringLiteral("Viewer"),
                   bundleInfo(QStringLiteral("com.example.viewer"), {}, {QStringLiteral("public.html")}),
                   false, host::PropertyListFormat::Binary);
    const QString nameless = makeBundle(apps_, QStringLiteral("Nameless"), bundleInfo({}, {"http"}));
    // Outside every application folder: known only once registered.
    const QString elsewhere = makeBundle(root_ + QStringLiteral("/Elsewhere"), QStringLiteral("Proxy"),
                                         bundleInfo(QStringLiteral("app.corvane.proxy.work"), {"https"}));

    EXPECT_EQ(workspace_.urlForApplication(QStringLiteral("com.google.Chrome")), chrome);
    EXPECT_EQ(workspace_.urlForApplication(QStringLiteral("com.example.viewer")), viewer);
    EXPECT_EQ(workspace_.urlForApplication(QStringLiteral("app.corvane.proxy.work")), std::nullopt);
    EXPECT_EQ(workspace_.urlForApplication(QString()), std::nullopt);
    EXPECT_THAT(workspace_.applicationsToOpenScheme(QStringLiteral("https")), ElementsAre(chrome));
    EXPECT_THAT(workspace_.applicationsToOpenScheme(QStringLiteral("http")), ElementsAre(chrome, nameless));
    EXPECT_THAT(workspace_.applicationsToOpenContentType(QStringLiteral("public.html")), ElementsAre(viewer));
    EXPECT_EQ(workspace_.bundleInfo(viewer)->value(QStringLiteral("CFBundleIdentifier")).toString(),
              QStringLiteral("com.example.viewer"));
    EXPECT_EQ(workspace_.bundleInfo(root_ + QStringLiteral("/nothing.app")), std::nullopt);

    workspace_.registerBundle(elsewhere);
    // Another workspace (another process) sees the registration: it lives in the host state folder.
    HostWorkspace other;
    EXPECT_EQ(other.urlForApplication(QStringLiteral("app.corvane.proxy.work")), elsewhere);
    EXPECT_THAT(other.applicationsToOpenScheme(QStringLiteral("https")), ElementsAre(elsewhere, chrome));
    EXPECT_THAT(HostWorkspace::readState().registeredBundles, ElementsAre(elsewhere));

    // A registered bundle that went away is no longer offered.
    QDir(elsewhere).removeRecursively();
    EXPECT_EQ(other.urlForApplication(QStringLiteral("app.corvane.proxy.work")), std::nullopt);
}

TEST_F(HostWorkspaceTest, RegistrationRefusesWhatIsNoBundleWithAnIdentifier) {
    const QString nameless = makeBundle(root_, QStringLiteral("Nameless"), bundleInfo({}));
    QDir().mkpath(root_ + QStringLiteral("/Empty.app"));
    for (const QString& path :
         {root_ + QStringLiteral("/Missing.app"), root_ + QStringLiteral("/Empty.app"), nameless}) {
        try {
            workspace_.registerBundle(path);
            ADD_FAILURE() << "registered " << path.toStdString();
        } catch (const host::SystemError& error) {
            EXPECT_EQ(error.domain(), host::workspaceErrorDomain);
            EXPECT_EQ(error.code(), int(host::WorkspaceErrorCode::applicationNotFound));
        }
    }
    EXPECT_TRUE(HostWorkspace::readState().registeredBundles.isEmpty());
}

TEST_F(HostWorkspaceTest, TheMenuKeepsOneEntryPerBundleAndNoneForABundleThatIsGone) {
    const auto proxyInfo = [](const QString& identifier) {
        QVariantMap info = bundleInfo(identifier);
        info.insert(QStringLiteral("CVNProfileDirectory"), QStringLiteral("Profile 1"));
        info.insert(QStringLiteral("CFBundleDisplayName"), QStringLiteral("Work"));
        info.insert(QStringLiteral("CFBundleIconFile"), QStringLiteral("AppIcon"));
        return info;
    };
    const auto entriesFor = [&](const QString& bundle) {
        QStringList found;
        const QDir folder(dataHomeApplications());
        for (const QString& name : folder.entryList({QStringLiteral("*.desktop")}, QDir::Files))
            if (readText(folder.filePath(name))
                    .contains(QStringLiteral("\nX-Corvane-Bundle=") + bundle + "\n"))
                found << name;
        return found;
    };
    const QString icons = QDir::homePath() + QStringLiteral("/.local/state/corvane-host/icons/");

    // Built, then rebuilt at the same place under a new identifier.
    const QString work =
        makeBundle(apps_, QStringLiteral("Work"), proxyInfo(QStringLiteral("app.corvane.one")));
    writeFile(work + QStringLiteral("/Contents/Resources/AppIcon.icns"),
              test::icnsWithOnePicture("ic07", 32));
    workspace_.registerBundle(work);
    EXPECT_EQ(entriesFor(work), QStringList{"app.corvane.one.desktop"});
    EXPECT_TRUE(QFileInfo::exists(icons + QStringLiteral("app.corvane.one.png")));
    ASSERT_TRUE(host::writePropertyListFile(work + QStringLiteral("/Contents/Info.plist"),
                                            proxyInfo(QStringLiteral("app.corvane.two"))));
    workspace_.registerBundle(work);
    EXPECT_EQ(entriesFor(work), QStringList{"app.corvane.two.desktop"});
    EXPECT_FALSE(QFileInfo::exists(icons + QStringLiteral("app.corvane.one.png")));
    EXPECT_TRUE(QFileInfo::exists(icons + QStringLiteral("app.corvane.two.png")));

    // Deleted in the file manager: its entry goes at the next registration, and only its own.
    const QString home =
        makeBundle(apps_, QStringLiteral("Home"), proxyInfo(QStringLiteral("app.corvane.home")));
    workspace_.registerBundle(home);
    QDir(home).removeRecursively();
    workspace_.registerBundle(work);
    EXPECT_TRUE(entriesFor(home).isEmpty());
    EXPECT_EQ(entriesFor(work), QStringList{"app.corvane.two.desktop"});
    EXPECT_TRUE(QFileInfo::exists(icons + QStringLiteral("app.corvane.two.png")));
}

TEST_F(HostWorkspaceTest, UnreadableStateFileIsKeptAsideBeforeItIsReplaced) {
    const QString bundle =
        makeBundle(root_, QStringLiteral("Proxy"), bundleInfo(QStringLiteral("app.corvane.p")));
    writeFile(HostWorkspace::stateFilePath(), "{ not json");
    EXPECT_EQ(workspace_.urlForApplication(QStringLiteral("app.corvane.p")), std::nullopt);
    workspace_.registerBundle(bundle);
    EXPECT_EQ(readText(HostWorkspace::stateFilePath() + QStringLiteral(".unreadable")),
              QStringLiteral("{ not json"));
    EXPECT_EQ(workspace_.urlForApplication(QStringLiteral("app.corvane.p")), bundle);
}

TEST_F(HostWorkspaceTest, DesktopBrowsersAreApplicationsWithTheirUsualIdentifiers) {
    const QString home = dataHomeApplications();
    const QString system = dataDirs_ + QStringLiteral("/applications");
    const QString firefox =
        desktopEntry(system, QStringLiteral("firefox-esr"),
                     "[Desktop Entry]\nType=Application\nName=Firefox ESR\nName[de]=Feuerfuchs\n"
                     "Exec=/usr/lib/firefox-esr/firefox-esr %u\n"
                     "MimeType=text/html;x-scheme-handler/http;x-scheme-handler/https;\n");
    // The home folder's entry of an ID hides the system's: here it is deleted for this user.
    desktopEntry(system, QStringLiteral("chromium"),
                 "[Desktop Entry]\nType=Application\nName=Chromium\nExec=chromium %U\n"
                 "MimeType=x-scheme-handler/http;x-scheme-handler/https;\n");
    desktopEntry(home, QStringLiteral("chromium"),
                 "[Desktop Entry]\nType=Application\nName=Chromium\nHidden=true\nExec=chromium %U\n"
                 "MimeType=x-scheme-handler/http;\n");
    const QString other = desktopEntry(home, QStringLiteral("surf"),
                                       "[Desktop Entry]\nType=Application\nName=Surf\nExec=surf %u\n"
                                       "MimeType=x-scheme-handler/http;\n");
    desktopEntry(home, QStringLiteral("editor"),
                 "[Desktop Entry]\nType=Application\nName=Editor\nExec=editor %F\nMimeType=text/html;\n");
    desktopEntry(home, QStringLiteral("link"),
                 "[Desktop Entry]\nType=Link\nURL=https://example.com\n"
                 "MimeType=x-scheme-handler/http;\n");

    EXPECT_THAT(workspace_.applicationsToOpenScheme(QStringLiteral("http")), ElementsAre(other, firefox));
    EXPECT_THAT(workspace_.applicationsToOpenScheme(QStringLiteral("https")), ElementsAre(firefox));
    EXPECT_THAT(workspace_.applicationsToOpenContentType(QStringLiteral("public.html")),
                ElementsAre(firefox));
    EXPECT_EQ(workspace_.urlForApplication(QStringLiteral("org.mozilla.firefox")), firefox);
    EXPECT_EQ(workspace_.urlForApplication(QStringLiteral("desktop.surf")), other);
    EXPECT_EQ(workspace_.urlForApplication(QStringLiteral("org.chromium.Chromium")), std::nullopt);
    const auto info = workspace_.bundleInfo(firefox);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->value(QStringLiteral("CFBundleName")).toString(), QStringLiteral("Firefox ESR"));
    EXPECT_EQ(info->value(QStringLiteral("CFBundleIdentifier")).toString(),
              QStringLiteral("org.mozilla.firefox"));
    // Named as the desktop shows them: an entry by its Name, a bundle by its file name.
    EXPECT_EQ(workspace_.displayName(firefox), QStringLiteral("Firefox ESR"));
    const QString bundle = makeBundle(apps_, QStringLiteral("Google Chrome"),
                                      bundleInfo(QStringLiteral("com.google.Chrome"), {"http"}));
    EXPECT_EQ(workspace_.displayName(bundle), QStringLiteral("Google Chrome"));
}

TEST(DesktopEntryCommandsTest, ExpandsFieldCodesAsTheExecLineSays) {
    host::DesktopEntry entry;
    entry.path = QStringLiteral("/share/applications/b.desktop");
    entry.name = QStringLiteral("B");
    entry.icon = QStringLiteral("b-icon");
    const QList<QUrl> urls{QUrl(QStringLiteral("https://a.example/x y")),
                           QUrl(QStringLiteral("file:///tmp/f.html"))};

    entry.exec = QStringLiteral("b --new-window %u");
    EXPECT_THAT(host::desktopEntryCommands(entry, urls),
                ElementsAre(QStringList{"b", "--new-window", "https://a.example/x%20y"},
                            QStringList{"b", "--new-window", "file:///tmp/f.html"}));

    entry.exec = QStringLiteral("\"/opt/my b/b\" %F %i %c %k \"100%%\" %d");
    EXPECT_THAT(host::desktopEntryCommands(entry, urls),
                ElementsAre(QStringList{"/opt/my b/b", "https://a.example/x%20y", "/tmp/f.html", "--icon",
                                        "b-icon", "B", "/share/applications/b.desktop", "100%"}));

    // Quoted field codes are no field codes; shell characters are plain text (no shell runs).
    entry.exec = QStringLiteral("b \"say \\\"hi\\\" \\$HOME\" ;rm");
    EXPECT_THAT(host::desktopEntryCommands(entry, {urls.first()}),
                ElementsAre(QStringList{"b", "say \"hi\" $HOME", ";rm", "https://a.example/x%20y"}));

    entry.exec = QStringLiteral("b %U");
    EXPECT_THAT(host::desktopEntryCommands(entry, {}), ElementsAre(QStringList{"b"}));
    // A relative link could pass for a switch of the program: it is left out.
    EXPECT_THAT(host::desktopEntryCommands(entry, {QUrl(QStringLiteral("--incognito")), urls.last()}),
                ElementsAre(QStringList{"b", "file:///tmp/f.html"}));
    // Links go on as written, each text with its own link.
    const QString written = QStringLiteral("https://caf%C3%A9.example/%7E?q=a|b");
    EXPECT_THAT(host::desktopEntryCommands(
                    entry, {QUrl(QStringLiteral("--incognito")), urls.last(), *host::parseLink(written)},
                    {QStringLiteral("--incognito"), written}),
                ElementsAre(QStringList{"b", "file:///tmp/f.html", written}));

    for (const QString& exec : {QStringLiteral("b \"open"), QStringLiteral("b \"\\x\""), QStringLiteral("  "),
                                QStringLiteral("%U")}) {
        host::DesktopEntry unusable;
        unusable.exec = exec;
        EXPECT_TRUE(host::desktopEntryCommands(unusable, urls).empty()) << exec.toStdString();
    }
}

TEST_F(HostWorkspaceTest, DefaultsAreTheDesktopsThenTheFirstClaimant) {
    const QString chrome = makeBundle(
        apps_, QStringLiteral("Chrome"),
        bundleInfo(QStringLiteral("com.google.Chrome"), {"http", "https"}, {QStringLiteral("public.html")}));
    // In no application folder, as the installed helper: setting it as a default makes it known.
    const QString helper = makeBundle(root_ + QStringLiteral("/Support"), QStringLiteral("Helper"),
                                      bundleInfo(QStringLiteral("app.corvane.helper"), {"http", "https"}));
    const QString surf = desktopEntry(dataHomeApplications(), QStringLiteral("surf"),
                                      "[Desktop Entry]\nType=Application\nName=Surf\nExec=surf %u\n"
                                      "MimeType=x-scheme-handler/http;x-scheme-handler/https;\n");

    EXPECT_EQ(workspace_.defaultApplicationForScheme(QStringLiteral("https")), chrome);
    EXPECT_EQ(workspace_.defaultApplicationForScheme(QStringLiteral("mailto")), std::nullopt);
    writeFile(qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/mimeapps.list"),
              "[Added Associations]\nx-scheme-handler/https=chromium.desktop;\n"
              "[Default Applications]\nx-scheme-handler/https=surf.desktop\n");
    EXPECT_EQ(workspace_.defaultApplicationForScheme(QStringLiteral("https")), surf);
    EXPECT_EQ(workspace_.defaultApplicationForScheme(QStringLiteral("http")), chrome);

    EXPECT_EQ(setDefaultAndWait([&](auto done) {
                  workspace_.setDefaultApplicationForScheme(helper, QStringLiteral("HTTPS"), done);
              }),
              std::nullopt);
    EXPECT_EQ(workspace_.defaultApplicationForScheme(QStringLiteral("https")), helper);
    EXPECT_EQ(HostWorkspace().defaultApplicationForScheme(QStringLiteral("https")), helper);
    // The desktop holds the default, naming the entry written for the helper; the state file does not.
    EXPECT_EQ(readText(qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/mimeapps.list")),
              QStringLiteral("[Added Associations]\nx-scheme-handler/https=chromium.desktop;\n"
                             "[Default Applications]\nx-scheme-handler/https=app.corvane.helper.desktop\n"));
    EXPECT_TRUE(QFileInfo::exists(dataHomeApplications() + QStringLiteral("/app.corvane.helper.desktop")));
    EXPECT_TRUE(HostWorkspace::readState().schemeDefaults.isEmpty());
    // The entry stands for the bundle: the helper is offered once, as itself.
    EXPECT_EQ(workspace_.applicationsToOpenScheme(QStringLiteral("https")).count(helper), 1);
    EXPECT_FALSE(workspace_.applicationsToOpenScheme(QStringLiteral("https"))
                     .contains(dataHomeApplications() + QStringLiteral("/app.corvane.helper.desktop")));

    EXPECT_EQ(setDefaultAndWait([&](auto done) {
                  workspace_.setDefaultApplicationForContentType(helper, QStringLiteral("public.html"), done);
              }),
              std::nullopt);
    EXPECT_EQ(workspace_.defaultApplicationForContentType(QStringLiteral("public.html")), helper);

    // A default whose application is gone no longer counts.
    QDir(helper).removeRecursively();
    EXPECT_EQ(workspace_.defaultApplicationForScheme(QStringLiteral("https")), chrome);
    EXPECT_EQ(workspace_.defaultApplicationForContentType(QStringLiteral("public.html")), chrome);

    // Turning the default off names a desktop browser's own entry.
    EXPECT_EQ(setDefaultAndWait([&](auto done) {
                  workspace_.setDefaultApplicationForScheme(surf, QStringLiteral("https"), done);
              }),
              std::nullopt);
    EXPECT_EQ(workspace_.defaultApplicationForScheme(QStringLiteral("https")), surf);
    EXPECT_TRUE(readText(qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/mimeapps.list"))
                    .contains(QStringLiteral("x-scheme-handler/https=surf.desktop\n")));

    // A kind the desktop has no MIME type for stays in the state file.
    const QString viewer =
        makeBundle(apps_, QStringLiteral("Viewer"),
                   bundleInfo(QStringLiteral("com.example.viewer"), {}, {QStringLiteral("com.example.doc")}));
    EXPECT_EQ(setDefaultAndWait([&](auto done) {
                  workspace_.setDefaultApplicationForContentType(viewer, QStringLiteral("com.example.doc"),
                                                                 done);
              }),
              std::nullopt);
    EXPECT_EQ(HostWorkspace::readState().contentTypeDefaults.value(QStringLiteral("com.example.doc")),
              QStringLiteral("com.example.viewer"));
    EXPECT_EQ(workspace_.defaultApplicationForContentType(QStringLiteral("com.example.doc")), viewer);

    // Something that is no application is refused, and nothing changes.
    const auto error = setDefaultAndWait([&](auto done) {
        workspace_.setDefaultApplicationForScheme(root_ + QStringLiteral("/Nothing.app"),
                                                  QStringLiteral("http"), done);
    });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), int(host::WorkspaceErrorCode::applicationNotFound));
    EXPECT_FALSE(HostWorkspace::readState().schemeDefaults.contains(QStringLiteral("http")));
}

// A state file that is there but cannot be opened (here a socket, which not even root can read) may hold
// every registration: it is never written over, and neither is anything when the lock cannot be taken.
TEST_F(HostWorkspaceTest, StateThatCannotBeReadOrLockedIsNeverWrittenOver) {
    const QString bundle =
        makeBundle(root_, QStringLiteral("Proxy"), bundleInfo(QStringLiteral("app.corvane.p")));
    const QString path = HostWorkspace::stateFilePath();
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray bytes = QFile::encodeName(path);
    ASSERT_LT(size_t(bytes.size()), sizeof address.sun_path);
    memcpy(address.sun_path, bytes.constData(), bytes.size());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
    EXPECT_THROW(workspace_.registerBundle(bundle), host::SystemError);
    EXPECT_EQ(setDefaultAndWait([&](auto done) {
                  workspace_.setDefaultApplicationForScheme(bundle, QStringLiteral("http"), done);
              })
                  .value_or(host::SystemError({}, 0, {}))
                  .code(),
              int(host::WorkspaceErrorCode::stateNotRead));
    EXPECT_FALSE(QFileInfo(path).isFile());
    EXPECT_FALSE(QFileInfo::exists(path + QStringLiteral(".unreadable")));
    QFile::remove(path);

    // A folder where the lock file must be: the lock cannot be taken, so nothing is changed without it.
    QFile::remove(host::hostStateDirectory() + QStringLiteral("/workspace.lock"));
    ASSERT_TRUE(QDir().mkpath(host::hostStateDirectory() + QStringLiteral("/workspace.lock")));
    EXPECT_THROW(workspace_.registerBundle(bundle), host::SystemError);
    EXPECT_FALSE(QFileInfo::exists(path));
    QDir(host::hostStateDirectory() + QStringLiteral("/workspace.lock")).removeRecursively();
    workspace_.registerBundle(bundle);
    EXPECT_EQ(workspace_.urlForApplication(QStringLiteral("app.corvane.p")), bundle);
}

TEST_F(HostWorkspaceTest, OpensABundleProgramOnceUnlessANewInstanceIsAsked) {
    const QString app = makeBundle(apps_, QStringLiteral("Recorder"),
                                   bundleInfo(QStringLiteral("com.example.workspace-tests.recorder")),
                                   /*stays=*/true);
    OpenConfiguration configuration;
    configuration.arguments = {QStringLiteral("--flag"), QStringLiteral("two words")};
    auto [first, error] =
        openAndWait([&](auto done) { workspace_.openApplication(app, configuration, done); });
    ASSERT_TRUE(first) << (error ? error->description().toStdString() : "");
    EXPECT_EQ(first->bundleIdentifier, QStringLiteral("com.example.workspace-tests.recorder"));
    EXPECT_EQ(first->bundlePath, app);
    EXPECT_EQ(first->localizedName, QStringLiteral("Recorder"));
    ASSERT_TRUE(waitFor([&] { return recordedStarts(app).size() == 1; }));
    EXPECT_EQ(recordedStarts(app).first(), QStringLiteral("--flag|two words|"));

    // The running program is found by its bundle, whoever started it.
    ASSERT_TRUE(waitFor([&] { return workspace_.runningApplication(first->processIdentifier).has_value(); }));
    const auto listed =
        HostWorkspace().runningApplications(QStringLiteral("com.example.workspace-tests.recorder"));
    ASSERT_EQ(listed.size(), 1u);
    // Looked up on its own, by a workspace that never listed it, a process is what the listing says it is.
    EXPECT_EQ(HostWorkspace().runningApplication(first->processIdentifier), listed.front());
    EXPECT_EQ(workspace_.runningApplication(first->processIdentifier), listed.front());
    EXPECT_FALSE(workspace_.runningApplication(qint32(::getpid()))) << "this test is no application";

    auto [again, againError] =
        openAndWait([&](auto done) { workspace_.openApplication(app, configuration, done); });
    ASSERT_TRUE(again);
    EXPECT_EQ(again->processIdentifier, first->processIdentifier);

    configuration.createsNewApplicationInstance = true;
    auto [second, secondError] =
        openAndWait([&](auto done) { workspace_.openApplication(app, configuration, done); });
    ASSERT_TRUE(second);
    EXPECT_NE(second->processIdentifier, first->processIdentifier);
    ASSERT_TRUE(waitFor([&] { return recordedStarts(app).size() == 2; }));
    ASSERT_TRUE(waitFor([&] {
        return workspace_.runningApplications(QStringLiteral("com.example.workspace-tests.recorder"))
                   .size() == 2;
    }));

    EXPECT_TRUE(workspace_.terminate(first->processIdentifier));
    EXPECT_TRUE(workspace_.forceTerminate(second->processIdentifier));
    EXPECT_TRUE(waitFor([&] {
        return workspace_.runningApplications(QStringLiteral("com.example.workspace-tests.recorder")).empty();
    }));
    // Gone, and never a process that is no application.
    EXPECT_FALSE(workspace_.terminate(first->processIdentifier));
    EXPECT_FALSE(workspace_.forceTerminate(qint32(::getpid())));
    // Without a display no window is in front, and none can be brought forward.
    const QByteArray display = qgetenv("DISPLAY");
    qunsetenv("DISPLAY");
    EXPECT_EQ(workspace_.frontmostApplication(), std::nullopt);
    EXPECT_FALSE(workspace_.activate(second->processIdentifier));
    if (!display.isEmpty())
        qputenv("DISPLAY", display);
}

// A program started for an event belongs to the desktop, not to its caller: nothing of the caller's terminal
// or pipes, and default signals even though the caller ignores SIGPIPE.
TEST_F(HostWorkspaceTest, AStartedProgramIsDetachedFromItsCallerAndLogsToItsOwnFile) {
    const QString id = QStringLiteral("com.example.workspace-tests.detached");
    const QString app = makeBundle(apps_, QStringLiteral("Detached"), bundleInfo(id));
    const QString record = recordOf(app) + QStringLiteral(".detached");
    const QByteArray target = QFile::encodeName(record);
    writeFile(
        app + QStringLiteral("/Contents/MacOS/run"),
        "#!/bin/sh\necho 'to standard output'\necho 'to standard error' >&2\n"
        "{ readlink /proc/$$/fd/0; cut -d' ' -f6 /proc/$$/stat; grep '^SigIgn' /proc/$$/status; pwd; } > '" +
            target + ".tmp'\nmv '" + target + ".tmp' '" + target + "'\n",
        true);
    struct sigaction ignore {
    }, previous{};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, &previous);
    auto [started, error] = openAndWait([&](auto done) { workspace_.openApplication(app, {}, done); });
    ::sigaction(SIGPIPE, &previous, nullptr);
    ASSERT_TRUE(started) << (error ? error->description().toStdString() : "");
    ASSERT_TRUE(waitFor([&] { return QFileInfo::exists(record); }));

    const QStringList seen = readText(record).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(seen.size(), 4) << readText(record).toStdString();
    EXPECT_EQ(seen[0], QStringLiteral("/dev/null"));
    EXPECT_NE(seen[1].toLongLong(), qint64(::getsid(0))) << "runs in the caller's session";
    const quint64 ignored = seen[2].mid(QStringLiteral("SigIgn:").size()).trimmed().toULongLong(nullptr, 16);
    EXPECT_EQ(ignored & (1ull << (SIGPIPE - 1)), 0u) << seen[2].toStdString();
    EXPECT_EQ(seen[3], QStringLiteral("/"));
    // Once it has ended, nothing of it stays behind: no zombie waiting for its caller.
    const QString process = QStringLiteral("/proc/%1").arg(started->processIdentifier);
    EXPECT_TRUE(waitFor([&] { return !QFileInfo::exists(process); }))
        << readText(process + "/status").toStdString();
    const QString log = host::launchLogPath(id);
    EXPECT_TRUE(log.startsWith(host::hostStateDirectory() + QLatin1Char('/')));
    ASSERT_TRUE(waitFor([&] { return readText(log).contains(QStringLiteral("to standard error")); }));
    EXPECT_TRUE(readText(log).contains(QStringLiteral("to standard output")));
}

// A program that took the connection and the line and never answers (stopped, or hung): the workspace waits
// for it off the main queue, which meanwhile serves everything else; then it counts the link as delivered,
// starts nothing, and the log names the program.
TEST_F(HostWorkspaceTest, AProgramThatDoesNotAnswerHoldsUpOnlyItsOwnLinks) {
    const QString id = QStringLiteral("com.example.workspace-tests.silent");
    const QString app = makeBundle(apps_, QStringLiteral("Silent"), bundleInfo(id), /*stays=*/true);
    auto previous = host::replaceService(host::services().eventDelivery,
                                         std::make_shared<host::EventChannelDelivery>(1500));
    auto [running, error] = openAndWait([&](auto done) { workspace_.openApplication(app, {}, done); });
    ASSERT_TRUE(running) << (error ? error->description().toStdString() : "");
    ASSERT_TRUE(
        waitFor([&] { return workspace_.runningApplication(running->processIdentifier).has_value(); }));
    // Its event socket takes connections and lines, and nothing reads them.
    const QByteArray socketPath = QFile::encodeName(host::eventSocketPath(id));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, socketPath.constData(), std::size_t(socketPath.size()));
    const int silent = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(silent, 4), 0);
    const QString browser = desktopEntry(dataHomeApplications(), QStringLiteral("meanwhile"),
                                         "[Desktop Entry]\nType=Application\nName=Meanwhile\nExec=true %u\n"
                                         "MimeType=x-scheme-handler/http;\n");
    test::LogCapture log;

    QElapsedTimer clock;
    clock.start();
    std::optional<RunningApplication> reached;
    workspace_.open({QUrl(QStringLiteral("https://example.com/stopped"))}, app, {},
                    [&](std::optional<RunningApplication> opened, std::optional<host::SystemError>) {
                        reached = opened;
                    });
    EXPECT_LT(clock.elapsed(), 500) << "the open waited for the program's answer";
    // Meanwhile the main queue runs: a link to a browser is opened at once.
    auto [other, otherError] = openAndWait([&](auto done) {
        workspace_.open({QUrl(QStringLiteral("https://example.com/meanwhile"))}, browser, {}, done);
    });
    EXPECT_TRUE(other) << (otherError ? otherError->description().toStdString() : "");
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_FALSE(reached);

    ASSERT_TRUE(time_->runUntil([&] { return reached.has_value(); }, 10000));
    EXPECT_GE(clock.elapsed(), 1400);
    EXPECT_EQ(reached->processIdentifier, running->processIdentifier);
    EXPECT_TRUE(log.contains(QStringLiteral("events"), host::LogLevel::Default,
                             QStringLiteral("Silent did not answer for its links within 1.5 s: it is counted "
                                            "as having them, and not started again")))
        << log.messages().join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(recordedStarts(app).size(), 1);
    ::close(silent);
    host::replaceService(host::services().eventDelivery, std::move(previous));
}

// The running program reads its events on the thread that opens the links (as a busy program reads them
// late): each link is delivered once, in order, and no second copy is started with it.
TEST_F(HostWorkspaceTest, ALinkForABusyProgramIsDeliveredOnceAndStartsNothing) {
    const QString id = QStringLiteral("com.example.workspace-tests.busy");
    const QString app = makeBundle(apps_, QStringLiteral("Busy"), bundleInfo(id), /*stays=*/true);
    auto previous =
        host::replaceService(host::services().eventDelivery, std::make_shared<host::EventChannelDelivery>());
    auto [running, error] = openAndWait([&](auto done) { workspace_.openApplication(app, {}, done); });
    ASSERT_TRUE(running) << (error ? error->description().toStdString() : "");
    ASSERT_TRUE(
        waitFor([&] { return workspace_.runningApplication(running->processIdentifier).has_value(); }));

    // The program's event socket, served by this thread, which is busy opening the link.
    std::vector<host::AppleEvent> received;
    host::EventListener listener([&](const host::AppleEvent& event) { received.push_back(event); });
    ASSERT_EQ(listener.start(id), host::EventListener::StartResult::listening);
    const QUrl first(QStringLiteral("https://example.com/busy/1"));
    const QUrl second(QStringLiteral("https://example.com/busy/2"));
    QElapsedTimer clock;
    clock.start();
    std::vector<std::optional<RunningApplication>> reached;
    const auto note = [&](std::optional<RunningApplication> opened, std::optional<host::SystemError>) {
        reached.push_back(opened);
    };
    workspace_.open({first}, app, {}, note);
    workspace_.open({second}, app, {}, note);
    ASSERT_TRUE(time_->runUntil([&] { return reached.size() == 2 && received.size() == 2; }, 15000));
    EXPECT_LT(clock.elapsed(), 5000) << "the hand-over waited out its patience instead of its answer";
    for (const auto& opened : reached) {
        ASSERT_TRUE(opened);
        EXPECT_EQ(opened->processIdentifier, running->processIdentifier);
    }
    EXPECT_EQ(received[0].directObject, first.toString());
    EXPECT_EQ(received[1].directObject, second.toString());
    EXPECT_EQ(recordedStarts(app).size(), 1);
    host::replaceService(host::services().eventDelivery, std::move(previous));
}

// A program of this user started with another home folder (the user's own helper, seen from a test's
// temporary home) belongs to another session: this workspace neither lists nor signals it.
TEST_F(HostWorkspaceTest, ProgramsOfAnotherHomeAreNotThisSessionsApplications) {
    const QString id = QStringLiteral("com.example.workspace-tests.homes");
    const QString app = makeBundle(apps_, QStringLiteral("Homes"), bundleInfo(id), /*stays=*/true);
    QProcess other;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), root_ + QStringLiteral("/another-home"));
    other.setProcessEnvironment(environment);
    other.setProgram(app + QStringLiteral("/Contents/MacOS/run"));
    qint64 otherPID = 0;
    ASSERT_TRUE(other.startDetached(&otherPID));
    started_.push_back(qint32(otherPID));
    auto [mine, error] = openAndWait([&](auto done) { workspace_.openApplication(app, {}, done); });
    ASSERT_TRUE(mine) << (error ? error->description().toStdString() : "");
    ASSERT_TRUE(waitFor([&] { return recordedStarts(app).size() == 2; }));
    ASSERT_TRUE(waitFor([&] { return workspace_.runningApplications(id).size() == 1; }));

    EXPECT_EQ(workspace_.runningApplications(id)[0].processIdentifier, mine->processIdentifier);
    EXPECT_FALSE(workspace_.terminate(qint32(otherPID)));
    EXPECT_TRUE(workspace_.terminate(mine->processIdentifier));
    EXPECT_TRUE(waitFor([&] { return workspace_.runningApplications(id).empty(); }));
    EXPECT_EQ(::kill(pid_t(otherPID), 0), 0) << "the other home's program was ended";
}

// A process that was listed as no application becomes one by an exec (a launcher script handing over to the
// bundle's program): it keeps its number and start time, and is that bundle's application from then on.
TEST_F(HostWorkspaceTest, AProcessThatBecomesABundleProgramIsListedAsItsApplication) {
    const QString id = QStringLiteral("com.example.workspace-tests.exec");
    const QString app = makeBundle(apps_, QStringLiteral("Exec"), bundleInfo(id), /*stays=*/true);
    const QString go = root_ + QStringLiteral("/go");
    const QString launcher = root_ + QStringLiteral("/launcher");
    writeFile(launcher,
              "#!/bin/sh\nwhile [ ! -e '" + QFile::encodeName(go) + "' ]; do sleep 0.02; done\nexec '" +
                  QFile::encodeName(app) + "/Contents/MacOS/run'\n",
              true);
    qint64 pid = 0;
    ASSERT_TRUE(QProcess::startDetached(launcher, {}, QString(), &pid));
    started_.push_back(qint32(pid));
    ASSERT_TRUE(waitFor([&] {
        const auto process = host::liveProcess(qint32(pid));
        return process && process->name == "launcher";
    }));
    EXPECT_FALSE(workspace_.runningApplication(qint32(pid))) << "the launcher is no application";

    writeFile(go, "");
    ASSERT_TRUE(waitFor([&] { return recordedStarts(app).size() == 1; }));
    const auto running = workspace_.runningApplication(qint32(pid));
    ASSERT_TRUE(running);
    EXPECT_EQ(running->bundleIdentifier, id);
    EXPECT_EQ(running->bundlePath, app);
}

// Records what reaches a running program, and the marks of the hand-overs and starts; takes everything.
class RecordingDelivery final : public host::EventDelivery {
public:
    void deliverToRunning(const RunningApplication& app, const QList<QUrl>& urls, const QStringList&,
                          const QString& deliveryID, std::function<void(bool taken)> done) override {
        delivered.emplace_back(app, urls);
        handOverMarks.push_back(deliveryID);
        if (done)
            host::mainQueue().async([done, taken = accepts] { done(taken); });
    }
    void prepareLaunch(host::LaunchRequest& launch, const QList<QUrl>& urls, const QStringList&) override {
        launch.arguments.append(QStringLiteral("--event"));
        for (const QUrl& url : urls)
            launch.arguments.append(url.toString());
        launchMarks.push_back(launch.deliveryID);
    }
    bool accepts = true;
    std::vector<std::pair<RunningApplication, QList<QUrl>>> delivered;
    QStringList handOverMarks, launchMarks;
};

TEST_F(HostWorkspaceTest, LinksGoToTheRunningProgramThroughTheDeliveryElseStartIt) {
    const QString app = makeBundle(apps_, QStringLiteral("Proxy"),
                                   bundleInfo(QStringLiteral("com.example.workspace-tests.proxy")),
                                   /*stays=*/true);
    const QUrl link(QStringLiteral("https://example.com/a?b=c"));
    OpenConfiguration configuration;
    configuration.arguments = {QStringLiteral("-x")};

    // The plainest delivery: a program gets the links as arguments after the configuration's.
    auto previous =
        host::replaceService(host::services().eventDelivery, std::make_shared<host::ArgumentEventDelivery>());
    auto [started, error] =
        openAndWait([&](auto done) { workspace_.open({link}, app, configuration, done); });
    ASSERT_TRUE(started);
    ASSERT_TRUE(waitFor([&] { return recordedStarts(app).size() == 1; }));
    EXPECT_EQ(recordedStarts(app).first(), QStringLiteral("-x|https://example.com/a?b=c|"));
    ASSERT_TRUE(
        waitFor([&] { return workspace_.runningApplication(started->processIdentifier).has_value(); }));

    auto delivery = std::make_shared<RecordingDelivery>();
    host::replaceService(host::services().eventDelivery, delivery);
    auto [reached, reachedError] =
        openAndWait([&](auto done) { workspace_.open({link}, app, configuration, done); });
    ASSERT_TRUE(reached);
    EXPECT_EQ(reached->processIdentifier, started->processIdentifier);
    ASSERT_EQ(delivery->delivered.size(), 1u);
    EXPECT_EQ(delivery->delivered[0].first.processIdentifier, started->processIdentifier);
    EXPECT_THAT(delivery->delivered[0].second, ElementsAre(link));

    // Opened again without links: the running program gets the reopen, and no second one starts.
    auto [reopened, reopenError] = openAndWait([&](auto done) { workspace_.openApplication(app, {}, done); });
    ASSERT_TRUE(reopened);
    EXPECT_EQ(reopened->processIdentifier, started->processIdentifier);
    ASSERT_EQ(delivery->delivered.size(), 2u);
    EXPECT_TRUE(delivery->delivered[1].second.isEmpty());

    // A running program that does not take the event: it is started with it.
    delivery->accepts = false;
    auto [fresh, freshError] =
        openAndWait([&](auto done) { workspace_.open({link}, app, configuration, done); });
    ASSERT_TRUE(fresh);
    EXPECT_NE(fresh->processIdentifier, started->processIdentifier);
    ASSERT_TRUE(waitFor([&] { return recordedStarts(app).size() == 2; }));
    EXPECT_EQ(recordedStarts(app).last(), QStringLiteral("-x|--event|https://example.com/a?b=c|"));
    // Under the mark it was handed over with: a program that handed it on before it went has it once.
    ASSERT_EQ(delivery->handOverMarks.size(), 3);
    ASSERT_EQ(delivery->launchMarks.size(), 1);
    EXPECT_FALSE(delivery->launchMarks[0].isEmpty());
    EXPECT_EQ(delivery->launchMarks[0], delivery->handOverMarks[2]);
    EXPECT_NE(delivery->handOverMarks[0], delivery->handOverMarks[2]) << "each open has a mark of its own";
    host::replaceService(host::services().eventDelivery, std::move(previous));
}

// A program started for a link that ends before it took it: ended with a failure, it failed to open the link
// (the caller then gives it to another browser); ended cleanly, it read the link from its start.
TEST_F(HostWorkspaceTest, AProgramThatFailsBeforeItTookItsLinksFailsTheOpen) {
    auto previous =
        host::replaceService(host::services().eventDelivery, std::make_shared<host::EventChannelDelivery>());
    const QUrl link(QStringLiteral("https://example.com/started?x=1"));
    const auto openWith = [&](const QString& name, const QByteArray& ending) {
        const QString app = makeBundle(
            apps_, name, bundleInfo(QStringLiteral("com.example.workspace-tests.") + name.toLower()));
        QFile program(app + QStringLiteral("/Contents/MacOS/run"));
        EXPECT_TRUE(program.open(QIODevice::Append));
        program.write(ending + "\n");
        program.close();
        auto [started, error] = openAndWait([&](auto done) { workspace_.open({link}, app, {}, done); });
        EXPECT_EQ(recordedStarts(app), QStringList{link.toString() + QLatin1Char('|')}) << name.toStdString();
        EXPECT_EQ(started.has_value(), !error.has_value());
        return error ? error->description().toStdString() : std::string();
    };

    EXPECT_EQ(openWith(QStringLiteral("Fails"), "exit 1"),
              "Fails.app ended with status 1 before it took its links");
    EXPECT_EQ(openWith(QStringLiteral("FailsLater"), "sleep 0.2; exit 3"),
              "FailsLater.app ended with status 3 before it took its links");
    EXPECT_EQ(openWith(QStringLiteral("Killed"), "kill -KILL $$"),
              "Killed.app ended by signal 9 (Killed) before it took its links");
    EXPECT_EQ(openWith(QStringLiteral("Reads"), "exit 0"), "");
    host::replaceService(host::services().eventDelivery, std::move(previous));
}

TEST_F(HostWorkspaceTest, OpeningFailuresComeBackAsErrors) {
    QVariantMap noProgram = bundleInfo(QStringLiteral("com.example.noexec"));
    noProgram.insert(QStringLiteral("CFBundleExecutable"), QStringLiteral("absent"));
    const QString broken = makeBundle(apps_, QStringLiteral("Broken"), noProgram);

    auto [app, error] = openAndWait([&](auto done) { workspace_.openApplication(broken, {}, done); });
    EXPECT_FALSE(app);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), int(host::WorkspaceErrorCode::noExecutable));

    auto [missing, missingError] = openAndWait([&](auto done) {
        workspace_.open({QUrl(QStringLiteral("https://x.example"))}, root_ + "/Gone.app", {}, done);
    });
    EXPECT_FALSE(missing);
    ASSERT_TRUE(missingError);
    EXPECT_EQ(missingError->code(), int(host::WorkspaceErrorCode::applicationNotFound));

    const QString nowhere =
        desktopEntry(dataHomeApplications(), QStringLiteral("nowhere"),
                     "[Desktop Entry]\nType=Application\nName=Nowhere\n"
                     "Exec=no-such-program-anywhere %u\nMimeType=x-scheme-handler/http;\n");
    auto [none, noneError] = openAndWait(
        [&](auto done) { workspace_.open({QUrl(QStringLiteral("https://x.example"))}, nowhere, {}, done); });
    EXPECT_FALSE(none);
    ASSERT_TRUE(noneError);
    EXPECT_EQ(noneError->code(), int(host::WorkspaceErrorCode::launchFailed));

    // Nothing but a relative link: no program is started at all.
    auto [unusable, unusableError] =
        openAndWait([&](auto done) { workspace_.open({QUrl(QStringLiteral("--flag"))}, nowhere, {}, done); });
    EXPECT_FALSE(unusable);
    ASSERT_TRUE(unusableError);
    EXPECT_EQ(unusableError->description(), QStringLiteral("no usable link to open in nowhere.desktop"));
}

TEST_F(HostWorkspaceTest, OpensLinksWithADesktopBrowserAsItsExecLineSays) {
    const QString record = root_ + QStringLiteral("/browser.record");
    const QString program = root_ + QStringLiteral("/bin/browser");
    writeFile(program,
              "#!/bin/sh\nline=$(printf '%s|' \"$@\")\nprintf '%s\\n' \"$line\" >> '" +
                  QFile::encodeName(record) + "'\n",
              true);
    const QString entry =
        desktopEntry(dataHomeApplications(), QStringLiteral("browser"),
                     "[Desktop Entry]\nType=Application\nName=Browser\nExec=\"" + program.toUtf8() +
                         "\" --new-window %u\nMimeType=x-scheme-handler/http;\n");
    auto [app, error] = openAndWait([&](auto done) {
        workspace_.open(
            {QUrl(QStringLiteral("https://a.example/")), QUrl(QStringLiteral("https://b.example/"))}, entry,
            {}, done);
    });
    ASSERT_TRUE(app) << (error ? error->description().toStdString() : "");
    EXPECT_EQ(app->bundleIdentifier, QStringLiteral("desktop.browser"));
    ASSERT_TRUE(waitFor([&] { return readText(record).count(QLatin1Char('\n')) == 2; }));
    QStringList lines = readText(record).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    lines.sort();
    EXPECT_THAT(lines, ElementsAre(QStringLiteral("--new-window|https://a.example/|"),
                                   QStringLiteral("--new-window|https://b.example/|")));
}

} // namespace

namespace {

// A stand-in of the desktop's Chromium: its entry runs a script named "chromium" that records its arguments
// and ACCESSIBILITY_ENABLED, starts a helper process of its own ("--type=renderer") and stays until
// signalled.
class ChromeOnTheDesktopTest : public HostWorkspaceTest {
protected:
    void SetUp() override {
        HostWorkspaceTest::SetUp();
        const QString program = root_ + QStringLiteral("/bin/chromium");
        writeFile(program,
                  "#!/bin/sh\ncase \"$1\" in --type=*) exec sleep 60;; esac\n"
                  "line=$(printf '%s|' \"$ACCESSIBILITY_ENABLED\" \"$@\")\nprintf '%s\\n' \"$line\" >> '" +
                      QFile::encodeName(record()) + "'\n\"$0\" --type=renderer &\necho $! > '" +
                      QFile::encodeName(root_) +
                      "/renderer.pid'\ntrap 'kill $!; exit 0' TERM\n"
                      "while :; do sleep 0.05; done\n",
                  true);
        chromium_ = desktopEntry(dataDirs_ + QStringLiteral("/applications"), QStringLiteral("chromium"),
                                 QStringLiteral("[Desktop Entry]\nType=Application\nName=Chromium\n"
                                                "Exec=%1 %U\nMimeType=x-scheme-handler/http;\n")
                                     .arg(program));
    }
    QString record() const { return root_ + QStringLiteral("/chromium.record"); }
    QStringList starts() const { return readText(record()).split(QLatin1Char('\n'), Qt::SkipEmptyParts); }

    QString chromium_;
};

TEST_F(ChromeOnTheDesktopTest, ChromiumServesAsChromeUnlessGoogleChromeIsInstalled) {
    EXPECT_EQ(workspace_.urlForApplication(QStringLiteral("com.google.Chrome")), chromium_);
    EXPECT_EQ(host::chromeUserDataDirectory(),
              qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/chromium"));

    const QString chrome = desktopEntry(dataHomeApplications(), QStringLiteral("google-chrome"),
                                        "[Desktop Entry]\nType=Application\nName=Google Chrome\n"
                                        "Exec=/opt/google/chrome/google-chrome %U\n"
                                        "MimeType=x-scheme-handler/http;\n");
    EXPECT_EQ(workspace_.urlForApplication(QStringLiteral("com.google.Chrome")), chrome);
    EXPECT_EQ(workspace_.urlForApplication(QStringLiteral("org.chromium.Chromium")), chromium_);
    EXPECT_EQ(host::chromeUserDataDirectory(),
              qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/google-chrome"));
}

TEST_F(ChromeOnTheDesktopTest, RunningChromeIsItsMainProcessAndIsOpenedOnce) {
    std::vector<std::pair<host::ApplicationEvent, RunningApplication>> events;
    const int observer =
        workspace_.addApplicationObserver([&](host::ApplicationEvent event, const RunningApplication& app) {
            events.emplace_back(event, app);
        });

    OpenConfiguration configuration;
    configuration.arguments = {QStringLiteral("--profile-directory=Profile 1")};
    configuration.createsNewApplicationInstance = true;
    auto [started, error] =
        openAndWait([&](auto done) { workspace_.openApplication(chromium_, configuration, done); });
    ASSERT_TRUE(started) << (error ? error->description().toStdString() : "");
    ASSERT_TRUE(waitFor([&] { return starts().size() == 1; }));
    // Started directly with the argument list, and made to publish its accessibility tree.
    EXPECT_EQ(starts().first(), QStringLiteral("1|--profile-directory=Profile 1|"));

    // The browser's own helper processes are not Chrome. (Other Chromes of this user may run beside.)
    const auto chromePids = [](HostWorkspace& workspace) {
        QList<qint32> pids;
        for (const RunningApplication& app :
             workspace.runningApplications(QStringLiteral("com.google.Chrome")))
            pids.append(app.processIdentifier);
        return pids;
    };
    ASSERT_TRUE(
        waitFor([&] { return !readText(root_ + QStringLiteral("/renderer.pid")).trimmed().isEmpty(); }));
    const qint32 renderer = readText(root_ + QStringLiteral("/renderer.pid")).trimmed().toInt();
    EXPECT_TRUE(chromePids(workspace_).contains(started->processIdentifier));
    EXPECT_FALSE(chromePids(workspace_).contains(renderer));
    HostWorkspace other;
    EXPECT_TRUE(chromePids(other).contains(started->processIdentifier))
        << "found by its program, whoever started it";

    const auto reported = [&](host::ApplicationEvent kind) {
        return waitFor([&] {
            time_->runUntilIdle();
            return std::any_of(events.begin(), events.end(), [&](const auto& event) {
                return event.first == kind && event.second.processIdentifier == started->processIdentifier;
            });
        });
    };
    EXPECT_TRUE(reported(host::ApplicationEvent::didLaunch));
    for (const auto& [event, app] : events) {
        if (app.processIdentifier == started->processIdentifier) {
            EXPECT_EQ(app.bundleIdentifier, QStringLiteral("com.google.Chrome"));
        }
    }

    // Opened again without a new instance: the running one is the answer, and nothing starts.
    auto [again, againError] =
        openAndWait([&](auto done) { workspace_.openApplication(chromium_, OpenConfiguration{}, done); });
    ASSERT_TRUE(again);
    EXPECT_EQ(again->bundleIdentifier, QStringLiteral("com.google.Chrome"));
    EXPECT_TRUE(chromePids(workspace_).contains(again->processIdentifier));
    QThread::msleep(200);
    EXPECT_EQ(starts().size(), 1);

    EXPECT_TRUE(workspace_.terminate(started->processIdentifier));
    EXPECT_TRUE(reported(host::ApplicationEvent::didTerminate));
    workspace_.removeApplicationObserver(observer);
}

// What a running browser is follows the desktop: a Google Chrome installed while Chromium runs is Chrome
// from then on, and the running Chromium no longer is.
TEST_F(ChromeOnTheDesktopTest, ARunningChromiumIsChromeOnlyWhileNoGoogleChromeIsInstalled) {
    QProcess chromium;
    chromium.setProgram(root_ + QStringLiteral("/bin/chromium"));
    chromium.setArguments({QStringLiteral("--profile-directory=Default")});
    // Its renderer outlives the test: it must hold no output of the test's open.
    chromium.setStandardOutputFile(QProcess::nullDevice());
    chromium.setStandardErrorFile(QProcess::nullDevice());
    qint64 pid = 0;
    ASSERT_TRUE(chromium.startDetached(&pid));
    started_.push_back(qint32(pid));
    const auto isChrome = [&] {
        const auto running = workspace_.runningApplication(qint32(pid));
        return running && running->bundleIdentifier == QStringLiteral("com.google.Chrome");
    };
    ASSERT_TRUE(waitFor(isChrome));

    desktopEntry(dataHomeApplications(), QStringLiteral("google-chrome"),
                 "[Desktop Entry]\nType=Application\nName=Google Chrome\n"
                 "Exec=/opt/google/chrome/google-chrome %U\nMimeType=x-scheme-handler/http;\n");
    EXPECT_TRUE(waitFor([&] { return !isChrome(); }));
}

TEST_F(ChromeOnTheDesktopTest, AChromeOfAnotherHomeIsNotThisSessionsChrome) {
    QProcess other;
    other.setProgram(root_ + QStringLiteral("/bin/chromium"));
    other.setArguments(
        {QStringLiteral("--user-data-dir=") + root_ + QStringLiteral("/another-home/.config/chromium"),
         QStringLiteral("--profile-directory=Default")});
    other.setStandardOutputFile(QProcess::nullDevice());
    other.setStandardErrorFile(QProcess::nullDevice());
    qint64 otherPID = 0;
    ASSERT_TRUE(other.startDetached(&otherPID));
    started_.push_back(qint32(otherPID));
    ASSERT_TRUE(waitFor([&] { return starts().size() == 1; }));

    for (const RunningApplication& app : workspace_.runningApplications(QStringLiteral("com.google.Chrome")))
        EXPECT_NE(app.processIdentifier, qint32(otherPID));
}

} // namespace
