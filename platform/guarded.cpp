#include "guarded.h"

#include <cstdio>

namespace quorvane {

void ReportEscapedFailure(std::string_view where, std::string_view what) noexcept {
  std::fprintf(stderr, "quorvane: %.*s failed: %.*s\n", static_cast<int>(where.size()),
               where.data(), static_cast<int>(what.size()), what.data());
  std::fflush(stderr);
}

}  // namespace quorvane
