#include "bench_data.h"

#include <stdlib.h>

#include <fstream>
#include <stdexcept>
#include <vector>

#include "sample_files.h"

namespace quorvane::bench {
namespace {

constexpr int kItemRecords = 16;

void WriteFile(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  if (!file) throw std::runtime_error("cannot write " + path.string());
}

// The sample as the repository ships it, so that its login is the reply a
// fresh install answers.
void CopySample(const std::filesystem::path& root, const char* name) {
  const std::filesystem::path sample(QUORVANE_SAMPLE_DATA);
  for (const char* folder : {"characters", "items"}) {
    std::filesystem::copy_file(sample / folder / name, root / folder / name);
  }
}

}  // namespace

BenchData::BenchData() {
  std::string pattern = (std::filesystem::temp_directory_path() / "quorvane-bench-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  root_ = pattern;
  std::filesystem::create_directory(root_ / "characters");
  std::filesystem::create_directory(root_ / "items");

  const testing::TestCharacter character{.level = 600,
                                         .cls = 0,
                                         .stat1a = 5200,
                                         .stat1b = 5200,
                                         .stat2a = 3100,
                                         .stat2b = 3100,
                                         .stat7 = 98000,
                                         .posX = kCharacterX,
                                         .posY = kCharacterY};
  for (const char* name : {kCharacterName, kPartnerName}) {
    WriteFile(root_ / "characters" / name, testing::CharacterFile(character));
  }

  std::vector<testing::TestItem> items;
  for (int record = 0; record < kItemRecords; ++record) {
    items.push_back({.kind = static_cast<std::uint8_t>(1 + record % 5),
                     .index = static_cast<std::uint8_t>(record),
                     .word1 = static_cast<std::int16_t>(10 + record),
                     .word2 = static_cast<std::int16_t>(200 + record),
                     .count = static_cast<std::int16_t>(1 + record)});
  }
  for (const char* name : {kCharacterName, kPartnerName}) {
    WriteFile(root_ / "items" / name, testing::ItemFile(items));
  }
  CopySample(root_, kSample.name);
}

BenchData::~BenchData() {
  std::error_code ignored;
  std::filesystem::remove_all(root_, ignored);
}

}  // namespace quorvane::bench
