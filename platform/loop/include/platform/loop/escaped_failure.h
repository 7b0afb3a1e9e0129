// The last word on a failure that nothing else caught: an event handler's
// exception, or a flush's, that would otherwise end the process.
#pragma once

#include <string_view>

namespace quorvane {

// Writes "quorvane: <where> failed: <what>" on standard error.
void ReportEscapedFailure(std::string_view where, std::string_view what) noexcept;

}  // namespace quorvane
