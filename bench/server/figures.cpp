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

std::string TargetText(const Target& target) {
  std::ostringstream text;
  text << (target.kind == Target::Kind::kAtMost ? "<= " : ">= ") << target.ratio << "x";
  return text.str();
}

bool Met(const Target& target, double ratio) {
  return target.kind == Target::Kind::kAtMost ? ratio <= target.ratio : ratio >= target.ratio;
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

bool PrintFigures(std::ostream& out, const std::vector<Figure>& figures) {
  bool allMet = true;
  out << std::left << std::setw(34) << "figure" << std::right << std::setw(14) << "server"
      << std::setw(14) << "baseline" << std::setw(8) << "ratio" << std::setw(10) << "target"
      << "  result\n";
  for (const Figure& figure : figures) {
    const double ratio = figure.server / figure.baseline;
    std::ostringstream server;
    std::ostringstream baseline;
    server << std::fixed << std::setprecision(1) << figure.server << ' ' << figure.unit;
    baseline << std::fixed << std::setprecision(1) << figure.baseline << ' ' << figure.unit;
    out << std::left << std::setw(34) << figure.name << std::right << std::setw(14) << server.str()
        << std::setw(14) << baseline.str() << std::setw(8) << std::fixed << std::setprecision(2)
        << ratio;
    if (figure.target) {
      const bool met = Met(*figure.target, ratio);
      allMet = allMet && met;
      out << std::setw(10) << TargetText(*figure.target) << "  " << (met ? "PASS" : "MISS");
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
