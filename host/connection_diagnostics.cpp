#include "host/connection_diagnostics.h"

#include <charconv>
#include <vector>

#include "host/address_range.h"

namespace quorvane {
namespace {

// Seconds as the operator wrote them: 30, 0.5.
std::string SecondsText(std::chrono::milliseconds duration) {
  char text[32];
  const double seconds = static_cast<double>(duration.count()) / 1000;
  const auto end = std::to_chars(text, text + sizeof text, seconds, std::chars_format::general, 6);
  return std::string(text, end.ptr);
}

// Whose refusals "ADDR:PORT" or "[ADDR]:PORT" counts among: the address, or
// for IPv6 its prefix, as the address rules count peers.
std::string PeerOf(std::string_view peer, int ipv6PrefixBits) {
  const std::string_view address = AddressOf(peer);
  const auto parsed = IpAddress::Parse(address);
  if (!parsed || parsed->IsV4()) return std::string(address);
  return parsed->Masked(ipv6PrefixBits).ToString();
}

}  // namespace

ConnectionDiagnostics::ConnectionDiagnostics(Clock& clock, Diagnostics report,
                                             const HostSettings& settings)
    : clock_(clock), report_(std::move(report)), settings_(settings) {
  for (std::size_t slot = 0; slot < kSlotCount; ++slot) {
    subjects_[slot] = "slot " + std::to_string(slot + 1);
  }
  dropTimer_ =
      clock_.CreateTimer(TimerKind::kOneShot, "the relay drop summary", [this] { WriteDrops(); });
}

void ConnectionDiagnostics::ConnectionAccepted(std::size_t slot, std::string_view peer) {
  subjects_[slot] = "slot " + std::to_string(slot + 1);
  if (!peer.empty()) {
    subjects_[slot] += ' ';
    subjects_[slot] += peer;
  }
  Write(Severity::kInfo, subjects_[slot], "accepted");
}

void ConnectionDiagnostics::ConnectionRefused(std::string_view peer, RefusalReason reason) {
  // The ban's own line stands for every refusal it causes.
  if (reason == RefusalReason::kBanned) return;
  const auto now = clock_.Now();
  QuietRefusals* own = QuietFor(PeerOf(peer, settings_.admission.ipv6PrefixBits), now);
  QuietRefusals& quiet = own != nullptr ? *own : others_;
  if (quiet.written && now - *quiet.written < kRefusalQuiet) {
    ++quiet.unwritten;
    return;
  }
  std::string message = "refused: " + RefusalText(reason);
  if (quiet.unwritten != 0) {
    message += " (" + std::to_string(quiet.unwritten) + " more refused from " +
               (own != nullptr ? "it" : "other addresses") + " since the last line)";
  }
  Write(reason == RefusalReason::kSlotsFull ? Severity::kInfo : Severity::kWarning,
        peer.empty() ? "unknown peer" : peer, message);
  quiet.written = now;
  quiet.unwritten = 0;
}

void ConnectionDiagnostics::AddressBanned(std::string_view address, BanReason reason,
                                          std::chrono::milliseconds duration) {
  std::string message;
  switch (reason) {
    case BanReason::kConnectionRate: {
      const Autoban rule = settings_.admission.autoban.value_or(Autoban{});
      message = "banned for " + SecondsText(duration) + " s: more than " +
                std::to_string(rule.connections) + " connections within " +
                SecondsText(rule.window) + " s";
      break;
    }
    case BanReason::kTimeoutPenalty:
      message = "refused for " + SecondsText(duration) + " s: a deadline closed its connection";
      break;
  }
  Write(Severity::kWarning, address, message);
}

void ConnectionDiagnostics::LoggedIn(std::size_t slot, std::string_view fileName,
                                     bool characterFound) {
  std::string message = "logged in as " + Quoted(fileName);
  if (!characterFound) message += ": no character file";
  Write(Severity::kInfo, subjects_[slot], message);
}

void ConnectionDiagnostics::ConnectionClosed(std::size_t slot, CloseReason reason, HostCause cause,
                                             std::chrono::milliseconds /*lasted*/) {
  const bool quiet = cause == HostCause::kNone &&
                     (reason == CloseReason::kPeerClosed || reason == CloseReason::kReset ||
                      reason == CloseReason::kClosedByUs);
  Write(quiet ? Severity::kInfo : Severity::kWarning, subjects_[slot],
        "closed: " + CloseText(reason, cause));
}

void ConnectionDiagnostics::RelayDropped(std::size_t fromSlot, std::size_t toSlot,
                                         std::int16_t /*opcode*/, DropReason reason) {
  const auto [entry, added] = drops_.try_emplace({fromSlot, toSlot});
  Drops& drops = entry->second;
  if (added) drops.sender = fromSlot < kSlotCount ? subjects_[fromSlot] : "NPCs";
  ++(reason == DropReason::kBackPressure ? drops.backPressure : drops.rateLimit);
  if (!dropTimerRunning_) {
    dropTimerRunning_ = true;
    dropTimer_->Start(kDropSummary);
  }
}

void ConnectionDiagnostics::Write(Severity severity, std::string_view subject,
                                  std::string_view message) {
  Report(report_, severity, subject, message);
}

ConnectionDiagnostics::QuietRefusals* ConnectionDiagnostics::QuietFor(const std::string& address,
                                                                      Clock::TimePoint now) {
  if (const auto found = quiet_.find(address); found != quiet_.end()) return &found->second;
  if (quiet_.size() >= kMaxQuietAddresses) {
    std::erase_if(quiet_, [&](const auto& entry) {
      return !entry.second.written || now - *entry.second.written >= kRefusalQuiet;
    });
    if (quiet_.size() >= kMaxQuietAddresses) return nullptr;
  }
  return &quiet_[address];
}

std::string ConnectionDiagnostics::CloseText(CloseReason reason, HostCause cause) const {
  switch (cause) {
    case HostCause::kNone:
      break;
    case HostCause::kHandshakeTimeout:
      return "no handshake within " + SecondsText(settings_.handshakeTimeout) + " s";
    case HostCause::kLoginTimeout:
      return "no login within " + SecondsText(settings_.loginTimeout) + " s";
    case HostCause::kIdleTimeout:
      return "nothing received for " + SecondsText(settings_.idleTimeout) + " s";
    case HostCause::kCharacterInUse:
      return "its login named the character another slot plays";
    case HostCause::kNoCharacterFile:
      return "its login named no character file";
    case HostCause::kMadeRoom:
      return "made room for a newcomer: no login within the " + SecondsText(settings_.loginGrace) +
             " s grace";
    case HostCause::kDenied:
      return "the reloaded address rules refuse its address";
    case HostCause::kKicked:
      return "kicked by an operator";
    case HostCause::kShutdown:
      return "the server is shutting down";
  }
  switch (reason) {
    case CloseReason::kPeerClosed:
      return "the peer closed the connection";
    case CloseReason::kReset:
      return "the connection was reset or failed";
    case CloseReason::kTimedOut:
      return "the peer stopped answering";
    case CloseReason::kSendBound:
      return "the peer does not read: more than its send bound waited to be sent";
    case CloseReason::kClosedByUs:
      return "closed by the server";
  }
  return "unknown reason";
}

std::string ConnectionDiagnostics::RefusalText(RefusalReason reason) const {
  switch (reason) {
    case RefusalReason::kSlotsFull:
      return "every slot is taken";
    case RefusalReason::kNotAllowed:
      return "outside every --allow range";
    case RefusalReason::kDenied:
      return "inside a --deny range";
    case RefusalReason::kPerAddressLimit:
      return "the address holds " + std::to_string(settings_.admission.maxPerAddress) +
             " slots already (--max-per-address)";
    case RefusalReason::kBanned:
      return "banned";
    case RefusalReason::kNoPeerAddress:
      return "its peer address cannot be read: the connection ended before it was taken";
    case RefusalReason::kShuttingDown:
      return "the server is shutting down";
  }
  return "unknown reason";
}

void ConnectionDiagnostics::WriteDrops() {
  dropTimerRunning_ = false;
  for (const auto& [slots, drops] : drops_) {
    const std::size_t total = drops.backPressure + drops.rateLimit;
    std::string message = "relay to slot " + std::to_string(slots.second + 1) + ": dropped " +
                          std::to_string(total) + " packets in " +
                          std::to_string(kDropSummary.count()) + " s (";
    std::vector<std::string> parts;
    if (drops.backPressure != 0) {
      parts.push_back(std::to_string(drops.backPressure) + " with over " +
                      std::to_string(settings_.relaySoftLimit) + " bytes waiting for the receiver");
    }
    if (drops.rateLimit != 0) {
      parts.push_back(std::to_string(drops.rateLimit) + " over the sender's relay rate");
    }
    for (std::size_t i = 0; i < parts.size(); ++i) message += (i == 0 ? "" : ", ") + parts[i];
    Write(Severity::kWarning, drops.sender, message + ")");
  }
  drops_.clear();
}

}  // namespace quorvane
