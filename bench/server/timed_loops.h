// The timed loops, run alike against the real server and the raw baselines:
// only the socket calls and the clock lie inside the timed span, and the
// checks of what arrived run after the clock stops.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace quorvane::bench {

using Clock = std::chrono::steady_clock;
using Samples = std::vector<std::chrono::nanoseconds>;
using Message = std::vector<std::uint8_t>;
// Sees bytes that arrived, after the clock has stopped; may throw.
using Check = std::function<void(std::span<const std::uint8_t>)>;

// Writes each request and waits for `replySize` bytes in answer: one sample
// per round trip.
Samples RoundTrips(int fd, std::span<const Message> requests, std::size_t replySize,
                   const Check& checkReply);

// Connects from `source` `count` times to a server that refuses each
// connection: one sample per connection, from connect until the server's
// close or reset arrives.
Samples RefusedConnections(const char* source, std::uint16_t port, std::size_t count);

struct RelayLink {
  int senderFd;
  int receiverFd;
  std::size_t echoSize;   // bytes back to the sender per packet (0: none)
  std::size_t relaySize;  // bytes to the receiver per packet
};

// One packet in flight: a sample is the time from the sender's write until
// the receiver holds the relayed bytes. The echo is read after the clock stops.
Samples RelayOneAtATime(const RelayLink& link, std::span<const Message> packets,
                        const Check& checkEcho, const Check& checkRelay);

// Packets of one size streamed from the sender in bursts, as fast as the
// relay takes them with at most `window` packets sent but not yet relayed,
// while the echoes to the sender and the relayed bytes are read as they
// come: a sample is a burst's time per packet, from its first write until
// the last relayed and echoed byte. The checks see a whole burst's bytes.
Samples StreamRelay(const RelayLink& link, std::span<const Message> packets, std::size_t window,
                    const Check& checkEcho, const Check& checkRelay);

}  // namespace quorvane::bench
