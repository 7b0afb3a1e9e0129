#include "platform/output/stderr_report.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "platform/output/non_blocking_output.h"

namespace quorvane {
namespace {

std::vector<DiagnosticsTap*>& Taps() {
  static std::vector<DiagnosticsTap*> taps;
  return taps;
}

void AppendEscaped(std::string& line, std::string_view text) {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      line += escaped;
    } else {
      line += c;
    }
  }
}

}  // namespace

std::string FormatDiagnostic(std::chrono::system_clock::time_point when,
                             const Diagnostic& diagnostic) {
  using namespace std::chrono;
  const auto sinceEpoch = when.time_since_epoch();
  const auto wholeSeconds = floor<seconds>(sinceEpoch);
  const auto millis = duration_cast<milliseconds>(sinceEpoch - wholeSeconds).count();
  const std::time_t time = wholeSeconds.count();
  std::tm utc{};
  ::gmtime_r(&time, &utc);
  char stamp[96];
  std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                static_cast<int>(millis));

  std::string line = stamp;
  line += ' ';
  line += static_cast<char>(diagnostic.severity);
  line += ' ';
  if (!diagnostic.subject.empty()) {
    AppendEscaped(line, diagnostic.subject);
    line += ": ";
  }
  AppendEscaped(line, diagnostic.message);
  return line;
}

void ReportOnStderr(const Diagnostic& diagnostic) noexcept {
  std::string line;
  try {
    line = FormatDiagnostic(std::chrono::system_clock::now(), diagnostic) + "\n";
  } catch (...) {
    // Out of memory for one line: the report is lost, the server goes on.
    return;
  }
  // Through the queue that never blocks; it writes lines whole.
  StandardError().Write(line);
  DiagnosticsTap::Deliver(std::string_view(line.data(), line.size() - 1));
}

void ReportProgramLine(Severity severity, std::string_view text) noexcept {
  ReportOnStderr({severity, {}, text});
}

void ReportStartFailure(std::string_view text) noexcept {
  try {
    StandardError().Write(std::string(text) + "\n");
    if (!Taps().empty()) {
      DiagnosticsTap::Deliver(
          FormatDiagnostic(std::chrono::system_clock::now(), {Severity::kError, {}, text}));
    }
  } catch (...) {
    // Out of memory for one line: the line is lost.
  }
}

DiagnosticsTap::DiagnosticsTap(std::function<void(std::string_view line)> receive)
    : receive_(std::move(receive)) {
  Taps().push_back(this);
}

DiagnosticsTap::~DiagnosticsTap() {
  std::erase(Taps(), this);
}

void DiagnosticsTap::Deliver(std::string_view line) noexcept {
  for (DiagnosticsTap* tap : Taps()) {
    try {
      tap->receive_(line);
    } catch (...) {
      // That tap loses the line; standard error has it.
    }
  }
}

}  // namespace quorvane
