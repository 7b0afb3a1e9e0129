// A blocking HTTP/1.1 GET over loopback for tests of a server in another
// process: one request on a fresh connection, one answer read by its
// Content-Length.
#pragma once

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "client/tcp_connection.h"

namespace quorvane::testing {

struct HttpReply {
  int status = 0;
  std::string head;
  std::string body;
};

inline HttpReply HttpGet(std::uint16_t port, const std::string& path,
                         std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
  auto connection = client::TcpConnection::Connect("127.0.0.1", port, timeout);
  const std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  connection.SendAll(
      ByteView(reinterpret_cast<const std::uint8_t*>(request.data()), request.size()));
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  Bytes arrived;
  for (;;) {
    const std::string text(arrived.begin(), arrived.end());
    const std::size_t split = text.find("\r\n\r\n");
    if (split != std::string::npos) {
      HttpReply reply;
      reply.head = text.substr(0, split);
      reply.body = text.substr(split + 4);
      const std::size_t length = reply.head.find("Content-Length: ");
      if (length != std::string::npos &&
          reply.body.size() >= std::stoul(reply.head.substr(length + 16))) {
        reply.status = std::stoi(reply.head.substr(reply.head.find(' ') + 1));
        return reply;
      }
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left <= std::chrono::milliseconds(0) ||
        connection.ReadSome(arrived, left) != client::TcpConnection::ReadStatus::kData) {
      throw std::runtime_error("no whole answer to GET " + path + ", got: " + text);
    }
  }
}

}  // namespace quorvane::testing
