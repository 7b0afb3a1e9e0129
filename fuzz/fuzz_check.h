// A broken property is a crash, so that libFuzzer keeps the input.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace quorvane::fuzz {

inline void Require(bool holds, const char* property) {
  if (holds) return;
  std::fprintf(stderr, "property broken: %s\n", property);
  std::abort();
}

}  // namespace quorvane::fuzz
