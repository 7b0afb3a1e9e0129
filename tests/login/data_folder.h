// A data folder of its own for each test: characters/ and items/ under a
// fresh temporary folder, removed afterwards.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "bytes.h"

namespace quorvane::testing {

class DataFolder {
 public:
  DataFolder() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "quorvane-login-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    root_ = pattern;
    std::filesystem::create_directory(root_ / "characters");
    std::filesystem::create_directory(root_ / "items");
  }
  ~DataFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
  DataFolder(const DataFolder&) = delete;
  DataFolder& operator=(const DataFolder&) = delete;

  const std::filesystem::path& root() const { return root_; }

  void WriteCharacter(const std::string& name, const Bytes& bytes) const {
    Write(root_ / "characters" / name, bytes);
  }
  void WriteItems(const std::string& name, const Bytes& bytes) const {
    Write(root_ / "items" / name, bytes);
  }

  static void Write(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    if (!file) throw std::runtime_error("cannot write " + path.string());
  }

 private:
  std::filesystem::path root_;
};

}  // namespace quorvane::testing
