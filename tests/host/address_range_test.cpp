// Peer addresses and the ranges of --allow and --deny: parsing, the IPv4
// form of mapped addresses, and which addresses a range holds.
#include "host/address_range.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quorvane {
namespace {

TEST(IpAddressTest, ParsesIpv4AndIpv6AndTakesMappedAddressesAsIpv4) {
  struct Case {
    std::string text;
    std::string shown;
    bool v4;
  };
  const Case cases[] = {
      {"192.0.2.1", "192.0.2.1", true},
      {"::ffff:192.0.2.1", "192.0.2.1", true},
      {"::FFFF:c000:0201", "192.0.2.1", true},
      {"2001:db8::1", "2001:db8::1", false},
      {"2001:DB8:0:0:0:0:0:1", "2001:db8::1", false},
      {"::1", "::1", false},
      {"fe80::1%eth0", "fe80::1", false},
      {"0.0.0.0", "0.0.0.0", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const auto address = IpAddress::Parse(c.text);
    ASSERT_TRUE(address);
    EXPECT_EQ(address->ToString(), c.shown);
    EXPECT_EQ(address->IsV4(), c.v4);
  }
  EXPECT_EQ(IpAddress::Parse("::ffff:10.1.2.3"), IpAddress::Parse("10.1.2.3"));
  EXPECT_NE(IpAddress::Parse("::10.1.2.3"), IpAddress::Parse("10.1.2.3"));
}

TEST(IpAddressTest, RefusesWhatIsNoAddress) {
  for (const char* text : {"", "example.org", "1.2.3", "256.1.1.1", "1.2.3.4:80", "[::1]", "::g",
                           "1.2.3.4 ", " 1.2.3.4", "1:2:3:4:5:6:7:8:9"}) {
    EXPECT_EQ(IpAddress::Parse(text), std::nullopt) << '"' << text << '"';
  }
}

TEST(IpAddressTest, WritesThePortBesideTheAddressWithIpv6InBrackets) {
  EXPECT_EQ(IpAddress::Parse("192.0.2.1")->WithPort(40000), "192.0.2.1:40000");
  EXPECT_EQ(IpAddress::Parse("::ffff:192.0.2.1")->WithPort(1), "192.0.2.1:1");
  EXPECT_EQ(IpAddress::Parse("2001:db8::1")->WithPort(10217), "[2001:db8::1]:10217");
}

TEST(AddressOfTest, TakesThePortOffEveryFormOfPeer) {
  const std::vector<std::pair<std::string, std::string>> cases{
      {"127.0.0.1:40000", "127.0.0.1"},
      {"[::1]:40000", "::1"},
      {"[2001:db8::5]:1", "2001:db8::5"},
      // Without a port an IPv6 address keeps every colon it has.
      {"::1", "::1"},
      {"2001:db8::5", "2001:db8::5"},
      {"[::1]", "::1"},
      {"192.0.2.1", "192.0.2.1"},
      {"", ""},
  };
  for (const auto& [peer, address] : cases) EXPECT_EQ(AddressOf(peer), address) << peer;
}

TEST(AddressRangeTest, HoldsTheAddressesThatShareItsPrefix) {
  struct Case {
    std::string range;
    std::string address;
    bool inside;
  };
  const Case cases[] = {
      {"10.0.0.0/8", "10.255.1.2", true},
      {"10.0.0.0/8", "11.0.0.1", false},
      {"10.0.0.0/8", "9.255.255.255", false},
      {"10.0.0.0/8", "::ffff:10.1.1.1", true},
      {"192.0.2.7", "192.0.2.7", true},
      {"192.0.2.7", "192.0.2.8", false},
      {"192.0.2.0/25", "192.0.2.127", true},
      {"192.0.2.0/25", "192.0.2.128", false},
      {"10.1.2.3/8", "10.9.9.9", true},
      {"0.0.0.0/0", "203.0.113.5", true},
      {"0.0.0.0/0", "::1", false},
      {"::/0", "2001:db8::1", true},
      {"::/0", "10.0.0.1", false},
      {"::/0", "::ffff:10.0.0.1", false},
      {"2001:db8::/32", "2001:db8:ffff::1", true},
      {"2001:db8::/32", "2001:db9::1", false},
      {"2001:db8::/33", "2001:db8:7fff::", true},
      {"2001:db8::/33", "2001:db8:8000::", false},
      {"::1", "::1", true},
      {"::1", "127.0.0.1", false},
      {"::ffff:192.0.2.0/120", "192.0.2.200", true},
      {"::ffff:192.0.2.0/120", "192.0.3.1", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.range + " " + c.address);
    const auto range = AddressRange::Parse(c.range);
    ASSERT_TRUE(range);
    EXPECT_EQ(range->Contains(*IpAddress::Parse(c.address)), c.inside);
  }
}

TEST(AddressRangeTest, IsWrittenWithItsHostBitsCleared) {
  EXPECT_EQ(AddressRange::Parse("10.1.2.3/8")->ToString(), "10.0.0.0/8");
  EXPECT_EQ(AddressRange::Parse("192.0.2.7")->ToString(), "192.0.2.7/32");
  EXPECT_EQ(AddressRange::Parse("2001:db8::ff/64")->ToString(), "2001:db8::/64");
  EXPECT_EQ(AddressRange::Parse("::ffff:192.0.2.9/120")->ToString(), "192.0.2.0/24");
}

TEST(AddressRangeTest, RefusesBadAddressesAndPrefixLengths) {
  for (const char* text : {"", "/8", "nonsense/8", "10.0.0.0/33", "10.0.0.0/-1", "10.0.0.0/",
                           "10.0.0.0/8x", "10.0.0.0/ 8", "10.0.0.0/8/8", "::/129",
                           "fe80::1%eth0/64", "fe80::1%eth0", "::ffff:1.2.3.4/95", "10.0.0.0/+8"}) {
    EXPECT_EQ(AddressRange::Parse(text), std::nullopt) << '"' << text << '"';
  }
}

}  // namespace
}  // namespace quorvane
