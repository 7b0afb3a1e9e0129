// SendSpells: a fixed spell list; class 0 characters get the two base entries
// and one more entry per level threshold they pass.
#include <cstdint>

#include "session/opcodes.h"
#include "session/server_socket.h"

namespace quorvane {
namespace {

struct SpellEntry {
  std::int16_t levelAbove;  // sent when Level > levelAbove
  std::uint8_t payload[4];
};

constexpr std::uint8_t kBaseEntries[][4] = {{0x01, 0x00, 0x01, 0x00}, {0x02, 0x00, 0x5B, 0x00}};

// Rising thresholds, so the entries sent always form a run from the first.
constexpr SpellEntry kLevelEntries[] = {
    {9, {0x01, 0x01, 0x02, 0x00}},   {49, {0x01, 0x02, 0x03, 0x00}},
    {99, {0x01, 0x03, 0x04, 0x00}},  {199, {0x01, 0x04, 0x05, 0x00}},
    {299, {0x01, 0x05, 0x06, 0x00}}, {399, {0x01, 0x06, 0x0A, 0x00}},
    {499, {0x01, 0x07, 0x2D, 0x01}}, {599, {0x01, 0x08, 0x30, 0x01}},
};

}  // namespace

void ServerSocket::SendSpells() {
  if (!Ready() || CharacterRecord.Class != 0) return;
  for (const auto& entry : kBaseEntries) SendSealed(opcode::kSpell, entry);
  for (const auto& entry : kLevelEntries) {
    if (CharacterRecord.Level > entry.levelAbove) SendSealed(opcode::kSpell, entry.payload);
  }
}

}  // namespace quorvane
