/* A client developer's first program in C: the handshake's seed exchange and
 * one packet each way, sealed by one half of the cipher and opened by the
 * other. Prints "round trip ok" when every byte came back. */
#include <kelvane.h>
#include <stdio.h>
#include <string.h>

static int failures = 0;

static void check(int ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "failed: %s\n", what);
    ++failures;
  }
}

static void oneWay(ByteStr (*seal)(int16_t, const unsigned char*, CipherState*),
                   ByteStr (*open)(int16_t*, const unsigned char*, CipherState*),
                   CipherState* sealer, CipherState* opener, const char* what) {
  const unsigned char text[] = "hello from the other side";
  ByteStr payload = ByteStrAlloc(text, sizeof text);
  ByteStr packet = seal(302, payload, sealer);
  int16_t opcode = 0;
  ByteStr opened = open(&opcode, packet, opener);
  check(packet != NULL && ByteStrLen(packet) == 8 + sizeof text, what);
  check(memcmp(packet + 8, text, sizeof text) != 0, what);
  check(opcode == 302 && ByteStrLen(opened) == sizeof text, what);
  check(opened != NULL && memcmp(opened, text, sizeof text) == 0, what);
  ByteStrFree(opened);
  ByteStrFree(packet);
  ByteStrFree(payload);
}

int main(void) {
  CipherState client;
  CipherState server;
  ByteStr shuffled = clishuf(0x12345678u);
  memset(&client, 0, sizeof client);
  memset(&server, 0, sizeof server);
  client.clientSeed = 0x12345678u;
  server.clientSeed = serdesh(shuffled);
  check(server.clientSeed == client.clientSeed, "client seed through the shuffle");
  client.serverSeed = server.serverSeed = 0x9abcdef0u;
  seedcrypt(&client);
  seedcrypt(&server);

  oneWay(clienc, serdec, &client, &server, "client to server");
  oneWay(serenc, clidec, &server, &client, "server to client");
  ByteStrFree(shuffled);
  if (failures != 0) return 1;
  puts("round trip ok");
  return 0;
}
