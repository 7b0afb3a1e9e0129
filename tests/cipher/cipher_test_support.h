// Conversions between test byte vectors, library byte strings and the
// reference model's state.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "kelvane.hpp"
#include "reference_cipher.h"

namespace cipher_test {

using reference::Bytes;

inline kelvane::ByteStrPtr byteStr(const Bytes& bytes) {
  return kelvane::copyOf(bytes);
}

inline Bytes bytesOf(const unsigned char* str) {
  const kelvane::ByteView v = kelvane::view(str);
  return Bytes(v.begin(), v.end());
}

inline Bytes bytesOf(const kelvane::ByteStrPtr& str) {
  return bytesOf(str.get());
}

inline DirectionKeys toLibrary(const reference::Keys& k) {
  return {k.counter, k.key8a, k.key16, k.key8b, k.key32, k.step8a, k.step16, k.step8b, k.step32};
}

inline CipherState toLibrary(const reference::State& s) {
  return {s.clientSeed, s.serverSeed, s.seqMask, toLibrary(s.toServer), toLibrary(s.toClient)};
}

inline testing::AssertionResult sameKeys(const char* name, const DirectionKeys& got,
                                         const reference::Keys& want) {
  std::string diff;
  auto field = [&](const char* field, std::uint32_t g, std::uint32_t w) {
    if (g != w) {
      diff += std::string(" ") + name + "." + field + ": " + std::to_string(g) +
              " != " + std::to_string(w);
    }
  };
  field("counter", got.counter, want.counter);
  field("key8a", got.key8a, want.key8a);
  field("key16", got.key16, want.key16);
  field("key8b", got.key8b, want.key8b);
  field("key32", got.key32, want.key32);
  field("step8a", got.step8a, want.step8a);
  field("step16", got.step16, want.step16);
  field("step8b", got.step8b, want.step8b);
  field("step32", got.step32, want.step32);
  if (diff.empty()) return testing::AssertionSuccess();
  return testing::AssertionFailure() << diff;
}

// Field by field, so a failure names what differs.
inline testing::AssertionResult sameState(const CipherState& got, const reference::State& want) {
  testing::AssertionResult up = sameKeys("toServer", got.toServer, want.toServer);
  testing::AssertionResult down = sameKeys("toClient", got.toClient, want.toClient);
  if (got.clientSeed == want.clientSeed && got.serverSeed == want.serverSeed &&
      got.seqMask == want.seqMask && up && down) {
    return testing::AssertionSuccess();
  }
  return testing::AssertionFailure()
         << "seeds " << got.clientSeed << "/" << got.serverSeed << " vs " << want.clientSeed << "/"
         << want.serverSeed << ", seqMask " << got.seqMask << " vs " << want.seqMask
         << (up ? "" : up.message()) << (down ? "" : down.message());
}

inline reference::Keys toReference(const DirectionKeys& k) {
  return {k.counter, k.key8a, k.key16, k.key8b, k.key32, k.step8a, k.step16, k.step8b, k.step32};
}

inline testing::AssertionResult sameState(const CipherState& got, const CipherState& want) {
  return sameState(got, reference::State{want.clientSeed, want.serverSeed, want.seqMask,
                                         toReference(want.toServer), toReference(want.toClient)});
}

}  // namespace cipher_test
