#pragma once

#include "Corvane/Models/HelperConnection.h"

#include <deque>
#include <vector>

namespace test {

// A helper connection the test drives: it records the hello and the requests, and the test moves its state,
// pushes events and answers requests. Answers to requests are held until the test releases them.
class FakeHelperConnection final : public HelperConnection {
public:
    struct PendingRequest {
        Request request;
        double timeout;
        std::function<void(const Response&)> completion;
    };

    State state() const override { return state_; }
    void connect(const Request& hello) override {
        hellos.push_back(hello);
        ++connects;
    }
    void request(Request::Op op, double timeout, const std::function<void(Request&)>& configure,
                 std::function<void(const Response&)> completion) override {
        Request request(nextID_++, op);
        if (configure)
            configure(request);
        requests.push_back(PendingRequest{request, timeout, std::move(completion)});
    }
    void shutdown() override {
        ++shutdowns;
        setState(State::disconnected);
    }

    void setState(State state) {
        if (state == state_)
            return;
        state_ = state;
        if (onStateChange)
            onStateChange(state);
    }
    void push(const Event& event) {
        if (onEvent)
            onEvent(event);
    }
    void pushTrust(bool trusted) {
        Event event(Event::Kind::axPermission);
        event.trusted = trusted;
        push(event);
    }
    // Answers the oldest open request.
    void answer(const Response& response) {
        PendingRequest pending = std::move(requests.front());
        requests.pop_front();
        Response answered = response;
        answered.id = pending.request.id;
        pending.completion(answered);
    }
    void answerTabGroups(std::vector<TabGroupInfo> groups) {
        Response response(0, true);
        response.tabGroups = std::move(groups);
        answer(response);
    }
    void fail(const QString& error) {
        Response response(0, false);
        response.error = error;
        answer(response);
    }

    std::vector<Request> hellos;
    std::deque<PendingRequest> requests;
    int connects = 0;
    int shutdowns = 0;

private:
    State state_ = State::disconnected;
    qint64 nextID_ = 1;
};

} // namespace test
