#include "host/address_range.h"

#include <arpa/inet.h>

#include <algorithm>
#include <charconv>

namespace quorvane {
namespace {

constexpr std::array<std::uint8_t, 12> kMappedPrefix{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
constexpr int kMappedBits = 96;
constexpr int kAllBits = 128;

// A whole decimal number and nothing else.
std::optional<int> Number(std::string_view digits) {
  int value = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (digits.empty() || error != std::errc() || end != digits.data() + digits.size()) {
    return std::nullopt;
  }
  return value;
}

}  // namespace

std::optional<IpAddress> IpAddress::Parse(std::string_view text) {
  const std::string plain(text.substr(0, text.find('%')));
  IpAddress address;
  if (::inet_pton(AF_INET, plain.c_str(), address.bytes_.data() + kMappedPrefix.size()) == 1) {
    std::copy(kMappedPrefix.begin(), kMappedPrefix.end(), address.bytes_.begin());
    return address;
  }
  if (::inet_pton(AF_INET6, plain.c_str(), address.bytes_.data()) == 1) return address;
  return std::nullopt;
}

bool IpAddress::IsV4() const {
  return std::equal(kMappedPrefix.begin(), kMappedPrefix.end(), bytes_.begin());
}

std::string IpAddress::ToString() const {
  char text[INET6_ADDRSTRLEN];
  if (IsV4()) {
    ::inet_ntop(AF_INET, bytes_.data() + kMappedPrefix.size(), text, sizeof text);
  } else {
    ::inet_ntop(AF_INET6, bytes_.data(), text, sizeof text);
  }
  return text;
}

std::string IpAddress::WithPort(std::uint16_t port) const {
  // Appended piece by piece: GCC 12 at -O3 takes a chain of operator+ for an
  // overlapping copy (-Wrestrict).
  std::string text;
  if (IsV4()) {
    text = ToString();
  } else {
    text += '[';
    text += ToString();
    text += ']';
  }
  text += ':';
  text += std::to_string(port);
  return text;
}

IpAddress IpAddress::Masked(int bits) const {
  IpAddress masked = *this;
  for (int bit = std::max(bits, 0); bit < kAllBits; ++bit) {
    masked.bytes_[static_cast<std::size_t>(bit / 8)] &=
        static_cast<std::uint8_t>(~(0x80u >> (bit % 8)));
  }
  return masked;
}

std::string_view AddressOf(std::string_view peer) {
  if (peer.starts_with('[')) {
    const std::size_t close = peer.find(']');
    return close == std::string_view::npos ? peer.substr(1) : peer.substr(1, close - 1);
  }
  const std::size_t colon = peer.rfind(':');
  // More than one colon without brackets: an IPv6 address with no port.
  if (colon == std::string_view::npos || peer.find(':') != colon) return peer;
  return peer.substr(0, colon);
}

std::size_t IpAddressHash::operator()(const IpAddress& address) const noexcept {
  // FNV-1a over the 16 bytes.
  std::uint64_t hash = 0xCBF29CE484222325ull;
  for (const std::uint8_t byte : address.Bytes()) hash = (hash ^ byte) * 0x100000001B3ull;
  return static_cast<std::size_t>(hash);
}

std::optional<AddressRange> AddressRange::Parse(std::string_view text) {
  const std::size_t slash = text.find('/');
  const std::string_view host = text.substr(0, slash);
  // A zone names a link, not a range of addresses.
  if (host.find('%') != std::string_view::npos) return std::nullopt;
  const auto base = IpAddress::Parse(host);
  if (!base) return std::nullopt;
  const bool writtenAsV6 = host.find(':') != std::string_view::npos;
  const int width = writtenAsV6 ? kAllBits : kAllBits - kMappedBits;
  int bits = width;
  if (slash != std::string_view::npos) {
    const auto number = Number(text.substr(slash + 1));
    if (!number || *number < 0 || *number > width) return std::nullopt;
    bits = *number;
  }
  if (!writtenAsV6) bits += kMappedBits;
  // A mapped address with fewer bits would reach past the IPv4 addresses.
  if (base->IsV4() && bits < kMappedBits) return std::nullopt;
  return AddressRange(*base, bits);
}

// An IPv6 range as wide as ::/0 spans the mapped addresses too, but a mapped
// peer is an IPv4 one and only IPv4 ranges speak for it.
bool AddressRange::Contains(const IpAddress& address) const {
  return address.IsV4() == base_.IsV4() && address.Masked(bits_) == base_;
}

std::string AddressRange::ToString() const {
  return base_.ToString() + "/" + std::to_string(base_.IsV4() ? bits_ - kMappedBits : bits_);
}

}  // namespace quorvane
