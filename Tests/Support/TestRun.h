#pragma once

namespace test {

// The status with which a test program ends when a developer allowed skips (CORVANE_ALLOW_SKIPS=1) and a test
// skipped; ctest shows the program's tests as skipped by it (their SKIP_RETURN_CODE).
constexpr int skippedStatus = 77;

// Runs the program's tests. A test that skipped could not run, and that is a failure like any other: the
// program then ends with 1, naming the skipped tests, unless CORVANE_ALLOW_SKIPS=1 allows skips for this run.
int runAllTests();

} // namespace test
