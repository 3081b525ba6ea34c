#include "CorvaneCore/Messaging/SocketClient.h"

#include "CorvaneCore/Foundation/Logging.h"
#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneCore/Integration/HelperInstaller.h"
#include "CorvaneCore/Messaging/LineSocket.h"
#include "CorvaneHost/MainQueue.h"
#include "CorvaneHost/SerialQueue.h"
#include "CorvaneHost/Services.h"

#include <QFileInfo>
#include <QRandomGenerator>
#include <algorithm>
#include <cerrno>
#include <mutex>
#include <sys/socket.h>
#include <unistd.h>

namespace {

Response failure(qint64 id, const QString& text) {
    Response response(id, false);
    response.error = text;
    return response;
}

} // namespace

// What one connection's reader keeps on the link's queue. A fresh one per connection: bytes of an unfinished
// line never reach the next connection.
struct HelperLink::Reader {
    LineBuffer buffer{LineBuffer::defaultLimit};
    std::mutex mutex;
    std::weak_ptr<host::ReadSource> source;
};

HelperLink::HelperLink()
    : installHelper([](bool force) { return HelperInstaller::installFromCreatorBundle(force); })
    , openHelper([](const QString& appPath, const host::OpenConfiguration& configuration,
                    host::OpenCompletion completion) {
        host::workspace().openApplication(appPath, configuration, std::move(completion));
    })
    , queue_(std::make_unique<host::SerialQueue>(QStringLiteral("app.corvane.link"))) {}

HelperLink::~HelperLink() {
    if (retryTimer_)
        retryTimer_->cancel();
    if (readSource_)
        readSource_->cancel();
}

void HelperLink::setState(State state) {
    if (state_ == state)
        return;
    state_ = state;
    if (onStateChange)
        onStateChange(state);
}

void HelperLink::connect(const Request& hello) {
    helloRequest_ = hello;
    stopped_ = false;
    attemptConnect();
}

void HelperLink::attemptConnect() {
    if (stopped_ || state_ == State::connected)
        return;
    // This attempt supersedes any that was waiting.
    if (retryTimer_) {
        retryTimer_->cancel();
        retryTimer_.reset();
    }
    setState(State::connecting);
    if (stopped_ || state_ != State::connecting)
        return; // the owner reacted to the state change by shutting down
    int32_t fd;
    try {
        fd = UnixSocket::connectWithoutWaiting(Corvane::socketPath());
    } catch (const SocketError&) {
        if (!launchAttempted_) {
            launchAttempted_ = true;
            launchHelper();
        }
        scheduleRetry();
        return;
    }
    fd_ = fd;
    startReading();
    if (helloRequest_) {
        Request hello = *helloRequest_;
        hello.protocolVersion = IPC::protocolVersion;
        if (const auto bytes = hello.encode())
            writeFrameOrShutDown(*bytes);
    }
    backoff_ = initialBackoff;
    launchAttempted_ = false;
    setState(State::connected);
    Log::ipc.log(QStringLiteral("stub connected to helper"));
}

void HelperLink::scheduleRetry() {
    if (stopped_ || fd_ >= 0)
        return;
    setState(State::disconnected);
    // The owner may have reacted to the change by connecting (or shutting down); that attempt has its own
    // retry, and a second one here would open a second connection.
    if (stopped_ || fd_ >= 0 || state_ != State::disconnected || retryTimer_)
        return;
    const double jitter = QRandomGenerator::system()->generateDouble() * backoff_ * jitterFraction;
    const double delay = backoff_ + jitter;
    backoff_ = std::min(backoff_ * 2, maxBackoff);
    if (retryTimer_)
        retryTimer_->cancel();
    std::weak_ptr<HelperLink> weakSelf = weak_from_this();
    retryTimer_ = host::mainQueue().schedule(
        delay,
        [weakSelf] {
            if (auto self = weakSelf.lock()) {
                self->retryTimer_.reset();
                self->attemptConnect();
            }
        },
        false);
}

void HelperLink::launchHelper() {
    try {
        if (installHelper)
            installHelper(false);
    } catch (const std::exception&) {
        if (!QFileInfo::exists(Corvane::installedHelperURL())) {
            Log::ipc.error(QStringLiteral("helper not installed and no creator bundle to copy it from"));
            return;
        }
    }
    if (!openHelper)
        return;
    host::OpenConfiguration configuration;
    configuration.activates = false;
    configuration.addsToRecentItems = false;
    configuration.createsNewApplicationInstance = false;
    openHelper(Corvane::installedHelperURL(), configuration,
               [](std::optional<host::RunningApplication>, std::optional<host::SystemError> error) {
                   if (error)
                       Log::ipc.error(QStringLiteral("helper launch failed: %1").arg(error->description()));
               });
}

void HelperLink::startReading() {
    const quint64 generation = generation_;
    const int32_t descriptor = fd_;
    auto reader = std::make_shared<Reader>();
    std::weak_ptr<HelperLink> weakSelf = weak_from_this();
    auto handler = [weakSelf, descriptor, reader, generation] {
        char chunk[readChunk];
        const ssize_t count = ::read(descriptor, chunk, sizeof chunk);
        if (count > 0) {
            // One posted block per line keeps the lines in order on the main queue.
            for (QByteArray& line : reader->buffer.append(QByteArray(chunk, count)))
                host::mainQueue().async([weakSelf, line = std::move(line), generation] {
                    if (auto self = weakSelf.lock())
                        self->handle(line, generation);
                });
            return;
        }
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            return;
        // End of file or a read error: one notice; the teardown that follows cancels the reader.
        {
            std::lock_guard lock(reader->mutex);
            if (auto source = reader->source.lock())
                source->suspend();
        }
        host::mainQueue().async([weakSelf, generation] {
            if (auto self = weakSelf.lock())
                self->handleDisconnect(generation);
        });
    };
    readSource_ =
        queue_->makeReadSource(descriptor, std::move(handler), [descriptor] { ::close(descriptor); });
    std::lock_guard lock(reader->mutex);
    reader->source = readSource_;
}

void HelperLink::handle(const QByteArray& line, quint64 generation) {
    if (generation != generation_)
        return; // a line of a connection that has been torn down since
    const std::optional<InboundMessage> message = InboundMessage::decode(line);
    if (!message) {
        Log::ipc.error(QStringLiteral("undecodable frame from helper"));
        return;
    }
    if (const Event* event = message->event()) {
        if (onEvent)
            onEvent(*event);
        return;
    }
    const Response& response = *message->response();
    auto found = pending_.find(response.id);
    if (found == pending_.end())
        return; // a post's answer, or one that came after its time-out
    auto completion = std::move(found->second);
    pending_.erase(found);
    if (completion)
        completion(response);
}

void HelperLink::handleDisconnect(quint64 generation) {
    // A notice of an earlier connection must not tear down the current one.
    if (generation != generation_ || state_ == State::disconnected)
        return;
    Log::ipc.info(QStringLiteral("helper connection dropped"));
    // Taken first: requests the owner sends on a new connection made from the state change are not these.
    auto failed = std::move(pending_);
    pending_.clear();
    teardown();
    for (auto& [id, completion] : failed)
        if (completion)
            completion(failure(id, QStringLiteral("helper disconnected")));
    scheduleRetry();
}

void HelperLink::teardown() {
    if (readSource_) {
        readSource_->cancel(); // its cancel handler closes the socket
        readSource_.reset();
    }
    fd_ = -1;
    ++generation_;
    setState(State::disconnected);
}

Request HelperLink::makeRequest(Request::Op op, const std::function<void(Request&)>& configure) {
    Request request(nextID_++, op);
    if (configure)
        configure(request);
    return request;
}

void HelperLink::post(Request::Op op, const std::function<void(Request&)>& configure) {
    const Request request = makeRequest(op, configure);
    if (fd_ < 0)
        return;
    if (const auto bytes = request.encode())
        writeFrameOrShutDown(*bytes);
}

bool HelperLink::writeFrameOrShutDown(const QByteArray& bytes) {
    if (writeFrame(fd_, bytes))
        return true;
    // Part of the frame may have gone out; whatever followed would be glued to it. Ending the connection
    // makes the reader see the end of the stream, and the usual drop handling reconnects.
    ::shutdown(fd_, SHUT_RDWR);
    return false;
}

void HelperLink::request(Request::Op op, double timeout, const std::function<void(Request&)>& configure,
                         std::function<void(const Response&)> completion) {
    const Request request = makeRequest(op, configure);
    const qint64 id = request.id;
    const auto bytes = request.encode();
    if (state_ != State::connected || fd_ < 0 || !bytes || !writeFrameOrShutDown(*bytes)) {
        if (completion)
            completion(failure(id, QStringLiteral("not connected")));
        return;
    }
    pending_[id] = std::move(completion);
    std::weak_ptr<HelperLink> weakSelf = weak_from_this();
    host::mainQueue().schedule(
        timeout,
        [weakSelf, id] {
            auto self = weakSelf.lock();
            if (!self)
                return;
            auto found = self->pending_.find(id);
            if (found == self->pending_.end())
                return;
            auto completion = std::move(found->second);
            self->pending_.erase(found);
            if (completion)
                completion(failure(id, QStringLiteral("timed out")));
        },
        false);
}

void HelperLink::shutdown() {
    stopped_ = true;
    // A retry already waiting would otherwise run after a later connect(hello) and start a second chain.
    if (retryTimer_) {
        retryTimer_->cancel();
        retryTimer_.reset();
    }
    if (fd_ >= 0) {
        Request bye(0, Request::Op::bye);
        bye.protocolVersion = IPC::protocolVersion;
        if (const auto bytes = bye.encode())
            writeFrame(fd_, *bytes);
    }
    teardown();
}
