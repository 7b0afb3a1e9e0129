// The diagnostics pane: the lines the server writes to standard error, oldest
// on top like the terminal shows them, kept to the last kDiagnosticsLines.
// Lines are gathered as they come and shown at the next Flush, so that a storm
// of them costs one update of the widget per refresh, not one per line.
#pragma once

#include <QPlainTextEdit>
#include <QString>
#include <deque>
#include <string_view>

namespace quorvane {

inline constexpr int kDiagnosticsLines = 10'000;

class DiagnosticsPane final : public QPlainTextEdit {
 public:
  explicit DiagnosticsPane(QWidget* parent = nullptr);

  // Keeps `line` (one line, no line break) for the next Flush.
  void Append(std::string_view line);
  // Shows the lines gathered since the last Flush.
  void Flush();

 private:
  std::deque<QString> pending_;
};

}  // namespace quorvane
