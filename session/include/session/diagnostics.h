// Where the session and its host report what is not the client's business:
// a data file that cannot be read, a handler that had to give up, and the
// life of each connection. The receiver decides where the reports go and
// stamps them with the time; an empty sink drops them.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace quorvane {

// How much a report matters; the value is the letter an operator reads.
enum class Severity : char {
  kError = 'E',    // the server itself failed at something
  kWarning = 'W',  // a defence acted, or a client or data file misbehaved
  kInfo = 'I',     // the ordinary life of a connection
};

// One report: a single line without its line break.
struct Diagnostic {
  Severity severity = Severity::kWarning;
  // What the report is about ("slot 1 127.0.0.1:40000", an address); empty
  // when the reporter leaves it to its receiver, as a session does, which
  // does not know its slot.
  std::string_view subject;
  std::string_view message;
};

using Diagnostics = std::function<void(const Diagnostic& diagnostic)>;

inline void Report(const Diagnostics& diagnostics, Severity severity, std::string_view subject,
                   std::string_view message) {
  if (diagnostics) diagnostics(Diagnostic{severity, subject, message});
}

// A warning about the reporter's own connection, which its receiver names.
inline void Report(const Diagnostics& diagnostics, std::string_view message) {
  Report(diagnostics, Severity::kWarning, {}, message);
}

// `name` in double quotes, as diagnostics show a name or path that may hold
// any byte: `"` and `\` escaped with a backslash, every byte outside
// printable ASCII as \xNN, so the text is valid UTF-8 on one line and reads
// back to exactly the bytes it came from.
std::string Quoted(std::string_view name);

}  // namespace quorvane
