// A session's connected socket on Qt. It takes its connection over from the
// listener by request id and reads every arrived byte on each readyRead, so
// nothing is left waiting for a notification that will not come again.
//
// With only two slots, one bad peer must not hold a slot or the server's
// memory: a connection that does not finish its handshake in time, or whose
// peer stops reading while bytes pile up for it, is closed, which frees the
// slot; Qt reads at most one largest packet ahead of the session; and
// keepalive ends connections whose peer has vanished.
//
// State codes:
//   0 closed (no connection, or the connection has ended normally)
//   1 bound
//   2 listening
//   4 looking up the host
//   6 connecting
//   7 connected
//   8 closing (the peer or this side is shutting the connection down)
//   9 error (the connection ended with a socket error other than the peer
//     closing it)
#pragma once

#include <QObject>
#include <QTcpSocket>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <functional>

#include "qt_listener.h"
#include "socket_control.h"

namespace quorvane {

// A whole sealed packet at its largest: 8 header bytes and 65,535 payload bytes.
inline constexpr qint64 kLargestPacket = 8 + 65535;

struct ConnectionLimits {
  // Time a new connection has to finish its handshake.
  std::chrono::milliseconds handshakeTimeout{30000};
  // Bytes that may wait in Qt's send buffer for a peer that does not read;
  // the kernel's own socket buffers come on top of it.
  qint64 writeQueueLimit = 4 * 1024 * 1024;
};

class QtSocketControl final : public SocketControl {
 public:
  static constexpr std::int16_t kClosed = 0;
  static constexpr std::int16_t kBound = 1;
  static constexpr std::int16_t kListening = 2;
  static constexpr std::int16_t kLookingUp = 4;
  static constexpr std::int16_t kConnecting = 6;
  static constexpr std::int16_t kClosing = 8;
  static constexpr std::int16_t kError = 9;

  explicit QtSocketControl(QtListener& listener, ConnectionLimits limits = {});
  QtSocketControl(const QtSocketControl&) = delete;
  QtSocketControl& operator=(const QtSocketControl&) = delete;

  void Accept(std::int32_t requestID) override;
  void Close() override;
  std::int16_t State() const override;
  void GetData(Bytes& into) override;
  void SendData(ByteView bytes) override;
  void SetDataArrivalHandler(std::function<void()> handler) override;

  // How to learn that the session on this socket has finished its handshake.
  // Once set, each accepted connection that has not finished it when the
  // handshake timeout runs out is closed. A session past it is never closed
  // for being quiet.
  void SetHandshakeDone(std::function<bool()> done);

 private:
  // Moves everything Qt has read into arrived_.
  void Drain();
  void OnReadyRead();
  void OnHandshakeDeadline();
  // Says on standard error why the connection is closed, then closes it.
  void CloseBecause(const QString& reason);

  QtListener& listener_;
  ConnectionLimits limits_;
  // Qt parent of the sockets this control has held; deletes any left at the end.
  QObject owner_;
  QTcpSocket* socket_ = nullptr;
  bool failed_ = false;
  Bytes arrived_;
  std::function<void()> onArrival_;
  std::function<bool()> handshakeDone_;
  QTimer handshakeDeadline_;
};

}  // namespace quorvane
