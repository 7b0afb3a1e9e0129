// The NPC announcements written out from the payload layout, for tests that
// check what the players receive.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>

#include "session/bytes.h"

namespace quorvane::testing {

// The 53-byte 205 of NPC `entry` at (x, y) facing `dir`; x and y below 256.
inline Bytes NpcAppearanceBytes(char entry, int x, int y, std::uint8_t dir) {
  Bytes payload(53, 0x00);
  payload[0] = 0x02;
  const std::string name = std::string("+Volkrin_ ") + entry;
  std::copy(name.begin(), name.end(), payload.begin() + 1);
  payload[18] = 0x38;
  payload[24] = dir;
  payload[36] = 0x1E;
  payload[37] = 0x1E;
  payload[46] = static_cast<std::uint8_t>(x);
  payload[48] = static_cast<std::uint8_t>(y);
  payload[50] = 0x01;
  payload[52] = 0x01;
  return payload;
}

// The 54-byte 203 of NPC `entry` stepping from (x, y), turning from `oldDir`
// to `newDir`.
inline Bytes NpcStepBytes(char entry, int x, int y, std::uint8_t oldDir, std::uint8_t newDir) {
  Bytes payload = NpcAppearanceBytes(entry, x, y, oldDir);
  payload.push_back(newDir);
  return payload;
}

}  // namespace quorvane::testing
