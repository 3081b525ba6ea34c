#include "CorvaneHost/MainQueue.h"
#include "CorvaneHost/Services.h"
#include "CorvaneHost/Workspace.h"

#include <QHash>

namespace host {

namespace {

// One observation: the programs seen at the last look, and the timer that looks again.
struct ApplicationPoll {
    Workspace* workspace = nullptr;
    Workspace::ApplicationHandler launched;
    Workspace::ApplicationHandler terminated;
    QHash<qint32, RunningApplication> known;
    std::shared_ptr<Timer> timer;

    ~ApplicationPoll() {
        if (timer)
            timer->cancel();
    }

    QHash<qint32, RunningApplication> look() const {
        QHash<qint32, RunningApplication> now;
        for (const RunningApplication& application : workspace->runningApplications())
            now.insert(application.processIdentifier, application);
        return now;
    }

    void compare() {
        const QHash<qint32, RunningApplication> now = look();
        const QHash<qint32, RunningApplication> before = std::exchange(known, now);
        for (auto it = before.begin(); it != before.end(); ++it)
            if (!now.contains(it.key()) || now.value(it.key()) != it.value())
                terminated(it.value());
        for (auto it = now.begin(); it != now.end(); ++it)
            if (!before.contains(it.key()) || before.value(it.key()) != it.value())
                launched(it.value());
    }
};

} // namespace

std::shared_ptr<void> Workspace::observeApplications(ApplicationHandler launched,
                                                     ApplicationHandler terminated) {
    auto poll = std::make_shared<ApplicationPoll>();
    poll->workspace = this;
    poll->launched = std::move(launched);
    poll->terminated = std::move(terminated);
    poll->known = poll->look();
    std::weak_ptr<ApplicationPoll> weak = poll;
    poll->timer = mainQueue().schedule(
        applicationPollInterval,
        [weak] {
            if (auto alive = weak.lock())
                alive->compare();
        },
        true);
    return poll;
}

} // namespace host
