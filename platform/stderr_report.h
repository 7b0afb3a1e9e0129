// Reports for the operator on standard error, one line each, as
// "quorvane: <report>", flushed at once.
#pragma once

#include <string_view>

namespace quorvane {

void ReportOnStderr(std::string_view report) noexcept;

}  // namespace quorvane
