#include "stderr_report.h"

#include <cstdio>

namespace quorvane {

void ReportOnStderr(std::string_view report) noexcept {
  std::fprintf(stderr, "quorvane: %.*s\n", static_cast<int>(report.size()), report.data());
  std::fflush(stderr);
}

}  // namespace quorvane
