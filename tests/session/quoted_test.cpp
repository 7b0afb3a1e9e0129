// Names in diagnostics: quoted so that a machine reads every byte back.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "session/diagnostics.h"

namespace quorvane {
namespace {

// Reads a quoted name back the way a log parser would; nothing when the text
// is not one quoted name or holds anything outside printable ASCII.
std::optional<std::string> ReadBack(const std::string& text) {
  if (text.size() < 2 || text.front() != '"' || text.back() != '"') return std::nullopt;
  std::string name;
  for (std::size_t at = 1; at + 1 < text.size(); ++at) {
    const char c = text[at];
    if (c < 0x20 || c > 0x7E) return std::nullopt;
    if (c == '"') return std::nullopt;
    if (c != '\\') {
      name += c;
      continue;
    }
    if (at + 2 >= text.size()) return std::nullopt;
    const char next = text[++at];
    if (next == '"' || next == '\\') {
      name += next;
    } else if (next == 'x' && at + 3 < text.size()) {
      name += static_cast<char>(std::stoi(text.substr(at + 1, 2), nullptr, 16));
      at += 2;
    } else {
      return std::nullopt;
    }
  }
  return name;
}

TEST(QuotedTest, QuotesBackslashesAndBytesOutsidePrintableAsciiAreEscaped) {
  const struct {
    std::string name;
    std::string quoted;
  } cases[] = {
      {"Ann", R"("Ann")"},
      {"", R"("")"},
      {"say \"hi\"", R"("say \"hi\"")"},
      // The four characters that once read like an escaped line feed.
      {"\\x0A", R"("\\x0A")"},
      {"a\nb", R"("a\x0Ab")"},
      {std::string("\0\x1F\x7F", 3), R"("\x00\x1F\x7F")"},
      {"\x80\xFF", R"("\x80\xFF")"},
      {"\xC3\xA9t\xC3\xA9", R"("\xC3\xA9t\xC3\xA9")"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Quoted(c.name), c.quoted);
    EXPECT_EQ(ReadBack(Quoted(c.name)), c.name);
  }
}

TEST(QuotedTest, EveryByteReadsBackExactly) {
  std::string all;
  for (int byte = 0; byte < 256; ++byte) all += static_cast<char>(byte);
  for (std::size_t at = 0; at < all.size(); ++at) {
    const std::string name = all.substr(at, 3);
    EXPECT_EQ(ReadBack(Quoted(name)), name) << at;
  }
  EXPECT_EQ(ReadBack(Quoted(all)), all);
}

}  // namespace
}  // namespace quorvane
