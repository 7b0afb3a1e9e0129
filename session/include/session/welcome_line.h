// The chat line that closes every login: 00, line type 04, the sender, 0A,
// the text. Operators may word it; its shape stays that of any chat line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "session/bytes.h"

namespace quorvane {

inline constexpr std::string_view kDefaultWelcomeSender = "OrlanServer";
inline constexpr std::string_view kDefaultWelcomeText = "Welcome to Orlan RP Server";
// The sender shares its packet with a 4-byte header and the text; a line feed
// in it would end the sender early.
inline constexpr std::size_t kLongestWelcomeSender = 64;
inline constexpr std::size_t kLongestWelcomeText = 1024;

// The payload, or nothing when sender or text is too long or the sender holds
// a line feed.
std::optional<Bytes> WelcomeLine(std::string_view sender, std::string_view text);

// A chat line from the sender of `welcomeLine`, with its line type, saying
// `text` instead; the caller bounds the text.
Bytes LineLike(ByteView welcomeLine, std::string_view text);

}  // namespace quorvane
