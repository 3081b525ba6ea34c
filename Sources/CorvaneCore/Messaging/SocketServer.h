#pragma once

#include "CorvaneCore/Messaging/IPCProtocol.h"
#include "CorvaneCore/Messaging/LineSocket.h"

#include <QByteArray>
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

namespace host {
class ReadSource;
class SerialQueue;
} // namespace host

// One accepted connection to the helper, owned by the server's client table. The hello fields are set by the
// helper's delegate on the main queue; the server never reads them.
class ClientConnection : public std::enable_shared_from_this<ClientConnection> {
public:
    explicit ClientConnection(int32_t fd);
    ~ClientConnection();
    ClientConnection(const ClientConnection&) = delete;
    ClientConnection& operator=(const ClientConnection&) = delete;

    // The connection's socket. Only for identification: once the connection is dropped the number may belong
    // to another client, so write through send/sendFrame, which refuse a dropped connection.
    const int32_t fd;

    std::optional<QString> profileDirectory;
    std::optional<QString> profileName;
    std::optional<QString> tabGroup;
    std::optional<QString> bundleID;
    std::optional<int32_t> pid;
    bool includeIncognito = true;
    bool countAppWindows = false;
    bool ownWindow = true;

    // Used on the server's queue only.
    LineBuffer buffer{LineBuffer::defaultLimit};

    // Requests of this connection read but not yet handled on the main queue. Reading stops at this many and
    // goes on once half of them are handled: a client that sends faster than it is answered (or never takes
    // its answers) waits on its own full socket instead of filling the helper's memory.
    static constexpr int maxPendingRequests = 64;

    // Encodes any message of the socket (Request, Response, Event) and writes it as one frame. A message that
    // does not encode is not sent. Main queue.
    template <typename Message> bool send(const Message& message) {
        const std::optional<QByteArray> bytes = message.encode();
        return bytes && sendFrame(*bytes);
    }
    // Writes `message` (compact JSON without its newline) as one frame. False, writing nothing, once the
    // connection is dropped or closing. A write that fails (the client has gone or stopped reading) closes
    // the connection for writing at once and has the server drop it. Main queue.
    bool sendFrame(const QByteArray& message);
    // False once the connection has been dropped or a write to it failed.
    bool isOpen() const { return open_.load(); }

    using LineHandler = std::function<void(const std::shared_ptr<ClientConnection>&, const QByteArray&)>;
    using CloseHandler = std::function<void(const std::shared_ptr<ClientConnection>&)>;
    // Starts the reader on `queue`: lines go to `onLine`, end of file and read errors to `onClose`, both on
    // the queue. The reader's cancel handler closes the descriptor; nothing else does.
    void start(host::SerialQueue& queue, LineHandler onLine, CloseHandler onClose);

private:
    friend class SocketServer;
    // Marks the connection dropped and cancels its reader (which closes the descriptor on the queue).
    void close();
    // A request was read and handed to the main queue (server queue), or handled there (main queue).
    void requestQueued();
    void requestHandled();

    std::atomic<bool> open_{true};
    std::mutex sourceMutex_;
    std::shared_ptr<host::ReadSource> readSource_;
    // Under sourceMutex_.
    int pendingRequests_ = 0;
    bool readingPaused_ = false;
    std::function<void()> onWriteFailed_;
};

// The helper's end of the socket: accepts connections of the same user, reads their lines on its own queue,
// decodes them as requests and hands them to `onRequest` on the main queue. Own it through a std::shared_ptr
// (what it hands to the main queue holds it weakly) and let it go on the main thread.
class SocketServer : public std::enable_shared_from_this<SocketServer> {
public:
    SocketServer();
    ~SocketServer();
    SocketServer(const SocketServer&) = delete;
    SocketServer& operator=(const SocketServer&) = delete;

    // Called on the main queue for every decoded request of a connection that is still open.
    std::function<void(const std::shared_ptr<ClientConnection>&, const Request&)> onRequest;
    // Called on the main queue with the number of clients after each accept and each drop.
    std::function<void(int)> onClientCountChanged;

    // Listens on `path` (backlog 16) and accepts. Throws SocketError; the server then stays unstarted.
    void start(const QString& path);
    // Ends every connection and the listener and removes the socket file, when it is still the one this
    // server created: a server that never listened, or whose file has since been replaced by another
    // helper's, removes nothing. Main queue.
    void stop(const QString& path);

    // Sends `message` to every client for which `predicate` holds. Main queue.
    template <typename Message>
    void broadcast(const Message& message, const std::function<bool(const ClientConnection&)>& predicate) {
        for (const auto& connection : connections())
            if (connection->isOpen() && predicate(*connection))
                connection->send(message);
    }
    // Closes one client and forgets it; a second drop of the same connection does nothing. Main queue.
    void drop(const std::shared_ptr<ClientConnection>& connection);

    int clientCount() const;
    std::vector<std::shared_ptr<ClientConnection>> connections() const;
    int32_t listenFD() const { return listenFD_; }

    static constexpr int32_t backlog = 16;
    static constexpr size_t readChunk = 16384;
    // How long accepting rests when the process or the system has no descriptor left: the waiting connection
    // keeps the listener readable, so accepting at once again would only spin.
    static constexpr double acceptPauseSeconds = 0.1;

private:
    void acceptPending();
    void pauseAccepting(int errnoValue);
    std::shared_ptr<host::ReadSource> acceptSource() const;
    void handleLine(const std::shared_ptr<ClientConnection>& connection, const QByteArray& line);

    int32_t listenFD_ = -1;
    // Set from start to stop, on the main queue: while it is set the server listens. The server's queue reads
    // it too (to rest the listener), hence the lock.
    mutable std::mutex acceptMutex_;
    std::shared_ptr<host::ReadSource> acceptSource_;
    std::unique_ptr<host::SerialQueue> queue_;
    // Written at accept (server queue) and by drop/stop (main queue); read on the main queue.
    mutable std::mutex clientsMutex_;
    std::unordered_map<const ClientConnection*, std::shared_ptr<ClientConnection>> clients_;
    // The socket file this server created (device and inode), so stop removes only its own.
    std::optional<std::pair<quint64, quint64>> socketFileIdentity_;
};
