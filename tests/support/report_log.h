// A diagnostics sink that keeps each report as one line of text,
// "<level> <subject>: <message>" (without a subject, "<level> <message>"),
// the way standard error shows it without the time.
#pragma once

#include <string>
#include <vector>

#include "session/diagnostics.h"

namespace quorvane::testing {

struct ReportLog {
  static std::string Line(const Diagnostic& diagnostic) {
    std::string line(1, static_cast<char>(diagnostic.severity));
    line += ' ';
    if (!diagnostic.subject.empty()) {
      line += diagnostic.subject;
      line += ": ";
    }
    line += diagnostic.message;
    return line;
  }

  // Lives no longer than this log.
  Diagnostics Sink() {
    return [this](const Diagnostic& diagnostic) { lines.push_back(Line(diagnostic)); };
  }

  std::vector<std::string> lines;
};

}  // namespace quorvane::testing
