// A temporary data folder holding the benchmark's characters: class 0 and
// level 600, which earns every spell, with an item file of 16 full records,
// two alike, since one character is played by one player at a time; and the
// repository's sample character Mirelle, copied as it ships.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace quorvane::bench {

inline constexpr char kCharacterName[] = "Benchmarker";
// The other player's character in the relay measurements.
inline constexpr char kPartnerName[] = "Benchpartner";
inline constexpr std::uint8_t kCharacterX = 120;
inline constexpr std::uint8_t kCharacterY = 80;

// A character of the folder and what its login must answer, known from how
// its files were made rather than from the server: the spell packets its
// class and level earn and the item packets of its file's records with a
// count above 0.
struct BenchCharacter {
  const char* name;
  std::size_t spells;
  std::size_t fileItems;
};

// Level 600 earns all ten spells; all 16 records hold items.
inline constexpr BenchCharacter kCaster{kCharacterName, 10, 16};
inline constexpr BenchCharacter kPartner{kPartnerName, 10, 16};
// data/make-sample-data.sh: a class 0 caster of level 250 earns the two base
// spells and the four of levels above 9, 49, 99 and 199; of her four item
// records the third has count 0.
inline constexpr BenchCharacter kSample{"Mirelle", 6, 3};

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
