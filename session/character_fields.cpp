#include "session/character_fields.h"

#include <cstddef>
#include <limits>
#include <type_traits>

namespace quorvane {
namespace {

// PackInt sends 0 to 32767 and PackLong 0 to 65535 as intended.
constexpr std::int64_t kIntSendMax = 32767;
constexpr std::int64_t kLongSendMax = 65535;
constexpr std::int64_t kNoLimit = -1;

template <auto Member>
constexpr CharacterField Field(std::string_view name, std::int64_t sendMax) {
  using Type = std::remove_cvref_t<decltype(std::declval<CharacterRecord&>().*Member)>;
  constexpr std::int64_t min = std::numeric_limits<Type>::min();
  constexpr std::int64_t max = std::numeric_limits<Type>::max();
  return CharacterField{
      .name = name,
      .width = sizeof(Type),
      .min = min,
      .max = max,
      .sendMin = sendMax == kNoLimit ? min : 0,
      .sendMax = sendMax == kNoLimit ? max : sendMax,
      .get = [](const CharacterRecord& record) -> std::int64_t { return record.*Member; },
      .set = [](CharacterRecord& record,
                std::int64_t value) { record.*Member = static_cast<Type>(value); },
  };
}

using R = CharacterRecord;

constexpr CharacterField kFields[] = {
    Field<&R::Level>("Level", kIntSendMax),
    Field<&R::Class>("Class", kNoLimit),
    Field<&R::Extra1>("Extra1", kNoLimit),
    Field<&R::Extra2>("Extra2", kNoLimit),
    Field<&R::Stat1A>("Stat1A", kLongSendMax),
    Field<&R::Stat1B>("Stat1B", kLongSendMax),
    Field<&R::Stat2A>("Stat2A", kLongSendMax),
    Field<&R::Stat2B>("Stat2B", kLongSendMax),
    Field<&R::Stat3A>("Stat3A", kLongSendMax),
    Field<&R::Stat3B>("Stat3B", kLongSendMax),
    Field<&R::Stat12B>("Stat12B", kLongSendMax),
    Field<&R::Stat12A>("Stat12A", kLongSendMax),
    Field<&R::Stat4B>("Stat4B", kLongSendMax),
    Field<&R::Stat4A>("Stat4A", kLongSendMax),
    Field<&R::Stat11B>("Stat11B", kLongSendMax),
    Field<&R::Stat11A>("Stat11A", kLongSendMax),
    Field<&R::Stat6>("Stat6", kIntSendMax),
    Field<&R::Stat7>("Stat7", kLongSendMax),
    Field<&R::Stat8>("Stat8", kLongSendMax),
    Field<&R::Stat9>("Stat9", kLongSendMax),
    Field<&R::Stat10>("Stat10", kLongSendMax),
    // The stats also send PosX + 1, which must stay a 16-bit value.
    Field<&R::PosX>("PosX", kIntSendMax - 1),
    Field<&R::PosY>("PosY", kIntSendMax),
};

constexpr std::size_t RecordSize() {
  std::size_t size = kCharacterNameWidth;
  for (const CharacterField& field : kFields) size += field.width;
  return size;
}
static_assert(RecordSize() == kCharacterRecordSize);

}  // namespace

std::span<const CharacterField> NumericCharacterFields() {
  return kFields;
}

}  // namespace quorvane
