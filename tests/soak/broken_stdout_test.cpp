// The headless server writes its log to standard output and its diagnostics
// to standard error; a reader of either that goes away or stalls must not
// take the server down with it, nor keep it from serving its players.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>

#include "client/sync_client.h"
#include "client/tcp_connection.h"
#include "data_folder.h"
#include "server_process.h"
#include "session/opcodes.h"

namespace quorvane::testing {
namespace {

using namespace std::chrono_literals;

using opcode::kChatLine;
using opcode::kLogin;
using opcode::kPing;
using opcode::kPong;

// A player that has finished its handshake.
// Logged in, so that no newcomer past its login grace takes its slot.
std::unique_ptr<client::SyncClient> Player(std::uint16_t port, std::uint32_t seed) {
  auto player = std::make_unique<client::SyncClient>("127.0.0.1", port, seed);
  EXPECT_TRUE(player->Handshake());
  Bytes name(46, 0x00);
  name[1] = static_cast<std::uint8_t>('A' + seed % 26);
  player->Send(kLogin, name);
  return player;
}

// True when a ping is answered within a second; what came before the
// answer (the other player's announcements) is passed over.
bool Answers(client::SyncClient& player) {
  player.Send(kPing, {});
  for (std::optional<client::Packet> packet; (packet = player.NextPacket(1s));) {
    if (packet->opcode == kPong) return true;
  }
  return false;
}

Bytes NameBlock(const std::string& name) {
  Bytes block(46, 0x00);
  std::copy(name.begin(), name.end(), block.begin() + 1);
  return block;
}

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

TEST(BrokenStdoutTest, AStalledLogReaderDoesNotStopThePlayersBeingServed) {
  // Hundreds of connections from one address: no automatic ban.
  ServerProcess server(QUORVANE_PROGRAM, {.dataDir = {}, .extraArguments = {"--autoban", "off"}});
  const auto player = Player(server.port(), 1);
  const auto other = Player(server.port(), 2);
  ASSERT_TRUE(server.WaitForLogCount("Connected client to Server2", 1));
  server.process().StallStdout();

  // Each refused connection writes a log line: far more than the pipe holds.
  constexpr int kRefused = 400;
  for (int i = 1; i <= kRefused; ++i) {
    client::TcpConnection::Connect("127.0.0.1", server.port(), 5s).Close();
    if (i % 50 == 0) {
      ASSERT_TRUE(Answers(*player)) << "after " << i << " refused connections";
    }
  }
  ASSERT_TRUE(Answers(*other));

  // The reader comes back: every line is there, in full.
  server.process().ResumeStdout();
  EXPECT_TRUE(server.WaitForLogCount("Cannot connect more than 2 clients", kRefused));
}

TEST(BrokenStdoutTest, AStalledDiagnosticsReaderDoesNotStopThePlayersBeingServed) {
  // Every login as Locked writes a diagnostic: its link leads out of the
  // data folder.
  DataFolder data;
  std::filesystem::create_symlink("/etc/passwd", data.root() / "characters" / "Locked");
  ServerProcess server(
      QUORVANE_PROGRAM,
      {.dataDir = data.root().string(), .tickMs = 600000, .extraArguments = {"--login-rate", "0"}});
  const auto player = Player(server.port(), 1);
  const auto other = Player(server.port(), 2);
  server.process().StallStderr();

  constexpr int kLogins = 300;
  for (int i = 1; i <= kLogins; ++i) {
    player->Send(kLogin, NameBlock("Locked"));
    for (std::optional<client::Packet> packet; (packet = player->NextPacket(2s));) {
      if (packet->opcode == kChatLine) break;
    }
    if (i % 50 == 0) {
      ASSERT_TRUE(Answers(*other)) << "after " << i << " logins";
    }
  }
  ASSERT_TRUE(Answers(*player));

  server.process().ResumeStderr();
  const std::string report = "cannot read character file \"" +
                             (data.root() / "characters" / "Locked").string() +
                             "\": its link leads out of the data folder";
  std::size_t reports = 0;
  for (int wait = 0; wait < 100 && reports < kLogins; ++wait) {
    std::this_thread::sleep_for(50ms);
    const auto lines = server.process().StderrLines();
    reports = static_cast<std::size_t>(
        std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
          return line.ends_with(": " + report) && line.find(" W slot 1 ") != std::string::npos;
        }));
  }
  EXPECT_EQ(reports, static_cast<std::size_t>(kLogins));
}

}  // namespace
}  // namespace quorvane::testing
