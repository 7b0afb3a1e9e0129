// A character file with any content: the loader reads the fields at their
// offsets (zero past a short file's end) and the login that uses them sends
// the packets it should, with the record's position in them.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_check.h"
#include "fuzz_login.h"
#include "memory_data_folder.h"
#include "session/character_record.h"

namespace {

using quorvane::fuzz::Require;

// The file's bytes as the record sees them: zero past the end.
class FileBytes {
 public:
  FileBytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t At(std::size_t offset) const { return offset < size_ ? data_[offset] : 0; }
  std::uint32_t Little(std::size_t offset, std::size_t width) const {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < width; ++i) value |= std::uint32_t{At(offset + i)} << (8 * i);
    return value;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
};

void CheckRecord(const quorvane::CharacterRecord& record, const FileBytes& file) {
  for (std::size_t i = 0; i < record.Name.size(); ++i) {
    Require(record.Name[i] == file.At(i), "Name is bytes 0 to 17");
  }
  Require(record.Level == static_cast<std::int16_t>(file.Little(18, 2)), "Level at 18");
  Require(record.Class == file.At(20), "Class at 20");
  Require(record.Stat1A == static_cast<std::int32_t>(file.Little(23, 4)), "Stat1A at 23");
  Require(record.Stat12B == static_cast<std::int32_t>(file.Little(47, 4)), "Stat12B at 47");
  Require(record.Stat6 == static_cast<std::int16_t>(file.Little(71, 2)), "Stat6 at 71");
  Require(record.Stat10 == static_cast<std::int32_t>(file.Little(85, 4)), "Stat10 at 85");
  Require(record.PosX == static_cast<std::int16_t>(file.Little(89, 2)), "PosX at 89");
  Require(record.PosY == static_cast<std::int16_t>(file.Little(91, 2)), "PosY at 91");
}

// Opcodes of the login, in order, for a record with these fields. X + 1 of
// the second position packet does not fit 16 bits at 32767: the login ends
// there.
std::vector<std::int16_t> ExpectedOpcodes(const FileBytes& file) {
  std::vector<std::int16_t> opcodes{243, 1015, 209};
  opcodes.insert(opcodes.end(), 13, 261);
  opcodes.push_back(221);
  if (file.Little(89, 2) == 0x7FFF) return opcodes;
  opcodes.push_back(221);
  if (file.At(20) == 0) {
    opcodes.insert(opcodes.end(), 2, 251);
    const auto level = static_cast<std::int16_t>(file.Little(18, 2));
    for (const int above : {9, 49, 99, 199, 299, 399, 499, 599}) {
      if (level > above) opcodes.push_back(251);
    }
  }
  opcodes.insert(opcodes.end(), 4, 223);
  opcodes.insert(opcodes.end(), {1013, 1013, 303});
  return opcodes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static quorvane::testing::MemoryDataFolder folder;
  folder.WriteCharacter(quorvane::fuzz::kFuzzName, quorvane::Bytes(data, data + size));
  const FileBytes file(data, size);

  const auto record = quorvane::LoadCharacter(folder, quorvane::fuzz::kFuzzName);
  Require(record.has_value(), "an existing character file loads");
  CheckRecord(*record, file);

  const auto packets = quorvane::fuzz::LogInAsFuzz(folder);
  const auto expected = ExpectedOpcodes(file);
  Require(packets.size() == expected.size(), "the login sends its packets");
  for (std::size_t i = 0; i < packets.size(); ++i) {
    Require(packets[i].opcode == expected[i], "the login's packets come in order");
  }
  const quorvane::Bytes place{file.At(89), file.At(90), file.At(91), file.At(92), 0x00, 0x00, 0x02};
  Require(packets[2].payload == place, "209 carries the record's position");
  return 0;
}
