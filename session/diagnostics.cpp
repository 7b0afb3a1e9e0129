#include <cstdio>

#include "session/diagnostics.h"

namespace quorvane {

std::string Quoted(std::string_view name) {
  std::string quoted = "\"";
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (byte < 0x20 || byte >= 0x7F) {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      quoted += escaped;
    } else {
      quoted += c;
    }
  }
  return quoted + '"';
}

}  // namespace quorvane
