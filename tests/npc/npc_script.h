// Scripted NPC lives: the draws that spawn an NPC or make it step, and the
// announcement bytes written out from the payload layout.
#pragma once

#include <cstdint>
#include <string>

#include "bytes.h"
#include "npc_host.h"
#include "scripted_generator.h"

namespace quorvane::testing {

struct Step {
  int dx;
  int dy;
};

// The four draws of one step: X sign, X size, Y sign, Y size.
inline void QueueStep(ScriptedGenerator& generator, Step step) {
  const auto axis = [&](int delta) {
    const float sign = UnitFor(delta < 0 ? 1 : 0, 2);
    const float size = UnitFor(delta == 0 ? 0 : 1, 2);
    generator.Queue({sign, size});
  };
  axis(step.dx);
  axis(step.dy);
}

inline void QueueSpawn(ScriptedGenerator& generator, int x, int y, int dir) {
  generator.Queue({UnitFor(x - 10, 91), UnitFor(y - 10, 91), UnitFor(dir - 1, 9)});
}

// The handshake draws the server seed from the same generator.
inline void ConnectScripted(NpcHost& host, ScriptedGenerator& generator) {
  generator.Queue({0.5f});
  host.ConnectPlayer();
  EXPECT_TRUE(generator.Exhausted());
  generator.ClearCalls();
}

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
