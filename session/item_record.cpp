#include "item_record.h"

#include <cassert>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>

#include "data_files.h"

namespace quorvane {
namespace {

std::int16_t Int16At(ByteView bytes, std::size_t offset) {
  return static_cast<std::int16_t>(bytes[offset] | bytes[offset + 1] << 8);
}

constexpr std::size_t kFileNameOffset = 1;
constexpr std::size_t kFileNameSize = 16;

}  // namespace

std::string CharacterFileName(ByteView nameField) {
  std::string name;
  for (const std::uint8_t byte : nameField.subspan(kFileNameOffset, kFileNameSize)) {
    if (byte != 0x00) name.push_back(static_cast<char>(byte));
  }
  return name;
}

ItemRecord DecodeItemRecord(ByteView bytes) {
  assert(bytes.size() >= kItemRecordSize);
  return ItemRecord{.Kind = bytes[0],
                    .Index = bytes[1],
                    .Word1 = Int16At(bytes, 2),
                    .Word2 = Int16At(bytes, 4),
                    .Count = Int16At(bytes, 6)};
}

std::optional<std::vector<ItemRecord>> LoadItems(const std::filesystem::path& dataDir,
                                                 std::string_view name) {
  const auto path = FindDataFile(dataDir / "items", name);
  if (!path) return std::nullopt;
  std::ifstream file(*path, std::ios::binary);
  Bytes bytes(kItemRecordSize * kItemRecordsRead);
  if (file) {
    file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  // A short file sets eofbit and failbit; badbit, or no stream at all, means
  // the file could not be read, which counts as no item file.
  if (!file.is_open() || file.bad()) {
    std::cerr << "quorvane: cannot read item file " << *path << ": " << std::strerror(errno)
              << '\n';
    return std::nullopt;
  }
  bytes.resize(static_cast<std::size_t>(file.gcount()));

  std::vector<ItemRecord> records;
  for (std::size_t offset = 0; offset + kItemRecordSize <= bytes.size();
       offset += kItemRecordSize) {
    records.push_back(DecodeItemRecord(ByteView(bytes).subspan(offset, kItemRecordSize)));
  }
  return records;
}

}  // namespace quorvane
