// The log box on a Qt plain-text widget. Positions count the widget's
// characters, in which a CR LF pair is one line break. The box keeps the
// newest lines only: with the newest on top, the lines past the limit at the
// bottom go.
#pragma once

#include <QPlainTextEdit>

#include "host/text_box.h"

namespace quorvane {

class PlainTextLogBox final : public TextBox {
 public:
  static constexpr int kDefaultLineLimit = 10000;

  // Turns off the edit's undo history, which would keep every line ever shown.
  explicit PlainTextLogBox(QPlainTextEdit& edit, int lineLimit = kDefaultLineLimit);

  void SetSelStart(int position) override;
  void SetSelLength(int length) override;
  void SetSelText(std::string_view text) override;

 private:
  void DropOldestLines();

  QPlainTextEdit& edit_;
  int lineLimit_;
  int start_ = 0;
  int length_ = 0;
};

}  // namespace quorvane
