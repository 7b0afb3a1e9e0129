#include "raw_peers.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <vector>

namespace quorvane::bench {
namespace {

constexpr std::chrono::milliseconds kAcceptTimeout = kIoTimeout;
constexpr std::size_t kReadSize = 64 * 1024;

// Writes `count` bytes from a block of zeros that may be shorter.
void SendCount(int fd, const std::vector<std::uint8_t>& zeros, std::size_t count) {
  while (count > 0) {
    const std::size_t part = std::min(count, zeros.size());
    SendAll(fd, {zeros.data(), part});
    count -= part;
  }
}

}  // namespace

PeerProcess::~PeerProcess() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
}

void PeerProcess::Join() {
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0) {
    if (errno != EINTR) throw std::runtime_error("waitpid failed");
  }
  pid_ = -1;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    throw std::runtime_error("a baseline server failed");
  }
}

pid_t PeerProcess::Fork() {
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  return pid;
}

void PeerProcess::ServeAndExit(const std::function<void()>& serve) {
  int status = 0;
  try {
    serve();
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "server_bench: baseline server: %s\n", failure.what());
    status = 1;
  }
  std::fflush(stderr);
  ::_exit(status);
}

RawEcho::RawEcho(std::size_t requestSize, std::size_t replySize) {
  Start([requestSize, replySize](int listener) {
    const Fd client = AcceptWithin(listener, kAcceptTimeout);
    std::vector<std::uint8_t> request(requestSize);
    const std::vector<std::uint8_t> reply(replySize);
    for (;;) {
      // A clean close between requests ends the service.
      const std::size_t first = ReceiveSome(client.get(), request);
      if (first == 0) return;
      ReceiveExactly(client.get(), std::span(request).subspan(first));
      SendAll(client.get(), reply);
    }
  });
}

RawForwarder::RawForwarder(std::size_t packetSize, std::size_t echoSize, std::size_t relaySize) {
  Start([packetSize, echoSize, relaySize](int listener) {
    const Fd sender = AcceptWithin(listener, kAcceptTimeout);
    const Fd receiver = AcceptWithin(listener, kAcceptTimeout);
    std::vector<std::uint8_t> arrived(kReadSize);
    const std::vector<std::uint8_t> zeros((kReadSize / packetSize + 1) *
                                          std::max(echoSize, relaySize));
    std::size_t partial = 0;
    for (;;) {
      const std::size_t got = ReceiveSome(sender.get(), arrived);
      if (got == 0) return;
      const std::size_t packets = (partial + got) / packetSize;
      partial = (partial + got) % packetSize;
      SendCount(sender.get(), zeros, packets * echoSize);
      SendCount(receiver.get(), zeros, packets * relaySize);
    }
  });
}

}  // namespace quorvane::bench
