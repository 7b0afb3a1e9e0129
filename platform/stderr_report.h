// Reports for the operator on standard error, one line each, as
// "quorvane: <report>", flushed at once.
#pragma once

#include <functional>
#include <string_view>

namespace quorvane {

void ReportOnStderr(std::string_view report) noexcept;

// While it lives, `receive` also gets every line ReportOnStderr writes, as
// written and without its line break (the window's diagnostics pane). Made,
// called and ended on the event thread.
class DiagnosticsTap {
 public:
  explicit DiagnosticsTap(std::function<void(std::string_view line)> receive);
  DiagnosticsTap(const DiagnosticsTap&) = delete;
  DiagnosticsTap& operator=(const DiagnosticsTap&) = delete;
  ~DiagnosticsTap();

 private:
  friend void ReportOnStderr(std::string_view report) noexcept;
  std::function<void(std::string_view line)> receive_;
};

}  // namespace quorvane
