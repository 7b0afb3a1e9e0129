// An item file: up to 16 records of 8 bytes, little-endian, named after the
// character like its character file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "session/bytes.h"
#include "session/data_files.h"
#include "session/diagnostics.h"

namespace quorvane {

struct ItemRecord {
  std::uint8_t Kind = 0;
  std::uint8_t Index = 0;
  std::int16_t Word1 = 0;
  std::int16_t Word2 = 0;
  std::int16_t Count = 0;  // 0 or less: an empty entry

  friend bool operator==(const ItemRecord&, const ItemRecord&) = default;
};

inline constexpr std::size_t kItemRecordSize = 8;
// Records past this number are never read.
inline constexpr std::size_t kItemRecordsRead = 16;

// Decodes the first 8 bytes of `bytes`, which must hold at least that many.
ItemRecord DecodeItemRecord(ByteView bytes);
// The whole records among the first 16 of the item file `name` in `data` (a
// record cut off by the end of the file is not one), or nothing when there is
// no such readable file (see DataFolder::Read; an unreadable file goes to
// `diagnostics`).
std::optional<std::vector<ItemRecord>> LoadItems(DataFolder& data, std::string_view name,
                                                 const Diagnostics& diagnostics = {});

}  // namespace quorvane
