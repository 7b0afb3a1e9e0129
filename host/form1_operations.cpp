// What an operator acts through: the slots' players, their chat lines and
// their ends, and the bans beside the host's own.
#include <utility>

#include "host/form1.h"
#include "session/opcodes.h"
#include "session_slot.h"

namespace quorvane {

bool Form1::LoggedIn(std::size_t index) const {
  const SessionSlot& slot = *slots_.at(index);
  return slot.loggedIn && slot.session.Stat() == SocketControl::kConnected;
}

std::optional<IpAddress> Form1::PeerOf(std::size_t index) const {
  const SessionSlot& slot = *slots_.at(index);
  if (slot.session.Stat() != SocketControl::kConnected) return std::nullopt;
  return slot.address;
}

void Form1::SendChatLine(std::size_t index, ByteView line) {
  Deliver(kNoSlot, index, opcode::kChatLine, line);
}

void Form1::Dismiss(std::size_t index, HostCause cause) {
  SessionSlot& slot = *slots_.at(index);
  slot.closing = cause;
  slot.socket.CloseAfterSending();
  slot.closing = HostCause::kNone;
}

void Form1::SetBanCheck(std::function<bool(const IpAddress&)> banned) {
  banned_ = std::move(banned);
}

std::vector<AddressAdmission::BanInForce> Form1::AutomaticBans() const {
  return admission_.Bans(clock_.Now());
}

bool Form1::LiftAutomaticBan(const IpAddress& address) {
  return admission_.Lift(address, clock_.Now());
}

}  // namespace quorvane
