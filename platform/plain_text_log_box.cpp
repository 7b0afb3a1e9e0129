#include "plain_text_log_box.h"

#include <QScrollBar>
#include <QTextCursor>
#include <algorithm>

namespace quorvane {
namespace {

// The bytes as characters one for one, whatever their values.
QString FromBytes(std::string_view text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

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

  // The newest line is on top: a reader watching the top keeps seeing it.
  if (showingTop) scroll.setValue(scroll.minimum());
}

}  // namespace quorvane
