#pragma once

#include "CorvaneCore/Messaging/SocketClient.h"

#include <functional>
#include <memory>

// The creator app's connection to the helper as its probe uses it: the helper link's operations, so that
// tests can put a scripted helper in its place. Called on the main queue only.
class HelperConnection {
public:
    using State = HelperLink::State;

    virtual ~HelperConnection() = default;
    virtual State state() const = 0;
    virtual void connect(const Request& hello) = 0;
    virtual void request(Request::Op op, double timeout, const std::function<void(Request&)>& configure,
                         std::function<void(const Response&)> completion) = 0;
    virtual void shutdown() = 0;

    std::function<void(const Event&)> onEvent;
    std::function<void(State)> onStateChange;
};

// The real thing: a HelperLink on the helper's socket.
class SocketHelperConnection final : public HelperConnection {
public:
    SocketHelperConnection();
    State state() const override { return link_->state(); }
    void connect(const Request& hello) override { link_->connect(hello); }
    void request(Request::Op op, double timeout, const std::function<void(Request&)>& configure,
                 std::function<void(const Response&)> completion) override {
        link_->request(op, timeout, configure, std::move(completion));
    }
    void shutdown() override { link_->shutdown(); }

private:
    std::shared_ptr<HelperLink> link_;
};
