// Peer addresses as the host's address rules see them: IPv4 and IPv6 in one
// form, where an IPv4-mapped IPv6 address (::ffff:a.b.c.d, what a dual-stack
// listener reports for an IPv4 peer) is the IPv4 address itself.
#pragma once

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorvane {

class IpAddress {
 public:
  // "192.0.2.1", "2001:db8::1", "::ffff:192.0.2.1"; an IPv6 zone ("%eth0")
  // is ignored. Nothing for anything else, host names included.
  static std::optional<IpAddress> Parse(std::string_view text);

  bool IsV4() const;
  // The usual text: dotted IPv4 (mapped addresses too), compressed IPv6.
  std::string ToString() const;
  // ToString and the port, IPv6 in brackets: "192.0.2.1:40000", "[::1]:40000".
  std::string WithPort(std::uint16_t port) const;

  // The 16 bytes in network order; IPv4 as ::ffff:a.b.c.d.
  const std::array<std::uint8_t, 16>& Bytes() const { return bytes_; }
  // This address with all but its first `bits` of 128 bits cleared.
  IpAddress Masked(int bits) const;

  friend auto operator<=>(const IpAddress&, const IpAddress&) = default;

 private:
  std::array<std::uint8_t, 16> bytes_{};
};

// "ADDR" of "ADDR:PORT" or "[ADDR]:PORT"; the text itself when it has no port
// ("::1", "192.0.2.1"). A peer as the listener names it, not checked.
std::string_view AddressOf(std::string_view peer);

struct IpAddressHash {
  std::size_t operator()(const IpAddress& address) const noexcept;
};

// ADDR or ADDR/BITS: every address whose first BITS bits are ADDR's. An IPv4
// range matches IPv4 peers only, mapped ones included; an IPv6 range, IPv6
// peers only. A mapped ADDR written as IPv6 (::ffff:192.0.2.0/120) counts its
// BITS over the IPv6 address and is the IPv4 range it covers.
class AddressRange {
 public:
  // Nothing when ADDR is no address, has a zone, or BITS is not 0 to 32
  // (IPv4), 0 to 128 (IPv6) or 96 to 128 (mapped); host bits set in ADDR are
  // allowed and ignored.
  static std::optional<AddressRange> Parse(std::string_view text);

  bool Contains(const IpAddress& address) const;
  // ADDR/BITS with the host bits cleared.
  std::string ToString() const;

  friend bool operator==(const AddressRange&, const AddressRange&) = default;

 private:
  AddressRange(const IpAddress& base, int bits) : base_(base.Masked(bits)), bits_(bits) {}

  IpAddress base_;
  int bits_ = 0;  // prefix length over all 16 bytes
};

}  // namespace quorvane
