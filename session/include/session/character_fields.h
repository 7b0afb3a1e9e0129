// The layout of a character record, defined once for the server's reader and
// the operators' data tool: the name's 18 bytes of text, then 23 numeric
// fields back to back, each little-endian at its own width, with its name, the
// range its type holds and the range the server sends as intended.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "session/character_record.h"

namespace quorvane {

struct CharacterField {
  std::string_view name;  // as in CharacterRecord
  std::size_t width;      // bytes in the file
  std::int64_t min;       // the type's range
  std::int64_t max;
  std::int64_t sendMin;  // values outside this range reach the client wrong
  std::int64_t sendMax;
  std::int64_t (*get)(const CharacterRecord&);
  // Takes the value modulo 2^(8 * width), as a field of that width read back.
  void (*set)(CharacterRecord&, std::int64_t);
};

// Every numeric field, in file order; the name precedes them.
std::span<const CharacterField> NumericCharacterFields();

}  // namespace quorvane
