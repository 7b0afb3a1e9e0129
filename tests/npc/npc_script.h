// Scripted NPC lives: the draws that spawn an NPC or make it step.
#pragma once

#include "npc_bytes.h"
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

}  // namespace quorvane::testing
