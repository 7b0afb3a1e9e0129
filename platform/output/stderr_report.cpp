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

bool Plain(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte >= 0x20 && byte != 0x7F;
}

// Runs of plain characters go in whole; a line is mostly one run.
void AppendEscaped(std::string& line, std::string_view text) {
  while (!text.empty()) {
    const auto plainEnd = std::find_if_not(text.begin(), text.end(), Plain);
    line.append(text.begin(), plainEnd);
    text.remove_prefix(static_cast<std::size_t>(plainEnd - text.begin()));
    if (text.empty()) break;
    char escaped[5];
    std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(text.front()));
    line += escaped;
    text.remove_prefix(1);
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
  // The stamp up to its seconds is formatted once a second, not once a line:
  // a busy server writes many lines within one.
  thread_local std::time_t formattedSecond = -1;
  thread_local char toSeconds[80];
  if (time != formattedSecond) {
    std::tm utc{};
    ::gmtime_r(&time, &utc);
    std::snprintf(toSeconds, sizeof toSeconds, "%04d-%02d-%02dT%02d:%02d:%02d.", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
    formattedSecond = time;
  }
  const char millisDigits[] = {static_cast<char>('0' + millis / 100),
                               static_cast<char>('0' + millis / 10 % 10),
                               static_cast<char>('0' + millis % 10), 'Z', ' '};

  std::string line = toSeconds;
  line.append(millisDigits, sizeof millisDigits);
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
