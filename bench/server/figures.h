// What the runs add up to: each measurement's median and 99th percentile,
// server against baseline, taken per run and summarised over the runs of one
// placement; the printed table; and the relay latency distribution as a CSV
// of quantiles.
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

// One quantity measured in one run: the server's samples beside those of
// its baseline, taken in the same blocks.
struct Measurement {
  std::string name;
  Samples server;
  Samples baseline;
  // The most the ratio of the medians may be.
  std::optional<double> target;
  // Its name in the latency chart; empty when it is not charted.
  std::string series;
};

// One statistic of one measurement over the runs: the median over the runs
// of the server's and the baseline's figure, and of their ratio, with the
// lowest and highest ratio of a single run.
struct Figure {
  std::string name;
  double server;
  double baseline;
  double ratio;
  double lowestRatio;
  double highestRatio;
  std::optional<double> target;
};

// `runs` holds the measurements of every run, each run's in the same order.
// Per measurement: the median figure, then the 99th percentile (without a
// target).
std::vector<Figure> Summarise(const std::vector<std::vector<Measurement>>& runs);

// One line per figure: server, baseline, ratio, its spread over the runs, and
// the target with PASS or MISS. Returns true when every target is met.
bool PrintFigures(std::ostream& out, const std::vector<Figure>& figures);

struct Series {
  std::string name;
  Samples sorted;
};

// A header line, then one row per 0.1 percentile from 0 to 100: the
// percentile and each series' latency there in microseconds.
void WriteQuantiles(const std::filesystem::path& file, const std::vector<Series>& series);

}  // namespace quorvane::bench
