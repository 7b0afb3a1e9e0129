// Character and item files written out byte by byte at the offsets of their
// layout, with nothing of the server's own code, for tests and benchmarks
// that lay out a data folder.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "session/bytes.h"

namespace quorvane::testing {

struct TestCharacter {
  std::int16_t level = 0;
  std::uint8_t cls = 0;
  std::int32_t stat1a = 0, stat1b = 0, stat2a = 0, stat2b = 0, stat3a = 0, stat3b = 0;
  std::int32_t stat4a = 0, stat4b = 0, stat11a = 0, stat11b = 0, stat12a = 0, stat12b = 0;
  std::int16_t stat6 = 0;
  std::int32_t stat7 = 0, stat8 = 0, stat9 = 0, stat10 = 0;
  std::int16_t posX = 0, posY = 0;
};

struct TestItem {
  std::uint8_t kind = 0;
  std::uint8_t index = 0;
  std::int16_t word1 = 0;
  std::int16_t word2 = 0;
  std::int16_t count = 0;
};

// `width` bytes of `value`, least significant first, two's complement.
inline Bytes LittleEndian(std::int64_t value, int width) {
  Bytes bytes;
  for (int i = 0; i < width; ++i) bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
  return bytes;
}

inline void Put(Bytes& bytes, std::size_t offset, std::int64_t value, int width) {
  const Bytes field = LittleEndian(value, width);
  std::copy(field.begin(), field.end(), bytes.begin() + static_cast<std::ptrdiff_t>(offset));
}

// A 116-byte character file; the Name text at offset 0 stays zero.
inline Bytes CharacterFile(const TestCharacter& c) {
  Bytes file(116, 0x00);
  Put(file, 18, c.level, 2);
  Put(file, 20, c.cls, 1);
  Put(file, 23, c.stat1a, 4);
  Put(file, 27, c.stat1b, 4);
  Put(file, 31, c.stat2a, 4);
  Put(file, 35, c.stat2b, 4);
  Put(file, 39, c.stat3a, 4);
  Put(file, 43, c.stat3b, 4);
  Put(file, 47, c.stat12b, 4);
  Put(file, 51, c.stat12a, 4);
  Put(file, 55, c.stat4b, 4);
  Put(file, 59, c.stat4a, 4);
  Put(file, 63, c.stat11b, 4);
  Put(file, 67, c.stat11a, 4);
  Put(file, 71, c.stat6, 2);
  Put(file, 73, c.stat7, 4);
  Put(file, 77, c.stat8, 4);
  Put(file, 81, c.stat9, 4);
  Put(file, 85, c.stat10, 4);
  Put(file, 89, c.posX, 2);
  Put(file, 91, c.posY, 2);
  return file;
}

inline Bytes ItemFile(const std::vector<TestItem>& items) {
  Bytes file;
  for (const TestItem& item : items) {
    file.push_back(item.kind);
    file.push_back(item.index);
    for (const std::int16_t word : {item.word1, item.word2, item.count}) {
      const Bytes packed = LittleEndian(word, 2);
      file.insert(file.end(), packed.begin(), packed.end());
    }
  }
  return file;
}

}  // namespace quorvane::testing
