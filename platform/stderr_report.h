// Reports for the operator on standard error, one line each, as
// "quorvane: <report>", through the non-blocking standard error queue.
#pragma once

#include <string_view>

namespace quorvane {

void ReportOnStderr(std::string_view report) noexcept;

}  // namespace quorvane
