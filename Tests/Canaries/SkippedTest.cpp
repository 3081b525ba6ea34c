// A test program whose one test skips, as a test does when what it needs is not there: the program and a
// ctest run of it must fail, unless skips are allowed.
#include <gtest/gtest.h>

TEST(Canary, Skips) {
    GTEST_SKIP() << "on purpose";
}
