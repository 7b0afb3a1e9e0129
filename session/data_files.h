// Finding a data file (a character or an item file) by a name that comes from
// a client, the way the Windows folders the data comes from would find it,
// without ever leaving the folder.
#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

namespace quorvane {

// The regular file in `folder` that `name` selects, or nothing. Refused, and
// so nothing: an empty name, "." or "..", a name with "/" or "\" or a byte
// below 0x20. Trailing blanks and dots of the name do not count. An exact
// match wins; otherwise the one file whose name matches ignoring ASCII case.
// Names starting with "." are hidden and never found.
std::optional<std::filesystem::path> FindDataFile(const std::filesystem::path& folder,
                                                  std::string_view name);

}  // namespace quorvane
