#pragma once

#include "CorvaneHost/Application.h"

namespace host {

class EventListener;

// This machine's application object, on the QCoreApplication (or QApplication) of the program, which must
// exist before run(). SIGTERM and SIGINT become a terminate request.
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

    std::unique_ptr<EventListener> listener_;
    bool running_ = false;
    bool terminating_ = false;
    bool terminated_ = false;
    bool awaitingReply_ = false;
};

} // namespace host
