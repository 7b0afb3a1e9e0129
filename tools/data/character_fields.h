// The 24 fields of a character record, in file order, with their names, the
// range their type holds and the range the server sends as intended.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "character_record.h"

namespace quorvane::data {

struct CharacterField {
  std::string_view name;  // as in the record; the option is its lower case
  std::size_t width;      // bytes in the file
  std::int64_t min;       // the type's range
  std::int64_t max;
  std::int64_t sendMin;  // values outside this range reach the client wrong
  std::int64_t sendMax;
  std::int64_t (*get)(const CharacterRecord&);
  void (*set)(CharacterRecord&, std::int64_t);
};

// Every numeric field, in file order; `Name` (18 bytes of text) precedes them.
std::span<const CharacterField> NumericCharacterFields();

inline constexpr std::size_t kNameWidth = 18;

}  // namespace quorvane::data
