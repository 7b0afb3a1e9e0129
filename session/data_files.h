// Finding and reading a data file (a character or an item file) by a name
// that comes from a client, the way the Windows folders the data comes from
// would find it, without ever leaving the folder.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "bytes.h"
#include "diagnostics.h"

namespace quorvane {

inline constexpr std::string_view kCharacterFolder = "characters";
inline constexpr std::string_view kItemFolder = "items";

// The file name of the character a login name block selects, for both its
// character and its item file: bytes 2 to 17 of the block with every 00 byte
// removed; blanks and all other bytes stay.
std::string CharacterFileName(ByteView nameField);

// The regular file in `folder` that `name` selects, or nothing. Refused, and
// so nothing: an empty name, "." or "..", a name with "/" or "\" or a byte
// below 0x20. Trailing blanks and dots of the name do not count. An exact
// match wins; otherwise the one file whose name matches ignoring ASCII case.
// Names starting with "." are hidden and never found.
std::optional<std::filesystem::path> FindDataFile(const std::filesystem::path& folder,
                                                  std::string_view name);

// At most the first `limit` bytes of the file FindDataFile selects in
// `folder`: fewer when the file is shorter. Nothing when there is no such
// file, or when it cannot be read, which goes to `diagnostics` as
// "cannot read <kind> "<path>": <reason>".
std::optional<Bytes> ReadDataFile(const std::filesystem::path& folder, std::string_view name,
                                  std::size_t limit, std::string_view kind,
                                  const Diagnostics& diagnostics);

}  // namespace quorvane
