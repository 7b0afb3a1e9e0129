// The address rules on their own, on times the test sets: allow and deny,
// slots per address, automatic bans, the timeout penalty and the bound on
// what is remembered.
#include "host/address_admission.h"

#include <gtest/gtest.h>

#include <string>

namespace quorvane {
namespace {

using namespace std::chrono_literals;
using TimePoint = AddressAdmission::TimePoint;

const TimePoint kStart{};

IpAddress Address(const std::string& text) {
  return *IpAddress::Parse(text);
}

std::vector<AddressRange> Ranges(std::initializer_list<const char*> texts) {
  std::vector<AddressRange> ranges;
  for (const char* text : texts) ranges.push_back(*AddressRange::Parse(text));
  return ranges;
}

// Rules alone: no bans to get in the way.
AdmissionSettings Rules() {
  AdmissionSettings settings;
  settings.autoban.reset();
  return settings;
}

std::optional<RefusalReason> RefusalOf(AddressAdmission& admission, const std::string& address,
                                       std::size_t slotsHeld = 0) {
  return admission.Request(Address(address), kStart, slotsHeld).refusal;
}

TEST(AddressAdmissionTest, AllowAndDenyRangesDecideWhoIsServed) {
  struct Case {
    std::vector<AddressRange> allow, deny;
    std::string address;
    std::optional<RefusalReason> refusal;
  };
  const Case cases[] = {
      {{}, {}, "203.0.113.5", std::nullopt},
      {{}, Ranges({"203.0.113.0/24"}), "203.0.113.5", RefusalReason::kDenied},
      {{}, Ranges({"203.0.113.0/24"}), "::ffff:203.0.113.5", RefusalReason::kDenied},
      {{}, Ranges({"203.0.113.0/24"}), "203.0.114.5", std::nullopt},
      {Ranges({"10.0.0.0/8", "2001:db8::/32"}), {}, "10.2.3.4", std::nullopt},
      {Ranges({"10.0.0.0/8", "2001:db8::/32"}), {}, "2001:db8::7", std::nullopt},
      {Ranges({"10.0.0.0/8", "2001:db8::/32"}), {}, "192.168.0.1", RefusalReason::kNotAllowed},
      {Ranges({"10.0.0.0/8"}), Ranges({"10.9.0.0/16"}), "10.9.1.1", RefusalReason::kDenied},
      {Ranges({"10.0.0.0/8"}), Ranges({"10.9.0.0/16"}), "10.8.1.1", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address);
    AdmissionSettings settings = Rules();
    settings.allow = c.allow;
    settings.deny = c.deny;
    AddressAdmission admission(settings);
    EXPECT_EQ(RefusalOf(admission, c.address), c.refusal);
    EXPECT_EQ(admission.Tracked(), 0u);
  }
}

TEST(AddressAdmissionTest, AnAddressHoldsAtMostItsShareOfSlots) {
  AdmissionSettings settings = Rules();
  settings.maxPerAddress = 1;
  AddressAdmission limited(settings);
  EXPECT_EQ(RefusalOf(limited, "192.0.2.1", 0), std::nullopt);
  EXPECT_EQ(RefusalOf(limited, "192.0.2.1", 1), RefusalReason::kPerAddressLimit);

  AddressAdmission unlimited(Rules());
  EXPECT_EQ(RefusalOf(unlimited, "192.0.2.1", 2), std::nullopt);
}

TEST(AddressAdmissionTest, MoreThanTheAllowedConnectionsWithinTheWindowBanTheAddress) {
  AdmissionSettings settings = Rules();
  settings.autoban = Autoban{20, 60s, 300s};
  AddressAdmission admission(settings);
  const IpAddress busy = Address("198.51.100.9");
  for (int i = 0; i < 20; ++i) {
    const auto verdict = admission.Request(busy, kStart + i * 1s, 0);
    EXPECT_EQ(verdict.refusal, std::nullopt) << i;
  }
  const auto banned = admission.Request(busy, kStart + 59s, 0);
  EXPECT_EQ(banned.refusal, RefusalReason::kBanned);
  EXPECT_EQ(banned.ban, (Ban{BanReason::kConnectionRate, 300s}));

  // The ban holds for its time and is announced once.
  const auto again = admission.Request(busy, kStart + 59s + 300s - 1ms, 0);
  EXPECT_EQ(again.refusal, RefusalReason::kBanned);
  EXPECT_EQ(again.ban, std::nullopt);
  EXPECT_EQ(RefusalOf(admission, "198.51.100.10"), std::nullopt) << "another address";
  EXPECT_EQ(admission.Request(busy, kStart + 59s + 300s, 0).refusal, std::nullopt);
}

TEST(AddressAdmissionTest, ConnectionsSpreadWiderThanTheWindowAreNeverBanned) {
  AdmissionSettings settings = Rules();
  settings.autoban = Autoban{20, 60s, 300s};
  AddressAdmission admission(settings);
  for (int i = 0; i < 200; ++i) {
    // 20 within any 60 s, never 21.
    EXPECT_EQ(admission.Request(Address("192.0.2.1"), kStart + i * 3001ms, 0).refusal, std::nullopt)
        << i;
  }
  AddressAdmission off(Rules());
  for (int i = 0; i < 10000; ++i) {
    ASSERT_EQ(off.Request(Address("192.0.2.1"), kStart, 0).refusal, std::nullopt) << i;
  }
}

TEST(AddressAdmissionTest, ADeadlineClosingAConnectionRefusesItsAddressForThePenalty) {
  AdmissionSettings settings = Rules();
  settings.timeoutPenalty = 60s;
  AddressAdmission admission(settings);
  const IpAddress slow = Address("2001:db8::5");
  EXPECT_EQ(admission.Penalize(slow, kStart + 10s), (Ban{BanReason::kTimeoutPenalty, 60s}));
  EXPECT_EQ(admission.Request(slow, kStart + 70s - 1ms, 0).refusal, RefusalReason::kBanned);
  EXPECT_EQ(admission.Request(slow, kStart + 70s, 0).refusal, std::nullopt);

  settings.timeoutPenalty = 0s;
  AddressAdmission lenient(settings);
  EXPECT_EQ(lenient.Penalize(slow, kStart), std::nullopt);
  EXPECT_EQ(lenient.Request(slow, kStart, 0).refusal, std::nullopt);
}

TEST(AddressAdmissionTest, PenaltyDoesNotShortenALongerBan) {
  AdmissionSettings settings = Rules();
  settings.autoban = Autoban{1, 60s, 300s};
  settings.timeoutPenalty = 60s;
  AddressAdmission admission(settings);
  const IpAddress busy = Address("192.0.2.1");
  admission.Request(busy, kStart, 0);
  ASSERT_TRUE(admission.Request(busy, kStart, 0).ban);
  EXPECT_EQ(admission.Penalize(busy, kStart + 1s), std::nullopt);
  EXPECT_EQ(admission.Request(busy, kStart + 299s, 0).refusal, RefusalReason::kBanned);
}

// Each of many peers (IPv6 /64s) connecting once must not grow the records
// without bound, and a standing ban must outlast the churn.
TEST(AddressAdmissionTest, RecordsStayBoundedAndBansOutliveTheChurn) {
  AdmissionSettings settings = Rules();
  settings.autoban = Autoban{1, 60s, 300s};
  AddressAdmission admission(settings);
  const IpAddress banned = Address("192.0.2.1");
  admission.Request(banned, kStart, 0);
  ASSERT_TRUE(admission.Request(banned, kStart, 0).ban);

  const std::size_t visitors = AddressAdmission::kMaxTracked + 5000;
  for (std::size_t i = 0; i < visitors; ++i) {
    const std::string text =
        "2001:db8:" + std::to_string(i % 10000) + ":" + std::to_string(i / 10000 + 1) + "::1";
    ASSERT_EQ(admission.Request(*IpAddress::Parse(text), kStart + 1s, 0).refusal, std::nullopt)
        << text;
  }
  EXPECT_LE(admission.Tracked(), AddressAdmission::kMaxTracked);
  EXPECT_EQ(admission.Request(banned, kStart + 2s, 0).refusal, RefusalReason::kBanned);
}

}  // namespace
}  // namespace quorvane
