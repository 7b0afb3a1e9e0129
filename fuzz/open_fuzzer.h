// Opening a packet on any CipherState: the input's first bytes fill every
// field of the state, the rest is the packet. The library's result and the
// state it leaves must match the plain reference model, field by field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz_check.h"
#include "fuzz_input.h"
#include "kelvane.hpp"
#include "reference_cipher.h"

namespace quorvane::fuzz {

inline void TakeKeys(FuzzInput& in, ::DirectionKeys& keys) {
  keys.counter = in.Take<std::uint32_t>();
  keys.key8a = in.Take<std::uint8_t>();
  keys.key16 = in.Take<std::uint16_t>();
  keys.key8b = in.Take<std::uint8_t>();
  keys.key32 = in.Take<std::uint32_t>();
  keys.step8a = in.Take<std::uint8_t>();
  keys.step16 = in.Take<std::uint16_t>();
  keys.step8b = in.Take<std::uint8_t>();
  keys.step32 = in.Take<std::uint32_t>();
}

inline ::CipherState TakeState(FuzzInput& in) {
  ::CipherState state{};
  state.clientSeed = in.Take<std::uint32_t>();
  state.serverSeed = in.Take<std::uint32_t>();
  state.seqMask = in.Take<std::uint32_t>();
  TakeKeys(in, state.toServer);
  TakeKeys(in, state.toClient);
  return state;
}

inline reference::Keys ModelKeys(const ::DirectionKeys& k) {
  return {k.counter, k.key8a, k.key16, k.key8b, k.key32, k.step8a, k.step16, k.step8b, k.step32};
}

inline bool SameKeys(const ::DirectionKeys& k, const reference::Keys& m) {
  return k.counter == m.counter && k.key8a == m.key8a && k.key16 == m.key16 && k.key8b == m.key8b &&
         k.key32 == m.key32 && k.step8a == m.step8a && k.step16 == m.step16 &&
         k.step8b == m.step8b && k.step32 == m.step32;
}

using kelvane::OpenFunction;

inline void CheckOpen(const std::uint8_t* data, std::size_t size, OpenFunction open,
                      reference::Direction direction) {
  FuzzInput in(data, size);
  ::CipherState state = TakeState(in);
  const auto packetBytes = in.TakeRest();

  reference::State model{state.clientSeed, state.serverSeed, state.seqMask,
                         ModelKeys(state.toServer), ModelKeys(state.toClient)};
  const reference::Opened expected =
      reference::open(direction, reference::Bytes(packetBytes.begin(), packetBytes.end()), model);

  const auto packet = kelvane::copyOf(packetBytes);
  std::int16_t opcode = 0x5A5A;  // every outcome must overwrite it
  const auto payload = kelvane::adopt(open(&opcode, packet.get(), &state));
  const kelvane::ByteView opened = kelvane::view(payload);

  Require(opcode == expected.opcode, "opcode matches the model");
  Require(opened.size() == expected.payload.size() &&
              (opened.empty() ||
               std::memcmp(opened.data(), expected.payload.data(), opened.size()) == 0),
          "payload matches the model");
  Require(state.clientSeed == model.clientSeed && state.serverSeed == model.serverSeed &&
              state.seqMask == model.seqMask,
          "seeds and mask untouched");
  Require(SameKeys(state.toServer, model.toServer), "client-to-server keys match the model");
  Require(SameKeys(state.toClient, model.toClient), "server-to-client keys match the model");
}

}  // namespace quorvane::fuzz
