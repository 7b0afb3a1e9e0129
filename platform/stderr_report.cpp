#include "stderr_report.h"

#include <string>

#include "non_blocking_output.h"

namespace quorvane {

void ReportOnStderr(std::string_view report) noexcept {
  try {
    std::string line = "quorvane: ";
    line += report;
    line += '\n';
    StandardError().Write(line);
  } catch (...) {
    // Out of memory for one line of text: the report is lost, the server goes on.
  }
}

}  // namespace quorvane
