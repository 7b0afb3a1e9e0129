// What a running process holds, read from /proc.
#pragma once

#include <sys/types.h>

#include <cstddef>

namespace quorvane::testing {

// Entries in /proc/PID/fd.
std::size_t OpenDescriptors(pid_t pid);
// VmRSS from /proc/PID/status, in KiB.
std::size_t ResidentKiB(pid_t pid);

}  // namespace quorvane::testing
