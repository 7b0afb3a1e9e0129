// The manual bans on disk: a plain text file, one ban a line, that an
// operator may read and edit by hand.
//
//   # RANGE UNTIL BY SINCE REASON
//   203.0.113.0/24 forever alice 2025-03-01T12:00:00Z spamming the chat
//   2001:db8::7/128 2025-04-01T00:00:00Z console 2025-03-01T12:05:00Z
//
// UNTIL is a UTC time (ISO 8601, to the second) or `forever`; BY the user
// who banned; SINCE when; the REASON, which may be empty or hold spaces,
// runs to the end of the line. The file is UTF-8; reasons are kept as
// Latin-1 in memory, as the players' chat lines carry them. Blank lines and
// lines starting with # are ignored. Writes replace the file atomically.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/operator_actions.h"

namespace quorvane {

// The ban on `line`; nothing and `error` set when it is malformed, nothing
// and `error` empty when the line holds no ban (blank, comment).
std::optional<BanRecord> ParseBanLine(std::string_view line, std::string& error);
// The line for `ban`, without its line break; ParseBanLine gives it back.
std::string FormatBanLine(const BanRecord& ban);

// "2025-03-01T12:00:00Z", and back; nothing for anything else.
std::string UtcText(std::chrono::system_clock::time_point when);
std::optional<std::chrono::system_clock::time_point> ParseUtc(std::string_view text);

class BanFile {
 public:
  explicit BanFile(std::filesystem::path path) : path_(std::move(path)) {}
  virtual ~BanFile() = default;

  const std::filesystem::path& Path() const { return path_; }
  // Every ban of the file; a missing file holds none. Nothing, with `error`
  // naming the file and line, when it cannot be read or a line is malformed.
  std::optional<std::vector<BanRecord>> Load(std::string& error) const;
  // Replaces the file with `bans`: written to a temporary file beside it,
  // synced, then renamed over it, so that a failure leaves the old file
  // whole. What went wrong, empty when nothing did.
  std::string Save(const std::vector<BanRecord>& bans);

 protected:
  // The last step of Save; tests make it fail.
  virtual bool Rename(const std::filesystem::path& from, const std::filesystem::path& to);

 private:
  std::filesystem::path path_;
};

}  // namespace quorvane
