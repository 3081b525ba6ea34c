#include "CorvaneHelper/WindowTracking/ChromeMenuDriver.h"

#include "CorvaneCore/Foundation/Logging.h"
#include "CorvaneHelper/WindowTracking/AX.h"
#include "CorvaneHelper/WindowTracking/WindowProfileSource.h"
#include "CorvaneHost/MainQueue.h"
#include "CorvaneHost/Services.h"

#include <QDateTime>
#include <deque>
#include <memory>
#include <optional>

namespace ChromeMenuDriver {

namespace {

using Elements = QList<host::AXElement>;
using SurfaceCompletion = std::function<void(std::optional<host::AXElement>)>;

const QString pressAction = QStringLiteral("AXPress");

// Runs wait for each other: a run that watched for new windows while another opened its menus would take
// those menus for its own. The queue belongs to one main queue (tests install a fresh one each).
struct RunQueue {
    std::weak_ptr<host::MainQueue> owner{};
    bool running = false;
    std::deque<std::function<void()>> waiting{};
};

RunQueue& runQueue() {
    static RunQueue queue;
    host::mainQueue(); // makes sure the program's queue exists
    const std::shared_ptr<host::MainQueue> current = host::services().mainQueue;
    if (queue.owner.expired() || queue.owner.lock() != current)
        queue = RunQueue{current};
    return queue;
}

void enqueueRun(std::function<void()> start) {
    RunQueue& queue = runQueue();
    if (queue.running) {
        queue.waiting.push_back(std::move(start));
        return;
    }
    queue.running = true;
    start();
}

void runFinished() {
    RunQueue& queue = runQueue();
    if (queue.waiting.empty()) {
        queue.running = false;
        return;
    }
    auto next = std::move(queue.waiting.front());
    queue.waiting.pop_front();
    host::mainQueue().async(std::move(next));
}

template <typename Result> std::function<void(Result)> finishing(std::function<void(Result)> completion) {
    return [completion = std::move(completion)](Result result) {
        completion(std::move(result));
        runFinished();
    };
}

host::AXElement runApplication(const host::AXElement& app) {
    auto& accessibility = host::accessibility();
    qint32 pid = 0;
    if (accessibility.pid(app, pid) != host::AXError::success)
        return app;
    host::AXElement application = accessibility.createApplication(pid);
    accessibility.setMessagingTimeout(application, messagingTimeout);
    return application;
}

Elements extras(const host::AXElement& app, const Elements& beyond) {
    Elements found;
    for (const host::AXElement& window : AX::windows(app))
        if (!beyond.contains(window))
            found.append(window);
    return found;
}

QString summary(const host::AXElement& surface) {
    QStringList labels;
    const Elements items = pressables(surface);
    for (qsizetype index = 0; index < items.size() && index < summaryLength; ++index)
        if (const QString text = label(items.at(index)); !text.isEmpty())
            labels.append(text);
    return labels.join(QStringLiteral(" | "));
}

void waitForSurface(const host::AXElement& app, const Elements& notIn, SurfaceCompletion completion) {
    const QDateTime deadline = host::clock().now().addMSecs(qint64(surfaceWait * 1000));
    auto attempt = std::make_shared<std::function<void()>>();
    // The attempt reaches itself weakly: only the caller and a scheduled retry hold it, so a retry left unrun
    // as the program ends takes the attempt (and whatever its completion holds) with it.
    *attempt = [app, notIn, deadline, completion = std::move(completion),
                weakAttempt = std::weak_ptr<std::function<void()>>(attempt)]() {
        const auto finish = [&](std::optional<host::AXElement> surface) {
            auto done = completion;
            if (const auto self = weakAttempt.lock())
                *self = nullptr; // the attempt is over; nothing of it runs again
            done(std::move(surface));
        };
        for (const host::AXElement& window : extras(app, notIn)) {
            if (!pressables(window).isEmpty())
                return finish(window);
        }
        if (host::clock().now() < deadline) {
            host::mainQueue().schedule(attemptInterval, [attempt = weakAttempt.lock()] {
                if (attempt && *attempt)
                    (*attempt)();
            });
            return;
        }
        finish(std::nullopt);
    };
    (*attempt)();
}

// Menus are closed with Escape until nothing the run opened is left. A browser window that the last press
// opened is not a menu and stays: counting it would only send Escapes into it.
void dismiss(const host::AXElement& app, const Elements& baseline) {
    auto& accessibility = host::accessibility();
    for (int pressed = 0; pressed < mostEscapes; ++pressed) {
        int open = 0;
        for (const host::AXElement& window : extras(app, baseline))
            if (AX::string(window, QStringLiteral("AXSubrole")) != QStringLiteral("AXStandardWindow"))
                ++open;
        if (open == 0)
            return;
        accessibility.postKeyboardEvent(escapeKeyCode, true);
        accessibility.postKeyboardEvent(escapeKeyCode, false);
        host::clock().sleep(escapePause);
    }
}

struct ChooseRun : std::enable_shared_from_this<ChooseRun> {
    host::AXElement app;
    Elements baseline;
    ChooseCompletion completion;

    void fail() {
        dismiss(app, baseline);
        completion(false);
    }

    void step(QList<Matcher> matchers, const Elements& known) {
        auto self = shared_from_this();
        waitForSurface(app, known, [self, matchers](std::optional<host::AXElement> surface) {
            const Matcher& current = matchers.first();
            if (!surface && current.onlyIfAMenuOpens) {
                dismiss(self->app, self->baseline);
                return self->completion(true);
            }
            if (!surface) {
                Log::ax.log(QStringLiteral("Chrome surface for %1 never appeared").arg(current.text()));
                return self->fail();
            }
            const auto found = control(current, *surface);
            if (!found) {
                Log::ax.log(QStringLiteral("nothing matched %1; surface offered: %2")
                                .arg(current.text(), summary(*surface)));
                return self->fail();
            }
            const Elements next = AX::windows(self->app);
            if (host::accessibility().performAction(*found, pressAction) != host::AXError::success) {
                Log::ax.log(QStringLiteral("%1 refused to be pressed").arg(current.text()));
                return self->fail();
            }
            if (matchers.size() == 1) {
                dismiss(self->app, self->baseline);
                return self->completion(true);
            }
            self->step(matchers.mid(1), next);
        });
    }
};

struct ListRun : std::enable_shared_from_this<ListRun> {
    host::AXElement app;
    Elements baseline;
    ListCompletion completion;

    void fail() {
        dismiss(app, baseline);
        completion({});
    }

    void walk(QList<Matcher> matchers, const Elements& known) {
        auto self = shared_from_this();
        waitForSurface(app, known, [self, matchers](std::optional<host::AXElement> surface) {
            if (!surface) {
                const QString what =
                    matchers.isEmpty() ? QStringLiteral("the anchor") : matchers.first().text();
                Log::ax.log(
                    QStringLiteral("Chrome opened nothing for %1 \u2014 it is probably not frontmost, or "
                                   "the window raised is not its key window")
                        .arg(what));
                return self->fail();
            }
            if (matchers.isEmpty()) {
                QStringList labels;
                for (const host::AXElement& item : pressables(*surface))
                    if (const QString text = label(item); !text.isEmpty())
                        labels.append(text);
                dismiss(self->app, self->baseline);
                return self->completion(labels);
            }
            const Matcher& current = matchers.first();
            const auto found = control(current, *surface);
            if (!found) {
                Log::ax.log(QStringLiteral("nothing matched %1 while listing; surface offered: %2")
                                .arg(current.text(), summary(*surface)));
                return self->fail();
            }
            const Elements next = AX::windows(self->app);
            if (host::accessibility().performAction(*found, pressAction) != host::AXError::success) {
                Log::ax.log(QStringLiteral("%1 refused to be pressed").arg(current.text()));
                return self->fail();
            }
            self->walk(matchers.mid(1), next);
        });
    }
};

// Makes the run's application element, reads the baseline and performs the anchor action; false when the
// anchor refused it.
bool begin(const host::AXElement& app, const host::AXElement& anchor, const QString& action,
           host::AXElement& runApp, Elements& baseline) {
    runApp = runApplication(app);
    baseline = AX::windows(runApp);
    if (host::accessibility().performAction(anchor, action) != host::AXError::success) {
        Log::ax.error(QStringLiteral("Chrome refused %1 on the anchor").arg(action));
        return false;
    }
    return true;
}

QString withoutLeadingSpaces(const QString& text) {
    qsizetype start = 0;
    while (start < text.size() && text.at(start) == QLatin1Char(' '))
        ++start;
    return text.mid(start);
}

} // namespace

QString Matcher::text() const {
    if (kind == Kind::loosely)
        return titles.join(QLatin1Char('/'));
    return QStringLiteral("group \u201C") + name + QStringLiteral("\u201D");
}

void choose(const QList<Matcher>& matchers, const host::AXElement& anchor, const QString& action,
            const host::AXElement& app, ChooseCompletion completion) {
    if (matchers.isEmpty())
        return completion(false);
    enqueueRun([matchers, anchor, action, app, done = finishing<bool>(std::move(completion))]() {
        auto run = std::make_shared<ChooseRun>();
        run->completion = done;
        if (!begin(app, anchor, action, run->app, run->baseline))
            return done(false);
        run->step(matchers, run->baseline);
    });
}

void list(const QList<Matcher>& after, const host::AXElement& anchor, const QString& action,
          const host::AXElement& app, ListCompletion completion) {
    if (after.isEmpty())
        return completion({});
    enqueueRun([after, anchor, action, app, done = finishing<QStringList>(std::move(completion))]() {
        auto run = std::make_shared<ListRun>();
        run->completion = done;
        if (!begin(app, anchor, action, run->app, run->baseline))
            return done({});
        run->walk(after, run->baseline);
    });
}

QString label(const host::AXElement& element) {
    if (const auto title = AX::string(element, QStringLiteral("AXTitle")); title && !title->isEmpty())
        return *title;
    return AX::string(element, QStringLiteral("AXDescription")).value_or(QString());
}

QList<host::AXElement> pressables(const host::AXElement& surface) {
    Elements found;
    std::function<void(const host::AXElement&, int)> scan = [&](const host::AXElement& element, int depth) {
        if (depth > deepestLevel || found.size() >= mostPressables)
            return;
        const QString role = AX::string(element, QStringLiteral("AXRole")).value_or(QString());
        if (role == QStringLiteral("AXMenuItem") || role == QStringLiteral("AXButton"))
            found.append(element);
        if (role == QStringLiteral("AXWebArea"))
            return;
        for (const host::AXElement& child : AX::children(element))
            scan(child, depth + 1);
    };
    scan(surface, 0);
    return found;
}

std::optional<host::AXElement> control(const Matcher& matcher, const host::AXElement& surface) {
    const Elements items = pressables(surface);
    if (matcher.kind == Matcher::Kind::group) {
        if (matcher.name.isEmpty())
            return std::nullopt;
        const QString name = canonicalName(matcher.name);
        for (const host::AXElement& item : items) {
            const QString text = canonicalName(withoutLeadingSpaces(label(item)));
            if (text == name || text.startsWith(name + QStringLiteral(" group - ")))
                return item;
        }
        return std::nullopt;
    }
    for (const QString& title : matcher.titles)
        for (const host::AXElement& item : items)
            if (label(item).contains(title, Qt::CaseInsensitive))
                return item;
    return std::nullopt;
}

} // namespace ChromeMenuDriver
