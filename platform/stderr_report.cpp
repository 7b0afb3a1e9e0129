#include "stderr_report.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace quorvane {
namespace {

std::vector<DiagnosticsTap*>& Taps() {
  static std::vector<DiagnosticsTap*> taps;
  return taps;
}

}  // namespace

void ReportOnStderr(std::string_view report) noexcept {
  std::string line;
  try {
    line = "quorvane: " + std::string(report);
  } catch (...) {
    std::fprintf(stderr, "quorvane: %.*s\n", static_cast<int>(report.size()), report.data());
    std::fflush(stderr);
    return;
  }
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
  for (DiagnosticsTap* tap : Taps()) {
    try {
      tap->receive_(line);
    } catch (...) {
      // That tap loses the line; standard error has it.
    }
  }
}

DiagnosticsTap::DiagnosticsTap(std::function<void(std::string_view line)> receive)
    : receive_(std::move(receive)) {
  Taps().push_back(this);
}

DiagnosticsTap::~DiagnosticsTap() {
  std::erase(Taps(), this);
}

}  // namespace quorvane
