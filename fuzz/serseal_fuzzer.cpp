// serseal: a server-to-client packet sealed in place on any state and any
// masking path must be the reference model's packet, and serenc's, and leave
// the model's state.
#include "mask.h"
#include "open_fuzzer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quorvane::fuzz;
  FuzzInput in(data, size);
  // A path the CPU lacks leaves the one before it.
  kelvane::detail::UseMaskPath(kelvane::detail::kMaskPaths[in.Take<std::uint8_t>() %
                                                           std::size(kelvane::detail::kMaskPaths)]);
  ::CipherState state = TakeState(in);
  const auto opcode = static_cast<std::int16_t>(in.Take<std::uint16_t>());
  // The input may start anywhere against a cache line.
  const std::size_t offset = in.Take<std::uint8_t>() % 64;
  auto payload = in.TakeRest();
  if (payload.size() > 0xFFFF) payload = payload.first(0xFFFF);

  reference::State model{state.clientSeed, state.serverSeed, state.seqMask,
                         ModelKeys(state.toServer), ModelKeys(state.toClient)};
  const reference::Bytes expected =
      reference::seal(reference::Direction::ToClient, opcode,
                      reference::Bytes(payload.begin(), payload.end()), model);

  ::CipherState allocated = state;
  const auto sealed = kelvane::adopt(::serenc(opcode, kelvane::copyOf(payload).get(), &allocated));

  std::vector<std::uint8_t> room(offset + kelvane::kPacketHeaderSize + payload.size());
  std::uint8_t* packet = room.data() + offset;
  std::copy(payload.begin(), payload.end(), packet + kelvane::kPacketHeaderSize);
  const std::uint32_t packetSize =
      ::serseal(opcode, packet, static_cast<std::uint16_t>(payload.size()), &state);

  Require(packetSize == expected.size(), "serseal's size is the model's");
  Require(std::memcmp(packet, expected.data(), expected.size()) == 0,
          "serseal's packet matches the model");
  Require(kelvane::view(sealed).size() == expected.size() &&
              std::memcmp(sealed.get(), expected.data(), expected.size()) == 0,
          "serenc's packet matches the model");
  Require(SameKeys(state.toClient, model.toClient), "server-to-client keys match the model");
  Require(SameKeys(state.toServer, model.toServer), "client-to-server keys untouched");
  Require(std::memcmp(&state, &allocated, sizeof state) == 0, "serseal leaves serenc's state");
  return 0;
}
