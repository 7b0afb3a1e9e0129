// The listening socket. Connection requests reach the host through
// Form1::Winsock1_ConnectionRequest; a request that no slot accepted during
// that call is closed by the listener right after it.
#pragma once

#include <cstdint>

namespace quorvane {

class Listener {
 public:
  virtual ~Listener() = default;
  // Both throw std::runtime_error saying what failed.
  virtual void Bind(std::uint16_t port) = 0;
  virtual void Listen() = 0;
};

}  // namespace quorvane
