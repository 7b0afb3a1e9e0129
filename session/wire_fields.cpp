#include "session/wire_fields.h"

namespace quorvane {

std::array<std::uint8_t, 2> PackInt(std::int16_t value) {
  const auto bits = static_cast<std::uint16_t>(value);
  return {static_cast<std::uint8_t>(bits), static_cast<std::uint8_t>(bits >> 8)};
}

std::array<std::uint8_t, 4> PackLong(std::int32_t value) {
  const auto bits = static_cast<std::uint32_t>(value);
  return {static_cast<std::uint8_t>(bits), static_cast<std::uint8_t>(bits >> 8),
          static_cast<std::uint8_t>(bits >> 16), static_cast<std::uint8_t>(bits >> 24)};
}

}  // namespace quorvane
