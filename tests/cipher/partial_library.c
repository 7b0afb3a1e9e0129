/* A stand-in cipher library with every export but clidec, for the loader's
 * missing-export error. */
#include "kelvane.h"

ByteStr encode(const unsigned char* data) {
  return (ByteStr)data;
}
ByteStr decode(const unsigned char* data) {
  return (ByteStr)data;
}
ByteStr clishuf(uint32_t seed) {
  return seed ? NULL : NULL;
}
uint32_t serdesh(const unsigned char* shuffled) {
  return shuffled != NULL;
}
ByteStr sershuf(uint32_t seed) {
  return seed ? NULL : NULL;
}
uint32_t clidesh(const unsigned char* shuffled) {
  return shuffled != NULL;
}
void seedcrypt(CipherState* state) {
  state->seqMask = 0;
}
ByteStr clienc(int16_t opcode, const unsigned char* payload, CipherState* state) {
  return opcode && state ? (ByteStr)payload : NULL;
}
ByteStr serenc(int16_t opcode, const unsigned char* payload, CipherState* state) {
  return opcode && state ? (ByteStr)payload : NULL;
}
ByteStr serdec(int16_t* opcode, const unsigned char* packet, CipherState* state) {
  return opcode && state ? (ByteStr)packet : NULL;
}
