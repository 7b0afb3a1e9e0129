#include "platform/loop/escaped_failure.h"

#include <string>

#include "platform/output/non_blocking_output.h"

namespace quorvane {

void ReportEscapedFailure(std::string_view where, std::string_view what) noexcept {
  try {
    std::string line = "quorvane: ";
    line += where;
    line += " failed: ";
    line += what;
    line += '\n';
    StandardError().Write(line);
  } catch (...) {
    // Out of memory for one line of text: the report is lost, the server goes on.
  }
}

}  // namespace quorvane
