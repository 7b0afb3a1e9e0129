// A data folder held in memory, for tests of what the session and the host
// do with its files: the lookup rules of the real folders, and files that
// exist but cannot be read. Link against quorvane_session.
#pragma once

#include <algorithm>
#include <array>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "session/data_file_names.h"
#include "session/data_files.h"

namespace quorvane::testing {

class MemoryDataFolder final : public quorvane::DataFolder {
 public:
  void Write(DataKind kind, const std::string& name, const Bytes& bytes) {
    Folder& folder = FolderOf(kind);
    folder.files.insert_or_assign(name, File{bytes, {}});
    folder.index.Add(name);
  }
  void WriteCharacter(const std::string& name, const Bytes& bytes) {
    Write(DataKind::kCharacter, name, bytes);
  }
  void WriteItems(const std::string& name, const Bytes& bytes) {
    Write(DataKind::kItems, name, bytes);
  }
  // A file that exists and fails each read with `reason`.
  void WriteUnreadable(DataKind kind, const std::string& name, const std::string& reason) {
    Folder& folder = FolderOf(kind);
    folder.files.insert_or_assign(name, File{{}, reason});
    folder.index.Add(name);
  }
  void Remove(DataKind kind, const std::string& name) {
    Folder& folder = FolderOf(kind);
    folder.files.erase(name);
    folder.index.Remove(name);
  }

  // Reports name the file as "<folder>/<name>".
  std::optional<ByteView> Read(DataKind kind, std::string_view name,
                               const Diagnostics& diagnostics) override {
    const auto key = DataFileKey(name);
    if (!key) return std::nullopt;
    Folder& folder = FolderOf(kind);
    const auto found = folder.index.Find(*key);
    if (!found) return std::nullopt;
    const File& file = folder.files.at(std::string(*found));
    if (!file.failure.empty()) {
      Report(diagnostics,
             DataFileReport(kind, std::string(DataFolderName(kind)) + "/" + std::string(*found),
                            file.failure));
      return std::nullopt;
    }
    const ByteView bytes(file.bytes);
    return bytes.first(std::min(bytes.size(), DataFileReadLimit(kind)));
  }

  std::optional<std::string> Find(DataKind kind, std::string_view name) override {
    const auto key = DataFileKey(name);
    if (!key) return std::nullopt;
    const auto found = FolderOf(kind).index.Find(*key);
    if (!found) return std::nullopt;
    return std::string(*found);
  }

 private:
  struct File {
    Bytes bytes;
    std::string failure;  // not empty: the file cannot be read
  };
  struct Folder {
    std::map<std::string, File> files;
    DataFileIndex index;
  };

  Folder& FolderOf(DataKind kind) { return folders_[kind == DataKind::kCharacter ? 0 : 1]; }

  std::array<Folder, 2> folders_;
};

}  // namespace quorvane::testing
