// The headless server writes its log to standard output; a reader of that
// output that goes away must not take the server down with it.
#include <gtest/gtest.h>

#include <thread>

#include "opcodes.h"
#include "server_process.h"
#include "sync_client.h"

namespace quorvane::testing {
namespace {

using namespace std::chrono_literals;

using opcode::kPing;
using opcode::kPong;

TEST(BrokenStdoutTest, ServerOutlivesTheReaderOfItsLog) {
  ServerProcess server(QUORVANE_PROGRAM, {});
  server.process().CloseStdout();

  // Each connection writes a log line into the closed pipe.
  for (std::uint32_t seed = 1; seed <= 3; ++seed) {
    client::SyncClient player("127.0.0.1", server.port(), seed);
    ASSERT_TRUE(player.Handshake()) << "client " << seed;
    player.Send(kPing, {});
    const auto answer = player.NextPacket();
    ASSERT_TRUE(answer) << "client " << seed;
    EXPECT_EQ(answer->opcode, kPong);
  }
  EXPECT_FALSE(server.process().WaitForExit(100ms)) << "the server ended";
}

}  // namespace
}  // namespace quorvane::testing
