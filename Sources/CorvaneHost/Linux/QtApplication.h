#pragma once

#include "CorvaneHost/Application.h"

#include <vector>

namespace host {

class EventListener;
struct DeliveredEvents;

// This machine's application object, on the QCoreApplication (or QApplication) of the program, which must
// exist before run(). SIGTERM and SIGINT become a terminate request. A program with a bundle identifier runs
// once: a copy started while another runs hands its launch events to that one and returns from run() at
// once, before its delegate hears anything; a copy that cannot listen for events reports it and ends.
class QtApplication final : public Application {
public:
    QtApplication();
    ~QtApplication() override;

    int run() override;
    void terminate() override;
    void replyToApplicationShouldTerminate(bool shouldTerminate) override;

private:
    void finishTermination();
    void installSignalHandlers();
    enum class Instance { thisCopy, anotherCopy, failed };
    Instance becomeTheInstance(const QString& identifier, const DeliveredEvents& launch);

    std::unique_ptr<EventListener> listener_;
    bool running_ = false;
    bool terminating_ = false;
    bool terminated_ = false;
    bool awaitingReply_ = false;
};

} // namespace host
