#include "raw_peers.h"

#include <signal.h>
#include <sys/epoll.h>
#include <sys/socket.h>
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

// Waits until one socket is readable, as an event-driven server does.
class Readiness {
 public:
  explicit Readiness(int fd) : epoll_(::epoll_create1(EPOLL_CLOEXEC)) {
    if (epoll_.get() < 0) throw std::runtime_error("epoll_create1 failed");
    epoll_event interest{};
    interest.events = EPOLLIN;
    interest.data.fd = fd;
    if (::epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, fd, &interest) != 0) {
      throw std::runtime_error("epoll_ctl failed");
    }
  }

  void Wait() {
    epoll_event ready{};
    for (;;) {
      const int count = ::epoll_wait(
          epoll_.get(), &ready, 1, static_cast<int>(std::chrono::milliseconds(kIoTimeout).count()));
      if (count > 0) return;
      if (count == 0) throw std::runtime_error("epoll_wait: nothing to read in time");
      if (errno != EINTR) throw std::runtime_error("epoll_wait failed");
    }
  }

 private:
  Fd epoll_;
};

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
    Readiness readable(client.get());
    std::vector<std::uint8_t> request(requestSize);
    const std::vector<std::uint8_t> reply(replySize);
    std::size_t have = 0;
    for (;;) {
      readable.Wait();
      const std::size_t got = ReceiveSome(client.get(), std::span(request).subspan(have));
      // A clean close between requests ends the service.
      if (got == 0 && have == 0) return;
      if (got == 0) throw std::runtime_error("the client closed in the middle of a request");
      have += got;
      if (have < requestSize) continue;
      SendAll(client.get(), reply);
      have = 0;
    }
  });
}

RawForwarder::RawForwarder(std::size_t packetSize, std::size_t echoSize, std::size_t relaySize) {
  Start([packetSize, echoSize, relaySize](int listener) {
    const Fd sender = AcceptWithin(listener, kAcceptTimeout);
    const Fd receiver = AcceptWithin(listener, kAcceptTimeout);
    Readiness readable(sender.get());
    std::vector<std::uint8_t> arrived(kReadSize);
    const std::vector<std::uint8_t> zeros((kReadSize / packetSize + 1) *
                                          std::max(echoSize, relaySize));
    std::size_t partial = 0;
    for (;;) {
      readable.Wait();
      const std::size_t got = ReceiveSome(sender.get(), arrived);
      if (got == 0) return;
      const std::size_t packets = (partial + got) / packetSize;
      partial = (partial + got) % packetSize;
      SendCount(sender.get(), zeros, packets * echoSize);
      SendCount(receiver.get(), zeros, packets * relaySize);
    }
  });
}

RawRefuser::RawRefuser(std::size_t count) {
  Start([count](int listener) {
    Readiness acceptable(listener);
    for (std::size_t i = 0; i < count; ++i) {
      acceptable.Wait();
      const Fd connection(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
      if (connection.get() < 0) throw std::runtime_error("accept4 failed");
    }
  });
}

}  // namespace quorvane::bench
