// The packets that show the server's own characters to the players, built
// once here for the spawner, the mover and the world shown to a newcomer.
// Bytes 0 to 45 stand where a player's name block stands, 46 to 49 hold the
// position, 50 to 52 the flags that mark a server character.
#pragma once

#include <cstdint>

#include "session/bytes.h"

namespace quorvane {

struct NpcRecord;

// 205, 53 bytes: the NPC where it stands, facing its Dir.
Bytes NpcAppearance(const NpcRecord& npc);
// 203, 54 bytes: the NPC as it stands before its step, then the new facing.
Bytes NpcStep(const NpcRecord& before, std::int16_t newDir);

}  // namespace quorvane
