// decode on any bytes, checked against a plain byte-by-byte model; and
// encode followed by decode gives the input back.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_check.h"
#include "kelvane.hpp"

namespace {

using kelvane::Bytes;
using quorvane::fuzz::Require;

// The last byte is the end marker; an escape takes the byte after it,
// whatever that is, flipped with 0F.
Bytes ModelDecode(kelvane::ByteView in) {
  Bytes out;
  if (in.size() < 2) return out;
  for (std::size_t p = 0; p + 1 < in.size();) {
    if (in[p] == 0x07) {
      out.push_back(in[p + 1] ^ 0x0F);
      p += 2;
    } else {
      out.push_back(in[p]);
      p += 1;
    }
  }
  return out;
}

bool Same(kelvane::ByteView a, const Bytes& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const kelvane::ByteView input(data, size);
  const auto argument = kelvane::copyOf(input);

  const auto decoded = kelvane::adopt(::decode(argument.get()));
  Require(Same(kelvane::view(decoded), ModelDecode(input)), "decode matches the model");

  const auto encoded = kelvane::adopt(::encode(argument.get()));
  std::size_t escapes = 0;
  for (const std::uint8_t byte : input) escapes += byte < 0x08;
  Require(kelvane::view(encoded).size() == size + escapes + 1,
          "encode adds one byte per escape and the end marker");
  const auto roundTrip = kelvane::adopt(::decode(encoded.get()));
  Require(Same(kelvane::view(roundTrip), Bytes(input.begin(), input.end())),
          "decode undoes encode");
  return 0;
}
