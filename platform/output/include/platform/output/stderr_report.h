// Reports for the operator on standard error, one line each, written through
// the non-blocking standard error queue: "<time> <level> <subject>: <message>", the time in UTC to
// the millisecond (2026-12-10T15:18:00.123Z), the level E, W or I; without a subject, "<time>
// <level> <message>".
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

#include "session/diagnostics.h"

namespace quorvane {

// The line for `diagnostic` at `when`, without its line break. Control bytes
// are written as \xHH, so that a name from a client cannot break the line.
std::string FormatDiagnostic(std::chrono::system_clock::time_point when,
                             const Diagnostic& diagnostic);

void ReportOnStderr(const Diagnostic& diagnostic) noexcept;

// A line of the program's own once it runs (start-up progress, reloads,
// shutdown): stamped like a report, without a subject, everywhere.
void ReportProgramLine(Severity severity, std::string_view text) noexcept;

// An error that ends the start ("quorvane: cannot ..."): standard error gets
// `text` as it stands, like any program's error, taps get it stamped E.
void ReportStartFailure(std::string_view text) noexcept;

// While it lives, `receive` also gets every line ReportOnStderr and
// ReportProgramLine write, as written, and every start failure, stamped;
// without its line break (the
// window's diagnostics pane, the log file). Made, called and ended on the
// event thread.
class DiagnosticsTap {
 public:
  explicit DiagnosticsTap(std::function<void(std::string_view line)> receive);
  DiagnosticsTap(const DiagnosticsTap&) = delete;
  DiagnosticsTap& operator=(const DiagnosticsTap&) = delete;
  ~DiagnosticsTap();

 private:
  friend void ReportOnStderr(const Diagnostic& diagnostic) noexcept;
  friend void ReportStartFailure(std::string_view text) noexcept;
  // Hands `line` to every tap.
  static void Deliver(std::string_view line) noexcept;

  std::function<void(std::string_view line)> receive_;
};

}  // namespace quorvane
