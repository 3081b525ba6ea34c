#include "CorvaneCore/Messaging/SocketServer.h"

#include "CorvaneCore/Foundation/Logging.h"
#include "CorvaneHost/MainQueue.h"
#include "CorvaneHost/SerialQueue.h"
#include "CorvaneHost/Services.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::optional<std::pair<quint64, quint64>> fileIdentity(const QString& path) {
    struct stat info;
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
    return std::make_pair(static_cast<quint64>(info.st_dev), static_cast<quint64>(info.st_ino));
}

} // namespace

ClientConnection::ClientConnection(int32_t fd)
    : fd(fd) {}

ClientConnection::~ClientConnection() {
    // A connection that was never dropped still must not leave its descriptor open.
    std::shared_ptr<host::ReadSource> source;
    {
        std::lock_guard lock(sourceMutex_);
        source = std::move(readSource_);
    }
    if (source)
        source->cancel();
}

bool ClientConnection::sendFrame(const QByteArray& message) {
    if (!open_.load())
        return false;
    if (writeFrame(fd, message))
        return true;
    // Gone or not reading: writing again would only stall the helper once more. Nothing more is written to
    // this connection, and the server forgets it.
    if (open_.exchange(false)) {
        Log::ipc.info(QStringLiteral("dropping a client that does not take its messages"));
        if (onWriteFailed_)
            onWriteFailed_();
    }
    return false;
}

void ClientConnection::start(host::SerialQueue& queue, LineHandler onLine, CloseHandler onClose) {
    std::weak_ptr<ClientConnection> weakSelf = weak_from_this();
    const int descriptor = fd;
    auto handler = [weakSelf, descriptor, onLine = std::move(onLine), onClose = std::move(onClose)] {
        auto self = weakSelf.lock();
        if (!self)
            return;
        char chunk[SocketServer::readChunk];
        const ssize_t count = ::read(descriptor, chunk, sizeof chunk);
        if (count > 0) {
            for (const QByteArray& line : self->buffer.append(QByteArray(chunk, count)))
                onLine(self, line);
            return;
        }
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            return;
        // End of file or a read error: report it once; the drop that follows cancels the reader.
        {
            std::lock_guard lock(self->sourceMutex_);
            if (self->readSource_)
                self->readSource_->suspend();
        }
        onClose(self);
    };
    auto source = queue.makeReadSource(descriptor, std::move(handler), [descriptor] { ::close(descriptor); });
    std::lock_guard lock(sourceMutex_);
    readSource_ = std::move(source);
}

void ClientConnection::requestQueued() {
    std::lock_guard lock(sourceMutex_);
    if (++pendingRequests_ >= maxPendingRequests && !readingPaused_ && readSource_) {
        readingPaused_ = true;
        readSource_->suspend();
    }
}

void ClientConnection::requestHandled() {
    std::lock_guard lock(sourceMutex_);
    if (--pendingRequests_ <= maxPendingRequests / 2 && readingPaused_) {
        readingPaused_ = false;
        if (readSource_)
            readSource_->resume();
    }
}

void ClientConnection::close() {
    open_.store(false);
    std::shared_ptr<host::ReadSource> source;
    {
        std::lock_guard lock(sourceMutex_);
        source = std::move(readSource_);
    }
    if (source)
        source->cancel();
}

SocketServer::SocketServer()
    : queue_(std::make_unique<host::SerialQueue>(QStringLiteral("app.corvane.ipc"))) {}

// The server always goes on its owner's thread, never on its I/O thread: the readers there do not hold it
// (see start()). So the queue's thread has ended when this returns, whether or not stop() ran before.
SocketServer::~SocketServer() {
    // Without stop(): still close the listener and every client; the socket file is left to its owner's stop.
    // Cancelling a reader waits for its handler if that runs now, so none still reads the server after this.
    if (auto source = acceptSource())
        source->cancel();
    std::unordered_map<const ClientConnection*, std::shared_ptr<ClientConnection>> remaining;
    {
        std::lock_guard lock(clientsMutex_);
        remaining.swap(clients_);
    }
    for (auto& [key, connection] : remaining)
        connection->close();
}

void SocketServer::start(const QString& path) {
    if (weak_from_this().expired())
        throw std::logic_error("SocketServer must be owned by a std::shared_ptr");
    if (acceptSource())
        throw std::logic_error("SocketServer is already listening");
    const int32_t fd = UnixSocket::listen(path, backlog);
    listenFD_ = fd;
    socketFileIdentity_ = fileIdentity(path);
    std::lock_guard lock(acceptMutex_);
    // The readers on the I/O thread reach the server by a plain pointer: its destructor cancels them first,
    // waiting for one that runs. Holding it there instead could make that thread drop its last reference and
    // end the server on the thread its own queue would then have to wait for.
    acceptSource_ = queue_->makeReadSource(
        fd, [this] { acceptPending(); }, [fd] { ::close(fd); });
    Log::ipc.info(QStringLiteral("helper listening at %1").arg(path));
}

void SocketServer::acceptPending() {
    std::weak_ptr<SocketServer> weakSelf = weak_from_this();
    for (;;) {
        const int fd = ::accept4(listenFD_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
                pauseAccepting(errno);
            return; // nothing more waiting (or the listener is unusable until the next readiness)
        }
        if (!UnixSocket::peerIsSameUser(fd)) {
            Log::ipc.error(QStringLiteral("rejected connection from another uid"));
            ::close(fd);
            continue;
        }
        UnixSocket::setNonBlocking(fd);
        auto connection = std::make_shared<ClientConnection>(fd);
        std::weak_ptr<ClientConnection> weakConnection = connection;
        connection->onWriteFailed_ = [weakSelf, weakConnection] {
            host::mainQueue().async([weakSelf, weakConnection] {
                auto self = weakSelf.lock();
                auto connection = weakConnection.lock();
                if (self && connection)
                    self->drop(connection);
            });
        };
        {
            // Entered and started under the lock, so stop() and drop() never meet a client without its
            // reader.
            std::lock_guard lock(clientsMutex_);
            clients_.emplace(connection.get(), connection);
            connection->start(
                *queue_,
                [this](const std::shared_ptr<ClientConnection>& client, const QByteArray& line) {
                    handleLine(client, line);
                },
                [weakSelf](const std::shared_ptr<ClientConnection>& client) {
                    std::weak_ptr<ClientConnection> weakClient = client;
                    host::mainQueue().async([weakSelf, weakClient] {
                        auto self = weakSelf.lock();
                        auto client = weakClient.lock();
                        if (self && client)
                            self->drop(client);
                    });
                });
        }
        // The count is taken when the callback runs, so a drop handled in between is never undone by a stale
        // number; it still includes the new client unless that one has already gone again. A server stopped
        // meanwhile reports nothing: its stop has ended every client without a count.
        host::mainQueue().async([weakSelf] {
            auto self = weakSelf.lock();
            if (self && self->acceptSource() && self->onClientCountChanged)
                self->onClientCountChanged(self->clientCount());
        });
    }
}

void SocketServer::pauseAccepting(int errnoValue) {
    const auto source = acceptSource();
    if (!source)
        return;
    source->suspend();
    Log::ipc.error(QStringLiteral("could not accept a connection: %1; accepting again in %2 s")
                       .arg(QString::fromLocal8Bit(std::strerror(errnoValue)))
                       .arg(acceptPauseSeconds));
    std::weak_ptr<SocketServer> weakSelf = weak_from_this();
    std::weak_ptr<host::ReadSource> weakSource = source;
    host::mainQueue().schedule(acceptPauseSeconds, [weakSelf, weakSource] {
        auto self = weakSelf.lock();
        auto source = weakSource.lock();
        // Only the listener this pause rested: a server stopped meanwhile stays stopped.
        if (self && source && self->acceptSource() == source)
            source->resume();
    });
}

std::shared_ptr<host::ReadSource> SocketServer::acceptSource() const {
    std::lock_guard lock(acceptMutex_);
    return acceptSource_;
}

void SocketServer::handleLine(const std::shared_ptr<ClientConnection>& connection, const QByteArray& line) {
    std::optional<Request> request = Request::decode(line);
    if (!request) {
        Log::ipc.error(QStringLiteral("undecodable request frame"));
        return;
    }
    std::weak_ptr<SocketServer> weakSelf = weak_from_this();
    std::weak_ptr<ClientConnection> weakConnection = connection;
    connection->requestQueued();
    host::mainQueue().async([weakSelf, weakConnection, request = std::move(*request)] {
        auto self = weakSelf.lock();
        auto connection = weakConnection.lock();
        if (!connection)
            return;
        // A request of a connection dropped meanwhile cannot be answered any more.
        if (self && connection->isOpen() && self->onRequest)
            self->onRequest(connection, request);
        connection->requestHandled();
    });
}

void SocketServer::drop(const std::shared_ptr<ClientConnection>& connection) {
    if (!connection)
        return;
    int count;
    {
        std::lock_guard lock(clientsMutex_);
        if (clients_.erase(connection.get()) == 0)
            return;
        count = static_cast<int>(clients_.size());
    }
    connection->close();
    if (onClientCountChanged)
        onClientCountChanged(count);
}

void SocketServer::stop(const QString& path) {
    // The listener first, so no accept can enter a client after the table has been emptied.
    std::shared_ptr<host::ReadSource> listener;
    {
        std::lock_guard lock(acceptMutex_);
        listener = std::move(acceptSource_);
    }
    if (listener)
        listener->cancel();
    std::unordered_map<const ClientConnection*, std::shared_ptr<ClientConnection>> remaining;
    {
        std::lock_guard lock(clientsMutex_);
        remaining.swap(clients_);
    }
    for (auto& [key, connection] : remaining)
        connection->close();
    listenFD_ = -1;
    // Only the helper that listens owns the socket file: a helper that never got that far, or whose file has
    // been replaced by a newer helper's, must not take a running helper's socket away.
    if (socketFileIdentity_ && fileIdentity(path) == socketFileIdentity_)
        ::unlink(QFile::encodeName(path).constData());
    socketFileIdentity_.reset();
}

int SocketServer::clientCount() const {
    std::lock_guard lock(clientsMutex_);
    return static_cast<int>(clients_.size());
}

std::vector<std::shared_ptr<ClientConnection>> SocketServer::connections() const {
    std::lock_guard lock(clientsMutex_);
    std::vector<std::shared_ptr<ClientConnection>> result;
    result.reserve(clients_.size());
    for (const auto& [key, connection] : clients_)
        result.push_back(connection);
    return result;
}
