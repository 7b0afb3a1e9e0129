// The names under which slot states and the reasons of the connection events
// are shown and exported: lower case with underscores, fit for a metrics
// label or a JSON value; a window shows them with spaces.
#pragma once

#include <string_view>

#include "host/connection_observer.h"
#include "host/server_status.h"

namespace quorvane {

std::string_view NameOf(SlotState state);
std::string_view NameOf(RefusalReason reason);
std::string_view NameOf(BanReason reason);
std::string_view NameOf(CloseReason reason);
std::string_view NameOf(HostCause cause);
std::string_view NameOf(DropReason reason);

// Every value of each, in the order of its enum: what a counter array of
// ServerSnapshot is indexed by.
inline constexpr SlotState kSlotStates[] = {SlotState::kFree, SlotState::kAwaitingHello,
                                            SlotState::kOpen, SlotState::kLoggedIn};
inline constexpr RefusalReason kRefusalReasons[] = {
    RefusalReason::kSlotsFull,       RefusalReason::kNotAllowed, RefusalReason::kDenied,
    RefusalReason::kPerAddressLimit, RefusalReason::kBanned,     RefusalReason::kNoPeerAddress,
    RefusalReason::kShuttingDown};
inline constexpr BanReason kBanReasons[] = {BanReason::kConnectionRate, BanReason::kTimeoutPenalty};
inline constexpr CloseReason kCloseReasons[] = {CloseReason::kPeerClosed, CloseReason::kReset,
                                                CloseReason::kTimedOut, CloseReason::kSendBound,
                                                CloseReason::kClosedByUs};
// Without kNone: the causes of a connection the host ended.
inline constexpr HostCause kHostCauses[] = {
    HostCause::kHandshakeTimeout, HostCause::kLoginTimeout,    HostCause::kIdleTimeout,
    HostCause::kCharacterInUse,   HostCause::kNoCharacterFile, HostCause::kMadeRoom,
    HostCause::kDenied,           HostCause::kKicked,          HostCause::kShutdown};
inline constexpr DropReason kDropReasons[] = {DropReason::kBackPressure, DropReason::kRateLimit};

static_assert(std::size(kRefusalReasons) == kRefusalReasonCount);
static_assert(std::size(kBanReasons) == kBanReasonCount);
static_assert(std::size(kCloseReasons) == kCloseReasonCount);
static_assert(std::size(kHostCauses) + 1 == kHostCauseCount);
static_assert(std::size(kDropReasons) == kDropReasonCount);

}  // namespace quorvane
