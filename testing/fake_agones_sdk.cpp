#include "fake_agones_sdk.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <map>
#include <stdexcept>

namespace quorvane::testing {
namespace {

sockaddr_in Loopback(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  return address;
}

bool Accepts(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_in address = Loopback(port);
  const bool connected =
      ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return connected;
}

std::string Reason(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 404:
      return "Not Found";
    case 500:
      return "Internal Server Error";
    default:
      return "Status";
  }
}

}  // namespace

FakeAgonesSdk::FakeAgonesSdk(bool listening) {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_in address = Loopback(0);
  if (::bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    throw std::runtime_error("fake Agones SDK: cannot bind 127.0.0.1");
  }
  sockaddr_in bound{};
  socklen_t length = sizeof bound;
  ::getsockname(listener_, reinterpret_cast<sockaddr*>(&bound), &length);
  port_ = ntohs(bound.sin_port);
  if (listening) Listen();
  thread_ = std::thread([this] { Serve(); });
}

FakeAgonesSdk::~FakeAgonesSdk() {
  stop_ = true;
  thread_.join();
  ::close(listener_);
}

void FakeAgonesSdk::Listen() {
  if (::listen(listener_, 16) != 0) throw std::runtime_error("fake Agones SDK: cannot listen");
}

std::vector<FakeAgonesSdk::Call> FakeAgonesSdk::Calls() const {
  const std::lock_guard lock(mutex_);
  return calls_;
}

std::vector<FakeAgonesSdk::Call> FakeAgonesSdk::CallsTo(const std::string& path) const {
  std::vector<Call> matching;
  for (const Call& call : Calls()) {
    if (call.path == path) matching.push_back(call);
  }
  return matching;
}

bool FakeAgonesSdk::WaitForCalls(const std::string& path, std::size_t count,
                                 std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (CallsTo(path).size() < count) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

void FakeAgonesSdk::Serve() {
  std::map<int, std::string> peers;  // descriptor to bytes not yet answered
  while (!stop_) {
    std::vector<pollfd> waiting{{listener_, POLLIN, 0}};
    for (const auto& [fd, pending] : peers) waiting.push_back({fd, POLLIN, 0});
    if (::poll(waiting.data(), waiting.size(), 20) <= 0) continue;
    if (waiting[0].revents & POLLIN) {
      const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd >= 0) peers[fd];
    }
    for (std::size_t i = 1; i < waiting.size(); ++i) {
      if (waiting[i].revents == 0) continue;
      const int fd = waiting[i].fd;
      char bytes[4096];
      const ssize_t got = ::recv(fd, bytes, sizeof bytes, 0);
      std::string& pending = peers[fd];
      if (got > 0) pending.append(bytes, static_cast<std::size_t>(got));
      if (got <= 0 || !Answer(fd, pending)) {
        ::close(fd);
        peers.erase(fd);
      }
    }
  }
  for (const auto& [fd, pending] : peers) ::close(fd);
}

bool FakeAgonesSdk::Answer(int fd, std::string& pending) {
  for (;;) {
    const std::size_t headEnd = pending.find("\r\n\r\n");
    if (headEnd == std::string::npos) return pending.size() < 65536;
    const std::string head = pending.substr(0, headEnd);
    std::size_t length = 0;
    for (const std::string name : {"Content-Length: ", "content-length: "}) {
      if (const std::size_t at = head.find(name); at != std::string::npos) {
        length = std::stoul(head.substr(at + name.size()));
      }
    }
    if (pending.size() < headEnd + 4 + length) return true;
    Call call;
    call.at = std::chrono::steady_clock::now();
    const std::size_t space = head.find(' ');
    call.method = head.substr(0, space);
    call.path = head.substr(space + 1, head.find(' ', space + 1) - space - 1);
    call.body = pending.substr(headEnd + 4, length);
    pending.erase(0, headEnd + 4 + length);
    if (const std::uint16_t probe = probe_; probe != 0) call.probeListened = Accepts(probe);
    {
      const std::lock_guard lock(mutex_);
      calls_.push_back(call);
    }
    if (hang_) continue;
    const int status = status_;
    const std::string body = "{}";
    const std::string answer =
        "HTTP/1.1 " + std::to_string(status) + " " + Reason(status) +
        "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
        "\r\n\r\n" + body;
    if (::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(answer.size())) {
      return false;
    }
  }
}

}  // namespace quorvane::testing
