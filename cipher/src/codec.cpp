// Escape codec used by the handshake: no byte below 0x08 travels raw.
#include <cstddef>

#include "kelvane.h"

namespace {
constexpr unsigned char kEscape = 0x07;
constexpr unsigned char kEndMarker = 0x01;
constexpr unsigned char kFlip = 0x0F;
constexpr unsigned char kFirstPlain = 0x08;
}  // namespace

extern "C" ByteStr encode(const unsigned char* data) {
  const std::size_t n = ByteStrLen(data);
  std::size_t escapes = 0;
  for (std::size_t i = 0; i < n; ++i) escapes += data[i] < kFirstPlain;
  const std::size_t outLength = n + escapes + 1;
  if (outLength > UINT32_MAX) return nullptr;
  ByteStr out = ByteStrAlloc(nullptr, static_cast<uint32_t>(outLength));
  if (out == nullptr) return nullptr;
  unsigned char* w = out;
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char b = data[i];
    if (b < kFirstPlain) {
      *w++ = kEscape;
      *w++ = b ^ kFlip;
    } else {
      *w++ = b;
    }
  }
  *w = kEndMarker;
  return out;
}

extern "C" ByteStr decode(const unsigned char* data) {
  const std::size_t n = ByteStrLen(data);
  if (n < 2) return ByteStrAlloc(nullptr, 0);
  // The last byte is the end marker whatever its value; it is written only as
  // the partner of an escape standing second to last.
  const std::size_t body = n - 1;
  std::size_t outLength = 0;
  for (std::size_t p = 0; p < body; ++outLength) p += data[p] == kEscape ? 2 : 1;
  ByteStr out = ByteStrAlloc(nullptr, static_cast<uint32_t>(outLength));
  if (out == nullptr) return nullptr;
  unsigned char* w = out;
  for (std::size_t p = 0; p < body;) {
    if (data[p] == kEscape) {
      *w++ = data[p + 1] ^ kFlip;
      p += 2;
    } else {
      *w++ = data[p++];
    }
  }
  return out;
}
