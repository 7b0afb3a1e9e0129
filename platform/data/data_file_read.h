// Reading one entry of a data folder on the event thread: it never blocks
// (a FIFO or device put in a file's place is opened without waiting and then
// refused), it reads a bounded number of bytes, and it never leaves the data
// folder: a symbolic link is followed only when its target lies inside it.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

#include "session/bytes.h"

namespace quorvane {

struct DataFileRead {
  enum class Outcome {
    kRead,    // `into` holds the bytes
    kNone,    // no such entry, or not a regular file
    kFailed,  // the entry exists but cannot be read: see `reason`
  };
  Outcome outcome = Outcome::kNone;
  std::string reason;
  // The file can change without a change notification on its folder: it was
  // reached through a symbolic link, or has other hard links.
  bool changesElsewhere = false;
};

// Reads at most `limit` bytes from the start of `folder`/`name` into `into`.
// `name` is a single path component. A link must lead inside `root` (the data
// folder) or inside `folder`.
DataFileRead ReadDataFileEntry(const std::filesystem::path& root,
                               const std::filesystem::path& folder, const std::string& name,
                               std::size_t limit, Bytes& into);

}  // namespace quorvane
