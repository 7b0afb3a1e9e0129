// The log box of a server without a window: each inserted line goes to an
// output as it comes, one line each, without the CR LF. The output never
// blocks (see NonBlockingOutput).
#pragma once

#include "host/text_box.h"
#include "platform/output/non_blocking_output.h"

namespace quorvane {

class StdoutLogBox final : public TextBox {
 public:
  explicit StdoutLogBox(NonBlockingOutput& out = StandardOutput()) : out_(out) {}

  // A stream keeps no text to select in.
  void SetSelStart(int) override {}
  void SetSelLength(int) override {}
  void SetSelText(std::string_view text) override;

 private:
  NonBlockingOutput& out_;
};

}  // namespace quorvane
