// A proxy app for the profile "Work" driving a real Chromium on a private desktop, beside the helper program:
// it opens Work's window, hands its links to Work, stays while Work has windows and quits when they are
// gone, and on quit closes Work's windows and leaves Home's.
#include "CorvaneHelper/WindowTracking/AXProfileSource.h"
#include "CorvaneHost/Accessibility.h"
#include "Support/ChromiumSession.h"
#include "Support/Files.h"
#include "Support/HostToolRun.h"
#include "Support/ProxyAppProcess.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDir>
#include <QElapsedTimer>
#include <QUrl>
#include <gtest/gtest.h>

namespace {

using test::ChromiumHelperSession;
using test::DesktopSession;
using test::HelperClient;
using test::LauncherProcess;

constexpr double generous = ChromiumHelperSession::generous;
const QString work = QStringLiteral("Work");
const QString home = QStringLiteral("Home");
const QString markerTitle = QStringLiteral("Corvane link marker");

// The desktop's status area as desktops with status-notifier items have it: the watcher that items register
// with. With it on the bus, the launcher shows its menu there, exported over D-Bus as the desktop's panel
// reads it; the test clicks the menu's items as the panel does.
class StatusNotifierWatcher : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ isStatusNotifierHostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ registeredStatusNotifierItems)

public:
    bool publish() {
        QDBusConnection bus = QDBusConnection::sessionBus();
        return bus.registerObject(path, this,
                                  QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties) &&
               bus.registerService(service);
    }
    ~StatusNotifierWatcher() override {
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.unregisterService(service);
        bus.unregisterObject(path);
    }
    bool isStatusNotifierHostRegistered() const { return true; }
    int protocolVersion() const { return 0; }
    QStringList registeredStatusNotifierItems() const { return items_; }
    // The bus names of the programs whose items registered.
    const QStringList& owners() const { return owners_; }

public slots:
    void RegisterStatusNotifierItem(const QString& item) {
        items_.append(item);
        owners_.append(message().service());
    }
    void RegisterStatusNotifierHost(const QString&) {}

private:
    const QString service = QStringLiteral("org.kde.StatusNotifierWatcher");
    const QString path = QStringLiteral("/StatusNotifierWatcher");
    QStringList items_;
    QStringList owners_;
};

// The id of the item labelled `label` in the menu that `owner` exports at `menuPath`.
std::optional<int> menuItemID(const QString& owner, const QString& menuPath, const QString& label) {
    QList<int> ids;
    for (int id = 0; id < 200; ++id)
        ids.append(id);
    QDBusMessage request = QDBusMessage::createMethodCall(
        owner, menuPath, QStringLiteral("com.canonical.dbusmenu"), QStringLiteral("GetGroupProperties"));
    request << QVariant::fromValue(ids) << QStringList{QStringLiteral("label")};
    const QDBusMessage reply = QDBusConnection::sessionBus().call(request, QDBus::Block, 5000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return std::nullopt;
    const QDBusArgument items = reply.arguments().at(0).value<QDBusArgument>();
    // Every array begun is ended, also when the item is found early: ending it frees its reader.
    std::optional<int> found;
    items.beginArray();
    while (!found && !items.atEnd()) {
        int id = 0;
        QVariantMap properties;
        items.beginStructure();
        items >> id >> properties;
        items.endStructure();
        if (properties.value(QStringLiteral("label")).toString().remove(QLatin1Char('_')) == label)
            found = id;
    }
    items.endArray();
    return found;
}

// The path of the menu of the status item that `owner` shows.
QString menuPathOf(const QString& owner) {
    QDBusMessage request = QDBusMessage::createMethodCall(owner, QStringLiteral("/StatusNotifierItem"),
                                                          QStringLiteral("org.freedesktop.DBus.Properties"),
                                                          QStringLiteral("Get"));
    request << QStringLiteral("org.kde.StatusNotifierItem") << QStringLiteral("Menu");
    const QDBusMessage reply = QDBusConnection::sessionBus().call(request, QDBus::Block, 5000);
    if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
        const QVariant value = reply.arguments().at(0).value<QDBusVariant>().variant();
        if (value.canConvert<QDBusObjectPath>())
            return value.value<QDBusObjectPath>().path();
    }
    return QStringLiteral("/MenuBar");
}

class ProxyAppChromiumTests : public testing::Test {
protected:
    static void SetUpTestSuite() {
        session = new ChromiumHelperSession;
        if (!session->start())
            return;
        try {
            appPath = test::buildProxyApp(QDir::homePath() + QStringLiteral("/Applications"), work,
                                          QStringLiteral("app.corvane.e2e0chromwork"), work, true);
        } catch (const host::Error& error) {
            buildError = error.description();
        }
    }
    static void TearDownTestSuite() {
        delete session;
        session = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(session->failure().isEmpty()) << session->failure().toStdString();
        ASSERT_TRUE(buildError.isEmpty()) << buildError.toStdString();
        launcher =
            std::make_unique<LauncherProcess>(appPath, QDir::homePath() + QStringLiteral("/launcher.log"));
    }
    void TearDown() override {
        if (!launcher)
            return;
        if (HasFailure())
            ADD_FAILURE() << "the launcher's log:\n"
                          << launcher->log().toStdString() << "\n"
                          << (watcher ? watcher->describe().toStdString() : std::string())
                          << "\nthe helper's log:\n"
                          << session->helper().log().toStdString();
        launcher.reset();
        session->closeWindows(work);
        QFile::remove(QDir::homePath() + QStringLiteral("/launcher.log"));
    }

    // The launcher runs on the session's display, as a user's would.
    static QProcessEnvironment launcherEnvironment() {
        QProcessEnvironment environment = session->desktop().programEnvironment();
        environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
        return environment;
    }

    // Starts the proxy app and waits for Work's window and for the helper to count it.
    void startProxyApp() {
        ASSERT_TRUE(session->windows(work).isEmpty());
        ASSERT_TRUE(launcher->start(launcherEnvironment()));
        ASSERT_TRUE(DesktopSession::waitUntil([] { return session->windows(work).size() == 1; }, generous))
            << "no window of Work";
        watcher = HelperClient::connect(work, false);
        ASSERT_TRUE(watcher);
        ASSERT_TRUE(watcher->hears(1)) << watcher->describe().toStdString();
    }

    // Opens a page with the proxy app, as a user opens a link with it; it opens in Work, in a tab of Work's
    // window, which takes the page's title.
    void openLinkWithTheProxyApp() {
        const QString page = QDir::homePath() + QStringLiteral("/marker.html");
        test::writeFile(page, "<html><head><title>" + markerTitle.toUtf8() + "</title></head></html>",
                        QDateTime::currentDateTimeUtc());
        const test::ToolRun open =
            test::runLoggingTo(QStringLiteral(CORVANE_HOST_TOOLS_DIR "/open"),
                               {QStringLiteral("-a"), appPath, QUrl::fromLocalFile(page).toString()},
                               QDir::homePath() + QStringLiteral("/launcher.log"));
        ASSERT_EQ(open.status, 0);
        ASSERT_TRUE(DesktopSession::waitUntil(
            [] {
                for (const host::AXElement& window : session->windows(work))
                    if (test::titleOf(window).startsWith(markerTitle))
                        return true;
                return false;
            },
            generous))
            << "the link did not open in Work";
        EXPECT_TRUE(homeIsUntouched());
        EXPECT_TRUE(launcher->isRunning());
    }

    static bool homeIsUntouched() {
        const QList<host::AXElement> windows = session->windows(home);
        return windows.size() == 1 && !test::titleOf(windows[0]).startsWith(markerTitle);
    }

    static inline ChromiumHelperSession* session = nullptr;
    static inline QString appPath;
    static inline QString buildError;
    std::unique_ptr<LauncherProcess> launcher;
    // Hears what the helper tells the launcher about Work's windows.
    std::unique_ptr<HelperClient> watcher;
};

TEST_F(ProxyAppChromiumTests, OpensWorkStaysWhileItsWindowIsOpenAndQuitsWhenItCloses) {
    startProxyApp();
    if (HasFatalFailure())
        return;
    // Past the drain a closing window would start, the launcher still runs: Work has its window.
    EXPECT_FALSE(launcher->waitForEnd(3));
    EXPECT_TRUE(homeIsUntouched());

    // Closing Work's window ends the launcher after its short drain; Home stays open.
    QElapsedTimer sinceClose;
    sinceClose.start();
    ASSERT_TRUE(session->closeWindows(work));
    ASSERT_TRUE(launcher->waitForEnd(generous)) << "the launcher still runs";
    RecordProperty("close_to_launcher_end_ms", int(sinceClose.elapsed()));
    std::printf("Work's window closed; the launcher ended %lld ms after the close\n",
                static_cast<long long>(sinceClose.elapsed()));
    EXPECT_TRUE(launcher->endedNormally());
    EXPECT_TRUE(launcher->log().contains(QStringLiteral("last window for this profile closed; quitting")));
    EXPECT_TRUE(homeIsUntouched());
}

TEST_F(ProxyAppChromiumTests, ALinkOpensInWorkAndTerminatingClosesWorksWindowsAndLeavesHomes) {
    startProxyApp();
    if (HasFatalFailure())
        return;
    openLinkWithTheProxyApp();
    if (HasFatalFailure())
        return;
    ASSERT_TRUE(session->openWindow(work));

    launcher->terminate();
    ASSERT_TRUE(launcher->waitForEnd(generous)) << "the launcher still runs";
    EXPECT_TRUE(launcher->endedNormally());
    EXPECT_TRUE(launcher->log().contains(QStringLiteral("terminating (selfQuit=false,")));
    EXPECT_TRUE(DesktopSession::waitUntil([] { return session->windows(work).isEmpty(); }, generous))
        << session->windows(work).size() << " window(s) of Work left";
    EXPECT_TRUE(homeIsUntouched());
}

TEST_F(ProxyAppChromiumTests, AfterALinkIntoWorksWindowClosingItStillEndsTheLauncher) {
    startProxyApp();
    if (HasFatalFailure())
        return;
    openLinkWithTheProxyApp();
    if (HasFatalFailure())
        return;
    // The launch noted for the link opened no window; once it lapses the helper is sure of the zero again.
    ASSERT_TRUE(session->closeWindows(work));
    EXPECT_TRUE(watcher->hears(0, AXProfileSource::pendingLaunchLifetime + generous))
        << watcher->describe().toStdString();
    EXPECT_TRUE(launcher->waitForEnd(generous)) << "the launcher still runs";
    EXPECT_TRUE(homeIsUntouched());
}

TEST_F(ProxyAppChromiumTests, TheMenusQuitInTheStatusAreaClosesWorksWindowsAndLeavesHomes) {
    StatusNotifierWatcher statusArea;
    ASSERT_TRUE(statusArea.publish()) << "the status area's watcher could not be placed on the bus";
    startProxyApp();
    if (HasFatalFailure())
        return;
    ASSERT_TRUE(DesktopSession::waitUntil([&] { return !statusArea.owners().isEmpty(); }, generous))
        << "the launcher showed nothing in the status area";
    const QString owner = statusArea.owners().last();
    const QString menuPath = menuPathOf(owner);
    std::optional<int> quit;
    ASSERT_TRUE(DesktopSession::waitUntil(
        [&] { return (quit = menuItemID(owner, menuPath, QStringLiteral("Quit Work"))).has_value(); },
        generous))
        << "no item \"Quit Work\" in the menu at " << menuPath.toStdString();

    QDBusMessage click = QDBusMessage::createMethodCall(
        owner, menuPath, QStringLiteral("com.canonical.dbusmenu"), QStringLiteral("Event"));
    click << *quit << QStringLiteral("clicked") << QVariant::fromValue(QDBusVariant(QVariant(0))) << 0u;
    const QDBusMessage reply = QDBusConnection::sessionBus().call(click, QDBus::Block, 5000);
    ASSERT_NE(reply.type(), QDBusMessage::ErrorMessage) << reply.errorMessage().toStdString();

    ASSERT_TRUE(launcher->waitForEnd(generous)) << "the launcher still runs";
    EXPECT_TRUE(launcher->endedNormally());
    EXPECT_TRUE(DesktopSession::waitUntil([] { return session->windows(work).isEmpty(); }, generous))
        << session->windows(work).size() << " window(s) of Work left";
    EXPECT_TRUE(homeIsUntouched());
}

} // namespace

#include "ProxyAppChromiumTests.moc"
