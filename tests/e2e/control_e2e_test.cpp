// The operator's hands on the real server: quorvane-ctl over the control
// socket against two logged-in players, bans that survive a restart, the
// shutdown countdown by command and by SIGTERM, and control clients that
// misbehave without the players noticing.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "e2e_fixture.h"
#include "scratch_folder.h"

namespace quorvane::testing {
namespace {

using opcode::kChatLine;
using opcode::kLogin;

struct CtlRun {
  std::optional<int> status;
  std::vector<std::string> out;
  std::vector<std::string> err;
};

class ControlTest : public ServerTest {
 protected:
  ControlTest() {
    settings_.extraArguments = {"--control-socket", Socket(), "--ban-file", BanFile()};
  }

  std::string Socket() const { return (folder_.root() / "control").string(); }
  std::string BanFile() const { return (folder_.root() / "bans").string(); }

  CtlRun Ctl(std::vector<std::string> words) {
    ChildProcess::Options options;
    options.arguments = {QUORVANE_CTL, "--socket", Socket()};
    options.arguments.insert(options.arguments.end(), words.begin(), words.end());
    ChildProcess ctl(options);
    CtlRun run;
    run.status = ctl.WaitForExit(10s);
    run.out = ctl.StdoutLines();
    run.err = ctl.StderrLines();
    return run;
  }

  std::unique_ptr<SyncClient> Player(std::uint32_t seed, const std::string& name) {
    auto player = Join(seed);
    player->Send(kLogin, NameBlock(name));
    while (const auto packet = player->NextPacket()) {
      if (packet->opcode == kChatLine) return player;
    }
    ADD_FAILURE() << "no welcome line for " << name;
    return player;
  }

  // The texts of the chat lines `peer` got up to now.
  static std::vector<std::string> Chat(SyncClient& peer) {
    std::vector<std::string> texts;
    for (const Packet& packet : UntilPong(peer)) {
      if (packet.opcode != kChatLine) continue;
      const std::string payload(packet.payload.begin(), packet.payload.end());
      EXPECT_TRUE(payload.starts_with(std::string("\x00\x04OrlanServer\n", 14))) << payload;
      texts.push_back(payload.substr(payload.find('\n') + 1));
    }
    return texts;
  }

  // Chat lines until the connection ends.
  static std::vector<std::string> ChatUntilClosed(SyncClient& peer) {
    std::vector<std::string> texts;
    while (const auto packet = peer.NextPacket(10s)) {
      if (packet->opcode != kChatLine) continue;
      const std::string payload(packet->payload.begin(), packet->payload.end());
      texts.push_back(payload.substr(payload.find('\n') + 1));
    }
    EXPECT_TRUE(peer.closed());
    return texts;
  }

  // Whether a new connection from 127.0.0.1 is served. A refused one is reset,
  // which the connect itself may already meet.
  bool Served() {
    try {
      SyncClient probe("127.0.0.1", server().port(), 99);
      return probe.Handshake(2s);
    } catch (const std::runtime_error&) {
      return false;
    }
  }

  ScratchFolder folder_;
};

TEST_F(ControlTest, SayKickBanAndUnbanReachThePlayersAndBansOutliveARestart) {
  auto ann = Player(1, "Ann");
  auto bob = Player(2, "Bob");

  const CtlRun said = Ctl({"say", "Hello", "both"});
  EXPECT_EQ(said.status, 0);
  EXPECT_EQ(said.out, std::vector<std::string>{"said to 2 players: Hello both"});
  EXPECT_EQ(Chat(*ann), std::vector<std::string>{"Hello both"});
  EXPECT_EQ(Chat(*bob), std::vector<std::string>{"Hello both"});

  const CtlRun kicked = Ctl({"kick", "2", "spamming"});
  EXPECT_EQ(kicked.status, 0) << (kicked.err.empty() ? "" : kicked.err[0]);
  EXPECT_EQ(ChatUntilClosed(*bob), std::vector<std::string>{"Kicked: spamming"});

  const CtlRun refused = Ctl({"kick", "2"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err, std::vector<std::string>{"quorvane-ctl: slot 2 is free"});
  EXPECT_EQ(Ctl({"kick", "two"}).status, 1);

  const CtlRun banned = Ctl({"ban", "127.0.0.1", "1h", "cheating"});
  EXPECT_EQ(banned.status, 0);
  EXPECT_EQ(ChatUntilClosed(*ann), std::vector<std::string>{"Kicked: cheating"});
  EXPECT_FALSE(Served());
  const CtlRun bans = Ctl({"bans"});
  ASSERT_EQ(bans.out.size(), 2u);
  EXPECT_TRUE(bans.out[1].starts_with("ban 127.0.0.1/32 until ")) << bans.out[1];
  EXPECT_NE(bans.out[1].find(": cheating"), std::string::npos) << bans.out[1];

  ASSERT_EQ(server().process().Signal(SIGTERM, 5s), 0);
  SetUp();
  EXPECT_FALSE(Served()) << "the ban file is read at the start";
  EXPECT_EQ(Ctl({"unban", "127.0.0.1"}).status, 0);
  EXPECT_TRUE(Served());
  EXPECT_EQ(Ctl({"unban", "127.0.0.1"}).status, 1);
}

TEST_F(ControlTest, ShutdownWarnsBothPlayersThenEndsTheServer) {
  auto ann = Player(1, "Ann");
  auto bob = Player(2, "Bob");
  const CtlRun shutdown = Ctl({"shutdown", "2", "Bye"});
  EXPECT_EQ(shutdown.status, 0);
  EXPECT_EQ(shutdown.out, std::vector<std::string>{"shutting down in 2 s"});
  EXPECT_FALSE(Served()) << "no new connections while counting down";
  EXPECT_EQ(ChatUntilClosed(*ann), std::vector<std::string>{"Bye (in 2 s)"});
  EXPECT_EQ(ChatUntilClosed(*bob), std::vector<std::string>{"Bye (in 2 s)"});
  EXPECT_EQ(server().process().WaitForExit(5s), 0);
}

TEST_F(ControlTest, SigtermWithPlayersCountsDownTheGrace) {
  ASSERT_EQ(server().process().Signal(SIGTERM, 5s), 0) << "no player: at once";
  settings_.extraArguments.insert(settings_.extraArguments.end(),
                                  {"--shutdown-grace", "6", "--shutdown-text", "Restarting"});
  SetUp();
  auto ann = Player(1, "Ann");
  auto bob = Player(2, "Bob");
  ::kill(server().process().pid(), SIGTERM);
  EXPECT_EQ(ChatUntilClosed(*ann),
            (std::vector<std::string>{"Restarting (in 6 s)", "Restarting (in 5 s)"}));
  EXPECT_EQ(ChatUntilClosed(*bob),
            (std::vector<std::string>{"Restarting (in 6 s)", "Restarting (in 5 s)"}));
  EXPECT_EQ(server().process().WaitForExit(5s), 0);
}

TEST_F(ControlTest, SilentAndEndlessControlClientsDoNotDelayThePlayers) {
  auto ann = Player(1, "Ann");
  const auto connect = [this] {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, Socket().c_str(), sizeof address.sun_path - 1);
    EXPECT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    return fd;
  };
  const int silent = connect();
  const int endless = connect();
  const std::string chunk(64 * 1024, 'x');
  for (int i = 0; i < 16; ++i) {
    if (::send(endless, chunk.data(), chunk.size(), MSG_NOSIGNAL) <= 0) break;
    const auto started = std::chrono::steady_clock::now();
    UntilPong(*ann);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 500ms);
  }
  const CtlRun status = Ctl({"status"});
  EXPECT_EQ(status.status, 0);
  ASSERT_FALSE(status.out.empty());
  EXPECT_TRUE(status.out[0].starts_with("up ")) << status.out[0];
  ::close(silent);
  ::close(endless);
}

TEST_F(ControlTest, CtlSaysWhyItCannotConnect) {
  ChildProcess::Options options;
  options.arguments = {QUORVANE_CTL, "--socket", (folder_.root() / "none").string(), "status"};
  ChildProcess ctl(options);
  EXPECT_EQ(ctl.WaitForExit(10s), 1);
  ASSERT_FALSE(ctl.StderrLines().empty());
  EXPECT_NE(ctl.StderrLines()[0].find("no control socket at"), std::string::npos);

  options.arguments = {QUORVANE_CTL, "--socket", Socket()};
  ChildProcess usage(options);
  EXPECT_EQ(usage.WaitForExit(10s), 2);
}

TEST_F(ControlTest, TheSocketIsTheServerGroupsAndALiveOneIsNotTakenOver) {
  struct stat info {};
  ASSERT_EQ(::stat(Socket().c_str(), &info), 0);
  EXPECT_TRUE(S_ISSOCK(info.st_mode));
  EXPECT_EQ(info.st_mode & 0777, 0660u);

  ChildProcess::Options options;
  options.arguments = {QUORVANE_PROGRAM, "--headless", "--listen",         "127.0.0.1",
                       "--port",         "0",          "--control-socket", Socket()};
  ChildProcess second(options);
  EXPECT_EQ(second.WaitForExit(10s), 1);
  const std::vector<std::string> errors = second.StderrLines();
  ASSERT_FALSE(errors.empty());
  EXPECT_NE(errors.back().find(Socket()), std::string::npos) << errors.back();
  EXPECT_EQ(Ctl({"status"}).status, 0) << "the running server lost its socket";
}

// The console: the same commands on standard input, the answers on standard
// output beside the log lines; the end of its input ends the console alone.
TEST(ConsoleTest, CommandsOnStandardInputAreAnsweredAndItsEndLeavesTheServerServing) {
  ChildProcess::Options options;
  options.arguments = {QUORVANE_PROGRAM, "--headless", "--console", "--listen",
                       "127.0.0.1",      "--port",     "0"};
  options.input = "status\nkick 1\n";
  ChildProcess server(options);
  const auto listening = server.WaitForStderrLine("listening on 127.0.0.1:", 10s);
  ASSERT_TRUE(listening);
  const auto port =
      static_cast<std::uint16_t>(std::stoi(listening->substr(listening->rfind(':') + 1)));
  const auto status = server.WaitForStdoutLine("ok up ", 10s);
  ASSERT_TRUE(status);
  EXPECT_NE(status->find("0 of 2 slots taken"), std::string::npos) << *status;
  EXPECT_TRUE(server.WaitForStdoutLine("error slot 1 is free", 10s));

  SyncClient player("127.0.0.1", port, 1);
  EXPECT_TRUE(player.Handshake(2s)) << "the end of the console's input ended the server";
  EXPECT_EQ(server.Signal(SIGTERM, 5s), 0);
}

}  // namespace
}  // namespace quorvane::testing
