// The data folder read straight from its files at each lookup. An exact name
// costs one open, one fstat and one read; the case-insensitive fallback looks
// the name up in an index of the folder's names, listed again only when the
// folder's modification time says it changed.
#pragma once

#include <sys/stat.h>

#include <array>
#include <filesystem>
#include <functional>
#include <optional>
#include <string_view>

#include "session/data_file_names.h"
#include "session/data_files.h"

namespace quorvane {

class DirectDataFolder final : public DataFolder {
 public:
  // `root` holds characters/ and items/.
  explicit DirectDataFolder(std::filesystem::path root);

  std::optional<ByteView> Read(DataKind kind, std::string_view name,
                               const Diagnostics& diagnostics) override;
  std::optional<std::string> Find(DataKind kind, std::string_view name) override;

 private:
  struct FolderNames {
    DataFileIndex index;
    struct stat listed {};  // the folder as it stood when listed
    bool current = false;   // no change since can have gone unseen
  };

  // Lists the folder again when it may have changed; false when it cannot be
  // listed.
  bool Update(FolderNames& names, const std::filesystem::path& folder);
  std::optional<ByteView> ReadEntry(DataKind kind, const std::string& name,
                                    const Diagnostics& diagnostics, bool& none);

  std::filesystem::path root_;
  std::array<FolderNames, std::size(kDataKinds)> names_;
  Bytes bytes_;
};

// Calls `take` with each name in `folder` that may be a data file: regular
// files and symbolic links, hidden names left out. False when the folder
// cannot be listed.
bool ForEachDataFileName(const std::filesystem::path& folder,
                         const std::function<void(const std::string& name)>& take);

}  // namespace quorvane
