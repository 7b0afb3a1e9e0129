#include "timed_loops.h"

#include <exception>
#include <thread>
#include <utility>

#include "wire.h"

namespace quorvane::bench {
namespace {

// A function on its own thread; Join() rethrows what it failed with. The
// thread is joined in any case, and every socket call in it is bounded.
class Task {
 public:
  explicit Task(std::function<void()> work)
      : thread_([this, work = std::move(work)] {
          try {
            work();
          } catch (...) {
            failure_ = std::current_exception();
          }
        }) {}
  Task(const Task&) = delete;
  Task& operator=(const Task&) = delete;
  ~Task() {
    if (thread_.joinable()) thread_.join();
  }

  void Join() {
    thread_.join();
    if (failure_) std::rethrow_exception(failure_);
  }

 private:
  std::exception_ptr failure_;
  std::thread thread_;
};

}  // namespace

Samples RoundTrips(int fd, std::span<const Message> requests, std::size_t replySize,
                   const Check& checkReply) {
  Samples samples;
  samples.reserve(requests.size());
  std::vector<std::uint8_t> reply(replySize);
  for (const Message& request : requests) {
    const auto start = Clock::now();
    SendAll(fd, request);
    ReceiveExactly(fd, reply);
    samples.push_back(Clock::now() - start);
    if (checkReply) checkReply(reply);
  }
  return samples;
}

Samples RelayOneAtATime(const RelayLink& link, std::span<const Message> packets,
                        const Check& checkEcho, const Check& checkRelay) {
  Samples samples;
  samples.reserve(packets.size());
  std::vector<std::uint8_t> echo(link.echoSize);
  std::vector<std::uint8_t> relay(link.relaySize);
  for (const Message& packet : packets) {
    const auto start = Clock::now();
    SendAll(link.senderFd, packet);
    ReceiveExactly(link.receiverFd, relay);
    samples.push_back(Clock::now() - start);
    ReceiveExactly(link.senderFd, echo);
    if (checkEcho && !echo.empty()) checkEcho(echo);
    if (checkRelay) checkRelay(relay);
  }
  return samples;
}

Flood RelayFlood(const RelayLink& link, std::span<const Message> packets) {
  Flood flood;
  flood.echoed.resize(packets.size() * link.echoSize);
  flood.relayed.resize(packets.size() * link.relaySize);
  const auto start = Clock::now();
  Task drain([&] { ReceiveExactly(link.senderFd, flood.echoed); });
  Task writer([&] {
    for (const Message& packet : packets) SendAll(link.senderFd, packet);
  });
  ReceiveExactly(link.receiverFd, flood.relayed);
  flood.elapsed = Clock::now() - start;
  writer.Join();
  drain.Join();
  return flood;
}

}  // namespace quorvane::bench
