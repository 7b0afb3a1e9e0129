#include "platform/loop/escaped_failure.h"

#include <string>

#include "platform/output/stderr_report.h"

namespace quorvane {

void ReportEscapedFailure(std::string_view where, std::string_view what) noexcept {
  try {
    std::string message(where);
    message += " failed: ";
    message += what;
    ReportOnStderr({Severity::kError, {}, message});
  } catch (...) {
    // Out of memory for one line of text: the report is lost, the server goes on.
  }
}

}  // namespace quorvane
