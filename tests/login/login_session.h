// A session on a fake socket with its own data folder, past its handshake.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "expected_packets.h"
#include "memory_data_folder.h"
#include "session_harness.h"

namespace quorvane::testing {

class LoginSessionTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(harness.Connect()); }

  // Logs in with `payload` and returns every packet the client received.
  std::vector<Packet> Login(const Bytes& payload) {
    harness.Send(opcode::kLogin, payload);
    return harness.Received();
  }

  MemoryDataFolder data;
  SessionHarness harness{data};
};

}  // namespace quorvane::testing
