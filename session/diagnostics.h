// Where the session reports what goes wrong without being the client's
// business: a data file that cannot be read, a handler that had to give up.
// The host decides where the reports go; an empty sink drops them.
#pragma once

#include <functional>
#include <string_view>

namespace quorvane {

// Receives one report at a time, a single line without its line break.
using Diagnostics = std::function<void(std::string_view report)>;

inline void Report(const Diagnostics& diagnostics, std::string_view report) {
  if (diagnostics) diagnostics(report);
}

}  // namespace quorvane
