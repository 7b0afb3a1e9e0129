// Character and item files as the server reads them.
#pragma once

#include <vector>

#include "session/bytes.h"
#include "session/character_record.h"
#include "session/item_record.h"

namespace quorvane::data {

// The 93 record bytes in a 116-byte slot, the rest zero.
Bytes EncodeCharacterRecord(const CharacterRecord& record);
// One 8-byte record after the other, nothing else.
Bytes EncodeItemRecords(const std::vector<ItemRecord>& records);

}  // namespace quorvane::data
