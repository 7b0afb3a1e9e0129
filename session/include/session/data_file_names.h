// Which file of a data folder a name from a client selects, the way the
// Windows folders the data comes from would find it, without ever leaving the
// folder: the name rules, and an index of a folder's names that applies them
// without listing the folder.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "session/bytes.h"

namespace quorvane {

// The file name of the character a login name block selects, for both its
// character and its item file: bytes 2 to 17 of the block with every 00 byte
// removed; blanks and all other bytes stay.
std::string CharacterFileName(ByteView nameField);

// The name a folder entry must have for `name` to select it, or nothing when
// `name` selects no file at all. Refused: an empty name, "." or "..", a name
// with "/" or "\" or a byte below 0x20. Trailing blanks and dots of the name
// do not count. Names starting with "." are hidden and never found.
std::optional<std::string_view> DataFileKey(std::string_view name);

// `name` with A to Z as a to z.
std::string FoldAsciiCase(std::string_view name);

// The names of one folder's files (regular files, and links that may lead to
// one). Finds the file a key selects: the exact name wins; otherwise the one
// name that matches ignoring ASCII case, and none when several do.
class DataFileIndex {
 public:
  void Add(const std::string& name);
  void Remove(const std::string& name);
  void Clear();
  bool Contains(const std::string& name) const { return names_.contains(name); }
  std::size_t Size() const { return names_.size(); }

  // `key` is a DataFileKey. The view stays valid until the index changes.
  std::optional<std::string_view> Find(std::string_view key) const;

 private:
  std::unordered_set<std::string> names_;
  // Folded name -> the names that fold to it.
  std::unordered_map<std::string, std::vector<std::string>> byFolded_;
};

}  // namespace quorvane
