// The host's rules over who may connect, decided on the peer's address
// before any slot is looked at: allowed and denied ranges, slots held per
// address, automatic bans of addresses that connect too often, and a penalty
// for addresses whose connections waste a slot until a deadline closes them.
// Bans, counts and slots held are kept per IPv4 address and per IPv6 prefix,
// since one IPv6 host commonly has a whole /64 to pick addresses from. Pure
// policy on a time the caller passes in.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "host/address_range.h"
#include "host/clock.h"
#include "host/connection_observer.h"

namespace quorvane {

// More than `connections` requests within `window` ban the address for
// `duration`.
struct Autoban {
  int connections = 20;
  std::chrono::milliseconds window{60000};
  std::chrono::milliseconds duration{300000};
  friend bool operator==(const Autoban&, const Autoban&) = default;
};

inline constexpr Autoban kDefaultAutoban{};
inline constexpr std::size_t kDefaultMaxPerAddress = 0;
inline constexpr std::chrono::milliseconds kDefaultTimeoutPenalty{60000};
inline constexpr int kDefaultIpv6PrefixBits = 64;

struct AdmissionSettings {
  // With any range here, only addresses inside one are served.
  std::vector<AddressRange> allow;
  // Addresses inside any of these are never served; deny wins over allow.
  std::vector<AddressRange> deny;
  // Slots one address may hold at once; 0 for no limit.
  std::size_t maxPerAddress = kDefaultMaxPerAddress;
  // Nothing: no automatic bans.
  std::optional<Autoban> autoban = kDefaultAutoban;
  // How long an address is refused after a deadline closed one of its
  // connections; 0 for never.
  std::chrono::milliseconds timeoutPenalty = kDefaultTimeoutPenalty;
  // The leading bits of an IPv6 address that name one peer, 1 to 128.
  int ipv6PrefixBits = kDefaultIpv6PrefixBits;

  friend bool operator==(const AdmissionSettings&, const AdmissionSettings&) = default;
};

struct Ban {
  BanReason reason;
  std::chrono::milliseconds duration;
  friend bool operator==(const Ban&, const Ban&) = default;
};

class AddressAdmission {
 public:
  using TimePoint = Clock::TimePoint;

  // Addresses whose bans and recent requests are kept at most. An attacker
  // with more addresses than this (easy with IPv6) wears out the oldest
  // records first, never the server's memory.
  static constexpr std::size_t kMaxTracked = 16384;

  explicit AddressAdmission(AdmissionSettings settings);

  struct Verdict {
    // Nothing when the request may go on to the slots.
    std::optional<RefusalReason> refusal;
    // The ban this very request started, if any.
    std::optional<Ban> ban;
  };
  // A connection request from `address`, whose peer (see PeerOf) holds
  // `slotsHeld` slots.
  Verdict Request(const IpAddress& address, TimePoint now, std::size_t slotsHeld);

  // A deadline closed a connection of `address`: it is refused for the
  // timeout penalty from `now`. The ban, or nothing when the penalty is off
  // or a longer ban already stands.
  std::optional<Ban> Penalize(const IpAddress& address, TimePoint now);

  // The allowed and denied ranges alone over `address`: nothing when they
  // let it in.
  std::optional<RefusalReason> RangeRefusal(const IpAddress& address) const;

  // The peer `address` counts as: itself for IPv4, its prefix for IPv6.
  IpAddress PeerOf(const IpAddress& address) const;
  // PeerOf as the operator reads it: "192.0.2.1", "2001:db8::/64".
  std::string PeerText(const IpAddress& address) const;

  const AdmissionSettings& Settings() const { return settings_; }
  // Takes new allowed and denied ranges; bans and counts stand.
  void SetRanges(std::vector<AddressRange> allow, std::vector<AddressRange> deny) {
    settings_.allow = std::move(allow);
    settings_.deny = std::move(deny);
  }
  // Peers with a record: a ban or requests within the autoban window.
  std::size_t Tracked() const { return records_.size(); }

  struct BanInForce {
    IpAddress address;
    BanReason reason;
    TimePoint since;
    TimePoint until;
  };
  // Every automatic ban that has not lifted by `now`, in no order.
  std::vector<BanInForce> Bans(TimePoint now) const;
  // Lifts the ban of `address`; false when it had none in force.
  bool Lift(const IpAddress& address, TimePoint now);

 private:
  struct Record {
    std::vector<TimePoint> recent;  // requests within the autoban window, oldest first
    TimePoint bannedUntil{};
    TimePoint bannedSince{};
    BanReason banReason = BanReason::kConnectionRate;
  };

  bool Live(const Record& record, TimePoint now) const;
  // The record of `address`, made room for when there is none yet.
  Record& RecordOf(const IpAddress& address, TimePoint now);
  void MakeRoom(TimePoint now);

  AdmissionSettings settings_;
  std::unordered_map<IpAddress, Record, IpAddressHash> records_;
};

}  // namespace quorvane
