// What an operator's monitoring sees of the real server: /metrics, /health and
// /status over HTTP after scripted clients have connected, logged in, pinged,
// been refused and left; the metrics also pass promtool's checks.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "client/sync_client.h"
#include "data_folder.h"
#include "http_get.h"
#include "sample_files.h"
#include "server_process.h"
#include "session/opcodes.h"

namespace quorvane::testing {
namespace {

using namespace std::chrono_literals;
using client::SyncClient;

// Each sample of a metrics text: "name{labels}" to its value.
std::map<std::string, double> Samples(const std::string& text) {
  std::map<std::string, double> samples;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] == '#') continue;
    const std::size_t space = line.rfind(' ');
    samples[line.substr(0, space)] = std::stod(line.substr(space + 1));
  }
  return samples;
}

Bytes NameBlock(const std::string& name) {
  Bytes block(46, 0x00);
  std::copy(name.begin(), name.end(), block.begin() + 1);
  return block;
}

class OperatorTest : public ::testing::Test {
 protected:
  void Start(int tickMs = 3'600'000) {
    data_.WriteCharacter("Ada", CharacterFile({.level = 40, .cls = 1, .posX = 30, .posY = 31}));
    ServerProcess::Settings settings;
    settings.dataDir = data_.root().string();
    settings.tickMs = tickMs;
    settings.extraArguments = {"--http", "127.0.0.1:0"};
    server_ = std::make_unique<ServerProcess>(QUORVANE_PROGRAM, settings);
    // Written before "listening on", so it is in by now.
    for (const std::string& line : server_->process().StderrLines()) {
      if (line.find(" I metrics on 127.0.0.1:") != std::string::npos) {
        httpPort_ = static_cast<std::uint16_t>(std::stoi(line.substr(line.rfind(':') + 1)));
      }
    }
    ASSERT_NE(httpPort_, 0) << "no \"metrics on\" line";
  }

  std::unique_ptr<SyncClient> Join(std::uint32_t seed) {
    auto joined = std::make_unique<SyncClient>("127.0.0.1", server_->port(), seed);
    EXPECT_TRUE(joined->Handshake()) << seed;
    return joined;
  }

  // Logs in and waits for the welcome line that ends the login.
  static void LogIn(SyncClient& player, const std::string& name) {
    player.Send(opcode::kLogin, NameBlock(name));
    while (const std::optional<client::Packet> packet = player.NextPacket()) {
      if (packet->opcode == opcode::kChatLine) return;
    }
    ADD_FAILURE() << "no welcome line for " << name;
  }

  // A ping and its answer: the server has handled everything before it.
  static void Ping(SyncClient& player) {
    player.Send(opcode::kPing, {});
    while (const std::optional<client::Packet> packet = player.NextPacket()) {
      if (packet->opcode == opcode::kPong) return;
    }
    ADD_FAILURE() << "no answer to a ping";
  }

  QJsonObject Status() {
    const HttpReply reply = HttpGet(httpPort_, "/status");
    EXPECT_EQ(reply.status, 200);
    return QJsonDocument::fromJson(QByteArray::fromStdString(reply.body)).object();
  }

  // Polls /status until `done` holds of it; false when it did not in 5 s.
  template <typename Done>
  bool StatusUntil(Done done) {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!done(Status())) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(20ms);
    }
    return true;
  }

  DataFolder data_;
  std::unique_ptr<ServerProcess> server_;
  std::uint16_t httpPort_ = 0;
};

TEST_F(OperatorTest, MetricsCountWhatTheClientsDidAndPassPromtool) {
  Start();
  auto ada = Join(1);
  LogIn(*ada, "Ada");
  auto ghost = Join(2);
  LogIn(*ghost, "Ghost");
  for (int i = 0; i < 5; ++i) Ping(*ada);
  auto third = std::make_unique<SyncClient>("127.0.0.1", server_->port(), 3);
  EXPECT_TRUE(third->WaitClosed());
  Ping(*ghost);

  const HttpReply reply = HttpGet(httpPort_, "/metrics");
  ASSERT_EQ(reply.status, 200);
  EXPECT_NE(reply.head.find("Content-Type: text/plain; version=0.0.4"), std::string::npos);
  const std::map<std::string, double> samples = Samples(reply.body);
  const std::map<std::string, double> expected{
      {"quorvane_players_connected", 2},
      {R"(quorvane_slots_in_state{state="logged_in"})", 2},
      {R"(quorvane_slots_in_state{state="free"})", 0},
      {"quorvane_connections_accepted_total", 2},
      {R"(quorvane_connections_refused_total{reason="slots_full"})", 1},
      {"quorvane_connections_handshakes_total", 2},
      {R"(quorvane_logins_total{character="found"})", 1},
      {R"(quorvane_logins_total{character="not_found"})", 1},
      {R"(quorvane_session_received_packets_total{opcode="124",name="Ping"})", 6},
      {R"(quorvane_session_received_bytes_total{opcode="124",name="Ping"})", 6 * 8},
      {R"(quorvane_session_received_packets_total{opcode="200",name="Login"})", 2},
      {R"(quorvane_session_received_bytes_total{opcode="200",name="Login"})", 2 * (8 + 46)},
      {R"(quorvane_session_sent_packets_total{opcode="125",name="Pong"})", 6},
      {R"(quorvane_session_sent_bytes_total{opcode="125",name="Pong"})", 6 * 9},
      // Each login has two steps near its end.
      {R"(quorvane_session_sent_packets_total{opcode="1013",name="LoginStep"})", 4},
      {R"(quorvane_relay_dropped_packets_total{reason="back_pressure"})", 0},
      {R"(quorvane_connections_closed_by_host_total{cause="handshake_timeout"})", 0},
  };
  for (const auto& [name, value] : expected) {
    const auto found = samples.find(name);
    ASSERT_NE(found, samples.end()) << name << "\n" << reply.body;
    EXPECT_EQ(found->second, value) << name;
  }
  EXPECT_GT(samples.at("quorvane_server_uptime_seconds"), 0);

  ASSERT_EQ(::access(QUORVANE_PROMTOOL, X_OK), 0)
      << "promtool (" QUORVANE_PROMTOOL ") is missing: install Debian's prometheus package";
  ChildProcess promtool({.arguments = {QUORVANE_PROMTOOL, "check", "metrics"},
                         .environment = {},
                         .input = reply.body});
  const std::optional<int> status = promtool.WaitForExit(30s);
  std::string said;
  for (const std::string& line : promtool.StdoutLines()) said += line + "\n";
  for (const std::string& line : promtool.StderrLines()) said += line + "\n";
  EXPECT_EQ(status, 0) << said;
  EXPECT_EQ(said, "");
}

TEST_F(OperatorTest, StatusListsThePlayersAndTheNpcs) {
  Start(50);
  auto ada = Join(1);
  LogIn(*ada, "Ada");
  auto other = Join(2);
  Ping(*other);
  ASSERT_TRUE(
      StatusUntil([](const QJsonObject& json) { return json["npcs"].toArray().size() == 2; }));

  const QJsonObject json = Status();
  const QJsonArray slotArray = json["slots"].toArray();
  ASSERT_EQ(slotArray.size(), 2);
  const QJsonObject first = slotArray[0].toObject();
  EXPECT_EQ(first["state"].toString(), "logged_in");
  EXPECT_TRUE(first["peer"].toString().startsWith("127.0.0.1:"));
  const QJsonObject character = first["character"].toObject();
  EXPECT_EQ(character["name"].toString(), "Ada");
  EXPECT_TRUE(character["file_found"].toBool());
  EXPECT_EQ(character["level"].toInt(), 40);
  EXPECT_EQ(character["class"].toInt(), 1);
  EXPECT_EQ(character["x"].toInt(), 30);
  EXPECT_EQ(character["y"].toInt(), 31);
  EXPECT_GE(first["packets_in"].toInt(), 2);  // the hello and the login
  EXPECT_EQ(slotArray[1].toObject()["state"].toString(), "open");
  EXPECT_FALSE(slotArray[1].toObject().contains("character"));
  EXPECT_EQ(json["players_connected"].toInt(), 2);

  const QJsonArray npcs = json["npcs"].toArray();
  for (int i = 0; i < 2; ++i) {
    const QJsonObject npc = npcs[i].toObject();
    EXPECT_EQ(npc["name"].toString(), QString("+Volkrin_ %1").arg(i));
    EXPECT_GE(npc["x"].toInt(), 0);
    EXPECT_GE(npc["facing"].toInt(), 1);
    EXPECT_LE(npc["facing"].toInt(), 9);
  }
}

TEST_F(OperatorTest, ClientThatLeavesFreesItsSlotInTheStatus) {
  Start();
  auto ada = Join(1);
  LogIn(*ada, "Ada");
  ada.reset();
  EXPECT_TRUE(StatusUntil([](const QJsonObject& json) {
    return json["slots"].toArray()[0].toObject()["state"].toString() == "free";
  }));
  const std::map<std::string, double> samples = Samples(HttpGet(httpPort_, "/metrics").body);
  EXPECT_EQ(samples.at(R"(quorvane_connections_closed_total{reason="peer_closed"})") +
                samples.at(R"(quorvane_connections_closed_total{reason="reset"})"),
            1);
  EXPECT_EQ(samples.at("quorvane_players_connected"), 0);
}

TEST_F(OperatorTest, HealthIsOkWhileTheServerListens) {
  Start();
  const HttpReply health = HttpGet(httpPort_, "/health");
  EXPECT_EQ(health.status, 200);
  EXPECT_EQ(health.body, "ok\n");
  EXPECT_EQ(HttpGet(httpPort_, "/nowhere").status, 404);
}

TEST(OperatorProgramTest, HttpPortInUseEndsTheProgram) {
  ServerProcess::Settings settings;
  settings.extraArguments = {"--http", "127.0.0.1:0"};
  ServerProcess holder(QUORVANE_PROGRAM, settings);
  std::string held;
  for (const std::string& line : holder.process().StderrLines()) {
    const std::string said = " I metrics on ";
    const std::size_t at = line.find(said);
    if (at != std::string::npos) held = line.substr(at + said.size());
  }
  ASSERT_FALSE(held.empty());

  ChildProcess second({.arguments = {QUORVANE_PROGRAM, "--headless", "--listen", "127.0.0.1",
                                     "--port", "0", "--http", held},
                       .environment = {},
                       .input = {}});
  EXPECT_TRUE(second.WaitForStderrLine("cannot serve HTTP on " + held + ": ", 5s));
  const std::optional<int> status = second.WaitForExit(5s);
  ASSERT_TRUE(status);
  EXPECT_EQ(*status, 1);
}

TEST(OperatorProgramTest, WithoutTheOptionNothingIsServed) {
  ServerProcess server(QUORVANE_PROGRAM, {});
  for (const std::string& line : server.process().StderrLines()) {
    EXPECT_EQ(line.find("metrics on"), std::string::npos) << line;
  }
}

}  // namespace
}  // namespace quorvane::testing
