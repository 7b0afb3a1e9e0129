// The bound on lines one source may write per interval: the first few of an
// interval go out, the rest are counted, and when the interval is over the
// count is told in one line. A library that warns for every request of a
// flood costs a few lines a second, not one line per request.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace quorvane {

class MessageFlood {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  struct Held {
    std::string source;
    std::uint64_t count = 0;
  };

  static constexpr std::chrono::seconds kInterval{1};
  static constexpr std::size_t kLinesPerInterval = 5;

  // Whether a line of `source` at `now` is to be written; when not, it is
  // counted. Call TakeEnded(now) first: the count of an interval that has
  // ended is otherwise lost.
  bool Admit(const std::string& source, TimePoint now);
  // The counts of every source whose interval has ended by `now`, removed.
  std::vector<Held> TakeEnded(TimePoint now);
  // Whether any line is being counted, to be told at the interval's end.
  bool Holding() const;

 private:
  struct Interval {
    TimePoint start;
    std::size_t written = 0;
    std::uint64_t held = 0;
  };

  std::unordered_map<std::string, Interval> sources_;
};

}  // namespace quorvane
