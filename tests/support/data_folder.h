// A data folder of its own for each test: characters/ and items/ under a
// fresh temporary folder, removed afterwards.
#pragma once

#include <filesystem>
#include <string>

#include "scratch_folder.h"
#include "session/bytes.h"

namespace quorvane::testing {

class DataFolder : public ScratchFolder {
 public:
  DataFolder() {
    std::filesystem::create_directory(root() / "characters");
    std::filesystem::create_directory(root() / "items");
  }

  void WriteCharacter(const std::string& name, const Bytes& bytes) const {
    Write(std::filesystem::path("characters") / name, bytes);
  }
  void WriteItems(const std::string& name, const Bytes& bytes) const {
    Write(std::filesystem::path("items") / name, bytes);
  }
};

}  // namespace quorvane::testing
