// A data folder (characters/ and items/) under a fresh temporary folder,
// made once per fuzzer process and removed when the process ends normally.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <span>
#include <stdexcept>
#include <string>

namespace quorvane::fuzz {

class TempDataFolder {
 public:
  TempDataFolder() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "quorvane-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    root_ = pattern;
    std::filesystem::create_directory(root_ / "characters");
    std::filesystem::create_directory(root_ / "items");
  }
  ~TempDataFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
  TempDataFolder(const TempDataFolder&) = delete;
  TempDataFolder& operator=(const TempDataFolder&) = delete;

  const std::filesystem::path& root() const { return root_; }

  void Write(const std::filesystem::path& relative, std::span<const std::uint8_t> bytes) const {
    std::ofstream file(root_ / relative, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    if (!file) throw std::runtime_error("cannot write " + (root_ / relative).string());
  }

 private:
  std::filesystem::path root_;
};

}  // namespace quorvane::fuzz
