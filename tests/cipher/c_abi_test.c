/* kelvane.h compiled as plain C: the inline byte-string functions, the
 * codec, a packet round trip in each direction and sealing in place. */
#include <stdio.h>
#include <string.h>

#include "kelvane.h"

static int failures = 0;

static void check(int ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "failed: %s\n", what);
    ++failures;
  }
}

static void byteStrings(void) {
  const unsigned char source[4] = {0x00, 0x01, 0xFE, 0xFF};
  ByteStr str = ByteStrAlloc(source, 4);
  uint32_t prefix = 0;
  check(str != NULL, "ByteStrAlloc");
  memcpy(&prefix, str - 4, sizeof prefix);
  check(prefix == 4 && ByteStrLen(str) == 4, "length prefix");
  check(memcmp(str, source, 4) == 0 && str[4] == 0, "data and terminator");
  ByteStrFree(str);
  check(ByteStrLen(NULL) == 0, "NULL counts as empty");
  ByteStrFree(NULL);
}

static void codec(void) {
  const unsigned char raw[3] = {0x00, 0x07, 0x41};
  const unsigned char expected[7] = {0x07, 0x0F, 0x07, 0x08, 0x41, 0x01};
  ByteStr input = ByteStrAlloc(raw, 3);
  ByteStr encoded = encode(input);
  ByteStr decoded = decode(encoded);
  check(ByteStrLen(encoded) == 6 && memcmp(encoded, expected, 6) == 0, "encode");
  check(ByteStrLen(decoded) == 3 && memcmp(decoded, raw, 3) == 0, "decode");
  ByteStrFree(decoded);
  ByteStrFree(encoded);
  ByteStrFree(input);
}

static void roundTrip(ByteStr (*seal)(int16_t, const unsigned char*, CipherState*),
                      ByteStr (*open)(int16_t*, const unsigned char*, CipherState*),
                      const char* what) {
  const unsigned char data[7] = {1, 2, 3, 4, 5, 6, 7};
  CipherState sealer;
  CipherState opener;
  ByteStr payload = ByteStrAlloc(data, 7);
  ByteStr packet;
  ByteStr opened;
  int16_t opcode = 0;
  memset(&sealer, 0, sizeof sealer);
  sealer.clientSeed = 0xCAFEBABE;
  sealer.serverSeed = 0x0BADF00D;
  seedcrypt(&sealer);
  opener = sealer;

  packet = seal(-300, payload, &sealer);
  opened = open(&opcode, packet, &opener);
  check(ByteStrLen(packet) == 15, what);
  check(opcode == -300 && ByteStrLen(opened) == 7 && memcmp(opened, data, 7) == 0, what);
  check(memcmp(&sealer, &opener, sizeof sealer) == 0, what);
  ByteStrFree(opened);
  ByteStrFree(packet);
  ByteStrFree(payload);
}

static void shuffles(void) {
  ByteStr shuffled = clishuf(0xDEADBEEF);
  check(ByteStrLen(shuffled) == 4 && serdesh(shuffled) == 0xDEADBEEF, "client seed");
  ByteStrFree(shuffled);
  shuffled = sershuf(0x01234567);
  check(ByteStrLen(shuffled) == 4 && clidesh(shuffled) == 0x01234567, "server seed");
  ByteStrFree(shuffled);
}

/* serseal gives serenc's packet and state, in the caller's buffer; a NULL
 * buffer seals nothing. */
static void sealInPlace(void) {
  const unsigned char data[7] = {1, 2, 3, 4, 5, 6, 7};
  unsigned char packet[8 + 7];
  CipherState inPlace;
  CipherState allocated;
  ByteStr payload = ByteStrAlloc(data, 7);
  ByteStr expected;
  memset(&inPlace, 0, sizeof inPlace);
  inPlace.clientSeed = 0xCAFEBABE;
  inPlace.serverSeed = 0x0BADF00D;
  seedcrypt(&inPlace);
  allocated = inPlace;

  memset(packet, 0xEE, 8);
  memcpy(packet + 8, data, 7);
  expected = serenc(-300, payload, &allocated);
  check(serseal(-300, packet, 7, &inPlace) == 15, "serseal's size");
  check(memcmp(packet, expected, 15) == 0, "serseal's packet");
  check(memcmp(&inPlace, &allocated, sizeof inPlace) == 0, "serseal's state");
  check(serseal(-300, NULL, 7, &inPlace) == 0, "serseal of NULL");
  check(memcmp(&inPlace, &allocated, sizeof inPlace) == 0, "NULL leaves the state");
  ByteStrFree(expected);
  ByteStrFree(payload);
}

int main(void) {
  byteStrings();
  codec();
  shuffles();
  roundTrip(clienc, serdec, "client to server");
  roundTrip(serenc, clidec, "server to client");
  sealInPlace();
  if (failures == 0) puts("all C checks passed");
  return failures == 0 ? 0 : 1;
}
