#include "session/player_announcement.h"

#include <array>
#include <cstdint>

#include "session/wire_fields.h"

namespace quorvane {

Bytes PlayerAnnouncement(ByteView nameField, const CharacterRecord& character) {
  Bytes announcement(nameField.begin(), nameField.end());
  Append(announcement, PackInt(character.PosX));
  Append(announcement, PackInt(character.PosY));
  Append(announcement, std::to_array<std::uint8_t>({0x00, 0x00, 0x00}));
  return announcement;
}

}  // namespace quorvane
