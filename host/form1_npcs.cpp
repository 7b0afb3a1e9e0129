// The server's own characters: the timer spawns two of them, then walks each
// one random step per tick inside the spawn area and announces it to every
// player.
#include <algorithm>
#include <cmath>
#include <string>

#include "host/form1.h"
#include "npc_announcements.h"
#include "session/opcodes.h"

namespace quorvane {
namespace {

// Only the first two entries of the table are ever used.
constexpr std::size_t kLiveNpcEntries = 2;
constexpr int kTicksPerSpawn = 2;

constexpr std::string_view kNamePrefix = "+Volkrin_ ";

// The spawn area, which NPCs never leave.
constexpr std::int16_t kMinCoordinate = 10;
constexpr std::int16_t kMaxCoordinate = 100;

// The facing of a step, laid out like a numeric keypad with greater Y on the
// lower row: 7 8 9 / 4 5 6 / 1 2 3.
std::int16_t DirOfStep(int dx, int dy) {
  const int column = (dx > 0) - (dx < 0);
  const int row = (dy > 0) - (dy < 0);
  return static_cast<std::int16_t>(5 + column - 3 * row);
}

}  // namespace

std::int16_t Form1::Rand(std::int16_t Low, std::int16_t High) {
  generator_.ReseedFromClock();
  const double unit = generator_.NextUnit();
  // In int, so that no span of two 16-bit bounds can wrap; the product of a
  // 24-bit unit and a 17-bit span is exact in a double.
  const int span = High - Low + 1;
  return static_cast<std::int16_t>(static_cast<int>(std::floor(unit * span)) + Low);
}

void Form1::Timer1_Timer() {
  MoveNpcs();
  ++TimerTicks;
  if (TimerTicks == kTicksPerSpawn) {
    SpawnNpcs();
    TimerTicks = 0;
  }
}

void Form1::SpawnNpcs() {
  const auto free = std::find_if(Npcs.begin(), Npcs.begin() + kLiveNpcEntries,
                                 [](const NpcRecord& npc) { return npc.Name.empty(); });
  if (free == Npcs.begin() + kLiveNpcEntries) return;

  NpcRecord& npc = *free;
  npc.Name = std::string(kNamePrefix) + std::to_string(free - Npcs.begin());
  npc.X = Rand(kMinCoordinate, kMaxCoordinate);
  npc.Y = Rand(kMinCoordinate, kMaxCoordinate);
  npc.Dir = Rand(1, 9);
  Log("added " + npc.Name + " " + std::to_string(npc.X) + " " + std::to_string(npc.Y));

  Broadcast(opcode::kAppeared, NpcAppearance(npc));
}

void Form1::MoveNpcs() {
  // Each axis: a sign draw, then a size draw of 0 or 1. A step that would
  // leave the spawn area is no step on that axis.
  const auto axisStep = [this](std::int16_t from) {
    const std::int16_t sign = Rand(0, 1);
    const std::int16_t size = Rand(0, 1);
    const int to = from + (sign == 0 ? size : -size);
    return to < kMinCoordinate || to > kMaxCoordinate ? 0 : to - from;
  };
  for (std::size_t i = 0; i < kLiveNpcEntries; ++i) {
    NpcRecord& npc = Npcs[i];
    if (npc.Name.empty()) continue;
    const int dx = axisStep(npc.X);
    const int dy = axisStep(npc.Y);
    if (dx == 0 && dy == 0) continue;

    const std::int16_t dir = DirOfStep(dx, dy);
    const Bytes payload = NpcStep(npc, dir);
    npc.Dir = dir;
    npc.X = static_cast<std::int16_t>(npc.X + dx);
    npc.Y = static_cast<std::int16_t>(npc.Y + dy);
    Broadcast(opcode::kMoved, payload);
  }
}

}  // namespace quorvane
