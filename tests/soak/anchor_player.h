// The player who stays: logged in for the whole run on its own thread, pinging
// without pause and checking every packet the server sends it.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "client/sync_client.h"

namespace quorvane::testing {

struct AnchorReport {
  int pongs = 0;
  std::chrono::microseconds slowestPong{0};
  // The numbers of the relayed "soak chat N" lines, in arrival order.
  std::vector<int> chatNumbers;
  // Anything wrong, in words; empty when every packet was right.
  std::vector<std::string> faults;
};

class AnchorPlayer {
 public:
  // Connects, does the handshake and logs in as `name`; throws when the
  // server does not answer.
  AnchorPlayer(std::uint16_t port, const std::string& name);
  AnchorPlayer(const AnchorPlayer&) = delete;
  AnchorPlayer& operator=(const AnchorPlayer&) = delete;
  ~AnchorPlayer();

  void Start();
  // Stops pinging, then pings once more as a barrier so that everything the
  // server relayed before is in the report.
  AnchorReport Stop();

 private:
  void Run();
  // One ping and every packet up to its answer; false when none came.
  bool PingRound();
  void Check(const client::Packet& packet);

  client::SyncClient client_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  AnchorReport report_;
};

}  // namespace quorvane::testing
