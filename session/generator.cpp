#include "session/generator.h"

#include <chrono>
#include <utility>

namespace quorvane {
namespace {
// SplitMix64's finaliser: a bijection that spreads every input bit.
std::uint64_t mix(std::uint64_t z) {
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}
constexpr std::uint64_t kGolden = 0x9E3779B97F4A7C15ULL;
}  // namespace

std::uint64_t Generator::SystemClock() {
  return static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
}

Generator::Generator(std::uint64_t seed, Clock clock) : state_(seed), clock_(std::move(clock)) {}

float Generator::NextUnit() {
  state_ += kGolden;
  return static_cast<float>(mix(state_) >> 40) * 0x1.0p-24f;
}

void Generator::ReseedFromClock() {
  state_ = mix(state_ ^ mix(clock_() + kGolden));
}

}  // namespace quorvane
