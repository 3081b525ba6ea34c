#pragma once

// The figures a benchmark reports against its targets, for scripts/bench. A benchmark runs with
// bench::runBenchmarks({{"poll/routing", "time", "<", 1, "ms"}, ...}) in place of
// benchmark::RunSpecifiedBenchmarks(), naming its targets; after the usual table it prints one line per
// figure measured:
//   figure: <benchmark>[ <counter>] value=<v> unit=<u> target=<op><limit> met=<yes|no>
// A benchmark whose figure is worked out by hand (a ratio of two roads measured in one run) prints such a
// line itself, with bench::printFigure.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

namespace bench {

struct Target {
    std::string
        benchmark;      // a benchmark's name, or the start of it: "poll/routing" covers "poll/routing/0", ...
    std::string figure; // "time" (real time per iteration, the median where repeated) or a counter's name
    std::string op;     // "<", "<=", ">" or ">="
    double limit = 0;
    std::string unit; // for "time" one of ns, us, ms, s; for a counter what it counts in
};

inline bool meets(double value, const std::string& op, double limit) {
    if (op == "<")
        return value < limit;
    if (op == "<=")
        return value <= limit;
    if (op == ">")
        return value > limit;
    return value >= limit;
}

inline void printFigure(const std::string& name, double value, const std::string& unit, const std::string& op,
                        double limit) {
    std::printf("figure: %s value=%.4g unit=%s target=%s%g met=%s\n", name.c_str(), value, unit.c_str(),
                op.c_str(), limit, meets(value, op, limit) ? "yes" : "no");
    std::fflush(stdout);
}

namespace detail {

inline double secondsPer(const std::string& unit) {
    if (unit == "ns")
        return 1e-9;
    if (unit == "us")
        return 1e-6;
    if (unit == "ms")
        return 1e-3;
    return 1;
}

inline double secondsPer(benchmark::TimeUnit unit) {
    return secondsPer(std::string(benchmark::GetTimeUnitString(unit)));
}

// The benchmark's name without what the runner adds ("/repeats:3", "/iterations:20", "/manual_time").
inline std::string plainName(const benchmark::BenchmarkReporter::Run& run) {
    std::string name = run.run_name.function_name;
    if (!run.run_name.args.empty())
        name += "/" + run.run_name.args;
    return name;
}

// The console's table as usual, with the runs kept for the figures.
class FigureReporter : public benchmark::ConsoleReporter {
public:
    // Coloured only on a terminal, as the library's own table: a log keeps every line plain, "figure:" first.
    FigureReporter()
        : ConsoleReporter(isatty(fileno(stdout)) ? OO_Color : OO_None) {}
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        kept.insert(kept.end(), runs.begin(), runs.end());
    }
    std::vector<Run> kept;
};

inline bool covers(const Target& wanted, const std::string& name) {
    return name == wanted.benchmark || name.rfind(wanted.benchmark + "/", 0) == 0;
}

inline void printFigures(const std::vector<Target>& targets,
                         const std::vector<benchmark::BenchmarkReporter::Run>& runs) {
    using Run = benchmark::BenchmarkReporter::Run;
    for (const Target& wanted : targets) {
        std::set<std::string> failed;
        bool reported = false;
        for (const Run& run : runs) {
            const std::string name = plainName(run);
            if (!covers(wanted, name))
                continue;
            const std::string label = wanted.figure == "time" ? name : name + " " + wanted.figure;
            // A benchmark that could not run has no figure, and says why once.
            if (run.error_occurred) {
                if (failed.insert(label).second)
                    std::printf("figure: %s value=- unit=%s target=%s%g met=no (%s)\n", label.c_str(),
                                wanted.unit.c_str(), wanted.op.c_str(), wanted.limit,
                                run.error_message.c_str());
                reported = true;
                continue;
            }
            // One figure per benchmark: the median of its repetitions, else its only run.
            const bool figureRun = run.repetitions > 1
                                       ? run.run_type == Run::RT_Aggregate && run.aggregate_name == "median"
                                       : run.run_type == Run::RT_Iteration;
            if (!figureRun)
                continue;
            if (wanted.figure == "time") {
                const double seconds = run.GetAdjustedRealTime() * secondsPer(run.time_unit);
                printFigure(label, seconds / secondsPer(wanted.unit), wanted.unit, wanted.op, wanted.limit);
                reported = true;
            } else if (const auto counter = run.counters.find(wanted.figure); counter != run.counters.end()) {
                printFigure(label, counter->second.value, wanted.unit, wanted.op, wanted.limit);
                reported = true;
            }
        }
        // A target that no run measured is a figure missing, never one quietly left out.
        if (!reported) {
            const std::string label =
                wanted.figure == "time" ? wanted.benchmark : wanted.benchmark + " " + wanted.figure;
            std::printf("figure: %s value=- unit=%s target=%s%g met=no (no run measured it)\n", label.c_str(),
                        wanted.unit.c_str(), wanted.op.c_str(), wanted.limit);
        }
    }
    std::fflush(stdout);
}

} // namespace detail

// Runs the benchmarks the command line picks, then prints their figures against `targets`.
inline void runBenchmarks(const std::vector<Target>& targets) {
    detail::FigureReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    detail::printFigures(targets, reporter.kept);
}

// The rest of a benchmark program once what its runs need is set up (see Rig.h): the library takes its
// options from the command line, then the benchmarks run and their figures are printed. 1 for an unknown
// option.
inline int main(int argc, char** argv, const std::vector<Target>& targets) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    runBenchmarks(targets);
    benchmark::Shutdown();
    return 0;
}

} // namespace bench
