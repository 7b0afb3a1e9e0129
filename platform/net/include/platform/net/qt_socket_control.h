// A session's connected socket: the raw non-blocking descriptor, watched on
// Qt's event loop by socket notifiers. It takes its connection over from the
// listener by request id and says when the connection ends and why. The state
// codes and the send bound it enforces are the socket control's
// (socket_control.h).
//
// Each arrival is one recv of as much as a buffer of one largest packet has
// room for, so a ping costs one recv and a flood one per 64 KiB. The bytes
// wait there until the session takes them with GetData: the arrival event may
// only be raised once bytes have come, and reading straight into the
// session's vector would zero-fill the room first, which costs more than
// copying what came. Writes wait in the connection's output buffer until the
// event being handled ends (end_of_event.h), then go out in one send; only
// when the kernel takes no more is the write notifier armed, and it is
// disarmed once the buffer is empty.
//
// With only two slots, one bad peer must not hold a slot or the server's
// memory: a connection whose peer stops reading while bytes pile up for it
// is reset; at most one largest packet is read ahead of the session, and
// the rest of a flood waits in the kernel; keepalive ends connections whose
// peer has vanished. Deadlines are the host's.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/loop/end_of_event.h"
#include "platform/net/qt_listener.h"
#include "session/socket_control.h"

namespace quorvane {

// A whole sealed packet at its largest: 8 header bytes and 65,535 payload bytes.
inline constexpr std::size_t kLargestPacket = 8 + 65535;

class QtSocketControl final : public SocketControl, private PendingOutput {
 public:
  explicit QtSocketControl(QtListener& listener, std::size_t sendBound = kSendBound);
  QtSocketControl(const QtSocketControl&) = delete;
  QtSocketControl& operator=(const QtSocketControl&) = delete;
  ~QtSocketControl() override;

  void Accept(std::int32_t requestID) override;
  // Bytes not handed to the kernel yet are dropped.
  void Close() override;
  void Reset() override;
  void CloseAfterSending() override;
  std::int16_t State() const override;
  void CheckEnded() override;
  std::string PeerAddress() const override;
  // Hands over what the last arrivals read: at most one largest packet.
  void GetData(Bytes& into) override;
  // A write that takes the bytes waiting over the send bound resets the
  // connection, which ends with kSendBound.
  void SendData(ByteView bytes) override;
  std::size_t PendingBytes() const override;
  void SetDataArrivalHandler(std::function<void()> handler) override;
  void SetClosedHandler(ClosedHandler handler) override;

 private:
  void OnReadable();
  // Reads into arrived_ as much as it has room for; says how the connection
  // ended if the read found it ended.
  std::optional<CloseReason> ReadArrived();
  void Flush() override;
  // Closes the descriptor (with a reset when `reset`), then reports `reason`
  // if the connection was still live.
  void End(CloseReason reason, bool reset);

  QtListener& listener_;
  std::size_t sendBound_;
  int descriptor_ = -1;
  std::int16_t state_ = kClosed;
  std::string peer_;
  // Kept for the control's life and pointed at each new descriptor: a
  // notifier may not be deleted inside its own signal.
  QSocketNotifier readable_{QSocketNotifier::Read};
  QSocketNotifier writable_{QSocketNotifier::Write};

  // Read and not yet taken by the session; room for one largest packet.
  std::unique_ptr<std::uint8_t[]> arrived_;
  std::size_t arrivedCount_ = 0;
  // Written and not yet sent: output_ from outputSent_ on.
  Bytes output_;
  std::size_t outputSent_ = 0;
  // A flush at the end of the event, or the armed write notifier, will send
  // what waits.
  bool sendScheduled_ = false;

  std::function<void()> onArrival_;
  ClosedHandler onClosed_;
};

}  // namespace quorvane
