#include "session/character_record.h"

#include <algorithm>
#include <cstdint>

#include "session/character_fields.h"

namespace quorvane {

CharacterRecord DecodeCharacterRecord(ByteView bytes) {
  std::array<std::uint8_t, kCharacterRecordSize> record{};
  std::copy_n(bytes.begin(), std::min(bytes.size(), record.size()), record.begin());

  CharacterRecord c;
  std::copy_n(record.begin(), kCharacterNameWidth, c.Name.begin());
  std::size_t offset = kCharacterNameWidth;
  for (const CharacterField& field : NumericCharacterFields()) {
    std::uint64_t bits = 0;
    for (std::size_t i = 0; i < field.width; ++i) {
      bits |= static_cast<std::uint64_t>(record[offset + i]) << (8 * i);
    }
    field.set(c, static_cast<std::int64_t>(bits));
    offset += field.width;
  }
  return c;
}

std::optional<CharacterRecord> LoadCharacter(DataFolder& data, std::string_view name,
                                             const Diagnostics& diagnostics) {
  const auto bytes = data.Read(DataKind::kCharacter, name, diagnostics);
  if (!bytes) return std::nullopt;
  return DecodeCharacterRecord(*bytes);
}

}  // namespace quorvane
