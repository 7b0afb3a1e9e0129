// The server's metrics in the Prometheus text format (version 0.0.4): one
// family per quantity, named quorvane_<area>_<name> with its unit, counters
// ending in _total, each with HELP and TYPE lines.
#pragma once

#include <cstdint>
#include <string>

#include "host/server_status.h"

namespace quorvane {

struct BuildInfo {
  std::string version;
  std::string qtVersion;
};

// Lines the server's own output streams lost: not read in time, or not
// written for a failure.
struct OutputDrops {
  std::uint64_t standardOutput = 0;
  std::uint64_t standardError = 0;
  std::uint64_t logFile = 0;
};

inline constexpr char kMetricsContentType[] = "text/plain; version=0.0.4; charset=utf-8";

std::string MetricsText(const ServerSnapshot& snapshot, const BuildInfo& build,
                        const OutputDrops& drops = {});

}  // namespace quorvane
