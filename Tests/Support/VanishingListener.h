#pragma once

#include "Support/SocketPeer.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <cstring>
#include <optional>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace test {

// A listener on an event socket that takes one sender's line and ends without answering, as a program
// killed while it handles events does. Its socket file stays behind, as a killed program's does.
class VanishingListener {
public:
    explicit VanishingListener(const QString& path) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray bytes = QFile::encodeName(path);
        std::memcpy(address.sun_path, bytes.constData(), std::size_t(bytes.size()));
        listening_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ::bind(listening_, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        ::listen(listening_, 4);
        thread_ = std::thread([this] {
            SocketPeer sender(::accept(listening_, nullptr, nullptr));
            line_ = sender.readLine();
            ::close(listening_);
        });
    }
    ~VanishingListener() { line(); }
    VanishingListener(const VanishingListener&) = delete;
    VanishingListener& operator=(const VanishingListener&) = delete;

    // The line the sender wrote, once the listener has gone.
    std::optional<QByteArray> line() {
        if (thread_.joinable())
            thread_.join();
        return line_;
    }

private:
    int listening_ = -1;
    std::thread thread_;
    std::optional<QByteArray> line_;
};

} // namespace test
