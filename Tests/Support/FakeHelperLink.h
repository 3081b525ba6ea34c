#pragma once

#include "CorvaneCore/Messaging/SocketClient.h"

#include <QList>
#include <functional>
#include <vector>

namespace test {

// A helper link whose helper the test plays: it records what the owner sends, and the test decides when the
// helper is there, what it answers and which events it pushes. Time-outs and failures follow the real link:
// "not connected" at once while disconnected, "timed out" after the time-out (main queue), "helper
// disconnected" when the helper leaves.
class FakeHelperLink final : public HelperLink {
public:
    struct Sent {
        Request request;
        double timeout = 0; // 0 for a post
        bool operator==(const Sent&) const = default;
    };

    // Whether connect() finds the helper at once; otherwise it reports connecting, then disconnected.
    bool helperAnswers = false;
    // Whether unanswered requests fail with "timed out" after their time-out.
    bool honoursTimeouts = true;

    void connect(const Request& hello) override;
    void post(Request::Op op, const std::function<void(Request&)>& configure = {}) override;
    void request(Request::Op op, double timeout, const std::function<void(Request&)>& configure,
                 std::function<void(const Response&)> completion) override;
    void shutdown() override;

    // The helper.
    void helperArrives();
    void helperLeaves();
    void push(const Event& event);
    // Answers the oldest unanswered request of `op`; false when there is none.
    bool answer(Request::Op op, const std::function<void(Response&)>& fill);
    bool answer(Request::Op op, Response::Action action);
    int unanswered(Request::Op op) const;

    // What was sent on an open connection, in order (posts without a connection are dropped, as they are).
    std::vector<Sent> sent;
    std::vector<Request> hellos;
    int shutdowns = 0;
    int count(Request::Op op) const;

private:
    struct Pending {
        qint64 id;
        Request::Op op;
        std::function<void(const Response&)> completion;
    };
    void failAll(const QString& error);

    qint64 nextRequestID_ = 1;
    std::vector<Pending> pending_;
};

} // namespace test
