// The server's own characters: the timer spawns two of them, then turns each
// one random step per tick and announces it to every player.
#include <algorithm>
#include <cmath>
#include <string>

#include "form1.h"
#include "opcodes.h"
#include "wire_fields.h"

namespace quorvane {
namespace {

constexpr std::size_t kSpawnPayloadSize = 53;
constexpr std::size_t kMovePayloadSize = 54;
constexpr std::size_t kNewDirOffset = 53;
// Only the first two entries of the table are ever used.
constexpr std::size_t kLiveNpcEntries = 2;
constexpr int kTicksPerSpawn = 2;

constexpr std::string_view kNamePrefix = "+Volkrin_ ";
constexpr std::size_t kNameOffset = 1;
constexpr std::size_t kNameSize = 17;

constexpr std::int16_t kMinCoordinate = 10;
constexpr std::int16_t kMaxCoordinate = 100;

// Bytes 0 to 52, the part both announcements share: where a player's packet
// carries its name block and position.
Bytes Announcement(const NpcRecord& npc, std::size_t size) {
  Bytes payload(size, 0);
  payload[0] = 0x02;
  std::copy_n(npc.Name.begin(), std::min(npc.Name.size(), kNameSize),
              payload.begin() + kNameOffset);
  payload[18] = 0x38;
  payload[24] = static_cast<std::uint8_t>(npc.Dir);
  payload[36] = 0x1E;
  payload[37] = 0x1E;
  const auto x = PackInt(npc.X);
  std::copy(x.begin(), x.end(), payload.begin() + 46);
  const auto y = PackInt(npc.Y);
  std::copy(y.begin(), y.end(), payload.begin() + 48);
  payload[50] = 0x01;
  payload[51] = 0x00;
  payload[52] = 0x01;
  return payload;
}

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

  const Bytes payload = Announcement(npc, kSpawnPayloadSize);
  Broadcast(opcode::kAppeared, payload);
}

void Form1::MoveNpcs() {
  // Each axis: a sign draw, then a size draw of 0 or 1.
  const auto axisStep = [this] {
    const std::int16_t sign = Rand(0, 1);
    const std::int16_t size = Rand(0, 1);
    return sign == 0 ? size : -size;
  };
  for (std::size_t i = 0; i < kLiveNpcEntries; ++i) {
    NpcRecord& npc = Npcs[i];
    if (npc.Name.empty()) continue;
    const int dx = axisStep();
    const int dy = axisStep();
    if (dx == 0 && dy == 0) continue;

    // Only the facing follows the step; the announced position stays where
    // the spawner put it.
    Bytes payload = Announcement(npc, kMovePayloadSize);
    npc.Dir = DirOfStep(dx, dy);
    payload[kNewDirOffset] = static_cast<std::uint8_t>(npc.Dir);
    Broadcast(opcode::kMoved, payload);
  }
}

}  // namespace quorvane
