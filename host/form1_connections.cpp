// The life of a connection as the host sees it: the address rules over each
// request, the session's events, the deadlines, the login gate, and the
// observers that hear of all of it.
#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "host/form1.h"
#include "session_slot.h"

namespace quorvane {
namespace {

bool ClosedByDeadline(HostCause cause) {
  return cause == HostCause::kHandshakeTimeout || cause == HostCause::kLoginTimeout;
}

}  // namespace

void Form1::WireSlot(std::size_t index) {
  SessionSlot& slot = *slots_[index];
  slot.subject = "slot " + std::to_string(index + 1);
  // The session does not know its slot; its reports are named here.
  slot.session.SetDiagnostics([this, index](const Diagnostic& diagnostic) {
    Diagnostic named = diagnostic;
    if (named.subject.empty()) named.subject = slots_[index]->subject;
    if (report_) report_(named);
  });
  slot.session.SetWelcomeLine(settings_.welcomeLine);
  slot.session.SetAllSendHandler(
      [this, index](std::int16_t id, ByteView data) { RelayFrom(index, id, data); });
  slot.session.SetHandshakeDoneHandler([this, index] {
    slots_[index]->handshakeDeadline->Stop();
    Publish([index](ConnectionObserver& observer) { observer.HandshakeDone(index); });
  });
  slot.session.SetLoginGate(
      [this, index](std::string_view characterFile) { return AdmitLogin(index, characterFile); });
  slot.session.SetLoggedInHandler([this, index](std::string_view fileName, bool found) {
    slots_[index]->loggedIn = true;
    ShowWorldTo(index);
    Publish([&](ConnectionObserver& observer) { observer.LoggedIn(index, fileName, found); });
  });
  slot.session.SetClosedHandler(
      [this, index](CloseReason reason) { ConnectionClosed(index, reason); });
  if (settings_.idleTimeout > std::chrono::milliseconds::zero()) {
    slot.session.SetArrivalHandler([this, index] { slots_[index]->lastHeard = clock_.Now(); });
  }
  slot.handshakeDeadline =
      clock_.CreateTimer(TimerKind::kOneShot, "the handshake deadline",
                         [this, index] { Deadline(index, HostCause::kHandshakeTimeout); });
  slot.loginDeadline = clock_.CreateTimer(TimerKind::kOneShot, "the login deadline", [this, index] {
    Deadline(index, HostCause::kLoginTimeout);
  });
  slot.idleDeadline = clock_.CreateTimer(TimerKind::kOneShot, "the idle deadline",
                                         [this, index] { IdleCheck(index); });
  slot.session.SetLoginRateGate([this, index] { return AdmitLoginRate(index); });
}

bool Form1::Admit(std::int32_t requestID, const IpAddress& address, const std::string& peer) {
  AddressAdmission::Verdict verdict;
  if (draining_) {
    verdict.refusal = RefusalReason::kShuttingDown;
  } else {
    verdict = admission_.Request(address, clock_.Now(), SlotsHeldBy(address));
    // An operator's ban says more than the per-address limit.
    const bool limited = verdict.refusal == RefusalReason::kPerAddressLimit;
    if ((!verdict.refusal || limited) && banned_ && banned_(address)) {
      verdict.refusal = RefusalReason::kBanned;
    }
  }
  if (!verdict.refusal) return true;

  Winsock1.Refuse(requestID);
  if (verdict.ban) {
    const std::string banned = admission_.PeerText(address);
    Publish([&](ConnectionObserver& observer) {
      observer.AddressBanned(banned, verdict.ban->reason, verdict.ban->duration);
    });
  }
  Publish(
      [&](ConnectionObserver& observer) { observer.ConnectionRefused(peer, *verdict.refusal); });
  return false;
}

std::size_t Form1::SlotsHeldBy(const IpAddress& address) const {
  const IpAddress peer = admission_.PeerOf(address);
  return static_cast<std::size_t>(
      std::count_if(slots_.begin(), slots_.end(), [&](const auto& slot) {
        return slot->session.Stat() == SocketControl::kConnected && slot->address &&
               admission_.PeerOf(*slot->address) == peer;
      }));
}

std::optional<std::size_t> Form1::SlotForNewcomer() {
  if (const auto free = FreeSlot()) return free;
  // A client that has just left and comes straight back finds its old
  // connection's end not handled yet.
  for (const auto& slot : slots_) slot->socket.CheckEnded();
  if (const auto free = FreeSlot()) return free;
  return MakeRoom();
}

std::optional<std::size_t> Form1::FreeSlot() const {
  for (std::size_t index = 0; index < kSlotCount; ++index) {
    if (slots_[index]->session.Stat() != SocketControl::kConnected) return index;
  }
  return std::nullopt;
}

// A real client logs in within a few round trips of its accept; a connection
// that has not by the end of its grace is not let keep a player out.
std::optional<std::size_t> Form1::MakeRoom() {
  if (settings_.loginGrace <= std::chrono::milliseconds::zero()) return std::nullopt;
  const auto now = clock_.Now();
  std::optional<std::size_t> longest;
  for (std::size_t index = 0; index < kSlotCount; ++index) {
    const SessionSlot& slot = *slots_[index];
    if (slot.loggedIn || now - slot.acceptedAt < settings_.loginGrace) continue;
    if (!longest || slot.acceptedAt < slots_[*longest]->acceptedAt) longest = index;
  }
  if (!longest) return std::nullopt;
  CloseFor(*longest, HostCause::kMadeRoom);
  // A socket that failed to close would not be room.
  if (slots_[*longest]->session.Stat() == SocketControl::kConnected) return std::nullopt;
  return longest;
}

void Form1::ConnectionAccepted(std::size_t index, const std::optional<IpAddress>& address,
                               const std::string& peer) {
  SessionSlot& slot = *slots_[index];
  slot.loggedIn = false;
  if (slot.session.Stat() != SocketControl::kConnected) return;
  const auto now = clock_.Now();
  slot.acceptedAt = now;
  slot.lastHeard = now;
  slot.address = address;
  slot.subject = "slot " + std::to_string(index + 1) + (peer.empty() ? "" : " " + peer);
  slot.characterFile.clear();
  slot.relayBudget.Refill(now);
  slot.loginRate.Reset();
  slot.loginsDropped = false;
  slot.handshakeDeadline->Start(settings_.handshakeTimeout);
  if (settings_.loginTimeout > std::chrono::milliseconds::zero()) {
    slot.loginDeadline->Start(settings_.loginTimeout);
  }
  if (settings_.idleTimeout > std::chrono::milliseconds::zero()) {
    slot.idleDeadline->Start(settings_.idleTimeout);
  }
  Publish([&](ConnectionObserver& observer) { observer.ConnectionAccepted(index, peer); });
}

void Form1::Deadline(std::size_t index, HostCause cause) {
  SessionSlot& slot = *slots_[index];
  // A socket that lost its peer without saying so only needs closing; it
  // will not report its end, so its other deadlines go now.
  if (slot.session.Stat() != SocketControl::kConnected) {
    StopDeadlines(slot);
    slot.session.Closer();
    return;
  }
  CloseFor(index, cause);
}

// The timer is not restarted on every arrival: when it fires early it is set
// again for the rest of the quiet time.
void Form1::IdleCheck(std::size_t index) {
  SessionSlot& slot = *slots_[index];
  const auto quiet =
      std::chrono::duration_cast<std::chrono::milliseconds>(clock_.Now() - slot.lastHeard);
  if (slot.session.Stat() == SocketControl::kConnected && quiet < settings_.idleTimeout) {
    slot.idleDeadline->Start(settings_.idleTimeout - quiet);
    return;
  }
  Deadline(index, HostCause::kIdleTimeout);
}

// A login has come, whatever becomes of it: the login deadline is met.
bool Form1::AdmitLogin(std::size_t index, std::string_view characterFile) {
  SessionSlot& slot = *slots_[index];
  slot.loginDeadline->Stop();
  if (characterFile.empty() && settings_.requireCharacter) {
    CloseFor(index, HostCause::kNoCharacterFile);
    return false;
  }
  const bool inUse =
      !characterFile.empty() &&
      std::any_of(slots_.begin(), slots_.end(), [&](const std::unique_ptr<SessionSlot>& other) {
        return other.get() != &slot && other->session.Stat() == SocketControl::kConnected &&
               other->characterFile == characterFile;
      });
  if (inUse) {
    CloseFor(index, HostCause::kCharacterInUse);
    return false;
  }
  slot.characterFile = characterFile;
  return true;
}

void Form1::CloseFor(std::size_t index, HostCause cause) {
  SessionSlot& slot = *slots_[index];
  slot.closing = cause;
  slot.socket.Reset();
  // A socket that had already ended says nothing; the cause is not for the next.
  slot.closing = HostCause::kNone;
}

void Form1::StopDeadlines(SessionSlot& slot) {
  slot.handshakeDeadline->Stop();
  slot.loginDeadline->Stop();
  slot.idleDeadline->Stop();
}

void Form1::ConnectionClosed(std::size_t index, CloseReason reason) {
  SessionSlot& slot = *slots_[index];
  StopDeadlines(slot);
  slot.loggedIn = false;
  slot.characterFile.clear();
  const auto now = clock_.Now();
  const auto lasted = std::chrono::duration_cast<std::chrono::milliseconds>(now - slot.acceptedAt);
  const HostCause cause = std::exchange(slot.closing, HostCause::kNone);
  Publish([&](ConnectionObserver& observer) {
    observer.ConnectionClosed(index, reason, cause, lasted);
  });
  if (!ClosedByDeadline(cause) || !slot.address) return;
  if (const auto ban = admission_.Penalize(*slot.address, now)) {
    const std::string banned = admission_.PeerText(*slot.address);
    Publish([&](ConnectionObserver& observer) {
      observer.AddressBanned(banned, ban->reason, ban->duration);
    });
  }
}

void Form1::SetWelcomeLine(const Bytes& line) {
  settings_.welcomeLine = line;
  for (const auto& slot : slots_) slot->session.SetWelcomeLine(line);
}

void Form1::SetAddressRanges(std::vector<AddressRange> allow, std::vector<AddressRange> deny) {
  settings_.admission.allow = allow;
  settings_.admission.deny = deny;
  admission_.SetRanges(std::move(allow), std::move(deny));
  for (std::size_t index = 0; index < kSlotCount; ++index) {
    const SessionSlot& slot = *slots_[index];
    if (slot.session.Stat() == SocketControl::kConnected && slot.address &&
        admission_.RangeRefusal(*slot.address)) {
      CloseFor(index, HostCause::kDenied);
    }
  }
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
