#pragma once

#include <sys/types.h>

namespace test {

// The CPU time the process `pid` has used so far, in seconds: user and system time of the process as a whole
// (/proc/<pid>/stat), which keeps the time of its threads that have ended; negative when it cannot be read.
double processCpuSeconds(pid_t pid);

} // namespace test
