// The listening socket. Connection requests reach the host through
// Form1::Winsock1_ConnectionRequest; while that call runs, the host may ask
// for the pending connection's peer and refuse it. A request that no slot
// accepted during that call is closed by the listener right after it.
#pragma once

#include <cstdint>
#include <string>

namespace quorvane {

// Where a connection comes from.
struct PeerEndpoint {
  std::string address;  // as the platform writes it: "192.0.2.1", "::ffff:192.0.2.1", "2001:db8::1"
  std::uint16_t port = 0;
};

class Listener {
 public:
  virtual ~Listener() = default;
  // Both throw std::runtime_error saying what failed.
  virtual void Bind(std::uint16_t port) = 0;
  virtual void Listen() = 0;
  // The peer of the pending connection `requestID` while its request is
  // handled; an empty address when there is no such request.
  virtual PeerEndpoint PendingPeer(std::int32_t requestID) const = 0;
  // Closes the pending connection `requestID` at once, unaccepted, with a
  // reset so that nothing of it lingers; no slot ever sees it.
  virtual void Refuse(std::int32_t requestID) = 0;
};

}  // namespace quorvane
