// The server's metrics in the Prometheus text format (version 0.0.4): one
// family per quantity, named quorvane_<area>_<name> with its unit, counters
// ending in _total, each with HELP and TYPE lines.
#pragma once

#include <string>

#include "host/server_status.h"

namespace quorvane {

struct BuildInfo {
  std::string version;
  std::string qtVersion;
};

inline constexpr char kMetricsContentType[] = "text/plain; version=0.0.4; charset=utf-8";

std::string MetricsText(const ServerSnapshot& snapshot, const BuildInfo& build);

}  // namespace quorvane
