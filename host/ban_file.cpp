#include "host/ban_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace quorvane {
namespace {

using std::chrono::system_clock;

constexpr std::string_view kBlanks = " \t";
constexpr std::string_view kForever = "forever";
constexpr std::string_view kHeader =
    "# Manual bans, one a line: RANGE UNTIL BY SINCE REASON\n"
    "# UNTIL is a UTC time (2025-03-01T12:00:00Z) or forever; the reason runs to the end.\n";

std::string Utf8FromLatin1(std::string_view latin1) {
  std::string utf8;
  for (const char c : latin1) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      utf8 += c;
    } else {
      utf8 += static_cast<char>(0xC0 | (byte >> 6));
      utf8 += static_cast<char>(0x80 | (byte & 0x3F));
    }
  }
  return utf8;
}

// Nothing when the text is no UTF-8 or holds a character beyond Latin-1.
std::optional<std::string> Latin1FromUtf8(std::string_view utf8) {
  std::string latin1;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto byte = static_cast<unsigned char>(utf8[i]);
    if (byte < 0x80) {
      latin1 += utf8[i];
      continue;
    }
    if ((byte == 0xC2 || byte == 0xC3) && i + 1 < utf8.size() &&
        (static_cast<unsigned char>(utf8[i + 1]) & 0xC0) == 0x80) {
      latin1 += static_cast<char>(((byte & 0x03) << 6) | (utf8[++i] & 0x3F));
      continue;
    }
    return std::nullopt;
  }
  return latin1;
}

// The next word of `rest`, taken off its front; empty at the end.
std::string_view NextWord(std::string_view& rest) {
  const std::size_t start = rest.find_first_not_of(kBlanks);
  if (start == std::string_view::npos) {
    rest = {};
    return {};
  }
  rest.remove_prefix(start);
  const std::size_t end = std::min(rest.find_first_of(kBlanks), rest.size());
  const std::string_view word = rest.substr(0, end);
  rest.remove_prefix(end);
  return word;
}

std::string_view Trimmed(std::string_view text) {
  const std::size_t start = text.find_first_not_of(kBlanks);
  if (start == std::string_view::npos) return {};
  return text.substr(start, text.find_last_not_of(kBlanks) - start + 1);
}

bool ParseNumber(std::string_view text, int& into) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), into);
  return error == std::errc() && end == text.data() + text.size();
}

std::string SystemError(const std::string& what, const std::filesystem::path& path) {
  return "cannot " + what + " " + path.string() + ": " + std::strerror(errno);
}

bool WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = ::write(fd, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

}  // namespace

std::string UtcText(system_clock::time_point when) {
  const auto seconds = std::chrono::floor<std::chrono::seconds>(when);
  const auto day = std::chrono::floor<std::chrono::days>(seconds);
  const std::chrono::year_month_day date{day};
  const std::chrono::hh_mm_ss time{seconds - day};
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                static_cast<int>(time.seconds().count()));
  return text;
}

std::optional<system_clock::time_point> ParseUtc(std::string_view text) {
  // YYYY-MM-DDTHH:MM:SSZ, nothing more or less.
  if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
      text[16] != ':' || text[19] != 'Z') {
    return std::nullopt;
  }
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (!ParseNumber(text.substr(0, 4), year) || !ParseNumber(text.substr(5, 2), month) ||
      !ParseNumber(text.substr(8, 2), day) || !ParseNumber(text.substr(11, 2), hour) ||
      !ParseNumber(text.substr(14, 2), minute) || !ParseNumber(text.substr(17, 2), second)) {
    return std::nullopt;
  }
  const std::chrono::year_month_day date{std::chrono::year(year),
                                         std::chrono::month(static_cast<unsigned>(month)),
                                         std::chrono::day(static_cast<unsigned>(day))};
  if (!date.ok() || hour > 23 || minute > 59 || second > 59) return std::nullopt;
  return std::chrono::sys_days(date) + std::chrono::hours(hour) + std::chrono::minutes(minute) +
         std::chrono::seconds(second);
}

std::optional<BanRecord> ParseBanLine(std::string_view line, std::string& error) {
  error.clear();
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  std::string_view rest = line;
  const std::string_view rangeText = NextWord(rest);
  if (rangeText.empty() || rangeText.front() == '#') return std::nullopt;
  const std::string_view untilText = NextWord(rest);
  const std::string_view by = NextWord(rest);
  const std::string_view sinceText = NextWord(rest);
  const auto range = AddressRange::Parse(rangeText);
  if (!range) {
    error = "not an address range: " + std::string(rangeText);
    return std::nullopt;
  }
  if (sinceText.empty()) {
    error = "needs RANGE UNTIL BY SINCE [REASON]";
    return std::nullopt;
  }
  BanRecord ban{*range, true, std::nullopt, {}, std::string(by), {}};
  if (untilText != kForever) {
    ban.until = ParseUtc(untilText);
    if (!ban.until) {
      error = "UNTIL needs a UTC time like 2025-03-01T12:00:00Z or forever, not " +
              std::string(untilText);
      return std::nullopt;
    }
  }
  const auto since = ParseUtc(sinceText);
  if (!since) {
    error = "SINCE needs a UTC time like 2025-03-01T12:00:00Z, not " + std::string(sinceText);
    return std::nullopt;
  }
  ban.since = *since;
  const auto reason = Latin1FromUtf8(Trimmed(rest));
  if (!reason) {
    error = "the reason takes UTF-8 text of Latin-1 characters only";
    return std::nullopt;
  }
  ban.reason = *reason;
  return ban;
}

std::string FormatBanLine(const BanRecord& ban) {
  std::string line = ban.range.ToString();
  line += ' ';
  line += ban.until ? UtcText(*ban.until) : std::string(kForever);
  line += ' ';
  line += ban.by.empty() ? std::string("-") : ban.by;
  line += ' ';
  line += UtcText(ban.since);
  const std::string_view reason = Trimmed(ban.reason);
  if (!reason.empty()) line += " " + Utf8FromLatin1(reason);
  return line;
}

std::optional<std::vector<BanRecord>> BanFile::Load(std::string& error) const {
  error.clear();
  std::vector<BanRecord> bans;
  std::error_code exists;
  if (!std::filesystem::exists(path_, exists) && !exists) return bans;
  std::ifstream in(path_);
  if (!in) {
    error = SystemError("read the ban file", path_);
    return std::nullopt;
  }
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    std::string wrong;
    if (auto ban = ParseBanLine(line, wrong)) {
      bans.push_back(std::move(*ban));
    } else if (!wrong.empty()) {
      error = path_.string() + ":" + std::to_string(number) + ": " + wrong;
      return std::nullopt;
    }
  }
  if (in.bad()) {
    error = SystemError("read the ban file", path_);
    return std::nullopt;
  }
  return bans;
}

std::string BanFile::Save(const std::vector<BanRecord>& bans) {
  std::string text(kHeader);
  for (const BanRecord& ban : bans) {
    if (ban.manual) text += FormatBanLine(ban) + "\n";
  }
  std::filesystem::path temporary = path_;
  temporary += ".new";
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0640);
  if (fd < 0) return SystemError("write", temporary);
  const bool written = WriteAll(fd, text) && ::fsync(fd) == 0;
  const std::string writeError = written ? std::string() : SystemError("write", temporary);
  if (::close(fd) != 0 && written) return SystemError("write", temporary);
  if (!written || !Rename(temporary, path_)) {
    const std::string error = written ? SystemError("replace", path_) : writeError;
    std::error_code ignored;
    std::filesystem::remove(temporary, ignored);
    return error;
  }
  // The rename itself lasts once the folder is synced.
  const std::filesystem::path folder =
      path_.has_parent_path() ? path_.parent_path() : std::filesystem::path(".");
  if (const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return {};
}

bool BanFile::Rename(const std::filesystem::path& from, const std::filesystem::path& to) {
  return ::rename(from.c_str(), to.c_str()) == 0;
}

}  // namespace quorvane
