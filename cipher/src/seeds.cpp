// Seed shuffles and the key schedule.
#include <bit>
#include <cstdint>

#include "kelvane.h"

namespace {
constexpr uint32_t kSeqMask = 0xFFFFF5A3;
constexpr uint32_t kToServerMask = 0x3C6E9B51;
constexpr uint32_t kToClientMask = 0xC4A7D29E;
constexpr uint32_t kClientSeedMask = 0x000B3A5D;
constexpr uint32_t kServerSeedMask = 0x0016C8E5;

ByteStr littleEndian(uint32_t v) {
  ByteStr out = ByteStrAlloc(nullptr, 4);
  if (out == nullptr) return nullptr;
  for (int i = 0; i < 4; ++i) out[i] = static_cast<unsigned char>(v >> (8 * i));
  return out;
}

uint32_t readLittleEndian(const unsigned char* s) {
  const uint32_t n = ByteStrLen(s);
  uint32_t v = 0;
  for (uint32_t i = 0; i < 4 && i < n; ++i) v |= static_cast<uint32_t>(s[i]) << (8 * i);
  return v;
}
}  // namespace

extern "C" ByteStr clishuf(uint32_t seed) {
  return littleEndian(std::rotr(seed ^ kClientSeedMask, 11));
}

extern "C" uint32_t serdesh(const unsigned char* shuffled) {
  return std::rotl(readLittleEndian(shuffled), 11) ^ kClientSeedMask;
}

extern "C" ByteStr sershuf(uint32_t seed) {
  return littleEndian(std::rotr(seed ^ kServerSeedMask, 7));
}

extern "C" uint32_t clidesh(const unsigned char* shuffled) {
  return std::rotl(readLittleEndian(shuffled), 7) ^ kServerSeedMask;
}

extern "C" void seedcrypt(CipherState* state) {
  const uint32_t a = state->clientSeed;
  const uint32_t b = state->serverSeed;
  const uint32_t x = a ^ b;
  const uint32_t y = x ^ kToServerMask;
  const uint32_t z = x ^ kToClientMask;
  state->seqMask = x;

  DirectionKeys& up = state->toServer;
  up.counter = (x ^ kSeqMask) & 0xFFF;
  up.key8a = static_cast<uint8_t>(y >> 5);
  up.key16 = static_cast<uint16_t>(y >> 9);
  up.key8b = static_cast<uint8_t>(y >> 17);
  up.key32 = (a >> 21) | (y << 11);
  up.step8a = 5;
  up.step16 = 1;
  up.step8b = 9;
  up.step32 = 1023;

  DirectionKeys& down = state->toClient;
  down.counter = x & 0xFFF;
  down.key8a = static_cast<uint8_t>(z >> 3);
  down.key16 = static_cast<uint16_t>(z >> 7);
  down.key8b = static_cast<uint8_t>(z >> 2);
  down.key32 = (b >> 5) | (z << 27);
  down.step8a = 31;
  down.step16 = 12;
  down.step8b = 3;
  down.step32 = 11;
}
