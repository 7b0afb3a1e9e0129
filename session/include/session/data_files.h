// The data folder as the session reads it: a character file and an item file
// per character name, found with the lookup rules of data_file_names.h. The
// platform decides how the bytes are fetched (straight from the files, or
// from a cache kept up to date by change notifications); tests hand in
// folders held in memory.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "session/bytes.h"
#include "session/diagnostics.h"

namespace quorvane {

enum class DataKind { kCharacter, kItems };

inline constexpr DataKind kDataKinds[] = {DataKind::kCharacter, DataKind::kItems};

// The folder of each kind, under the data folder.
std::string_view DataFolderName(DataKind kind);
// The bytes the session reads from the start of a file of `kind`: a
// character record, sixteen item records. Anything after them is never read.
std::size_t DataFileReadLimit(DataKind kind);
// "cannot read <kind> "<path>": <reason>", the report of a file that exists
// but cannot be read.
std::string DataFileReport(DataKind kind, std::string_view path, std::string_view reason);

class DataFolder {
 public:
  virtual ~DataFolder() = default;

  // The first bytes, at most DataFileReadLimit(kind), of the regular file of
  // `kind` that `name` selects by the lookup rules; fewer when the file is
  // shorter. Nothing when there is no such file, or when it exists but cannot
  // be read, which goes to `diagnostics` as DataFileReport. The view stays
  // valid until the next call on this folder.
  virtual std::optional<ByteView> Read(DataKind kind, std::string_view name,
                                       const Diagnostics& diagnostics) = 0;
  // The name of the file of `kind` that `name` selects by the lookup rules,
  // or nothing when it selects none: two names that select one file give the
  // same answer.
  virtual std::optional<std::string> Find(DataKind kind, std::string_view name) = 0;
};

}  // namespace quorvane
