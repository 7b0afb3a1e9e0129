#include "figures.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iomanip>
#include <sstream>
#include <stdexcept>

namespace quorvane::bench {
namespace {

constexpr int kQuantileSteps = 1000;
constexpr int kNameWidth = 50;

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// A sample at `percent` as the figure shows it: microseconds, or for a time
// per packet the packets a second.
double Value(Kind kind, const Samples& sorted, double percent) {
  const double us = PercentileUs(sorted, percent);
  return kind == Kind::kThroughput ? 1e6 / us : us;
}

// `percent` of the server and of the baseline, run by run, as one figure.
Figure Across(const std::vector<const Measurement*>& runs, double percent, const std::string& name,
              std::optional<Target> target) {
  const Kind kind = runs.front()->kind;
  std::vector<double> server;
  std::vector<double> baseline;
  std::vector<double> ratios;
  for (const Measurement* run : runs) {
    server.push_back(Value(kind, Sorted(run->server), percent));
    baseline.push_back(Value(kind, Sorted(run->baseline), percent));
    ratios.push_back(server.back() / baseline.back());
  }
  const auto [lowest, highest] = std::minmax_element(ratios.begin(), ratios.end());
  return {name, kind, Median(server), Median(baseline), Median(ratios), *lowest, *highest, target};
}

std::string Shown(Kind kind, double value) {
  std::ostringstream text;
  text << std::fixed << std::setprecision(1);
  if (kind == Kind::kThroughput) {
    text << value / 1000 << "k/s";
  } else {
    text << value << " us";
  }
  return text.str();
}

std::string TargetText(const Target& target, const Placement& placement) {
  std::ostringstream text;
  text << (target.bound == Target::Bound::kAtMost ? "<= " : ">= ") << std::fixed
       << std::setprecision(2) << target.In(placement) << "x";
  return text.str();
}

}  // namespace

double PercentileUs(const Samples& sorted, double percent) {
  if (sorted.empty()) throw std::invalid_argument("no samples");
  const auto rank = static_cast<std::size_t>(std::ceil(percent / 100.0 * sorted.size()));
  const std::size_t index = std::clamp<std::size_t>(rank, 1, sorted.size()) - 1;
  return std::chrono::duration<double, std::micro>(sorted[index]).count();
}

Samples Sorted(Samples samples) {
  std::sort(samples.begin(), samples.end());
  return samples;
}

std::vector<Figure> Summarise(const std::vector<std::vector<Measurement>>& runs) {
  if (runs.empty()) throw std::invalid_argument("no runs");
  std::vector<Figure> figures;
  for (std::size_t index = 0; index < runs.front().size(); ++index) {
    std::vector<const Measurement*> same;
    for (const std::vector<Measurement>& run : runs) same.push_back(&run.at(index));
    const Measurement& first = *same.front();
    figures.push_back(Across(same, 50, first.name + " median", first.target));
    // The slowest bursts of a stream say nothing the median does not.
    if (first.kind == Kind::kLatency) {
      figures.push_back(Across(same, 99, first.name + " p99", std::nullopt));
    }
  }
  return figures;
}

bool PrintFigures(std::ostream& out, const std::vector<Figure>& figures,
                  const Placement& placement) {
  bool allMet = true;
  out << std::left << std::setw(kNameWidth) << "figure" << std::right << std::setw(12) << "server"
      << std::setw(12) << "baseline" << std::setw(8) << "ratio" << std::setw(13) << "runs' ratios"
      << std::setw(10) << "target"
      << "  result\n";
  for (const Figure& figure : figures) {
    std::ostringstream spread;
    spread << std::fixed << std::setprecision(2) << figure.lowestRatio << '-'
           << figure.highestRatio;
    out << std::left << std::setw(kNameWidth) << figure.name << std::right << std::setw(12)
        << Shown(figure.kind, figure.server) << std::setw(12) << Shown(figure.kind, figure.baseline)
        << std::setw(8) << std::fixed << std::setprecision(2) << figure.ratio << std::setw(13)
        << spread.str();
    if (figure.target) {
      const bool met = figure.target->MetBy(figure.ratio, placement);
      allMet = allMet && met;
      out << std::setw(10) << TargetText(*figure.target, placement) << "  "
          << (met ? "PASS" : "MISS");
    }
    out << '\n';
  }
  return allMet;
}

void WriteQuantiles(const std::filesystem::path& file, const std::vector<Series>& series) {
  std::ofstream out(file);
  out << "percentile";
  for (const Series& one : series) out << ',' << one.name << "_us";
  out << '\n' << std::fixed;
  for (int step = 0; step <= kQuantileSteps; ++step) {
    const double percent = 100.0 * step / kQuantileSteps;
    out << std::setprecision(1) << percent;
    for (const Series& one : series) {
      out << ',' << std::setprecision(2) << PercentileUs(one.sorted, percent);
    }
    out << '\n';
  }
  if (!out) throw std::runtime_error("cannot write " + file.string());
}

}  // namespace quorvane::bench
