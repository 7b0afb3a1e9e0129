// A generator whose draws the test chooses; it records every reseed and draw
// so tests can check the order of the calls too.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <initializer_list>
#include <string>

#include "session/generator.h"

namespace quorvane::testing {

class ScriptedGenerator : public Generator {
 public:
  ScriptedGenerator() : Generator(0, [] { return std::uint64_t{0}; }) {}

  void Queue(std::initializer_list<float> units) { units_.insert(units_.end(), units); }
  bool Exhausted() const { return units_.empty(); }
  // One letter per call: R for a reseed, D for a draw.
  const std::string& Calls() const { return calls_; }
  void ClearCalls() { calls_.clear(); }

  float NextUnit() override {
    calls_ += 'D';
    if (units_.empty()) {
      ADD_FAILURE() << "a draw nobody scripted";
      return 0.0f;
    }
    const float unit = units_.front();
    units_.pop_front();
    return unit;
  }
  void ReseedFromClock() override { calls_ += 'R'; }

 private:
  std::deque<float> units_;
  std::string calls_;
};

// The unit that Rand(low, low + span - 1) turns into low + offset: the middle
// of that value's share of [0, 1).
inline float UnitFor(int offset, int span) {
  return (static_cast<float>(offset) + 0.5f) / static_cast<float>(span);
}

}  // namespace quorvane::testing
