#include "platform/window/diagnostics_pane.h"

#include <QScrollBar>

namespace quorvane {

DiagnosticsPane::DiagnosticsPane(QWidget* parent) : QPlainTextEdit(parent) {
  setObjectName("Diagnostics");
  setReadOnly(true);
  setLineWrapMode(QPlainTextEdit::NoWrap);
  setMaximumBlockCount(kDiagnosticsLines);
}

void DiagnosticsPane::Append(std::string_view line) {
  pending_.push_back(QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size())));
  if (pending_.size() > static_cast<std::size_t>(kDiagnosticsLines)) pending_.pop_front();
}

void DiagnosticsPane::Flush() {
  if (pending_.empty()) return;
  QStringList lines(pending_.begin(), pending_.end());
  pending_.clear();
  QScrollBar& scroll = *verticalScrollBar();
  const bool followingEnd = scroll.value() == scroll.maximum();
  appendPlainText(lines.join('\n'));
  if (followingEnd) scroll.setValue(scroll.maximum());
}

}  // namespace quorvane
