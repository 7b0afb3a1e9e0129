// What a session needs of its connected socket. The Qt adapter implements it
// for real connections; tests use a fake.
#pragma once

#include <cstdint>
#include <functional>

#include "bytes.h"

namespace quorvane {

class SocketControl {
 public:
  static constexpr std::int16_t kConnected = 7;

  virtual ~SocketControl() = default;

  // Takes over the listener's pending connection `requestID`; from then on
  // State() is kConnected until the connection ends.
  virtual void Accept(std::int32_t requestID) = 0;
  // Closes the connection; on a closed socket it does nothing.
  virtual void Close() = 0;
  // kConnected while connected; any other value means not connected.
  virtual std::int16_t State() const = 0;
  // Appends every byte that has arrived and not been read yet, in order.
  virtual void GetData(Bytes& into) = 0;
  // Queues bytes for sending; successive calls reach the peer in call order.
  virtual void SendData(ByteView bytes) = 0;
  // Called on the event thread each time bytes arrive.
  virtual void SetDataArrivalHandler(std::function<void()> handler) = 0;
};

}  // namespace quorvane
