#include "session/item_record.h"

#include <cassert>

namespace quorvane {
namespace {

std::int16_t Int16At(ByteView bytes, std::size_t offset) {
  return static_cast<std::int16_t>(bytes[offset] | bytes[offset + 1] << 8);
}

}  // namespace

ItemRecord DecodeItemRecord(ByteView bytes) {
  assert(bytes.size() >= kItemRecordSize);
  return ItemRecord{.Kind = bytes[0],
                    .Index = bytes[1],
                    .Word1 = Int16At(bytes, 2),
                    .Word2 = Int16At(bytes, 4),
                    .Count = Int16At(bytes, 6)};
}

std::optional<std::vector<ItemRecord>> LoadItems(DataFolder& data, std::string_view name,
                                                 const Diagnostics& diagnostics) {
  // An unreadable file counts as no item file.
  const auto bytes = data.Read(DataKind::kItems, name, diagnostics);
  if (!bytes) return std::nullopt;

  std::vector<ItemRecord> records;
  records.reserve(bytes->size() / kItemRecordSize);
  for (std::size_t offset = 0; offset + kItemRecordSize <= bytes->size();
       offset += kItemRecordSize) {
    records.push_back(DecodeItemRecord(bytes->subspan(offset, kItemRecordSize)));
  }
  return records;
}

}  // namespace quorvane
