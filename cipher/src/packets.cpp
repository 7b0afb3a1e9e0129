// Sealing and opening of packets in both directions.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "kelvane.h"

#if defined(__x86_64__)
#define KELVANE_VECTOR_CLONES __attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
#else
#define KELVANE_VECTOR_CLONES
#endif

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

// XOR with the keys as they stand before this packet's advance. Every whole
// group takes the same key32, so the group loop vectorises with the key
// replicated across the vector; the clones give it wider vectors where the
// CPU has them.
KELVANE_VECTOR_CLONES void mask(const unsigned char* __restrict in, unsigned char* __restrict out,
                                std::size_t n, const DirectionKeys& k) {
  // key32 as the bytes of a group meet it: little-endian whatever the host's order.
  const unsigned char key32Bytes[4] = {byteOf(k.key32, 0), byteOf(k.key32, 1), byteOf(k.key32, 2),
                                       byteOf(k.key32, 3)};
  const std::size_t groupsEnd = n & ~std::size_t{3};
  // The output starts a few bytes into its allocation, so wide stores from
  // byte 0 would each straddle two cache lines: a short head brings them to
  // 64-byte alignment, and the body's key is the group key rotated to match.
  std::size_t head = (64 - reinterpret_cast<std::uintptr_t>(out) % 64) % 64;
  if (head > groupsEnd) head = groupsEnd;
  for (std::size_t i = 0; i < head; ++i) out[i] = in[i] ^ key32Bytes[i % 4];
  const unsigned char rotated[4] = {key32Bytes[head % 4], key32Bytes[(head + 1) % 4],
                                    key32Bytes[(head + 2) % 4], key32Bytes[(head + 3) % 4]};
  uint32_t key32;
  std::memcpy(&key32, rotated, 4);
  const std::size_t bodyEnd = head + ((groupsEnd - head) & ~std::size_t{3});
  for (std::size_t i = head; i < bodyEnd; i += 4) {
    uint32_t v;
    std::memcpy(&v, in + i, 4);
    v ^= key32;
    std::memcpy(out + i, &v, 4);
  }
  for (std::size_t i = bodyEnd; i < groupsEnd; ++i) out[i] = in[i] ^ key32Bytes[i % 4];
  const std::size_t i = groupsEnd;
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

template <typename Layout>
ByteStr seal(int16_t opcode, const unsigned char* payload, uint32_t seqMask, DirectionKeys& k) {
  const uint16_t n = static_cast<uint16_t>(ByteStrLen(payload));
  ByteStr out = ByteStrAlloc(nullptr, kHeaderSize + n);
  if (out == nullptr) return nullptr;
  k.counter += 1;
  Layout::write(
      out, {k.counter ^ seqMask, static_cast<uint16_t>(static_cast<uint16_t>(opcode) ^ k.key16),
            static_cast<uint16_t>(n ^ k.key16)});
  mask(payload, out + kHeaderSize, n, k);
  advance(k);
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

extern "C" ByteStr serdec(int16_t* opcode, const unsigned char* packet, CipherState* state) {
  return open<ToServerLayout>(opcode, packet, state->seqMask, state->toServer);
}

extern "C" ByteStr clidec(int16_t* opcode, const unsigned char* packet, CipherState* state) {
  return open<ToClientLayout>(opcode, packet, state->seqMask, state->toClient);
}
