// A temporary data folder holding the benchmark's characters: class 0 and
// level 600, which earns every spell, with an item file of 16 full records.
// Two alike, since one character is played by one player at a time.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace quorvane::bench {

inline constexpr char kCharacterName[] = "Benchmarker";
// The other player's character in the relay measurements.
inline constexpr char kPartnerName[] = "Benchpartner";
inline constexpr std::uint8_t kCharacterX = 120;
inline constexpr std::uint8_t kCharacterY = 80;

class BenchData {
 public:
  BenchData();
  BenchData(const BenchData&) = delete;
  BenchData& operator=(const BenchData&) = delete;
  ~BenchData();

  const std::filesystem::path& root() const { return root_; }

 private:
  std::filesystem::path root_;
};

}  // namespace quorvane::bench
