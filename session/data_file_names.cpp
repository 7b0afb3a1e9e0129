#include "session/data_file_names.h"

#include <algorithm>

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

std::optional<std::string_view> DataFileKey(std::string_view name) {
  if (Refused(name)) return std::nullopt;
  const std::string_view key = WithoutTrailingBlanksAndDots(name);
  if (key.empty() || key.front() == '.') return std::nullopt;
  return key;
}

std::string FoldAsciiCase(std::string_view name) {
  std::string folded(name);
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

void DataFileIndex::Add(const std::string& name) {
  if (!names_.insert(name).second) return;
  byFolded_[FoldAsciiCase(name)].push_back(name);
}

void DataFileIndex::Remove(const std::string& name) {
  if (names_.erase(name) == 0) return;
  const auto folded = byFolded_.find(FoldAsciiCase(name));
  std::erase(folded->second, name);
  if (folded->second.empty()) byFolded_.erase(folded);
}

void DataFileIndex::Clear() {
  names_.clear();
  byFolded_.clear();
}

std::optional<std::string_view> DataFileIndex::Find(std::string_view key) const {
  if (const auto exact = names_.find(std::string(key)); exact != names_.end()) return *exact;
  const auto folded = byFolded_.find(FoldAsciiCase(key));
  if (folded == byFolded_.end() || folded->second.size() != 1) return std::nullopt;
  return folded->second.front();
}

}  // namespace quorvane
