#include "data_files.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
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

constexpr std::size_t kFileNameOffset = 1;
constexpr std::size_t kFileNameSize = 16;

}  // namespace

std::string CharacterFileName(ByteView nameField) {
  std::string name;
  for (const std::uint8_t byte : nameField.subspan(kFileNameOffset, kFileNameSize)) {
    if (byte != 0x00) name.push_back(static_cast<char>(byte));
  }
  return name;
}

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

std::optional<Bytes> ReadDataFile(const std::filesystem::path& folder, std::string_view name,
                                  std::size_t limit, std::string_view kind,
                                  const Diagnostics& diagnostics) {
  const auto path = FindDataFile(folder, name);
  if (!path) return std::nullopt;

  std::ifstream file(*path, std::ios::binary);
  Bytes bytes(limit);
  if (file) {
    file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  // A short file sets eofbit and failbit; badbit, or no stream at all, means
  // the file could not be read.
  if (!file.is_open() || file.bad()) {
    const char* reason = std::strerror(errno);
    std::ostringstream report;
    report << "cannot read " << kind << ' ' << *path << ": " << reason;
    Report(diagnostics, report.str());
    return std::nullopt;
  }
  bytes.resize(static_cast<std::size_t>(file.gcount()));
  return bytes;
}

}  // namespace quorvane
