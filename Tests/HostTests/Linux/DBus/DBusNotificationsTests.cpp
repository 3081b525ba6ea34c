// Notices through a notification service on a private session bus of the test's own.
#include "CorvaneHost/Linux/DBus/DBusNotifications.h"
#include "Support/OutsidePrograms.h"
#include "Support/VirtualTime.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDeadlineTimer>
#include <QProcess>
#include <gmock/gmock.h>

namespace {

// The service's side: records each Notify call and numbers the notices from 7 on.
class NotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Notice {
        QString application, title, body;
        QStringList actions;
        int timeout = 0;
    };
    std::vector<Notice> notices;

public slots:
    uint Notify(const QString& application, uint, const QString&, const QString& title, const QString& body,
                const QStringList& actions, const QVariantMap&, int timeout) {
        notices.push_back({application, title, body, actions, timeout});
        return uint(6 + notices.size());
    }
    QString GetServerInformation(QString& vendor, QString& version, QString& specVersion) {
        vendor = QStringLiteral("tests");
        version = QStringLiteral("1");
        specVersion = QStringLiteral("1.2");
        return QStringLiteral("test server");
    }
};

class DBusNotificationsTest : public testing::Test {
protected:
    void SetUp() override {
        const QString missing = test::missingProgram(QStringLiteral("dbus-daemon"));
        ASSERT_TRUE(missing.isEmpty()) << missing.toStdString();
        daemon_.setProgram(QStringLiteral("dbus-daemon"));
        daemon_.setArguments(
            {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
        daemon_.start();
        ASSERT_TRUE(daemon_.waitForStarted(5000))
            << "dbus-daemon did not start: " << daemon_.errorString().toStdString();
        ASSERT_TRUE(daemon_.waitForReadyRead(5000));
        address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
        client_ = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(address_, QStringLiteral("client")));
        ASSERT_TRUE(client_->isConnected()) << client_->lastError().message().toStdString();
    }
    void TearDown() override {
        notifications_.reset();
        client_.reset();
        QDBusConnection::disconnectFromBus(QStringLiteral("client"));
        QDBusConnection::disconnectFromBus(QStringLiteral("server"));
        if (daemon_.state() != QProcess::NotRunning) {
            daemon_.terminate(); // by its pid, as QProcess started it
            daemon_.waitForFinished(5000);
        }
    }

    // Registers the test's service on the bus.
    void startServer() {
        QDBusConnection server = QDBusConnection::connectToBus(address_, QStringLiteral("server"));
        ASSERT_TRUE(
            server.registerObject(host::DBusNotifications::path, &server_, QDBusConnection::ExportAllSlots));
        ASSERT_TRUE(server.registerService(host::DBusNotifications::service));
    }
    void emitSignal(const QString& name, const QVariantList& arguments) {
        QDBusMessage signal = QDBusMessage::createSignal(
            host::DBusNotifications::path, QStringLiteral("org.freedesktop.Notifications"), name);
        signal.setArguments(arguments);
        QDBusConnection(QStringLiteral("server")).send(signal);
    }
    host::DBusNotifications& notifications() {
        if (!notifications_)
            notifications_ = std::make_unique<host::DBusNotifications>(*client_, QStringLiteral("Work"));
        return *notifications_;
    }
    // Runs the bus traffic and the main queue until `done`.
    bool eventually(const std::function<bool()>& done) {
        QDeadlineTimer deadline(10000);
        while (!done()) {
            if (deadline.hasExpired())
                return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            time_->runUntilIdle();
        }
        return true;
    }
    // Waits for the service's answer to a call made now. Its answers to the client's earlier calls (the
    // service's numbers of the notices) came before it, and the client has taken them once the events that
    // carry them ran.
    bool roundTrip() {
        const QDBusPendingCall call = client_->asyncCall(QDBusMessage::createMethodCall(
            host::DBusNotifications::service, host::DBusNotifications::path,
            QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("GetServerInformation")));
        const bool answered = eventually([&] { return call.isFinished(); });
        QCoreApplication::processEvents();
        return answered;
    }
    std::optional<bool> authorize() {
        std::optional<bool> answer;
        notifications().requestAuthorization([&](bool granted) { answer = granted; });
        eventually([&] { return answer.has_value(); });
        return answer;
    }

    test::VirtualTimeScope time_;
    QProcess daemon_;
    QString address_;
    std::unique_ptr<QDBusConnection> client_;
    std::unique_ptr<host::DBusNotifications> notifications_;
    NotificationServer server_;
};

TEST_F(DBusNotificationsTest, AuthorisedOnlyWhileTheServiceAnswers) {
    EXPECT_EQ(authorize(), false);
    startServer();
    EXPECT_EQ(authorize(), true);
}

TEST_F(DBusNotificationsTest, NoticesAreShownAndTheirClickComesBackAsTheDefaultAction) {
    startServer();
    std::vector<std::pair<QString, QString>> responses;
    notifications().setResponseHandler([&](const QString& identifier, const QString& action) {
        responses.emplace_back(identifier, action);
    });

    notifications().add({QStringLiteral("first-id"), QStringLiteral("Work can be updated"),
                         QStringLiteral("Open Corvane and press Update.")});
    notifications().add({QStringLiteral("second-id"), QStringLiteral("Title"), QStringLiteral("Body")});
    ASSERT_TRUE(eventually([&] { return server_.notices.size() == 2; }));
    EXPECT_EQ(server_.notices[0].application, QStringLiteral("Work"));
    EXPECT_EQ(server_.notices[0].title, QStringLiteral("Work can be updated"));
    EXPECT_EQ(server_.notices[0].body, QStringLiteral("Open Corvane and press Update."));
    EXPECT_EQ(server_.notices[0].actions.value(0), host::Notifications::defaultActionIdentifier);

    // Another program's notice (number 99) is not ours; the user clicks the first, dismisses the second.
    ASSERT_TRUE(roundTrip());
    emitSignal(QStringLiteral("ActionInvoked"), {99u, QStringLiteral("default")});
    emitSignal(QStringLiteral("ActionInvoked"), {7u, QStringLiteral("default")});
    emitSignal(QStringLiteral("NotificationClosed"), {7u, 2u});
    emitSignal(QStringLiteral("NotificationClosed"), {8u, 2u});
    ASSERT_TRUE(eventually([&] { return responses.size() >= 2; }));
    QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
    time_->runUntilIdle();
    EXPECT_THAT(responses,
                testing::ElementsAre(
                    std::pair{QStringLiteral("first-id"), host::Notifications::defaultActionIdentifier},
                    std::pair{QStringLiteral("second-id"), host::Notifications::dismissActionIdentifier}));
}

} // namespace

#include "DBusNotificationsTests.moc"
