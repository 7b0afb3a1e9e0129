// A session's connected socket on Qt. It takes its connection over from the
// listener by request id, reads every arrived byte on each readyRead, so
// nothing is left waiting for a notification that will not come again, and
// says when the connection ends and why. The state codes and the send bound
// it enforces are the socket control's (socket_control.h).
//
// With only two slots, one bad peer must not hold a slot or the server's
// memory: a connection whose peer stops reading while bytes pile up for it
// is reset; Qt reads at most one largest packet ahead of the session; and
// keepalive ends connections whose peer has vanished. Deadlines are the
// host's.
#pragma once

#include <QObject>
#include <QTcpSocket>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "qt_listener.h"
#include "socket_control.h"

namespace quorvane {

// A whole sealed packet at its largest: 8 header bytes and 65,535 payload bytes.
inline constexpr qint64 kLargestPacket = 8 + 65535;

class QtSocketControl final : public SocketControl {
 public:
  explicit QtSocketControl(QtListener& listener, std::size_t sendBound = kSendBound);
  QtSocketControl(const QtSocketControl&) = delete;
  QtSocketControl& operator=(const QtSocketControl&) = delete;
  ~QtSocketControl() override;

  void Accept(std::int32_t requestID) override;
  void Close() override;
  void Reset() override;
  std::int16_t State() const override;
  std::string PeerAddress() const override;
  void GetData(Bytes& into) override;
  // A write that takes the bytes waiting over the send bound resets the
  // connection, which ends with kSendBound.
  void SendData(ByteView bytes) override;
  std::size_t PendingBytes() const override;
  void SetDataArrivalHandler(std::function<void()> handler) override;
  // Qt reports a reset met while reading as the peer closing.
  void SetClosedHandler(ClosedHandler handler) override;

 private:
  // Moves everything Qt has read into arrived_.
  void Drain();
  void OnReadyRead();
  void OnError(QAbstractSocket::SocketError error);
  void OnDisconnected();
  // Lets go of the socket at once (with a reset when `reset`), then reports
  // `reason` if the connection was still live.
  void End(CloseReason reason, bool reset);

  QtListener& listener_;
  std::size_t sendBound_;
  // Qt parent of the sockets this control has held; deletes any left at the end.
  QObject owner_;
  QTcpSocket* socket_ = nullptr;
  // Connected, and its end not reported yet.
  bool live_ = false;
  bool failed_ = false;
  CloseReason endReason_ = CloseReason::kPeerClosed;
  Bytes arrived_;
  std::function<void()> onArrival_;
  ClosedHandler onClosed_;
};

}  // namespace quorvane
