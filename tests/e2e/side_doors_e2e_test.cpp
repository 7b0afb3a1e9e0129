// Attacks that no single-address defence stops, against the real server on
// loopback: strangers rotating through 127.0.0.2 and up, connections reset
// before they are taken, a quick reconnect, a hello cut by TCP, a reload that
// denies a connected address and a name that would garble the diagnostics.
// The player comes from 127.0.0.1 and its pings are answered throughout.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "client/client_session.h"
#include "client/sync_client.h"
#include "client/tcp_connection.h"
#include "data_folder.h"
#include "expected_packets.h"
#include "server_process.h"
#include "session/opcodes.h"

namespace quorvane::testing {
namespace {

using client::ClientSession;
using client::SyncClient;
using client::TcpConnection;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

using opcode::kLogin;
using opcode::kPing;
using opcode::kPong;

const std::string kPlayer = "127.0.0.1";

Bytes NameBlock(const std::string& name) {
  Bytes block(46, 0x00);
  std::copy(name.begin(), name.end(), block.begin() + 1);
  return block;
}

// 127.0.0.2 and up: a fresh source address for each call, as a stranger with
// a whole prefix to rotate through has.
class Addresses {
 public:
  std::string Next() {
    const unsigned n = next_++ % (250u * 250u);
    return "127.0." + std::to_string(n / 250) + "." + std::to_string(2 + n % 250);
  }

 private:
  std::atomic<unsigned> next_{0};
};

class SideDoorsTest : public ::testing::Test {
 protected:
  SideDoorsTest() { data_.WriteCharacter("Mirelle", CharacterFile({.level = 250})); }

  void Start(std::vector<std::string> arguments) {
    server_ = std::make_unique<ServerProcess>(
        QUORVANE_PROGRAM,
        ServerProcess::Settings{data_.root().string(), 600000, std::move(arguments)});
  }

  // A client from `from`, logged in as `name`, read up to a pong; nothing
  // when it got no slot.
  std::unique_ptr<SyncClient> Player(const std::string& from, std::uint32_t seed,
                                     const std::string& name) {
    try {
      auto player = std::make_unique<SyncClient>("127.0.0.1", server_->port(), seed, 2s, from);
      if (!player->Handshake(2s)) return nullptr;
      player->Send(kLogin, NameBlock(name));
      if (!Pinged(*player)) return nullptr;
      return player;
    } catch (const std::runtime_error&) {
      return nullptr;
    }
  }

  static bool Pinged(SyncClient& peer) {
    peer.Send(kPing, {});
    while (const std::optional<client::Packet> packet = peer.NextPacket(2s)) {
      if (packet->opcode == kPong) return true;
    }
    return false;
  }

  std::size_t StderrCount(const std::string& text) {
    const std::vector<std::string> lines = server_->process().StderrLines();
    return static_cast<std::size_t>(std::count_if(
        lines.begin(), lines.end(),
        [&](const std::string& line) { return line.find(text) != std::string::npos; }));
  }

  bool StderrHas(const std::string& text) {
    return server_->process().WaitForStderrLine(text, 5s).has_value();
  }

  DataFolder data_;
  std::unique_ptr<ServerProcess> server_;
};

// Two silent strangers, each reopened from a fresh address the moment it is
// closed, hold both slots: no address repeats, so no ban fires. Past its
// login grace the older is closed for the player, every time.
TEST_F(SideDoorsTest, StrangersRotatingAddressesCannotKeepThePlayerOut) {
  Start({"--login-grace", "0.5"});
  Addresses addresses;
  std::atomic<bool> stop{false};
  std::atomic<int> opened{0};
  const auto hold = [&] {
    const auto end = Clock::now() + 20s;
    while (!stop && Clock::now() < end) {
      try {
        TcpConnection connection =
            TcpConnection::Connect("127.0.0.1", server_->port(), 1s, addresses.Next());
        ++opened;
        Bytes ignored;
        while (!stop && connection.ReadSome(ignored, 50ms) != TcpConnection::ReadStatus::kClosed) {
        }
      } catch (const std::runtime_error&) {
      }
    }
  };
  std::thread first(hold);
  std::thread second(hold);
  ASSERT_TRUE(server_->WaitForLogCount("Connected client to Server2", 1));

  constexpr int kTries = 8;
  int gotIn = 0;
  for (int attempt = 0; attempt < kTries; ++attempt) {
    // Long enough for the strangers now in the slots to pass their grace.
    std::this_thread::sleep_for(700ms);
    const auto started = Clock::now();
    auto player = Player(kPlayer, 100 + static_cast<std::uint32_t>(attempt), "Mirelle");
    if (!player) continue;
    ++gotIn;
    for (int ping = 0; ping < 5; ++ping) EXPECT_TRUE(Pinged(*player)) << "attempt " << attempt;
    std::printf("attempt %d: in and logged in after %.1f ms\n", attempt,
                std::chrono::duration<double, std::milli>(Clock::now() - started).count());
  }
  stop = true;
  first.join();
  second.join();
  std::printf("player got in on %d of %d tries; strangers opened %d connections\n", gotIn, kTries,
              opened.load());
  EXPECT_EQ(gotIn, kTries);
  EXPECT_GE(StderrCount(": closed: made room for a newcomer: no login within the 0.5 s grace"),
            static_cast<std::size_t>(kTries));
}

// A client that closes and reconnects at once finds its old connection's end
// not handled yet; it gets in all the same, every time.
TEST_F(SideDoorsTest, QuickReconnectFindsItsOldSlotFree) {
  Start({"--autoban", "off"});
  auto player = Player(kPlayer, 1, "Mirelle");
  ASSERT_TRUE(player);
  constexpr int kRounds = 300;
  int refused = 0;
  for (int round = 0; round < kRounds; ++round) {
    SyncClient visitor("127.0.0.1", server_->port(), 1000 + static_cast<std::uint32_t>(round), 2s,
                       "127.0.0.2");
    if (!visitor.Handshake(2s)) ++refused;
  }
  std::printf("quick reconnects: %d of %d refused\n", refused, kRounds);
  EXPECT_EQ(refused, 0);
  EXPECT_TRUE(Pinged(*player));
}

// Connections reset by the client before the server takes them: none of
// them becomes a client without an address with a log line of its own.
TEST_F(SideDoorsTest, ConnectionsResetBeforeTheyAreTakenWriteNoLinesPerConnection) {
  Start({"--autoban", "off"});
  auto player = Player(kPlayer, 1, "Mirelle");
  ASSERT_TRUE(player);
  constexpr int kResets = 500;
  const auto end = Clock::now() + 8s;
  int sent = 0;
  for (; sent < kResets && Clock::now() < end; ++sent) {
    try {
      TcpConnection connection =
          TcpConnection::Connect("127.0.0.1", server_->port(), 1s, "127.0.0.2");
      const linger reset{1, 0};
      ::setsockopt(connection.fd(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    } catch (const std::runtime_error&) {
    }
    if (sent % 100 == 0) {
      EXPECT_TRUE(Pinged(*player)) << "after " << sent << " resets";
    }
  }
  EXPECT_TRUE(Pinged(*player));
  std::printf("resets: %d sent, %zu without a peer address\n", sent,
              StderrCount("unknown peer: refused"));
  // A slot without a peer would be "slot 2: accepted"; a burst of refusals
  // without one is one line a minute.
  EXPECT_EQ(StderrCount("slot 2: accepted"), 0u);
  EXPECT_LE(StderrCount("unknown peer"), 1u);
}

// A reload that denies a connected address closes that connection at once,
// and only that one.
TEST_F(SideDoorsTest, ReloadThatDeniesAConnectedAddressClosesItsConnection) {
  const std::filesystem::path config = data_.root() / "quorvane.conf";
  std::ofstream(config) << "autoban = off\n";
  Start({"--config", config.string()});
  auto player = Player(kPlayer, 1, "Mirelle");
  auto stranger = Player("127.0.0.2", 2, "Torvald");
  ASSERT_TRUE(player && stranger);
  Pinged(*player);  // the stranger's announcement

  std::ofstream(config) << "autoban = off\ndeny = 127.0.0.2\n";
  ::kill(server_->process().pid(), SIGHUP);
  EXPECT_TRUE(stranger->WaitClosed(5s));
  EXPECT_TRUE(StderrHas("W slot 2 127.0.0.2:"));
  EXPECT_TRUE(StderrHas(": closed: the reloaded address rules refuse its address"));
  EXPECT_EQ(StderrCount("the reloaded address rules"), 1u);
  EXPECT_TRUE(Pinged(*player));
}

// A hello that TCP delivers in two pieces is answered once, and the session
// is in step after it.
TEST_F(SideDoorsTest, HelloCutByTcpIsAnswered) {
  Start({});
  auto player = Player(kPlayer, 1, "Mirelle");
  ASSERT_TRUE(player);
  ClientSession session(0x0BADCAFEu);
  const Bytes hello = session.Hello();
  for (const std::size_t cut : {std::size_t{1}, std::size_t{5}, hello.size() - 1}) {
    SCOPED_TRACE("cut after byte " + std::to_string(cut));
    ClientSession client(0x0BADCAFEu);
    TcpConnection connection =
        TcpConnection::Connect("127.0.0.1", server_->port(), 1s, "127.0.0.2");
    connection.SendAll(Bytes(hello.begin(), hello.begin() + static_cast<std::ptrdiff_t>(cut)));
    std::this_thread::sleep_for(50ms);
    connection.SendAll(Bytes(hello.begin() + static_cast<std::ptrdiff_t>(cut), hello.end()));
    const auto deadline = Clock::now() + 2s;
    while (client.phase() == ClientSession::Phase::kAwaitingReply && Clock::now() < deadline) {
      Bytes arrived;
      if (connection.ReadSome(arrived, 100ms) == TcpConnection::ReadStatus::kClosed) break;
      client.Receive(arrived);
    }
    ASSERT_EQ(client.phase(), ClientSession::Phase::kOpen) << client.Error();
    connection.SendAll(client.Seal(kPing, {}));
    std::vector<client::Packet> packets;
    while (packets.empty() && Clock::now() < deadline) {
      Bytes arrived;
      if (connection.ReadSome(arrived, 100ms) == TcpConnection::ReadStatus::kClosed) break;
      packets = client.Receive(arrived);
    }
    EXPECT_EQ(packets, (std::vector<client::Packet>{{kPong, {0x00}}}));
    EXPECT_TRUE(Pinged(*player));
  }
}

// A name that holds quotes, backslashes, a line feed and bytes above 0x7F
// reads back exactly from its diagnostic line.
TEST_F(SideDoorsTest, NameInTheDiagnosticsIsEscapedUnambiguously) {
  Start({});
  auto player = Player(kPlayer, 1, "\\x0A\"\n\xE9");
  ASSERT_TRUE(player);
  EXPECT_TRUE(StderrHas(R"(: logged in as "\\x0A\"\x0A\xE9": no character file)"));
}

}  // namespace
}  // namespace quorvane::testing
