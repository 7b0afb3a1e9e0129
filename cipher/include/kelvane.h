/* Kelvane: the packet cipher of the Quorvane game protocol.
 *
 * Escape codec for the handshake (encode, decode), seed shuffles, key schedule,
 * and sealing/opening of packets in both directions. The library keeps no state
 * of its own: everything it remembers lives in the caller's CipherState.
 *
 * Byte strings. A ByteStr points at the first data byte of a block laid out as
 *   [uint32_t length, host byte order][length data bytes][one 0 byte].
 * A NULL ByteStr counts as empty. Inputs are only read. Every result is a new
 * block of exactly the produced length, released by the caller with
 * ByteStrFree. A function that cannot allocate its result returns NULL and
 * leaves the CipherState untouched.
 */
#ifndef KELVANE_H
#define KELVANE_H

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(KELVANE_BUILDING_LIBRARY)
#define KELVANE_API __attribute__((visibility("default")))
#else
#define KELVANE_API
#endif

typedef unsigned char* ByteStr;

/* New block of `length` bytes, copied from `source` when it is not NULL,
 * otherwise left for the caller to fill. NULL when out of memory. */
static inline ByteStr ByteStrAlloc(const void* source, uint32_t length) {
  unsigned char* block;
#if SIZE_MAX <= UINT32_MAX
  if (length > SIZE_MAX - 5) return NULL; /* the block would not fit in size_t */
#endif
  block = (unsigned char*)malloc((size_t)length + 5);
  if (block == NULL) return NULL;
  memcpy(block, &length, sizeof length);
  if (source != NULL && length != 0) memcpy(block + 4, source, length);
  block[4 + (size_t)length] = 0;
  return block + 4;
}

static inline uint32_t ByteStrLen(const unsigned char* str) {
  uint32_t length;
  if (str == NULL) return 0;
  memcpy(&length, str - 4, sizeof length);
  return length;
}

static inline void ByteStrFree(ByteStr str) {
  if (str != NULL) free(str - 4);
}

/* Running state of one direction of a connection. All arithmetic wraps at
 * each field's width. */
typedef struct DirectionKeys {
  uint32_t counter; /* advanced by one before each packet */
  uint8_t key8a;    /* 1-byte payload tail */
  uint16_t key16;   /* opcode, length, 2- and 3-byte payload tails */
  uint8_t key8b;    /* third byte of a 3-byte tail */
  uint32_t key32;   /* every whole 4-byte group */
  uint8_t step8a;
  uint16_t step16;
  uint8_t step8b;
  uint32_t step32;
} DirectionKeys;

/* One per connection. The caller sets both seeds (the client's first on both
 * ends) and calls seedcrypt once; the seal and open functions update it. */
typedef struct CipherState {
  uint32_t clientSeed;
  uint32_t serverSeed;
  uint32_t seqMask;
  DirectionKeys toServer; /* clienc seals, serdec opens */
  DirectionKeys toClient; /* serenc seals, clidec opens */
} CipherState;

/* Escape codec: bytes 00..07 become 07, b ^ 0F; an end marker 01 follows. */
KELVANE_API ByteStr encode(const unsigned char* data);
/* Reverses encode; the last input byte is taken as the end marker. */
KELVANE_API ByteStr decode(const unsigned char* data);

/* Seed shuffles: 4-byte little-endian results. An unshuffle reads the first
 * 4 bytes of its input; missing bytes count as zero. */
KELVANE_API ByteStr clishuf(uint32_t seed);
KELVANE_API uint32_t serdesh(const unsigned char* shuffled);
KELVANE_API ByteStr sershuf(uint32_t seed);
KELVANE_API uint32_t clidesh(const unsigned char* shuffled);

/* Key schedule: fills seqMask and both directions from the two seeds. */
KELVANE_API void seedcrypt(CipherState* state);

/* Seal: an 8-byte header and the masked payload. The payload length is taken
 * modulo 65,536 and only that many leading bytes are sealed. */
KELVANE_API ByteStr clienc(int16_t opcode, const unsigned char* payload, CipherState* state);
KELVANE_API ByteStr serenc(int16_t opcode, const unsigned char* payload, CipherState* state);

/* Seal a server-to-client packet in place, allocating nothing (since
 * KELVANE_1.1). `packet` holds 8 bytes of room for the header, then the
 * `length` payload bytes, which are masked where they lie; the result, and
 * the state it leaves, are exactly those of serenc on the same payload and
 * state. Returns the packet's size, 8 + length; it cannot fail. A NULL
 * `packet` seals nothing, returns 0 and leaves the state untouched. */
KELVANE_API uint32_t serseal(int16_t opcode, unsigned char* packet, uint16_t length,
                             CipherState* state);

/* Open the packet that begins `packet` (further bytes are ignored). Returns
 * the payload. On input too short for the header or the declared payload:
 * opcode 0, empty result, state untouched. On a sequence mismatch: opcode -1,
 * empty result, counter advanced, keys not. `opcode` may be NULL. */
KELVANE_API ByteStr serdec(int16_t* opcode, const unsigned char* packet, CipherState* state);
KELVANE_API ByteStr clidec(int16_t* opcode, const unsigned char* packet, CipherState* state);

#ifdef __cplusplus
}
#endif

#endif /* KELVANE_H */
