#include "host/status_names.h"

namespace quorvane {

std::string_view NameOf(SlotState state) {
  switch (state) {
    case SlotState::kFree:
      return "free";
    case SlotState::kAwaitingHello:
      return "awaiting_hello";
    case SlotState::kOpen:
      return "open";
    case SlotState::kLoggedIn:
      return "logged_in";
  }
  return "unknown";
}

std::string_view NameOf(RefusalReason reason) {
  switch (reason) {
    case RefusalReason::kSlotsFull:
      return "slots_full";
    case RefusalReason::kNotAllowed:
      return "not_allowed";
    case RefusalReason::kDenied:
      return "denied";
    case RefusalReason::kPerAddressLimit:
      return "per_address_limit";
    case RefusalReason::kBanned:
      return "banned";
    case RefusalReason::kNoPeerAddress:
      return "no_peer_address";
    case RefusalReason::kShuttingDown:
      return "shutting_down";
  }
  return "unknown";
}

std::string_view NameOf(BanReason reason) {
  switch (reason) {
    case BanReason::kConnectionRate:
      return "connection_rate";
    case BanReason::kTimeoutPenalty:
      return "timeout_penalty";
  }
  return "unknown";
}

std::string_view NameOf(CloseReason reason) {
  switch (reason) {
    case CloseReason::kPeerClosed:
      return "peer_closed";
    case CloseReason::kReset:
      return "reset";
    case CloseReason::kTimedOut:
      return "timed_out";
    case CloseReason::kSendBound:
      return "send_bound";
    case CloseReason::kClosedByUs:
      return "closed_by_us";
  }
  return "unknown";
}

std::string_view NameOf(HostCause cause) {
  switch (cause) {
    case HostCause::kNone:
      return "none";
    case HostCause::kHandshakeTimeout:
      return "handshake_timeout";
    case HostCause::kLoginTimeout:
      return "login_timeout";
    case HostCause::kIdleTimeout:
      return "idle_timeout";
    case HostCause::kCharacterInUse:
      return "character_in_use";
    case HostCause::kNoCharacterFile:
      return "no_character_file";
    case HostCause::kMadeRoom:
      return "made_room";
    case HostCause::kDenied:
      return "denied";
    case HostCause::kKicked:
      return "kicked";
    case HostCause::kShutdown:
      return "shutdown";
  }
  return "unknown";
}

std::string_view NameOf(DropReason reason) {
  switch (reason) {
    case DropReason::kBackPressure:
      return "back_pressure";
    case DropReason::kRateLimit:
      return "rate_limit";
  }
  return "unknown";
}

}  // namespace quorvane
