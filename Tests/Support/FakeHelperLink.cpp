#include "Support/FakeHelperLink.h"

#include "CorvaneHost/MainQueue.h"
#include "CorvaneHost/Services.h"

#include <algorithm>

namespace test {
namespace {

Response failure(qint64 id, const QString& error) {
    Response response(id, false);
    response.error = error;
    return response;
}

} // namespace

void FakeHelperLink::connect(const Request& hello) {
    hellos.push_back(hello);
    if (state() == State::connected)
        return;
    setState(State::connecting);
    setState(helperAnswers ? State::connected : State::disconnected);
}

void FakeHelperLink::post(Request::Op op, const std::function<void(Request&)>& configure) {
    Request request(nextRequestID_++, op);
    if (configure)
        configure(request);
    if (state() == State::connected)
        sent.push_back({request, 0});
}

void FakeHelperLink::request(Request::Op op, double timeout, const std::function<void(Request&)>& configure,
                             std::function<void(const Response&)> completion) {
    Request request(nextRequestID_++, op);
    if (configure)
        configure(request);
    if (state() != State::connected) {
        completion(failure(request.id, QStringLiteral("not connected")));
        return;
    }
    sent.push_back({request, timeout});
    pending_.push_back({request.id, op, std::move(completion)});
    if (!honoursTimeouts)
        return;
    const qint64 id = request.id;
    std::weak_ptr<HelperLink> weakSelf = weak_from_this();
    host::mainQueue().schedule(
        timeout,
        [weakSelf, id] {
            auto self = std::static_pointer_cast<FakeHelperLink>(weakSelf.lock());
            if (!self)
                return;
            auto found = std::find_if(self->pending_.begin(), self->pending_.end(),
                                      [&](const Pending& entry) { return entry.id == id; });
            if (found == self->pending_.end())
                return;
            auto done = std::move(found->completion);
            self->pending_.erase(found);
            done(failure(id, QStringLiteral("timed out")));
        },
        false);
}

void FakeHelperLink::shutdown() {
    ++shutdowns;
    setState(State::disconnected);
}

void FakeHelperLink::helperArrives() {
    setState(State::connecting);
    setState(State::connected);
}

void FakeHelperLink::helperLeaves() {
    setState(State::disconnected);
    failAll(QStringLiteral("helper disconnected"));
}

void FakeHelperLink::failAll(const QString& error) {
    auto failed = std::move(pending_);
    pending_.clear();
    for (Pending& entry : failed)
        entry.completion(failure(entry.id, error));
}

void FakeHelperLink::push(const Event& event) {
    if (onEvent)
        onEvent(event);
}

bool FakeHelperLink::answer(Request::Op op, const std::function<void(Response&)>& fill) {
    auto found =
        std::find_if(pending_.begin(), pending_.end(), [&](const Pending& entry) { return entry.op == op; });
    if (found == pending_.end())
        return false;
    Response response(found->id, true);
    if (fill)
        fill(response);
    auto done = std::move(found->completion);
    pending_.erase(found);
    done(response);
    return true;
}

bool FakeHelperLink::answer(Request::Op op, Response::Action action) {
    return answer(op, [action](Response& response) { response.action = action; });
}

int FakeHelperLink::unanswered(Request::Op op) const {
    return int(std::count_if(pending_.begin(), pending_.end(),
                             [&](const Pending& entry) { return entry.op == op; }));
}

int FakeHelperLink::count(Request::Op op) const {
    return int(
        std::count_if(sent.begin(), sent.end(), [&](const Sent& entry) { return entry.request.op == op; }));
}

} // namespace test
