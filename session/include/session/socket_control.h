// What a session needs of its connected socket. The Qt adapter implements it
// for real connections; tests use a fake.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "session/bytes.h"

namespace quorvane {

// Why a connection ended.
enum class CloseReason {
  kPeerClosed,  // the peer closed it (a socket that cannot tell a reset apart reports this)
  kReset,       // the peer reset it, or the connection failed
  kTimedOut,    // the peer stopped answering: keepalive or unacknowledged data ran out
  kSendBound,   // more than the send bound waited to be sent: the peer is not reading
  kClosedByUs,  // Close or Reset on a live connection
};

// Bytes that may wait to be sent to one connection, in the socket's own
// buffer; the kernel's buffers come on top of it. A peer that lets more pile
// up is not reading: its connection is reset and ends with kSendBound, so that
// it cannot hold the server's memory.
inline constexpr std::size_t kSendBound = 4 * 1024 * 1024;

class SocketControl {
 public:
  // State codes, as State() reports them and ServerSocket::Stat() passes on.
  static constexpr std::int16_t kClosed = 0;  // no connection, or it ended normally
  static constexpr std::int16_t kBound = 1;
  static constexpr std::int16_t kListening = 2;
  static constexpr std::int16_t kLookingUp = 4;
  static constexpr std::int16_t kConnecting = 6;
  static constexpr std::int16_t kConnected = 7;
  static constexpr std::int16_t kClosing = 8;  // either side is shutting the connection down
  static constexpr std::int16_t kError = 9;    // it ended with an error other than the peer closing

  using ClosedHandler = std::function<void(CloseReason reason)>;

  virtual ~SocketControl() = default;

  // Takes over the listener's pending connection `requestID`; from then on
  // State() is kConnected until the connection ends.
  virtual void Accept(std::int32_t requestID) = 0;
  // Closes the connection; on a closed socket it does nothing.
  virtual void Close() = 0;
  // Closes the connection with a reset: the peer learns at once, and bytes
  // still waiting to be sent are dropped. On a closed socket it does nothing.
  virtual void Reset() = 0;
  // Closes the connection after handing what waits to be sent to the system,
  // as far as it takes it now, so that a last message reaches the peer
  // before the end. A socket with nothing of its own to hand over just
  // closes.
  virtual void CloseAfterSending() { Close(); }
  // kConnected while connected; any other value means not connected.
  virtual std::int16_t State() const = 0;
  // A connection whose end has come but not been handled yet (the peer's
  // close or reset still waits to be read) ends now, reported as usual, so
  // that State() no longer says kConnected; the bytes it sent before are
  // handed to the arrival handler first. A live one is left as it is.
  virtual void CheckEnded() = 0;
  // "ADDR:PORT" of the peer (IPv6 addresses in brackets); empty without a
  // connection.
  virtual std::string PeerAddress() const = 0;
  // Appends every byte that has arrived and not been read yet, in order.
  virtual void GetData(Bytes& into) = 0;
  // Queues bytes for sending; successive calls reach the peer in call order.
  virtual void SendData(ByteView bytes) = 0;
  // Bytes queued by SendData that have not been handed to the kernel yet.
  virtual std::size_t PendingBytes() const = 0;
  // Called on the event thread each time bytes arrive.
  virtual void SetDataArrivalHandler(std::function<void()> handler) = 0;
  // Called on the event thread once per connection when it ends, whichever
  // way; Close or Reset call it before they return.
  virtual void SetClosedHandler(ClosedHandler handler) = 0;
};

}  // namespace quorvane
