#include "character_record.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <type_traits>

#include "data_files.h"

namespace quorvane {
namespace {

// Reads the fields back to back, each little-endian at its own width.
class FieldReader {
 public:
  explicit FieldReader(const std::array<std::uint8_t, kCharacterRecordSize>& bytes)
      : bytes_(bytes) {}

  template <typename T>
  T Next() {
    using Unsigned = std::make_unsigned_t<T>;
    Unsigned value = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) {
      value = static_cast<Unsigned>(value | static_cast<Unsigned>(bytes_[offset_ + i]) << (8 * i));
    }
    offset_ += sizeof(T);
    return static_cast<T>(value);
  }

  template <std::size_t N>
  std::array<std::uint8_t, N> NextBytes() {
    std::array<std::uint8_t, N> out{};
    std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(offset_), N, out.begin());
    offset_ += N;
    return out;
  }

 private:
  const std::array<std::uint8_t, kCharacterRecordSize>& bytes_;
  std::size_t offset_ = 0;
};

}  // namespace

CharacterRecord DecodeCharacterRecord(ByteView bytes) {
  std::array<std::uint8_t, kCharacterRecordSize> record{};
  std::copy_n(bytes.begin(), std::min(bytes.size(), record.size()), record.begin());
  FieldReader in(record);
  CharacterRecord c;
  c.Name = in.NextBytes<18>();
  c.Level = in.Next<std::int16_t>();
  c.Class = in.Next<std::uint8_t>();
  c.Extra1 = in.Next<std::uint8_t>();
  c.Extra2 = in.Next<std::uint8_t>();
  c.Stat1A = in.Next<std::int32_t>();
  c.Stat1B = in.Next<std::int32_t>();
  c.Stat2A = in.Next<std::int32_t>();
  c.Stat2B = in.Next<std::int32_t>();
  c.Stat3A = in.Next<std::int32_t>();
  c.Stat3B = in.Next<std::int32_t>();
  c.Stat12B = in.Next<std::int32_t>();
  c.Stat12A = in.Next<std::int32_t>();
  c.Stat4B = in.Next<std::int32_t>();
  c.Stat4A = in.Next<std::int32_t>();
  c.Stat11B = in.Next<std::int32_t>();
  c.Stat11A = in.Next<std::int32_t>();
  c.Stat6 = in.Next<std::int16_t>();
  c.Stat7 = in.Next<std::int32_t>();
  c.Stat8 = in.Next<std::int32_t>();
  c.Stat9 = in.Next<std::int32_t>();
  c.Stat10 = in.Next<std::int32_t>();
  c.PosX = in.Next<std::int16_t>();
  c.PosY = in.Next<std::int16_t>();
  return c;
}

std::optional<CharacterRecord> LoadCharacter(const std::filesystem::path& dataDir,
                                             std::string_view name) {
  const auto path = FindDataFile(dataDir / "characters", name);
  if (!path) return std::nullopt;

  std::ifstream file(*path, std::ios::binary);
  Bytes bytes(kCharacterRecordSize);
  if (file) {
    file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  // A short file sets eofbit and failbit; badbit, or no stream at all, means
  // the file could not be read.
  if (!file.is_open() || file.bad()) {
    std::cerr << "quorvane: cannot read character file " << *path << ": " << std::strerror(errno)
              << '\n';
    return std::nullopt;
  }
  bytes.resize(static_cast<std::size_t>(file.gcount()));
  return DecodeCharacterRecord(bytes);
}

}  // namespace quorvane
