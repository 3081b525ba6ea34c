#include "Support/HelperDoubles.h"

namespace test {

int FakeApplication::run() {
    if (auto target = delegate())
        target->applicationWillFinishLaunching();
    for (const host::AppleEvent& event : launchEvents)
        if (!terminated)
            dispatch(event);
    if (!terminated)
        if (auto target = delegate())
            target->applicationDidFinishLaunching();
    return 0;
}

void FakeApplication::terminate() {
    ++terminateRequests;
    if (terminated || awaitingReply)
        return;
    auto target = delegate();
    const auto reply = target ? target->applicationShouldTerminate() : host::TerminateReply::terminateNow;
    if (reply == host::TerminateReply::terminateLater)
        awaitingReply = true;
    if (reply != host::TerminateReply::terminateNow)
        return;
    terminated = true;
    if (target)
        target->applicationWillTerminate();
}

void FakeApplication::replyToApplicationShouldTerminate(bool shouldTerminate) {
    replies.push_back(shouldTerminate);
    if (!awaitingReply)
        return;
    awaitingReply = false;
    if (!shouldTerminate || terminated)
        return;
    terminated = true;
    if (auto target = delegate())
        target->applicationWillTerminate();
}

namespace {

class FakeScript final : public host::Script {
public:
    explicit FakeScript(FakeScriptRunner& runner)
        : runner_(runner) {}
    std::optional<QVariantMap> execute() override {
        ++runner_.executions;
        return runner_.error;
    }

private:
    FakeScriptRunner& runner_;
};

} // namespace

std::unique_ptr<host::Script> FakeScriptRunner::compile(const QString& source) {
    sources.append(source);
    if (!compiles)
        return nullptr;
    return std::make_unique<FakeScript>(*this);
}

HelperHostScope::HelperHostScope() = default;

} // namespace test
