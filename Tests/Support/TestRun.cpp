#include "Support/TestRun.h"

#include <QByteArray>
#include <cstdio>
#include <gtest/gtest.h>

namespace test {

int runAllTests() {
    const int result = RUN_ALL_TESTS();
    const testing::UnitTest& tests = *testing::UnitTest::GetInstance();
    if (result != 0 || tests.skipped_test_count() == 0)
        return result;
    if (qgetenv("CORVANE_ALLOW_SKIPS") == "1")
        return skippedStatus;
    std::fprintf(stderr, "%d test(s) skipped, which fails the run (CORVANE_ALLOW_SKIPS=1 allows skips):\n",
                 tests.skipped_test_count());
    for (int suite = 0; suite < tests.total_test_suite_count(); ++suite)
        for (int index = 0; index < tests.GetTestSuite(suite)->total_test_count(); ++index) {
            const testing::TestInfo& info = *tests.GetTestSuite(suite)->GetTestInfo(index);
            if (info.result()->Skipped())
                std::fprintf(stderr, "  %s.%s\n", info.test_suite_name(), info.name());
        }
    return 1;
}

} // namespace test
