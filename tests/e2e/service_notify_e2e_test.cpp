// The readiness message to the service manager: sent once the port listens,
// never when it could not be bound.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <filesystem>

#include "e2e_fixture.h"

namespace quorvane::testing {
namespace {

// The service manager's end: a datagram socket at the path given to the
// server in NOTIFY_SOCKET.
class NotifySocket {
 public:
  NotifySocket() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quorvane-notify-XXXXXX");
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    folder_ = pattern;
    path_ = (folder_ / "notify").string();
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path_.copy(address.sun_path, sizeof address.sun_path - 1);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      throw std::runtime_error("cannot bind " + path_);
    }
  }
  ~NotifySocket() {
    ::close(fd_);
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  const std::string& path() const { return path_; }

  // The next message, or nothing when none came in time.
  std::optional<std::string> Receive(std::chrono::milliseconds timeout) {
    pollfd waiter{fd_, POLLIN, 0};
    if (::poll(&waiter, 1, static_cast<int>(timeout.count())) != 1) return std::nullopt;
    char message[4096];
    const ssize_t got = ::recv(fd_, message, sizeof message, 0);
    if (got < 0) return std::nullopt;
    return std::string(message, static_cast<std::size_t>(got));
  }

 private:
  std::filesystem::path folder_;
  std::string path_;
  int fd_ = -1;
};

bool Accepts(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return connected;
}

ChildProcess::Options ServerNotifying(const NotifySocket& manager, const std::string& port) {
  ChildProcess::Options options;
  options.arguments = {QUORVANE_PROGRAM, "--headless", "--listen", "127.0.0.1", "--port", port};
  options.environment = {{"NOTIFY_SOCKET", manager.path()}};
  return options;
}

TEST(ServiceNotifyTest, ReadyComesOnceThePortListensAndNamesIt) {
  NotifySocket manager;
  ChildProcess server(ServerNotifying(manager, "0"));
  const std::optional<std::string> message = manager.Receive(10s);
  ASSERT_TRUE(message) << "no message to the service manager";
  EXPECT_NE(message->find("READY=1"), std::string::npos) << *message;

  const std::string status = "STATUS=listening on 127.0.0.1:";
  const std::size_t at = message->find(status);
  ASSERT_NE(at, std::string::npos) << *message;
  const auto port = static_cast<std::uint16_t>(std::stoi(message->substr(at + status.size())));
  EXPECT_TRUE(Accepts(port)) << "ready, but nothing accepts on port " << port;
  EXPECT_TRUE(server.WaitForStderrLine("listening on 127.0.0.1:" + std::to_string(port), 5s));
}

TEST(ServiceNotifyTest, NoReadyWhenThePortCannotBeBound) {
  NotifySocket manager;
  const int holder = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&address), size), 0);
  ASSERT_EQ(::listen(holder, 1), 0);
  ::getsockname(holder, reinterpret_cast<sockaddr*>(&address), &size);

  ChildProcess server(ServerNotifying(manager, std::to_string(ntohs(address.sin_port))));
  const std::optional<int> status = server.WaitForExit(10s);
  ::close(holder);
  ASSERT_TRUE(status) << "the server went on without its port";
  EXPECT_NE(*status, 0);
  EXPECT_EQ(manager.Receive(0ms), std::nullopt);
}

}  // namespace
}  // namespace quorvane::testing
