// The life of a connection as the host sees it: the session's events, the
// handshake deadline, and the observers that hear of both.
#include <charconv>
#include <string>
#include <utility>
#include <vector>

#include "form1.h"
#include "session_slot.h"

namespace quorvane {
namespace {

// Seconds as the operator wrote them: 30, 0.5.
std::string SecondsText(std::chrono::milliseconds duration) {
  char text[32];
  const double seconds = static_cast<double>(duration.count()) / 1000;
  const auto end = std::to_chars(text, text + sizeof text, seconds, std::chars_format::general, 6);
  return std::string(text, end.ptr);
}

}  // namespace

void Form1::WireSlot(std::size_t index) {
  SessionSlot& slot = *slots_[index];
  slot.session.SetDiagnostics(report_);
  slot.session.SetAllSendHandler(
      [this, index](std::int16_t id, ByteView data) { RelayFrom(index, id, data); });
  slot.session.SetHandshakeDoneHandler([this, index] {
    slots_[index]->handshakeDeadline->Stop();
    Publish([index](ConnectionObserver& observer) { observer.HandshakeDone(index); });
  });
  slot.session.SetLoggedInHandler([this, index](std::string_view fileName, bool found) {
    Publish([&](ConnectionObserver& observer) { observer.LoggedIn(index, fileName, found); });
  });
  slot.session.SetClosedHandler(
      [this, index](CloseReason reason) { ConnectionClosed(index, reason); });
  slot.session.SetLoginRateGate([this, index] { return AdmitLogin(index); });
  slot.handshakeDeadline = clock_.CreateTimer(TimerKind::kOneShot, "the handshake deadline",
                                              [this, index] { HandshakeDeadline(index); });
}

void Form1::ConnectionAccepted(std::size_t index) {
  SessionSlot& slot = *slots_[index];
  if (slot.session.Stat() != SocketControl::kConnected) return;
  slot.acceptedAt = clock_.Now();
  slot.loginRate.Reset();
  slot.loginsDropped = false;
  slot.handshakeDeadline->Start(settings_.handshakeTimeout);
  const std::string peer = slot.socket.PeerAddress();
  Publish([&](ConnectionObserver& observer) { observer.ConnectionAccepted(index, peer); });
}

void Form1::HandshakeDeadline(std::size_t index) {
  SessionSlot& slot = *slots_[index];
  // A socket that lost its peer without saying so only needs closing.
  if (slot.session.Stat() != SocketControl::kConnected) {
    slot.session.Closer();
    return;
  }
  Report(report_, "closing the connection from " + slot.socket.PeerAddress() +
                      ": no handshake within " + SecondsText(settings_.handshakeTimeout) + " s");
  slot.closing = HostCause::kHandshakeTimeout;
  slot.socket.Reset();
}

void Form1::ConnectionClosed(std::size_t index, CloseReason reason) {
  SessionSlot& slot = *slots_[index];
  slot.handshakeDeadline->Stop();
  const auto lasted =
      std::chrono::duration_cast<std::chrono::milliseconds>(clock_.Now() - slot.acceptedAt);
  const HostCause cause = std::exchange(slot.closing, HostCause::kNone);
  Publish([&](ConnectionObserver& observer) {
    observer.ConnectionClosed(index, reason, cause, lasted);
  });
}

void Form1::AddObserver(ConnectionObserver& observer) {
  observers_.push_back(&observer);
}

void Form1::RemoveObserver(ConnectionObserver& observer) {
  std::erase(observers_, &observer);
}

// Over a copy, so that an observer may subscribe or leave while it is told;
// one that leaves still hears the event at hand.
void Form1::Publish(const std::function<void(ConnectionObserver&)>& notify) {
  const std::vector<ConnectionObserver*> observers = observers_;
  for (ConnectionObserver* observer : observers) notify(*observer);
}

}  // namespace quorvane
