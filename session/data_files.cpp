#include "data_files.h"

#include <algorithm>
#include <string>
#include <system_error>

namespace quorvane {
namespace {

bool Refused(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return true;
  return std::any_of(name.begin(), name.end(), [](char c) {
    return c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20;
  });
}

std::string_view WithoutTrailingBlanksAndDots(std::string_view name) {
  const auto end = name.find_last_not_of(" .");
  return end == std::string_view::npos ? std::string_view{} : name.substr(0, end + 1);
}

char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
}

bool IsRegularFile(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(path, error);
}

}  // namespace

std::optional<std::filesystem::path> FindDataFile(const std::filesystem::path& folder,
                                                  std::string_view name) {
  if (Refused(name)) return std::nullopt;
  const std::string_view wanted = WithoutTrailingBlanksAndDots(name);
  if (wanted.empty() || wanted.front() == '.') return std::nullopt;

  const std::filesystem::path exact = folder / std::string(wanted);
  if (IsRegularFile(exact)) return exact;

  std::optional<std::filesystem::path> found;
  std::error_code error;
  for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
       it.increment(error)) {
    const std::string entry = it->path().filename().string();
    if (entry.front() == '.' || !EqualIgnoringAsciiCase(entry, wanted) ||
        !IsRegularFile(it->path()))
      continue;
    if (found) return std::nullopt;  // two candidates: neither is the one
    found = it->path();
  }
  return found;
}

}  // namespace quorvane
