#include "Support/TabGroupExtension.h"

#include "Support/DesktopSession.h"
#include "Support/Files.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QUrl>
#include <QUrlQuery>
#include <arpa/inet.h>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace test {

// MARK: The report

ChromiumReport ChromiumReport::fromJson(const QJsonObject& object) {
    ChromiumReport report;
    for (const QJsonValue& value : object.value(QStringLiteral("windows")).toArray()) {
        const QJsonObject entry = value.toObject();
        Window window;
        window.id = entry.value(QStringLiteral("id")).toInteger();
        window.focused = entry.value(QStringLiteral("focused")).toBool();
        for (const QJsonValue& tabValue : entry.value(QStringLiteral("tabs")).toArray()) {
            const QJsonObject tab = tabValue.toObject();
            window.tabs.push_back(Tab{
                tab.value(QStringLiteral("id")).toInteger(), tab.value(QStringLiteral("title")).toString(),
                tab.value(QStringLiteral("url")).toString(), tab.value(QStringLiteral("active")).toBool(),
                tab.value(QStringLiteral("groupId")).toInteger(-1)});
        }
        report.windows.push_back(std::move(window));
    }
    for (const QJsonValue& value : object.value(QStringLiteral("groups")).toArray()) {
        const QJsonObject group = value.toObject();
        report.groups.push_back(Group{group.value(QStringLiteral("id")).toInteger(),
                                      group.value(QStringLiteral("title")).toString(),
                                      group.value(QStringLiteral("collapsed")).toBool(),
                                      group.value(QStringLiteral("windowId")).toInteger()});
    }
    return report;
}

std::vector<ChromiumReport::Group> ChromiumReport::groupsTitled(const QString& title) const {
    std::vector<Group> found;
    for (const Group& group : groups)
        if (group.title == title)
            found.push_back(group);
    return found;
}

std::vector<ChromiumReport::Tab> ChromiumReport::tabsOf(qint64 groupId) const {
    std::vector<Tab> found;
    for (const Window& window : windows)
        for (const Tab& tab : window.tabs)
            if (tab.groupId == groupId)
                found.push_back(tab);
    return found;
}

const ChromiumReport::Window* ChromiumReport::window(qint64 id) const {
    for (const Window& window : windows)
        if (window.id == id)
            return &window;
    return nullptr;
}

const ChromiumReport::Window* ChromiumReport::focusedWindow() const {
    for (const Window& window : windows)
        if (window.focused)
            return &window;
    return nullptr;
}

QStringList ChromiumReport::tabTitles() const {
    QStringList titles;
    for (const Window& window : windows)
        for (const Tab& tab : window.tabs)
            titles.append(tab.title);
    return titles;
}

QString ChromiumReport::describe() const {
    QMap<qint64, QString> groupTitles;
    for (const Group& group : groups)
        groupTitles.insert(group.id,
                           group.title + (group.collapsed ? QStringLiteral(" collapsed") : QString()));
    QStringList lines;
    for (const Window& window : windows) {
        QStringList tabs;
        for (const Tab& tab : window.tabs)
            tabs.append(
                (tab.active ? QStringLiteral("*") : QString()) + tab.title +
                (tab.groupId >= 0 ? QStringLiteral(" [%1]").arg(groupTitles.value(tab.groupId)) : QString()));
        lines.append(QStringLiteral("window %1%2: %3")
                         .arg(window.id)
                         .arg(window.focused ? QStringLiteral(" (focused)") : QString())
                         .arg(tabs.join(QStringLiteral(", "))));
    }
    if (lines.isEmpty())
        return QStringLiteral("Chromium reported no window");
    return QStringLiteral("Chromium reported:\n  ") + lines.join(QStringLiteral("\n  "));
}

// MARK: The extension and its server

TabGroupExtension::TabGroupExtension() = default;

TabGroupExtension::~TabGroupExtension() {
    stopping_ = true;
    if (thread_.joinable())
        thread_.join();
    if (listener_ >= 0)
        ::close(listener_);
}

bool TabGroupExtension::start() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 16) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        failure_ = QStringLiteral("the extension's server cannot listen on the loopback");
        return false;
    }
    port_ = ntohs(address.sin_port);

    const QDir source(QStringLiteral(CORVANE_SOURCE_DIR "/Tests/EndToEnd/Desktop/TabGroupExtension"));
    for (const QString& name : source.entryList(QDir::Files))
        if (!QFile::copy(source.filePath(name), folder_.filePath(name))) {
            failure_ = QStringLiteral("the extension cannot be copied from ") + source.path();
            return false;
        }
    QFile port(folder_.filePath(QStringLiteral("port.txt")));
    if (!port.open(QIODevice::WriteOnly) || port.write(QByteArray::number(port_)) <= 0) {
        failure_ = QStringLiteral("the extension's port cannot be written");
        return false;
    }
    thread_ = std::thread([this] { serve(); });
    return true;
}

QString TabGroupExtension::pageURL(const QString& title) const {
    return QStringLiteral("http://127.0.0.1:%1/page/%2")
        .arg(port_)
        .arg(QString::fromLatin1(QUrl::toPercentEncoding(title)));
}

QStringList TabGroupExtension::workers() const {
    std::lock_guard lock(mutex_);
    return workers_;
}

std::optional<QJsonObject> TabGroupExtension::run(const QString& worker, QJsonObject command,
                                                  double seconds) {
    return awaitAnswer(post(worker, std::move(command)), seconds);
}

qint64 TabGroupExtension::post(const QString& worker, QJsonObject command) {

    std::lock_guard lock(mutex_);
    const qint64 id = nextId_++;
    command.insert(QStringLiteral("id"), id);
    commands_[worker].push_back(command);
    return id;
}

bool TabGroupExtension::handedOut(qint64 id, double seconds) {
    return DesktopSession::waitUntil(
        [&] {
            std::lock_guard lock(mutex_);
            for (const std::vector<QJsonObject>& queue : commands_)
                for (const QJsonObject& command : queue)
                    if (command.value(QStringLiteral("id")).toInteger() == id)
                        return false;
            return true;
        },
        seconds);
}

std::optional<QJsonObject> TabGroupExtension::awaitAnswer(qint64 id, double seconds) {
    std::optional<QJsonObject> result;
    DesktopSession::waitUntil(
        [&] {
            std::lock_guard lock(mutex_);
            if (results_.contains(id))
                result = results_.take(id);
            return result.has_value();
        },
        seconds);
    if (!result) {
        // Not handed out yet, it is withdrawn; handed out, its late answer is dropped.
        std::lock_guard lock(mutex_);
        QString op;
        for (std::vector<QJsonObject>& queue : commands_)
            for (auto it = queue.begin(); it != queue.end();)
                if (it->value(QStringLiteral("id")).toInteger() == id) {
                    op = it->value(QStringLiteral("op")).toString();
                    it = queue.erase(it);
                } else {
                    ++it;
                }
        abandoned_.insert(id);
        failure_ =
            QStringLiteral("the extension's worker did not answer command %1 %2 within %3 s")
                .arg(id)
                .arg(op.isEmpty() ? QStringLiteral("(handed out)") : QStringLiteral("(never asked for)"))
                .arg(seconds);
        return std::nullopt;
    }
    if (!result->value(QStringLiteral("ok")).toBool()) {
        failure_ = QStringLiteral("command %1 failed in the extension: %2")
                       .arg(id)
                       .arg(result->value(QStringLiteral("error")).toString());
        return std::nullopt;
    }
    return result;
}

ChromiumReport TabGroupExtension::report(const QString& worker) {
    const auto result = run(worker, QJsonObject{{QStringLiteral("op"), QStringLiteral("report")}});
    return result ? ChromiumReport::fromJson(*result) : ChromiumReport{};
}

// Each connection is answered on a thread of its own: Chromium opens connections ahead of its requests, which
// may stay silent, and must not hold up the others.
void TabGroupExtension::serve() {
    struct Answering {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::vector<Answering> answering;
    const auto joinFinished = [&answering](bool all) {
        for (auto it = answering.begin(); it != answering.end();)
            if (all || *it->done) {
                it->thread.join();
                it = answering.erase(it);
            } else {
                ++it;
            }
    };
    while (!stopping_) {
        joinFinished(false);
        pollfd entry{listener_, POLLIN, 0};
        if (::poll(&entry, 1, 100) <= 0)
            continue;
        const int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0)
            continue;
        auto done = std::make_shared<std::atomic<bool>>(false);
        answering.push_back({std::thread([this, connection, done] {
                                 answer(connection);
                                 ::close(connection);
                                 *done = true;
                             }),
                             done});
    }
    joinFinished(true);
}

namespace {

// Reads one request: its head, then as much body as its Content-Length says. Empty when the peer goes away or
// the server stops.
QByteArray readRequest(int connection, QByteArray& body, const std::atomic<bool>& stopping) {
    QByteArray data;
    qsizetype headEnd = -1;
    qsizetype wanted = -1;
    char buffer[8192];
    for (;;) {
        if (headEnd >= 0 && data.size() >= headEnd + 4 + wanted)
            break;
        pollfd entry{connection, POLLIN, 0};
        const int ready = ::poll(&entry, 1, 100);
        if (stopping || ready < 0)
            return {};
        if (ready == 0)
            continue;
        const ssize_t read = ::recv(connection, buffer, sizeof buffer, 0);
        if (read <= 0)
            return {};
        data.append(buffer, read);
        if (headEnd < 0 && (headEnd = data.indexOf("\r\n\r\n")) >= 0) {
            wanted = 0;
            for (const QByteArray& line : data.left(headEnd).split('\n'))
                if (line.toLower().startsWith("content-length:"))
                    wanted = line.mid(15).trimmed().toLongLong();
        }
    }
    body = data.mid(headEnd + 4, wanted);
    return data.left(data.indexOf("\r\n"));
}

void respond(int connection, const QByteArray& status, const QByteArray& type, const QByteArray& body) {
    QByteArray message = "HTTP/1.1 " + status + "\r\nContent-Type: " + type +
                         "\r\nCache-Control: no-store\r\nConnection: close\r\nContent-Length: " +
                         QByteArray::number(body.size()) + "\r\n\r\n" + body;
    qsizetype sent = 0;
    while (sent < message.size()) {
        const ssize_t written =
            ::send(connection, message.constData() + sent, size_t(message.size() - sent), MSG_NOSIGNAL);
        if (written <= 0)
            return;
        sent += written;
    }
}

} // namespace

void TabGroupExtension::answer(int connection) {
    QByteArray body;
    const QList<QByteArray> requestLine = readRequest(connection, body, stopping_).split(' ');
    if (requestLine.size() < 2)
        return;
    const QUrl url(QString::fromLatin1(requestLine[1]));
    const QString path = url.path();
    const QString worker = QUrlQuery(url).queryItemValue(QStringLiteral("worker"));
    if (path.startsWith(QStringLiteral("/page/"))) {
        const QByteArray title = path.mid(6).toHtmlEscaped().toUtf8();
        return respond(connection, "200 OK", "text/html; charset=utf-8",
                       "<!doctype html><title>" + title + "</title><body>" + title + "</body>");
    }
    std::lock_guard lock(mutex_);
    if (path == QStringLiteral("/next") && !worker.isEmpty()) {
        if (!workers_.contains(worker))
            workers_.append(worker);
        std::vector<QJsonObject>& queue = commands_[worker];
        if (queue.empty())
            return respond(connection, "204 No Content", "text/plain", {});
        const QJsonObject command = queue.front();
        queue.erase(queue.begin());
        return respond(connection, "200 OK", "application/json", QJsonDocument(command).toJson());
    }
    if (path == QStringLiteral("/result")) {
        const QJsonObject result = QJsonDocument::fromJson(body).object();
        const qint64 id = result.value(QStringLiteral("id")).toInteger();
        if (!abandoned_.remove(id))
            results_.insert(id, result);
        return respond(connection, "204 No Content", "text/plain", {});
    }
    respond(connection, "404 Not Found", "text/plain", {});
}

} // namespace test
