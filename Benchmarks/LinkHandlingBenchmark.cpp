// One link's handling inside the helper, from the event's arrival to the open request (target: median under
// 100 µs with 100 rules), the helper's start until it listens (target: under 150 ms), and its resident memory
// when idle (target: under 20 MB).
#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneCore/Messaging/LineSocket.h"
#include "CorvaneCore/Routing/RecentLinks.h"
#include "CorvaneCore/Routing/RuleStore.h"
#include "CorvaneHelper/Shell/LinkHandler.h"
#include "Figures.h"
#include "ResidentMemory.h"
#include "Support/FakeWorkspace.h"
#include "Support/HelperDoubles.h"
#include "Support/TemporaryHome.h"
#include "Support/VirtualTime.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <benchmark/benchmark.h>
#include <chrono>
#include <csignal>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// The fake workspace, noting when the open request arrives.
class TimedWorkspace final : public host::Workspace {
public:
    explicit TimedWorkspace(std::shared_ptr<test::FakeWorkspace> inner)
        : inner_(std::move(inner)) {}
    Clock::time_point openedAt;

    std::optional<QString> urlForApplication(const QString& id) override {
        return inner_->urlForApplication(id);
    }
    QStringList applicationsToOpenScheme(const QString& s) override {
        return inner_->applicationsToOpenScheme(s);
    }
    QStringList applicationsToOpenContentType(const QString& t) override {
        return inner_->applicationsToOpenContentType(t);
    }
    std::optional<QString> defaultApplicationForScheme(const QString& s) override {
        return inner_->defaultApplicationForScheme(s);
    }
    std::optional<QString> defaultApplicationForContentType(const QString& t) override {
        return inner_->defaultApplicationForContentType(t);
    }
    std::optional<QVariantMap> bundleInfo(const QString& p) override { return inner_->bundleInfo(p); }
    void setDefaultApplicationForScheme(const QString& a, const QString& s,
                                        host::WorkspaceCompletion c) override {
        inner_->setDefaultApplicationForScheme(a, s, std::move(c));
    }
    void setDefaultApplicationForContentType(const QString& a, const QString& t,
                                             host::WorkspaceCompletion c) override {
        inner_->setDefaultApplicationForContentType(a, t, std::move(c));
    }
    void registerBundle(const QString& p) override { inner_->registerBundle(p); }
    bool openSystemSettings(const QUrl& a) override { return inner_->openSystemSettings(a); }
    std::vector<host::RunningApplication> runningApplications() override {
        return inner_->runningApplications();
    }
    std::optional<host::RunningApplication> frontmostApplication() override {
        return inner_->frontmostApplication();
    }
    bool terminate(qint32 pid) override { return inner_->terminate(pid); }
    bool forceTerminate(qint32 pid) override { return inner_->forceTerminate(pid); }
    int addApplicationObserver(host::ApplicationObserver observer) override {
        return inner_->addApplicationObserver(std::move(observer));
    }
    void removeApplicationObserver(int observer) override { inner_->removeApplicationObserver(observer); }
    void openApplication(const QString& a, const host::OpenConfiguration& c,
                         host::OpenCompletion d) override {
        inner_->openApplication(a, c, std::move(d));
    }
    void open(const QList<QUrl>& urls, const QString& a, const host::OpenConfiguration& c,
              host::OpenCompletion d) override {
        openedAt = Clock::now();
        inner_->opens.clear();
        d(std::nullopt, std::nullopt);
    }

private:
    std::shared_ptr<test::FakeWorkspace> inner_;
};

void BM_LinkHandling(benchmark::State& state) {
    test::TemporaryHome home;
    test::VirtualTimeScope time;
    test::HelperHostScope hostScope;
    auto fake = std::make_shared<test::FakeWorkspace>();
    auto timed = std::make_shared<TimedWorkspace>(fake);
    test::ServiceOverride<host::Workspace> workspaceScope(host::services().workspace, timed);

    fake->addApplication(QStringLiteral("Safari"),
                         test::FakeWorkspace::browserInfo(QStringLiteral("com.apple.Safari")));
    fake->addApplication(QStringLiteral("Firefox"),
                         test::FakeWorkspace::browserInfo(QStringLiteral("org.mozilla.firefox")));
    fake->addRunning({4242, QStringLiteral("com.example.Mail"), QStringLiteral("Mail"), QString()});

    // 100 rules of two conditions each; only the last one matches the link.
    RuleSet set;
    for (int i = 0; i < 100; ++i) {
        LinkRule rule{QUuid::createUuid(),
                      QStringLiteral("Rule %1").arg(i),
                      RouteTarget::browser(QStringLiteral("org.mozilla.firefox")),
                      true,
                      MatchMode::any,
                      {}};
        rule.conditions = {Condition{Condition::Kind::addresses,
                                     {QStringLiteral("*.site%1.example").arg(i),
                                      QStringLiteral("site%1.test/path/*").arg(i)}},
                           Condition{Condition::Kind::apps, {QStringLiteral("com.example.app%1").arg(i)}}};
        set.rules.push_back(rule);
    }
    set.rules.back().conditions[0].values.append(QStringLiteral("news.example.org"));
    set.recordsHistory = state.range(0) != 0;
    Corvane::ensureSupportDirectory();
    RuleStore rules;
    rules.save(set);
    RecentLinksStore history;
    auto handler = std::make_shared<LinkHandler>(rules, history);
    handler->install();
    const host::AppleEvent event =
        host::AppleEvent::getURL(QStringLiteral("https://news.example.org/today"), 4242);

    for (auto _ : state) {
        const auto arrived = Clock::now();
        hostScope.application().dispatch(event);
        state.SetIterationTime(std::chrono::duration<double>(timed->openedAt - arrived).count());
        time->runUntilIdle();
    }
    state.SetLabel(set.recordsHistory ? "history on" : "history off");
}
// Arg 0: history off; arg 1: history on (the record is written after the open request, outside the span).
BENCHMARK(BM_LinkHandling)
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

const QString helperExecutable = QStringLiteral(
    CORVANE_BUILD_DIR "/Corvane.app/Contents/Library/CorvaneHelper.app/Contents/MacOS/CorvaneHelper");

// Starts the built helper in `home` and waits until its socket answers; the time it took, or a negative
// value.
double startHelper(QProcess& process) {
    const auto started = Clock::now();
    process.setProgram(helperExecutable);
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start();
    if (!process.waitForStarted(5000))
        return -1;
    const QString socket = Corvane::socketPath();
    while (std::chrono::duration<double>(Clock::now() - started).count() < 10) {
        try {
            const int fd = UnixSocket::connect(socket);
            ::close(fd);
            return std::chrono::duration<double>(Clock::now() - started).count();
        } catch (const std::exception&) {
            QThread::usleep(200);
        }
    }
    return -1;
}

void stopHelper(QProcess& process) {
    ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished();
    }
}

void BM_HelperStartToListening(benchmark::State& state) {
    for (auto _ : state) {
        test::TemporaryHome home;
        QProcess process;
        const double seconds = startHelper(process);
        if (seconds < 0) {
            state.SkipWithError("the helper did not listen");
            stopHelper(process);
            break;
        }
        state.SetIterationTime(seconds);
        stopHelper(process);
    }
}
BENCHMARK(BM_HelperStartToListening)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

void BM_HelperIdleResidentMemory(benchmark::State& state) {
    for (auto _ : state) {
        test::TemporaryHome home;
        QProcess process;
        if (startHelper(process) < 0) {
            state.SkipWithError("the helper did not listen");
            stopHelper(process);
            break;
        }
        QThread::msleep(500); // settled, no clients
        if (const auto megabytes = residentMegabytes(process.processId()))
            state.counters["idle_RSS_MB"] = *megabytes;
        stopHelper(process);
    }
}
BENCHMARK(BM_HelperIdleResidentMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    return bench::main(argc, argv,
                       {
                           {"BM_LinkHandling", "time", "<", 100, "us"},
                           {"BM_HelperStartToListening", "time", "<", 150, "ms"},
                           {"BM_HelperIdleResidentMemory", "idle_RSS_MB", "<", 20, "MB"},
                       });
}
