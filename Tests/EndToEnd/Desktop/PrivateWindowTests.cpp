// A rule with a private target on the real desktop: the helper, the desktop's default browser, opens its
// links in a private window of the real Chromium. Proven from outside the browser by a page server of the
// test's own on 127.0.0.1: the normal profile holds a cookie for it, which a normal rule's link brings along
// and a private rule's link does not.
#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneCore/Routing/RecentLinks.h"
#include "CorvaneCore/Routing/RuleStore.h"
#include "CorvaneHost/Linux/Processes/ChildProcess.h"
#include "Support/DesktopSession.h"
#include "Support/Files.h"
#include "Support/HostToolRun.h"

#include <QDir>
#include <QHash>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUuid>
#include <gtest/gtest.h>

namespace {

using test::DesktopSession;

constexpr double generous = 30;
const QString chromeID = QStringLiteral("com.google.Chrome");
const QByteArray cookie = "corvane=normal-profile";

// Pages on 127.0.0.1, each answer a small page over a connection of its own; "/set" also sets the cookie
// for an hour. Keeps each request's target and the cookies it brought, as the browser sent them.
class PageServer : public QObject {
public:
    struct Request {
        QByteArray target;
        QByteArray cookies;
    };

    bool listen() {
        connect(&server_, &QTcpServer::newConnection, this, &PageServer::accept);
        return server_.listen(QHostAddress::LocalHost);
    }
    QString origin() const { return QStringLiteral("http://127.0.0.1:%1").arg(server_.serverPort()); }

    // The first request for the page at `path`, whatever its query.
    std::optional<Request> request(const QByteArray& path) const {
        for (const Request& request : requests_)
            if (request.target.split('?').value(0) == path)
                return request;
        return std::nullopt;
    }
    QString describe() const {
        QString text = QStringLiteral("requests the server had:");
        for (const Request& request : requests_)
            text += QStringLiteral("\n  %1 (cookies: %2)")
                        .arg(QString::fromLatin1(request.target), QString::fromLatin1(request.cookies));
        return text;
    }

private:
    void accept() {
        while (QTcpSocket* socket = server_.nextPendingConnection()) {
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    }

    void read(QTcpSocket* socket) {
        QByteArray& received = pending_[socket];
        received += socket->readAll();
        const qsizetype headEnd = received.indexOf("\r\n\r\n");
        if (headEnd < 0)
            return;
        const QList<QByteArray> lines = received.left(headEnd).split('\n');
        pending_.remove(socket);
        Request request{lines.value(0).trimmed().split(' ').value(1), {}};
        for (const QByteArray& line : lines.mid(1))
            if (line.toLower().startsWith("cookie:"))
                request.cookies = line.mid(int(sizeof("cookie:") - 1)).trimmed();
        requests_.push_back(request);

        const QByteArray body = "<html><head><title>Corvane page</title></head><body></body></html>";
        QByteArray response = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nCache-Control: no-store\r\n"
                              "Connection: close\r\nContent-Length: " +
                              QByteArray::number(body.size()) + "\r\n";
        if (request.target == "/set")
            response += "Set-Cookie: " + cookie + "; Max-Age=3600; Path=/\r\n";
        socket->write(response + "\r\n" + body);
        socket->disconnectFromHost();
    }

    QTcpServer server_;
    QHash<QTcpSocket*, QByteArray> pending_;
    std::vector<Request> requests_;
};

class PrivateWindowTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        // One profile, so that every window that is not private is that profile's.
        DesktopSession::Options options;
        options.profiles = {QStringLiteral("Home")};
        session = new DesktopSession(options);
        if (!session->start())
            return;
        // The helper that the desktop starts finds Chromium by the system's desktop entry, as a user's does.
        qputenv("XDG_DATA_DIRS",
                session->programEnvironment().value(QStringLiteral("XDG_DATA_DIRS")).toLocal8Bit());
        chromiumStarted = session->openWindow(QStringLiteral("Home"));
    }
    static void TearDownTestSuite() {
        delete session;
        session = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(session->failure().isEmpty()) << session->failure().toStdString();
        ASSERT_TRUE(chromiumStarted) << "Chromium did not start";
        const test::ToolRun install =
            test::runLoggingTo(QStringLiteral(CORVANE_HOST_TOOLS_DIR "/corvane-dev-install"),
                               {QStringLiteral(CORVANE_BUILD_DIR "/Corvane.app")}, logFile());
        ASSERT_EQ(install.status, 0) << install.output.toStdString();
        ASSERT_TRUE(pages.listen()) << "the page server cannot listen";
    }
    void TearDown() override {
        if (HasFailure())
            ADD_FAILURE() << pages.describe().toStdString() << "\nthe tools' log:\n"
                          << test::readText(logFile()).toStdString() << "\nthe helper's log:\n"
                          << test::readText(host::launchLogPath(Corvane::helperBundleID)).toStdString();
        session->clearDesktop();
    }

    static LinkRule rule(const QString& name, const QString& address, bool isPrivate) {
        LinkRule result{QUuid::createUuid(), name, RouteTarget::browser(chromeID, isPrivate), true,
                        MatchMode::any,      {}};
        result.conditions = {Condition{Condition::Kind::addresses, {address}}};
        return result;
    }

    // Opens the link to the page at `path` as a program of the desktop does, through its default browser (the
    // helper), and waits for the page server to be asked for that page.
    std::optional<PageServer::Request> openThroughTheDesktop(const QByteArray& path,
                                                             const QString& query = {}) {
        const QString link = pages.origin() + QString::fromLatin1(path) + query;
        const test::ToolRun open =
            test::runLoggingTo(QStringLiteral(CORVANE_HOST_TOOLS_DIR "/open"), {link}, logFile());
        EXPECT_EQ(open.status, 0) << open.output.toStdString();
        DesktopSession::waitUntil([&] { return pages.request(path).has_value(); }, generous);
        return pages.request(path);
    }

    static QString logFile() { return QDir::homePath() + QStringLiteral("/private-window.log"); }

    static inline DesktopSession* session = nullptr;
    static inline bool chromiumStarted = false;
    PageServer pages;
};

TEST_F(PrivateWindowTest, APrivateRulesLinkArrivesWithoutTheNormalProfilesCookie) {
    RuleSet set;
    set.rules = {rule(QStringLiteral("Private"), QStringLiteral("127.0.0.1/private*"), true),
                 rule(QStringLiteral("Normal"), QStringLiteral("127.0.0.1/normal*"), false)};
    RuleStore().save(set);

    // The normal profile is given the cookie.
    ASSERT_TRUE(session->openWindow(QStringLiteral("Home"), pages.origin() + QStringLiteral("/set")));
    ASSERT_TRUE(DesktopSession::waitUntil([&] { return pages.request("/set").has_value(); }, generous))
        << "Chromium never asked for the page that sets the cookie";

    const auto before = openThroughTheDesktop("/normal/before");
    ASSERT_TRUE(before) << "the normal rule's link never reached the page server";
    EXPECT_EQ(before->cookies.toStdString(), cookie.toStdString());

    const QString query = QStringLiteral("?as=%41%7e");
    const auto inPrivate = openThroughTheDesktop("/private", query);
    ASSERT_TRUE(inPrivate) << "the private rule's link never reached the page server";
    EXPECT_EQ(inPrivate->cookies.toStdString(), "")
        << "the private rule's link came with the normal profile's cookie";
    // Escapes that a parsed link would decode reach the server as they were written.
    EXPECT_EQ(inPrivate->target.toStdString(), "/private" + query.toStdString());

    const auto after = openThroughTheDesktop("/normal/after");
    ASSERT_TRUE(after) << "the normal rule's link never reached the page server";
    EXPECT_EQ(after->cookies.toStdString(), cookie.toStdString());

    const QString privateLink = pages.origin() + QStringLiteral("/private") + query;
    // The sender is whatever program is in front; the rest of the line is the helper's report of the road.
    const QStringList helperLog = test::linesOf(host::launchLogPath(Corvane::helperBundleID));
    EXPECT_TRUE(std::any_of(helperLog.begin(), helperLog.end(), [&](const QString& line) {
        return line.contains(QStringLiteral("routed %1 from ").arg(privateLink)) &&
               line.endsWith(QStringLiteral(" to a private window of %1 via Private").arg(chromeID));
    }));
    RecentLinksStore history;
    history.reloadIfChanged();
    ASSERT_EQ(history.links().size(), 3u);
    EXPECT_EQ(history.links()[1].url, privateLink);
    EXPECT_EQ(history.links()[1].ruleName, QStringLiteral("Private"));
}

} // namespace
