// What the runs add up to: each latency's median and 99th percentile and each
// throughput's median, server against baseline, taken per run and summarised
// over the runs of one placement; the printed table; and the relay latency
// distribution as a CSV of quantiles.
#pragma once

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "placement.h"
#include "timed_loops.h"

namespace quorvane::bench {

// Nearest-rank percentile of sorted samples, in microseconds.
double PercentileUs(const Samples& sorted, double percent);
Samples Sorted(Samples samples);

// What the samples of a measurement are: one latency each, or the time per
// packet of one burst of a stream, which the figures turn into packets a
// second.
enum class Kind { kLatency, kThroughput };

// The ratio a figure must stay within, in each placement: a latency's
// server / baseline at most, a throughput's server rate / baseline rate at
// least.
struct Target {
  enum class Bound { kAtMost, kAtLeast };
  Bound bound;
  double allOnOneCpu;
  double apart;

  double In(const Placement& placement) const { return placement.apart ? apart : allOnOneCpu; }
  bool MetBy(double ratio, const Placement& placement) const {
    return bound == Bound::kAtMost ? ratio <= In(placement) : ratio >= In(placement);
  }
};

// One quantity measured in one run: the server's samples beside those of
// its baseline, taken in the same blocks.
struct Measurement {
  std::string name;
  Samples server;
  Samples baseline;
  std::optional<Target> target;
  // Its name in the latency chart; empty when it is not charted.
  std::string series;
  Kind kind = Kind::kLatency;
};

// One statistic of one measurement over the runs: the median over the runs
// of the server's and the baseline's figure (microseconds, or packets a
// second for a throughput), and of their ratio, with the lowest and highest
// ratio of a single run.
struct Figure {
  std::string name;
  Kind kind;
  double server;
  double baseline;
  double ratio;
  double lowestRatio;
  double highestRatio;
  std::optional<Target> target;
};

// `runs` holds the measurements of every run, each run's in the same order.
// Per latency: the median figure, then the 99th percentile (without a
// target). Per throughput: the median burst's rate, whose ratio is the
// server's rate over the baseline's, so that higher is better.
std::vector<Figure> Summarise(const std::vector<std::vector<Measurement>>& runs);

// One line per figure: server, baseline, ratio, its spread over the runs, and
// the target in `placement` with PASS or MISS. Returns true when every target
// is met.
bool PrintFigures(std::ostream& out, const std::vector<Figure>& figures,
                  const Placement& placement);

struct Series {
  std::string name;
  Samples sorted;
};

// A header line, then one row per 0.1 percentile from 0 to 100: the
// percentile and each series' latency there in microseconds.
void WriteQuantiles(const std::filesystem::path& file, const std::vector<Series>& series);

}  // namespace quorvane::bench
