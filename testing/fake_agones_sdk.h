// A stand-in for the Agones SDK sidecar's REST API on 127.0.0.1, for tests
// and measurements of a server that talks to it: it records every call with
// the time it came and answers with the status it is told. It runs on a
// thread of its own, so that it answers while the test waits or blocks.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace quorvane::testing {

class FakeAgonesSdk {
 public:
  struct Call {
    std::chrono::steady_clock::time_point at;
    std::string method;
    std::string path;
    std::string body;
    // Whether the probed port took a connection when the call came.
    bool probeListened = false;
  };

  // Takes a port at once; without `listening` it refuses connections, as a
  // sidecar not up yet does, until Listen.
  explicit FakeAgonesSdk(bool listening = true);
  FakeAgonesSdk(const FakeAgonesSdk&) = delete;
  FakeAgonesSdk& operator=(const FakeAgonesSdk&) = delete;
  ~FakeAgonesSdk();

  std::uint16_t port() const { return port_; }
  void Listen();
  // From now on calls are read and noted but never answered, as a wedged
  // sidecar would.
  void Hang() { hang_ = true; }
  // The status of every answer from now on (200 at first).
  void AnswerWith(int status) { status_ = status; }
  // Each call from now on also tries to connect to 127.0.0.1:`port`.
  void ProbeOnEachCall(std::uint16_t port) { probe_ = port; }

  std::vector<Call> Calls() const;
  std::vector<Call> CallsTo(const std::string& path) const;
  // Waits until `count` calls to `path` have come; false when they did not in time.
  bool WaitForCalls(const std::string& path, std::size_t count, std::chrono::milliseconds timeout);

 private:
  void Serve();
  // Answers every whole request in `pending`; false when the peer is to be dropped.
  bool Answer(int fd, std::string& pending);

  int listener_ = -1;
  std::uint16_t port_ = 0;
  std::atomic<int> status_{200};
  std::atomic<bool> hang_{false};
  std::atomic<std::uint16_t> probe_{0};
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::vector<Call> calls_;
  std::thread thread_;
};

}  // namespace quorvane::testing
