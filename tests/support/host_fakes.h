// In-memory stand-ins for the host's log box and listener.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "host/listener.h"
#include "host/text_box.h"

namespace quorvane::testing {

// Keeps the text as a plain string and applies selections to it.
class FakeTextBox : public TextBox {
 public:
  void SetSelStart(int position) override { start_ = position; }
  void SetSelLength(int length) override { length_ = length; }
  void SetSelText(std::string_view text) override {
    text_.replace(static_cast<std::size_t>(start_), static_cast<std::size_t>(length_), text);
    start_ += static_cast<int>(text.size());
    length_ = 0;
  }
  const std::string& Text() const { return text_; }

 private:
  std::string text_;
  int start_ = 0;
  int length_ = 0;
};

// Every request comes from `peer`, whatever its id.
class FakeListener : public Listener {
 public:
  void Bind(std::uint16_t port) override {
    if (failBind) throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(port));
    boundPort = port;
  }
  void Listen() override { listening = true; }
  PeerEndpoint PendingPeer(std::int32_t) const override { return peer; }
  void Refuse(std::int32_t requestID) override { refused.push_back(requestID); }

  bool failBind = false;
  std::uint16_t boundPort = 0;
  bool listening = false;
  PeerEndpoint peer{"127.0.0.1", 40000};
  std::vector<std::int32_t> refused;
};

}  // namespace quorvane::testing
