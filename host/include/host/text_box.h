// The log box as the host uses it: a text whose selection can be placed and
// replaced, so that a line inserted at 0 lands on top.
#pragma once

#include <string_view>

namespace quorvane {

class TextBox {
 public:
  virtual ~TextBox() = default;
  virtual void SetSelStart(int position) = 0;
  virtual void SetSelLength(int length) = 0;
  // Replaces the selection with `text`.
  virtual void SetSelText(std::string_view text) = 0;
};

}  // namespace quorvane
