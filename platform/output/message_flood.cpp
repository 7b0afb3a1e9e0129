#include "platform/output/message_flood.h"

#include <algorithm>

namespace quorvane {

bool MessageFlood::Admit(const std::string& source, TimePoint now) {
  auto [at, fresh] = sources_.try_emplace(source, Interval{now});
  Interval& interval = at->second;
  if (!fresh && now - interval.start >= kInterval) interval = Interval{now};
  if (interval.written < kLinesPerInterval) {
    ++interval.written;
    return true;
  }
  ++interval.held;
  return false;
}

std::vector<MessageFlood::Held> MessageFlood::TakeEnded(TimePoint now) {
  std::vector<Held> ended;
  for (auto at = sources_.begin(); at != sources_.end();) {
    if (now - at->second.start < kInterval) {
      ++at;
      continue;
    }
    if (at->second.held > 0) ended.push_back({at->first, at->second.held});
    at = sources_.erase(at);
  }
  std::sort(ended.begin(), ended.end(),
            [](const Held& a, const Held& b) { return a.source < b.source; });
  return ended;
}

bool MessageFlood::Holding() const {
  return std::any_of(sources_.begin(), sources_.end(),
                     [](const auto& source) { return source.second.held > 0; });
}

}  // namespace quorvane
