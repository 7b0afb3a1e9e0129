#include "record_encoding.h"

#include <cstdint>

#include "session/character_fields.h"

namespace quorvane::data {
namespace {

void AppendLittleEndian(Bytes& bytes, std::int64_t value, std::size_t width) {
  const auto bits = static_cast<std::uint64_t>(value);
  for (std::size_t i = 0; i < width; ++i) bytes.push_back(static_cast<std::uint8_t>(bits >> 8 * i));
}

}  // namespace

Bytes EncodeCharacterRecord(const CharacterRecord& record) {
  Bytes bytes(record.Name.begin(), record.Name.end());
  for (const auto& field : NumericCharacterFields()) {
    AppendLittleEndian(bytes, field.get(record), field.width);
  }
  bytes.resize(kCharacterSlotSize, 0x00);
  return bytes;
}

Bytes EncodeItemRecords(const std::vector<ItemRecord>& records) {
  Bytes bytes;
  for (const auto& item : records) {
    bytes.push_back(item.Kind);
    bytes.push_back(item.Index);
    AppendLittleEndian(bytes, item.Word1, 2);
    AppendLittleEndian(bytes, item.Word2, 2);
    AppendLittleEndian(bytes, item.Count, 2);
  }
  return bytes;
}

}  // namespace quorvane::data
