#include "host/address_admission.h"

#include <algorithm>
#include <utility>

namespace quorvane {
namespace {

bool InAny(const std::vector<AddressRange>& ranges, const IpAddress& address) {
  return std::any_of(ranges.begin(), ranges.end(),
                     [&](const AddressRange& range) { return range.Contains(address); });
}

}  // namespace

AddressAdmission::AddressAdmission(AdmissionSettings settings) : settings_(std::move(settings)) {}

std::optional<RefusalReason> AddressAdmission::RangeRefusal(const IpAddress& address) const {
  if (InAny(settings_.deny, address)) return RefusalReason::kDenied;
  if (!settings_.allow.empty() && !InAny(settings_.allow, address)) {
    return RefusalReason::kNotAllowed;
  }
  return std::nullopt;
}

IpAddress AddressAdmission::PeerOf(const IpAddress& address) const {
  return address.IsV4() ? address : address.Masked(settings_.ipv6PrefixBits);
}

std::string AddressAdmission::PeerText(const IpAddress& address) const {
  if (address.IsV4()) return address.ToString();
  return PeerOf(address).ToString() + "/" + std::to_string(settings_.ipv6PrefixBits);
}

AddressAdmission::Verdict AddressAdmission::Request(const IpAddress& from, TimePoint now,
                                                    std::size_t slotsHeld) {
  if (const auto refusal = RangeRefusal(from)) return {*refusal, {}};
  const IpAddress address = PeerOf(from);
  if (const auto found = records_.find(address);
      found != records_.end() && found->second.bannedUntil > now) {
    return {RefusalReason::kBanned, {}};
  }
  if (const auto& autoban = settings_.autoban) {
    Record& record = RecordOf(address, now);
    std::erase_if(record.recent, [&](TimePoint at) { return at <= now - autoban->window; });
    record.recent.push_back(now);
    if (record.recent.size() > static_cast<std::size_t>(autoban->connections)) {
      record.recent.clear();
      record.bannedUntil = now + autoban->duration;
      record.bannedSince = now;
      record.banReason = BanReason::kConnectionRate;
      return {RefusalReason::kBanned, Ban{BanReason::kConnectionRate, autoban->duration}};
    }
  }
  if (settings_.maxPerAddress != 0 && slotsHeld >= settings_.maxPerAddress) {
    return {RefusalReason::kPerAddressLimit, {}};
  }
  return {};
}

std::optional<Ban> AddressAdmission::Penalize(const IpAddress& address, TimePoint now) {
  const auto penalty = settings_.timeoutPenalty;
  if (penalty <= std::chrono::milliseconds::zero()) return std::nullopt;
  Record& record = RecordOf(PeerOf(address), now);
  if (record.bannedUntil >= now + penalty) return std::nullopt;
  record.bannedUntil = now + penalty;
  record.bannedSince = now;
  record.banReason = BanReason::kTimeoutPenalty;
  return Ban{BanReason::kTimeoutPenalty, penalty};
}

std::vector<AddressAdmission::BanInForce> AddressAdmission::Bans(TimePoint now) const {
  std::vector<BanInForce> bans;
  for (const auto& [address, record] : records_) {
    if (record.bannedUntil > now) {
      bans.push_back({address, record.banReason, record.bannedSince, record.bannedUntil});
    }
  }
  return bans;
}

bool AddressAdmission::Lift(const IpAddress& address, TimePoint now) {
  const auto found = records_.find(address);
  if (found == records_.end() || found->second.bannedUntil <= now) return false;
  found->second.bannedUntil = {};
  return true;
}

bool AddressAdmission::Live(const Record& record, TimePoint now) const {
  if (record.bannedUntil > now) return true;
  return settings_.autoban && !record.recent.empty() &&
         record.recent.back() > now - settings_.autoban->window;
}

AddressAdmission::Record& AddressAdmission::RecordOf(const IpAddress& address, TimePoint now) {
  if (const auto found = records_.find(address); found != records_.end()) return found->second;
  if (records_.size() >= kMaxTracked) MakeRoom(now);
  return records_[address];
}

// First whatever no longer matters; when every record still does, the
// sixteenth whose last request or ban end lies furthest back, so that a flood
// of new addresses pays for the search once per many of them.
void AddressAdmission::MakeRoom(TimePoint now) {
  std::erase_if(records_, [&](const auto& entry) { return !Live(entry.second, now); });
  if (records_.size() < kMaxTracked) return;
  std::vector<std::pair<TimePoint, IpAddress>> byAge;
  byAge.reserve(records_.size());
  for (const auto& [address, record] : records_) {
    const TimePoint latest = record.recent.empty()
                                 ? record.bannedUntil
                                 : std::max(record.recent.back(), record.bannedUntil);
    byAge.emplace_back(latest, address);
  }
  const auto cut = byAge.begin() + static_cast<std::ptrdiff_t>(byAge.size() / 16);
  std::nth_element(byAge.begin(), cut, byAge.end());
  for (auto oldest = byAge.begin(); oldest != cut; ++oldest) records_.erase(oldest->second);
}

}  // namespace quorvane
