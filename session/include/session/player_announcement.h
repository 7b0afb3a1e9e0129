// The 205 that shows a player's character to the other player: built once
// here, for the login's own announcement and for the host, which shows the
// players already on the map to a newcomer.
#pragma once

#include "session/bytes.h"
#include "session/character_record.h"

namespace quorvane {

// The 46-byte name block as stored at login, X and Y of the character, 00 00 00.
Bytes PlayerAnnouncement(ByteView nameField, const CharacterRecord& character);

}  // namespace quorvane
