// A session's connected socket on Qt. It takes its connection over from the
// listener by request id and reads every arrived byte on each readyRead, so
// nothing is left waiting for a notification that will not come again.
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
#include <cstdint>
#include <functional>

#include "qt_listener.h"
#include "socket_control.h"

namespace quorvane {

class QtSocketControl final : public SocketControl {
 public:
  static constexpr std::int16_t kClosed = 0;
  static constexpr std::int16_t kBound = 1;
  static constexpr std::int16_t kListening = 2;
  static constexpr std::int16_t kLookingUp = 4;
  static constexpr std::int16_t kConnecting = 6;
  static constexpr std::int16_t kClosing = 8;
  static constexpr std::int16_t kError = 9;

  explicit QtSocketControl(QtListener& listener);
  QtSocketControl(const QtSocketControl&) = delete;
  QtSocketControl& operator=(const QtSocketControl&) = delete;

  void Accept(std::int32_t requestID) override;
  void Close() override;
  std::int16_t State() const override;
  void GetData(Bytes& into) override;
  void SendData(ByteView bytes) override;
  void SetDataArrivalHandler(std::function<void()> handler) override;

 private:
  // Moves everything Qt has read into arrived_.
  void Drain();
  void OnReadyRead();

  QtListener& listener_;
  // Qt parent of the sockets this control has held; deletes any left at the end.
  QObject owner_;
  QTcpSocket* socket_ = nullptr;
  bool failed_ = false;
  Bytes arrived_;
  std::function<void()> onArrival_;
};

}  // namespace quorvane
