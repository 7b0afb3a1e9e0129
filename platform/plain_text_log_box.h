// The log box on a Qt plain-text widget. Positions count the widget's
// characters, in which a CR LF pair is one line break.
#pragma once

#include <QPlainTextEdit>

#include "text_box.h"

namespace quorvane {

class PlainTextLogBox final : public TextBox {
 public:
  explicit PlainTextLogBox(QPlainTextEdit& edit) : edit_(edit) {}

  void SetSelStart(int position) override;
  void SetSelLength(int length) override;
  void SetSelText(std::string_view text) override;

 private:
  QPlainTextEdit& edit_;
  int start_ = 0;
  int length_ = 0;
};

}  // namespace quorvane
