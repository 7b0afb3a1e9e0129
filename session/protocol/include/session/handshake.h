// The fixed bytes of the seed handshake, the same for both ends. Each message
// is its prefix and 4 shuffled seed bytes, escaped on the wire.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace quorvane {

inline constexpr std::array<std::uint8_t, 6> kHelloPrefix{0x07, 0x08, 0x00, 0x07, 0x01, 0x01};
inline constexpr std::array<std::uint8_t, 6> kReplyPrefix{0x07, 0x08, 0x01, 0x00, 0x00, 0x01};
inline constexpr std::size_t kHelloSize = 10;
inline constexpr std::size_t kReplySize = 10;

}  // namespace quorvane
