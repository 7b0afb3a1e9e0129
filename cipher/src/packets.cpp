// Sealing and opening of packets in both directions.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "kelvane.h"
#include "mask.h"

namespace {
constexpr std::size_t kHeaderSize = 8;

// The three header quantities; each direction spreads them differently.
struct Header {
  uint32_t sequence;
  uint16_t opcode;
  uint16_t length;
};

inline unsigned char byteOf(uint32_t v, int index) {
  return static_cast<unsigned char>(v >> (8 * index));
}

struct ToServerLayout {
  static void write(unsigned char* h, const Header& q) {
    h[0] = byteOf(q.sequence, 0);
    h[1] = byteOf(q.opcode, 0);
    h[2] = byteOf(q.sequence, 2);
    h[3] = byteOf(q.sequence, 1);
    h[4] = byteOf(q.length, 1);
    h[5] = byteOf(q.sequence, 3);
    h[6] = byteOf(q.opcode, 1);
    h[7] = byteOf(q.length, 0);
  }
  static Header read(const unsigned char* h) {
    return {
        static_cast<uint32_t>(h[0] | h[3] << 8 | h[2] << 16 | static_cast<uint32_t>(h[5]) << 24),
        static_cast<uint16_t>(h[1] | h[6] << 8), static_cast<uint16_t>(h[7] | h[4] << 8)};
  }
};

struct ToClientLayout {
  static void write(unsigned char* h, const Header& q) {
    h[0] = byteOf(q.opcode, 1);
    h[1] = byteOf(q.sequence, 2);
    h[2] = byteOf(q.length, 0);
    h[3] = byteOf(q.sequence, 0);
    h[4] = byteOf(q.length, 1);
    h[5] = byteOf(q.sequence, 3);
    h[6] = byteOf(q.opcode, 0);
    h[7] = byteOf(q.sequence, 1);
  }
  static Header read(const unsigned char* h) {
    return {
        static_cast<uint32_t>(h[3] | h[7] << 8 | h[1] << 16 | static_cast<uint32_t>(h[5]) << 24),
        static_cast<uint16_t>(h[6] | h[0] << 8), static_cast<uint16_t>(h[2] | h[4] << 8)};
  }
};

// XOR with the keys as they stand before this packet's advance: every whole
// group takes the same key32, the 1- to 3-byte tail its own keys. `in` and
// `out` are the same bytes when a packet is sealed in place.
[[gnu::always_inline]] inline void mask(const unsigned char* in, unsigned char* out, std::size_t n,
                                        const DirectionKeys& k) {
  const std::size_t i = n & ~std::size_t{3};
  kelvane::detail::MaskGroups(in, out, i, k.key32);
  switch (n - i) {
    case 3:
      out[i + 2] = in[i + 2] ^ k.key8b;
      [[fallthrough]];
    case 2:
      out[i] = in[i] ^ byteOf(k.key16, 0);
      out[i + 1] = in[i + 1] ^ byteOf(k.key16, 1);
      break;
    case 1:
      out[i] = in[i] ^ k.key8a;
      break;
    default:
      break;
  }
}

void advance(DirectionKeys& k) {
  k.key8a = static_cast<uint8_t>(k.key8a + k.step8a);
  k.step8a = static_cast<uint8_t>(k.step8a + 1);
  k.key16 = static_cast<uint16_t>(k.key16 + k.step16);
  k.step16 = static_cast<uint16_t>(k.step16 + 1);
  k.key8b = static_cast<uint8_t>(k.key8b + k.step8b);
  k.step8b = static_cast<uint8_t>(k.step8b + 1);
  k.key32 += k.step32;
  k.step32 += 1;
}

// Writes the header into out[0..7] and the masked payload after it; the
// payload may already lie there, to be sealed in place.
template <typename Layout>
void sealInto(int16_t opcode, const unsigned char* payload, uint16_t n, unsigned char* out,
              uint32_t seqMask, DirectionKeys& k) {
  k.counter += 1;
  const Header header{k.counter ^ seqMask,
                      static_cast<uint16_t>(static_cast<uint16_t>(opcode) ^ k.key16),
                      static_cast<uint16_t>(n ^ k.key16)};
  mask(payload, out + kHeaderSize, n, k);
  Layout::write(out, header);
  advance(k);
}

template <typename Layout>
ByteStr seal(int16_t opcode, const unsigned char* payload, uint32_t seqMask, DirectionKeys& k) {
  const uint16_t n = static_cast<uint16_t>(ByteStrLen(payload));
  ByteStr out = ByteStrAlloc(nullptr, kHeaderSize + n);
  if (out == nullptr) return nullptr;
  sealInto<Layout>(opcode, payload, n, out, seqMask, k);
  return out;
}

template <typename Layout>
ByteStr open(int16_t* opcode, const unsigned char* packet, uint32_t seqMask, DirectionKeys& k) {
  auto fail = [opcode](int16_t code, uint32_t length) {
    if (opcode != nullptr) *opcode = code;
    return ByteStrAlloc(nullptr, length);
  };
  const uint32_t available = ByteStrLen(packet);
  if (available < kHeaderSize) return fail(0, 0);
  const Header h = Layout::read(packet);
  const uint16_t n = h.length ^ k.key16;
  const int16_t opened = static_cast<int16_t>(h.opcode ^ k.key16);
  if (available - kHeaderSize < n) return fail(0, 0);

  const uint32_t next = k.counter + 1;
  if ((h.sequence ^ seqMask) != next) {
    ByteStr empty = fail(-1, 0);
    if (empty == nullptr) {
      if (opcode != nullptr) *opcode = 0;
      return nullptr;
    }
    k.counter = next;
    return empty;
  }
  ByteStr out = ByteStrAlloc(nullptr, n);
  if (out == nullptr) {
    if (opcode != nullptr) *opcode = 0;
    return nullptr;
  }
  k.counter = next;
  mask(packet + kHeaderSize, out, n, k);
  advance(k);
  if (opcode != nullptr) *opcode = opened;
  return out;
}
}  // namespace

extern "C" ByteStr clienc(int16_t opcode, const unsigned char* payload, CipherState* state) {
  return seal<ToServerLayout>(opcode, payload, state->seqMask, state->toServer);
}

extern "C" ByteStr serenc(int16_t opcode, const unsigned char* payload, CipherState* state) {
  return seal<ToClientLayout>(opcode, payload, state->seqMask, state->toClient);
}

extern "C" uint32_t serseal(int16_t opcode, unsigned char* packet, uint16_t length,
                            CipherState* state) {
  if (packet == nullptr) return 0;
  sealInto<ToClientLayout>(opcode, packet + kHeaderSize, length, packet, state->seqMask,
                           state->toClient);
  return kHeaderSize + length;
}

extern "C" ByteStr serdec(int16_t* opcode, const unsigned char* packet, CipherState* state) {
  return open<ToServerLayout>(opcode, packet, state->seqMask, state->toServer);
}

extern "C" ByteStr clidec(int16_t* opcode, const unsigned char* packet, CipherState* state) {
  return open<ToClientLayout>(opcode, packet, state->seqMask, state->toClient);
}
