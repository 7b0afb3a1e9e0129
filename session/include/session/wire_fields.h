// Wire field packing: numbers to little-endian bytes for packet payloads.
#pragma once

#include <array>
#include <cstdint>

namespace quorvane {

// A 16-bit field, low byte first. Any value packs: a negative one as its
// two's-complement form (-1 packs as FF FF).
std::array<std::uint8_t, 2> PackInt(std::int16_t value);
// A 32-bit field, low byte first, two's complement for negative values.
std::array<std::uint8_t, 4> PackLong(std::int32_t value);

}  // namespace quorvane
