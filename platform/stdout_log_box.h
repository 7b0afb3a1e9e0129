// The log box of a server without a window: each inserted line goes to an
// output stream as it comes, one line each, without the CR LF, flushed.
#pragma once

#include <cstdio>

#include "text_box.h"

namespace quorvane {

class StdoutLogBox final : public TextBox {
 public:
  explicit StdoutLogBox(std::FILE* out = stdout) : out_(out) {}

  // A stream keeps no text to select in.
  void SetSelStart(int) override {}
  void SetSelLength(int) override {}
  void SetSelText(std::string_view text) override;

 private:
  std::FILE* out_;
};

}  // namespace quorvane
