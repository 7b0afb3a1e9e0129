// The doors around the game port, tried against the real server on loopback:
// the HTTP endpoint, what Qt prints, a full descriptor table, a busy data
// folder and a failing log file. Strangers come from 127.0.0.2 and up, the
// player from 127.0.0.1; throughout each attack the player's pings are
// answered.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "client/sync_client.h"
#include "client/tcp_connection.h"
#include "data_folder.h"
#include "expected_packets.h"
#include "server_process.h"
#include "session/opcodes.h"

namespace quorvane::testing {
namespace {

// Built with the sanitizers (the server under test is built alike).
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
constexpr bool kSanitized = __has_feature(address_sanitizer);
#else
constexpr bool kSanitized = false;
#endif

using client::SyncClient;
using client::TcpConnection;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

const std::string kPlayer = "127.0.0.1";
const std::string kStranger = "127.0.0.2";

const TestCharacter kCaster{.level = 250, .posX = 42, .posY = 57};

Bytes NameBlock(const std::string& name) {
  Bytes block(46, 0x00);
  std::copy(name.begin(), name.end(), block.begin() + 1);
  return block;
}

struct HttpAnswer {
  int status = 0;
  std::string text;
};

// One request on `connection` and its whole answer (by Content-Length); a
// status of 0 when none came.
HttpAnswer Ask(TcpConnection& connection, const std::string& request,
               std::chrono::milliseconds timeout = 3s) {
  connection.SendAll(
      ByteView(reinterpret_cast<const std::uint8_t*>(request.data()), request.size()));
  const auto deadline = Clock::now() + timeout;
  Bytes arrived;
  for (;;) {
    const std::string text(arrived.begin(), arrived.end());
    const std::size_t split = text.find("\r\n\r\n");
    const std::size_t length = text.find("Content-Length: ");
    if (split != std::string::npos && length != std::string::npos && length < split &&
        text.size() - split - 4 >= std::stoul(text.substr(length + 16))) {
      return {std::stoi(text.substr(text.find(' ') + 1)), text};
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left <= 0ms || connection.ReadSome(arrived, left) != TcpConnection::ReadStatus::kData) {
      return {0, text};
    }
  }
}

std::string Get(const std::string& path, const std::string& extraHeaders = {}) {
  return "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extraHeaders + "\r\n";
}

const std::string kUpgrade =
    "Connection: Upgrade\r\nUpgrade: websocket\r\n"
    "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
    "Sec-WebSocket-Version: 13\r\n";

// CPU time the process `pid` has used.
std::chrono::milliseconds CpuTime(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string all((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  std::istringstream fields(all.substr(all.rfind(')') + 2));
  std::string field;
  unsigned long long user = 0, system = 0;
  for (int index = 3; fields >> field; ++index) {
    if (index == 14) user = std::stoull(field);
    if (index == 15) {
      system = std::stoull(field);
      break;
    }
  }
  return std::chrono::milliseconds((user + system) * 1000 / ::sysconf(_SC_CLK_TCK));
}

// The lowest descriptor number `pid` has free: as its limit, no descriptor
// is left to open (those above, inherited, stay open).
rlim_t LowestFreeDescriptor(pid_t pid) {
  std::set<rlim_t> used;
  for (const auto& entry : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd")) {
    used.insert(std::stoul(entry.path().filename().string()));
  }
  rlim_t free = 0;
  while (used.contains(free)) ++free;
  return free;
}

bool SetLimit(pid_t pid, int resource, rlim_t soft) {
  rlimit limit{};
  if (::prlimit(pid, static_cast<__rlimit_resource>(resource), nullptr, &limit) != 0) return false;
  limit.rlim_cur = soft;
  return ::prlimit(pid, static_cast<__rlimit_resource>(resource), &limit, nullptr) == 0;
}

class PlatformDoorsTest : public ::testing::Test {
 protected:
  PlatformDoorsTest() { data_.WriteCharacter("Mirelle", CharacterFile(kCaster)); }

  // The server with the HTTP endpoint on a port it picks.
  void Start(std::vector<std::string> arguments, const std::string& dataDir = {},
             std::map<std::string, std::optional<std::string>> environment = {}) {
    arguments.insert(arguments.end(), {"--http", "127.0.0.1:0", "--autoban", "off"});
    ServerProcess::Settings settings{dataDir.empty() ? data_.root().string() : dataDir, 600000,
                                     std::move(arguments)};
    settings.environment = std::move(environment);
    server_ = std::make_unique<ServerProcess>(QUORVANE_PROGRAM, settings);
    const auto line = server_->process().WaitForStderrLine("metrics on 127.0.0.1:", 5s);
    ASSERT_TRUE(line.has_value());
    httpPort_ = static_cast<std::uint16_t>(std::stoi(line->substr(line->rfind(':') + 1)));
  }

  TcpConnection Http(const std::string& from = kPlayer) {
    return TcpConnection::Connect("127.0.0.1", httpPort_, 2s, from);
  }

  // A fresh connection's answer to a GET of `path`; 0 when none came.
  int Scrape(const std::string& path = "/health", const std::string& from = kPlayer) {
    try {
      TcpConnection connection = Http(from);
      return Ask(connection, Get(path)).status;
    } catch (const std::runtime_error&) {
      return 0;
    }
  }

  std::unique_ptr<SyncClient> Player(const std::string& name = "Mirelle", std::uint32_t seed = 1) {
    auto player = std::make_unique<SyncClient>("127.0.0.1", server_->port(), seed, 5s, kPlayer);
    EXPECT_TRUE(player->Handshake());
    player->Send(opcode::kLogin, NameBlock(name));
    EXPECT_TRUE(Pinged(*player)) << name << "'s login";
    return player;
  }

  static bool Pinged(SyncClient& peer) {
    peer.Send(opcode::kPing, {});
    while (const std::optional<client::Packet> packet = peer.NextPacket()) {
      if (packet->opcode == opcode::kPong) return true;
    }
    return false;
  }

  // The time each ping took, 5 ms apart on a thread of its own while
  // `attack` runs; nothing when one was not answered.
  std::optional<std::vector<std::chrono::milliseconds>> PingsDuring(
      SyncClient& player, const std::function<void()>& attack) {
    std::atomic<bool> stop{false};
    std::vector<std::chrono::milliseconds> times;
    bool answered = true;
    std::thread pinger([&] {
      while (!stop && answered) {
        const auto sent = Clock::now();
        answered = Pinged(player);
        times.push_back(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - sent));
        std::this_thread::sleep_for(5ms);
      }
    });
    attack();
    stop = true;
    pinger.join();
    if (!answered) return std::nullopt;
    return times;
  }

  std::optional<std::chrono::milliseconds> SlowestPingDuring(SyncClient& player,
                                                             const std::function<void()>& attack) {
    const auto times = PingsDuring(player, attack);
    if (!times) return std::nullopt;
    return times->empty() ? 0ms : *std::max_element(times->begin(), times->end());
  }

  // A connection from a stranger that the server closes within 2 s (it may
  // be reset before the client has even finished connecting).
  bool ClosedAtOnce() {
    try {
      SyncClient waiting("127.0.0.1", server_->port(), 7, 2s, kStranger);
      return waiting.WaitClosed(2s);
    } catch (const std::runtime_error&) {
      return true;
    }
  }

  std::size_t StderrCount(const std::string& text) {
    const std::vector<std::string> lines = server_->process().StderrLines();
    return static_cast<std::size_t>(std::count_if(
        lines.begin(), lines.end(),
        [&](const std::string& line) { return line.find(text) != std::string::npos; }));
  }

  DataFolder data_;
  std::unique_ptr<ServerProcess> server_;
  std::uint16_t httpPort_ = 0;
};

// Qt warned on standard error with a blocking write for each upgrade request:
// with a stalled reader a few hundred stopped the event thread. They are now
// answered like any GET, without a line.
TEST_F(PlatformDoorsTest, UpgradeRequestsAreAnsweredWithoutALineWhileStderrIsStalled) {
  Start({});
  auto player = Player();
  {
    TcpConnection connection = Http();
    const HttpAnswer answer = Ask(connection, Get("/health", kUpgrade));
    EXPECT_EQ(answer.status, 200) << answer.text;
  }
  server_->process().StallStderr();
  int answered = 0;
  const auto slowest = SlowestPingDuring(*player, [&] {
    for (int i = 0; i < 1000; ++i) {
      TcpConnection connection = Http();
      answered += Ask(connection, Get("/health", kUpgrade)).status == 200 ? 1 : 0;
    }
  });
  EXPECT_EQ(answered, 1000);
  ASSERT_TRUE(slowest.has_value()) << "a ping went unanswered";
  EXPECT_LT(*slowest, 1000ms);
  server_->process().ResumeStderr();
  EXPECT_TRUE(Pinged(*player));
  EXPECT_EQ(StderrCount("WebSocket"), 0u);
  EXPECT_EQ(StderrCount("qt."), 0u);
}

// Every message Qt prints goes through the queue that never blocks, stamped,
// and a flood of them is summarised: here the HTTP server's debug line for
// each request.
TEST_F(PlatformDoorsTest, QtMessagesAreQueuedStampedAndSummarised) {
  Start({}, {}, {{"QT_LOGGING_RULES", "qt.httpserver.debug=true"}});
  auto player = Player();
  server_->process().StallStderr();
  int answered = 0;
  const auto slowest = SlowestPingDuring(*player, [&] {
    for (int i = 0; i < 1000; ++i) answered += Scrape() == 200 ? 1 : 0;
  });
  EXPECT_EQ(answered, 1000);
  ASSERT_TRUE(slowest.has_value()) << "a ping went unanswered";
  EXPECT_LT(*slowest, 1000ms);
  server_->process().ResumeStderr();
  const auto summary = server_->process().WaitForStderrLine(
      " W qt.httpserver: ", 3s);  // the count once the second is over
  ASSERT_TRUE(summary.has_value());
  EXPECT_NE(summary->find("more messages within 1 s not written"), std::string::npos) << *summary;
  const std::size_t written = StderrCount(" I qt.httpserver: Request: ");
  EXPECT_GT(written, 0u);
  EXPECT_LT(written, 200u) << "a few a second, not one a request";
}

// One stranger opening and holding connections as fast as it can: a fresh
// scrape each half second still gets its answer.
TEST_F(PlatformDoorsTest, AStrangerHoldingTheEndpointDoesNotKeepTheScraperOut) {
  Start({});
  auto player = Player();
  std::atomic<bool> stop{false};
  std::atomic<int> opened{0};
  std::thread stranger([&] {
    std::vector<TcpConnection> held;
    const auto end = Clock::now() + 8s;
    while (!stop && Clock::now() < end) {
      try {
        held.push_back(Http(kStranger));
        ++opened;
      } catch (const std::runtime_error&) {
      }
      if (held.size() > 64) held.erase(held.begin());
    }
  });
  int scraped = 0;
  const auto slowest = SlowestPingDuring(*player, [&] {
    for (int i = 0; i < 8; ++i) {
      std::this_thread::sleep_for(500ms);
      scraped += Scrape("/metrics") == 200 ? 1 : 0;
    }
  });
  stop = true;
  stranger.join();
  EXPECT_EQ(scraped, 8);
  EXPECT_GT(opened.load(), 100) << "the stranger kept opening";
  ASSERT_TRUE(slowest.has_value());
}

// Out of descriptors, the listener pauses instead of spinning, closes the
// waiting connection at once, says 503 on /health, and lets a player in
// within a second once a descriptor is free: on a listener that had not
// accepted yet, and on one that had.
TEST_F(PlatformDoorsTest, AFullDescriptorTableIsSurvived) {
  if (kSanitized) {
    GTEST_SKIP() << "the sanitizers' runtime needs descriptors of its own: its check of a "
                    "virtual call opens a pipe, and out of descriptors it reports the call as a "
                    "fault";
  }
  Start({"--handshake-timeout", "30", "--login-timeout", "60"});
  const pid_t pid = server_->process().pid();
  TcpConnection monitor = Http();  // opened while a descriptor was free
  ASSERT_EQ(Ask(monitor, Get("/health")).status, 200);

  for (const bool servedBefore : {false, true}) {
    SCOPED_TRACE(servedBefore ? "served before" : "fresh listener");
    std::unique_ptr<SyncClient> first;
    if (servedBefore) first = Player();
    ASSERT_TRUE(SetLimit(pid, RLIMIT_NOFILE, LowestFreeDescriptor(pid)));

    const auto cpuBefore = CpuTime(pid);
    EXPECT_TRUE(ClosedAtOnce()) << "the waiting connection is closed, not left to rot";
    std::this_thread::sleep_for(1s);
    EXPECT_LT(CpuTime(pid) - cpuBefore, 300ms) << "no busy loop";
    EXPECT_EQ(Ask(monitor, Get("/health")).status, 503);
    if (first) {
      EXPECT_TRUE(Pinged(*first));
    }

    ASSERT_TRUE(SetLimit(pid, RLIMIT_NOFILE, 1024));
    const auto freed = Clock::now();
    std::unique_ptr<SyncClient> player;
    while (!player && Clock::now() - freed < 1s) {
      try {
        auto next = std::make_unique<SyncClient>("127.0.0.1", server_->port(), 8, 1s, kPlayer);
        if (next->Handshake(1s)) player = std::move(next);
      } catch (const std::runtime_error&) {
      }
      if (!player) std::this_thread::sleep_for(20ms);
    }
    ASSERT_NE(player, nullptr) << "no player in within a second";
    EXPECT_EQ(Ask(monitor, Get("/health")).status, 200);
  }
  EXPECT_EQ(StderrCount("cannot accept connections: Too many open files (EMFILE)"), 2u)
      << "one line as each episode begins";
  EXPECT_EQ(StderrCount(": accepting again after "), 2u);
}

// A tmpfs to put a large data folder on, or nothing.
std::optional<fs::path> TmpfsFolder() {
  constexpr long kTmpfsMagic = 0x01021994;
  struct statfs system {};
  if (::statfs("/dev/shm", &system) != 0 || system.f_type != kTmpfsMagic) return std::nullopt;
  std::string path = "/dev/shm/quorvane-doors-XXXXXX";
  if (::mkdtemp(path.data()) == nullptr) return std::nullopt;
  return fs::path(path);
}

// Touching characters/ listed and read the whole folder on the event thread;
// it is now listed on a worker, and the other player's pings stay quick.
TEST_F(PlatformDoorsTest, TouchingALargeDataFolderDoesNotStallThePlayers) {
  const std::optional<fs::path> root = TmpfsFolder();
  if (!root) GTEST_SKIP() << "no tmpfs at /dev/shm";
  struct Cleanup {
    fs::path root;
    ~Cleanup() { fs::remove_all(root); }
  } cleanup{*root};
  const fs::path characters = *root / "characters";
  fs::create_directories(characters);
  fs::create_directories(*root / "items");
  const Bytes character = CharacterFile(kCaster);
  // QUORVANE_DOORS_FILES measures with another count (docs/reliability.md).
  const char* const asked = std::getenv("QUORVANE_DOORS_FILES");
  const int files = asked != nullptr ? std::atoi(asked) : 20000;
  for (int i = 0; i < files; ++i) {
    std::ofstream(characters / ("Filler" + std::to_string(i)), std::ios::binary)
        .write(reinterpret_cast<const char*>(character.data()),
               static_cast<std::streamsize>(character.size()));
  }
  std::ofstream(characters / "Mirelle", std::ios::binary)
      .write(reinterpret_cast<const char*>(character.data()),
             static_cast<std::streamsize>(character.size()));

  Start({}, root->string());
  auto player = Player();
  const auto times = PingsDuring(*player, [&] {
    for (int i = 0; i < 5; ++i) {
      if (i % 2 == 0) {
        ::utimensat(AT_FDCWD, characters.c_str(), nullptr, 0);
      } else {
        ::chmod(characters.c_str(), i % 4 == 1 ? 0750 : 0755);
      }
      std::this_thread::sleep_for(300ms);
    }
  });
  ASSERT_TRUE(times.has_value()) << "a ping went unanswered";
  ASSERT_FALSE(times->empty());
  const auto slowest = *std::max_element(times->begin(), times->end());
  const auto slow = std::count_if(times->begin(), times->end(),
                                  [](std::chrono::milliseconds time) { return time >= 100ms; });
  RecordProperty("slowest_ping_ms", static_cast<int>(slowest.count()));
  std::cout << files << " files: " << times->size() << " pings, slowest " << slowest.count()
            << " ms, " << slow << " of 100 ms or more\n";
  // Each listing on the event thread stalled a ping; one slow ping is the
  // scheduler of a loaded machine.
  EXPECT_LE(slow, 1);
  EXPECT_LT(slowest, 500ms);
  // A login meanwhile is served the file as it stands.
  auto second = std::make_unique<SyncClient>("127.0.0.1", server_->port(), 9, 5s, kPlayer);
  ASSERT_TRUE(second->Handshake());
  ::utimensat(AT_FDCWD, characters.c_str(), nullptr, 0);
  second->Send(opcode::kLogin, NameBlock("filler0"));
  EXPECT_TRUE(Pinged(*second));
}

// The log file on a full device: one line on standard error with the reason,
// and the lost lines counted in /metrics; the game goes on.
TEST_F(PlatformDoorsTest, AFullLogFileIsToldOnceAndItsLostLinesCounted) {
  if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  Start({"--log-file", "/dev/full"});
  auto player = Player();
  for (int i = 0; i < 5; ++i) {
    SyncClient visitor("127.0.0.1", server_->port(), 20 + i, 5s, kStranger);
    visitor.Handshake();
  }
  EXPECT_TRUE(Pinged(*player));
  ASSERT_TRUE(server_->process()
                  .WaitForStderrLine("E the log file /dev/full: cannot write: No space left on "
                                     "device (ENOSPC)",
                                     3s)
                  .has_value());
  EXPECT_EQ(StderrCount("the log file /dev/full: cannot write"), 1u);
  TcpConnection connection = Http();
  const HttpAnswer metrics = Ask(connection, Get("/metrics"));
  const std::string family = "quorvane_output_dropped_lines_total{stream=\"log_file\"} ";
  const std::size_t at = metrics.text.find(family);
  ASSERT_NE(at, std::string::npos);
  EXPECT_GE(std::stoul(metrics.text.substr(at + family.size())), 10u);
}

// The log file at the size limit (EFBIG): told, and once the limit is raised
// the loss is told and writing goes on; the server is not ended by SIGXFSZ.
TEST_F(PlatformDoorsTest, ALogFileAtItsSizeLimitRecoversAndTellsTheLoss) {
  const fs::path log = data_.root() / "server.log";
  Start({"--log-file", log.string()});
  const pid_t pid = server_->process().pid();
  auto player = Player();
  ASSERT_TRUE(SetLimit(pid, RLIMIT_FSIZE, fs::file_size(log)));
  for (int i = 0; i < 3; ++i) {
    SyncClient visitor("127.0.0.1", server_->port(), 30 + i, 5s, kStranger);
    visitor.Handshake();
  }
  ASSERT_TRUE(server_->process().WaitForStderrLine("cannot write: File too large (EFBIG)", 3s));
  ASSERT_TRUE(SetLimit(pid, RLIMIT_FSIZE, RLIM_INFINITY));
  SyncClient later("127.0.0.1", server_->port(), 40, 5s, kStranger);
  later.Handshake();
  const auto recovered = server_->process().WaitForStderrLine(": writing again; ", 3s);
  ASSERT_TRUE(recovered.has_value());
  EXPECT_NE(recovered->find(" lines lost"), std::string::npos);
  EXPECT_TRUE(Pinged(*player));
}

}  // namespace
}  // namespace quorvane::testing
