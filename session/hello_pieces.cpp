#include "hello_pieces.h"

#include <cstdint>

#include "session/handshake.h"

namespace quorvane {
namespace {

constexpr std::uint8_t kEscape = 0x07;
constexpr std::uint8_t kEscapeMask = 0x0F;
constexpr std::uint8_t kFirstPlain = 0x08;

}  // namespace

bool UnfinishedHello(ByteView wire) {
  std::size_t decoded = 0;
  for (std::size_t at = 0; at < wire.size();) {
    std::uint8_t byte = wire[at];
    if (byte == kEscape) {
      // An escape byte last waits for its partner.
      if (at + 1 == wire.size()) return decoded < kHelloSize;
      byte = wire[at + 1] ^ kEscapeMask;
      at += 2;
    } else if (byte < kFirstPlain) {
      return false;  // the end marker: the hello is whole, not unfinished
    } else {
      ++at;
    }
    if (decoded == kHelloSize) return false;
    if (decoded < kHelloPrefix.size() && byte != kHelloPrefix[decoded]) return false;
    ++decoded;
  }
  return !wire.empty();
}

}  // namespace quorvane
