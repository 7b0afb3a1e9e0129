#include "session/welcome_line.h"

#include <algorithm>

namespace quorvane {

namespace {
constexpr std::uint8_t kWelcomeLineType = 0x04;
constexpr std::uint8_t kLineFeed = 0x0A;
}  // namespace

std::optional<Bytes> WelcomeLine(std::string_view sender, std::string_view text) {
  if (sender.size() > kLongestWelcomeSender || text.size() > kLongestWelcomeText ||
      sender.find(static_cast<char>(kLineFeed)) != std::string_view::npos) {
    return std::nullopt;
  }
  Bytes line{0x00, kWelcomeLineType};
  line.insert(line.end(), sender.begin(), sender.end());
  line.push_back(kLineFeed);
  line.insert(line.end(), text.begin(), text.end());
  return line;
}

Bytes LineLike(ByteView welcomeLine, std::string_view text) {
  const auto feed = std::find(welcomeLine.begin(), welcomeLine.end(), kLineFeed);
  Bytes line(welcomeLine.begin(), feed);
  line.push_back(kLineFeed);
  line.insert(line.end(), text.begin(), text.end());
  return line;
}

}  // namespace quorvane
