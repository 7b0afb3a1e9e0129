/* A stand-in cipher library with every export but clidec, for the loader's
 * missing-export error. Its functions are never called. */
#include "kelvane.h"

ByteStr encode(const unsigned char* data) {
  (void)data;
  return NULL;
}
ByteStr decode(const unsigned char* data) {
  (void)data;
  return NULL;
}
ByteStr clishuf(uint32_t seed) {
  (void)seed;
  return NULL;
}
uint32_t serdesh(const unsigned char* shuffled) {
  (void)shuffled;
  return 0;
}
ByteStr sershuf(uint32_t seed) {
  (void)seed;
  return NULL;
}
uint32_t clidesh(const unsigned char* shuffled) {
  (void)shuffled;
  return 0;
}
void seedcrypt(CipherState* state) {
  (void)state;
}
ByteStr clienc(int16_t opcode, const unsigned char* payload, CipherState* state) {
  (void)opcode, (void)payload, (void)state;
  return NULL;
}
ByteStr serenc(int16_t opcode, const unsigned char* payload, CipherState* state) {
  (void)opcode, (void)payload, (void)state;
  return NULL;
}
ByteStr serdec(int16_t* opcode, const unsigned char* packet, CipherState* state) {
  (void)opcode, (void)packet, (void)state;
  return NULL;
}
