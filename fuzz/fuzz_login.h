// Logs a client in as "Fuzz" on a session over a fake socket, for the file
// loader fuzzers: whatever the files hold, the login must reach the client
// as packets it can open.
#pragma once

#include <cstdint>
#include <vector>

#include "fuzz_check.h"
#include "session/opcodes.h"
#include "session_harness.h"

namespace quorvane::fuzz {

inline constexpr char kFuzzName[] = "Fuzz";

// The packets the client opened, in order.
inline std::vector<testing::Packet> LogInAsFuzz(DataFolder& data) {
  testing::SessionHarness h(data);
  Require(h.Connect(), "the handshake completes");
  Bytes nameBlock(kNameFieldSize, 0x00);
  std::copy(std::begin(kFuzzName), std::end(kFuzzName) - 1, nameBlock.begin() + 1);
  h.Send(opcode::kLogin, nameBlock);
  auto packets = h.Received();
  Require(!h.client.Broken() && h.client.Pending() == 0, "the client opens every packet whole");
  return packets;
}

}  // namespace quorvane::fuzz
