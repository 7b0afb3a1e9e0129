#include "platform/window/plain_text_log_box.h"

#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <algorithm>

namespace quorvane {
namespace {

// The bytes as characters one for one, whatever their values.
QString FromBytes(std::string_view text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

PlainTextLogBox::PlainTextLogBox(QPlainTextEdit& edit, int lineLimit)
    : edit_(edit), lineLimit_(lineLimit) {
  edit_.setUndoRedoEnabled(false);
}

void PlainTextLogBox::SetSelStart(int position) {
  start_ = position;
}

void PlainTextLogBox::SetSelLength(int length) {
  length_ = length;
}

void PlainTextLogBox::SetSelText(std::string_view text) {
  QTextDocument& document = *edit_.document();
  const int end = std::max(0, document.characterCount() - 1);
  const int from = std::clamp(start_, 0, end);
  const int to = std::clamp(from + std::max(length_, 0), from, end);

  QScrollBar& scroll = *edit_.verticalScrollBar();
  const bool showingTop = scroll.value() == scroll.minimum();

  QTextCursor cursor(&document);
  cursor.setPosition(from);
  cursor.setPosition(to, QTextCursor::KeepAnchor);
  cursor.insertText(FromBytes(text));
  start_ = cursor.position();
  length_ = 0;
  DropOldestLines();

  // The newest line is on top: a reader watching the top keeps seeing it.
  if (showingTop) scroll.setValue(scroll.minimum());
}

// Each line ends in a line break, so the text ends in an empty last block:
// lineLimit_ lines are lineLimit_ + 1 blocks.
void PlainTextLogBox::DropOldestLines() {
  QTextDocument& document = *edit_.document();
  if (document.blockCount() <= lineLimit_ + 1) return;
  QTextCursor cursor(document.findBlockByNumber(lineLimit_));
  cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
  cursor.removeSelectedText();
  start_ = std::min(start_, document.characterCount() - 1);
}

}  // namespace quorvane
