#include "timed_loops.h"

#include "wire.h"

namespace quorvane::bench {

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

Samples RefusedConnections(const char* source, std::uint16_t port, std::size_t count) {
  Samples samples;
  samples.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    const auto start = Clock::now();
    Fd connection = ConnectLoopbackFrom(source, port);
    AwaitEnd(connection.get());
    samples.push_back(Clock::now() - start);
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

}  // namespace quorvane::bench
