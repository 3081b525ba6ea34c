// The CPU time of a process as the benchmarks measure a helper's idle cost: a thread that ends within the
// window measured still counts.
#include "Support/ProcessCpu.h"

#include <gtest/gtest.h>
#include <thread>
#include <time.h>
#include <unistd.h>

namespace {

double threadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

TEST(ProcessCpu, TheTimeOfAThreadThatHasEndedStaysCounted) {
    const double before = test::processCpuSeconds(getpid());
    ASSERT_GE(before, 0);
    std::thread busy([] {
        const double start = threadCpuSeconds();
        while (threadCpuSeconds() - start < 0.3) {
        }
    });
    busy.join();
    // The process's own total is kept in clock ticks (10 ms each here).
    EXPECT_GE(test::processCpuSeconds(getpid()) - before, 0.25);
}

TEST(ProcessCpu, AProcessThatIsGoneHasNoFigure) {
    EXPECT_LT(test::processCpuSeconds(pid_t(0x3fffffff)), 0);
}

} // namespace
