// A character as stored in its file: 24 fields packed into the first 93 bytes
// of a 116-byte record, little-endian.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "session/bytes.h"
#include "session/data_files.h"
#include "session/diagnostics.h"

namespace quorvane {

inline constexpr std::size_t kCharacterNameWidth = 18;

struct CharacterRecord {
  std::array<std::uint8_t, kCharacterNameWidth> Name{};  // code-page text, never interpreted
  std::int16_t Level = 0;
  std::uint8_t Class = 0;
  std::uint8_t Extra1 = 0;
  std::uint8_t Extra2 = 0;
  std::int32_t Stat1A = 0;
  std::int32_t Stat1B = 0;
  std::int32_t Stat2A = 0;
  std::int32_t Stat2B = 0;
  std::int32_t Stat3A = 0;
  std::int32_t Stat3B = 0;
  std::int32_t Stat12B = 0;
  std::int32_t Stat12A = 0;
  std::int32_t Stat4B = 0;
  std::int32_t Stat4A = 0;
  std::int32_t Stat11B = 0;
  std::int32_t Stat11A = 0;
  std::int16_t Stat6 = 0;
  std::int32_t Stat7 = 0;
  std::int32_t Stat8 = 0;
  std::int32_t Stat9 = 0;
  std::int32_t Stat10 = 0;
  std::int16_t PosX = 0;
  std::int16_t PosY = 0;

  friend bool operator==(const CharacterRecord&, const CharacterRecord&) = default;
};

inline constexpr std::size_t kCharacterRecordSize = 93;
inline constexpr std::size_t kCharacterSlotSize = 116;

// Decodes the first 93 bytes of `bytes` field by field (character_fields.h);
// bytes missing at the end read as zero.
CharacterRecord DecodeCharacterRecord(ByteView bytes);
// The record of the character file `name` in `data`, or nothing when there is
// no such readable file (see DataFolder::Read; an unreadable file goes to
// `diagnostics`).
std::optional<CharacterRecord> LoadCharacter(DataFolder& data, std::string_view name,
                                             const Diagnostics& diagnostics = {});

}  // namespace quorvane
