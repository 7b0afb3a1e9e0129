// Latency percentiles, the printed table of figures against their baselines,
// and the latency distribution as a CSV of quantiles.
#pragma once

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "timed_loops.h"

namespace quorvane::bench {

// Nearest-rank percentile of sorted samples, in microseconds.
double PercentileUs(const Samples& sorted, double percent);
Samples Sorted(Samples samples);

struct Target {
  enum class Kind { kAtMost, kAtLeast };
  Kind kind;
  double ratio;  // of the server's figure to the baseline's
};

struct Figure {
  std::string name;
  std::string unit;
  double server;
  double baseline;
  std::optional<Target> target;
};

// One line per figure: server, baseline, ratio, target and PASS or MISS.
// Returns true when every target is met.
bool PrintFigures(std::ostream& out, const std::vector<Figure>& figures);

struct Series {
  std::string name;
  Samples sorted;
};

// A header line, then one row per 0.1 percentile from 0 to 100: the
// percentile and each series' latency there in microseconds.
void WriteQuantiles(const std::filesystem::path& file, const std::vector<Series>& series);

}  // namespace quorvane::bench
