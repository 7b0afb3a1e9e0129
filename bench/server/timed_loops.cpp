#include "timed_loops.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

#include "wire.h"

namespace quorvane::bench {
namespace {

// Long enough for the stream to fill the pipe, short enough that a burst's
// ramp up and drain are a small part of it.
constexpr std::size_t kBurst = 500;

// One burst's bytes: what the sender writes and what the two sides must get.
struct Stream {
  Message sent;
  std::vector<std::uint8_t> echo;
  std::vector<std::uint8_t> relay;
};

Stream StreamOf(const RelayLink& link, std::span<const Message> packets) {
  Stream stream;
  for (const Message& packet : packets) {
    if (packet.size() != packets.front().size()) {
      throw std::invalid_argument("a stream's packets must be of one size");
    }
    stream.sent.insert(stream.sent.end(), packet.begin(), packet.end());
  }
  stream.echo.resize(packets.size() * link.echoSize);
  stream.relay.resize(packets.size() * link.relaySize);
  return stream;
}

// Reads what waits on `fd` into the rest of `into` after `have` bytes.
void ReadMore(int fd, std::vector<std::uint8_t>& into, std::size_t& have) {
  const std::size_t got = ReceiveSome(fd, std::span(into).subspan(have));
  if (got == 0) throw std::runtime_error("stream: the peer closed the connection");
  have += got;
}

// Writes, reads and waits until the whole burst is through; bounded by the
// socket timeout per wait and for the whole burst.
void Pump(const RelayLink& link, std::size_t packetSize, std::size_t window, Stream& stream) {
  const auto deadline = Clock::now() + kIoTimeout;
  const int waitMs = static_cast<int>(std::chrono::milliseconds(kIoTimeout).count());
  std::size_t sent = 0;
  std::size_t echoed = 0;
  std::size_t relayed = 0;
  while (relayed < stream.relay.size() || echoed < stream.echo.size()) {
    const std::size_t allowed =
        std::min(stream.sent.size(), (relayed / link.relaySize + window) * packetSize);
    const short wantSender = static_cast<short>((echoed < stream.echo.size() ? POLLIN : 0) |
                                                (sent < allowed ? POLLOUT : 0));
    const short wantReceiver = relayed < stream.relay.size() ? POLLIN : 0;
    pollfd waiting[2] = {{link.senderFd, wantSender, 0}, {link.receiverFd, wantReceiver, 0}};
    const int ready = ::poll(waiting, 2, waitMs);
    if (ready < 0 && errno != EINTR) throw std::runtime_error("stream: poll failed");
    if (ready == 0 || Clock::now() > deadline) throw std::runtime_error("stream: stalled");
    const auto readable = [](const pollfd& one) { return (one.revents & ~POLLOUT) != 0; };
    if (readable(waiting[1])) ReadMore(link.receiverFd, stream.relay, relayed);
    if (readable(waiting[0])) ReadMore(link.senderFd, stream.echo, echoed);
    if ((waiting[0].revents & POLLOUT) != 0) {
      sent += SendSome(link.senderFd, std::span(stream.sent).subspan(sent, allowed - sent));
    }
  }
}

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

Samples StreamRelay(const RelayLink& link, std::span<const Message> packets, std::size_t window,
                    const Check& checkEcho, const Check& checkRelay) {
  Samples samples;
  for (std::size_t begin = 0; begin < packets.size(); begin += kBurst) {
    const std::span<const Message> burst =
        packets.subspan(begin, std::min(kBurst, packets.size() - begin));
    Stream stream = StreamOf(link, burst);
    const auto start = Clock::now();
    Pump(link, burst.front().size(), window, stream);
    samples.push_back((Clock::now() - start) / static_cast<long>(burst.size()));
    if (checkEcho && !stream.echo.empty()) checkEcho(stream.echo);
    if (checkRelay) checkRelay(stream.relay);
  }
  return samples;
}

}  // namespace quorvane::bench
