#include "client/sync_client.h"

#include <algorithm>

namespace quorvane::client {
namespace {

std::chrono::milliseconds Remaining(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return std::max(left, std::chrono::milliseconds(0));
}

}  // namespace

SyncClient::SyncClient(const std::string& host, std::uint16_t port, std::uint32_t clientSeed,
                       std::chrono::milliseconds timeout, const std::string& localAddress)
    : connection_(TcpConnection::Connect(host, port, timeout, localAddress)), session_(clientSeed) {
  connection_.SendAll(session_.Hello());
}

bool SyncClient::Handshake(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (session_.phase() == ClientSession::Phase::kAwaitingReply) {
    if (!ReadOnce(deadline)) return false;
  }
  return session_.phase() == ClientSession::Phase::kOpen;
}

void SyncClient::Send(std::int16_t opcode, ByteView payload) {
  connection_.SendAll(session_.Seal(opcode, payload));
}

void SyncClient::SendRaw(ByteView bytes) {
  connection_.SendAll(bytes);
}

std::optional<Packet> SyncClient::NextPacket(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (queued_.empty()) {
    if (!ReadOnce(deadline)) return std::nullopt;
  }
  Packet next = std::move(queued_.front());
  queued_.pop_front();
  return next;
}

bool SyncClient::WaitClosed(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!closed_) {
    if (!ReadOnce(deadline) && !closed_) return false;
  }
  return true;
}

bool SyncClient::ReadOnce(std::chrono::steady_clock::time_point deadline) {
  if (closed_) return false;
  Bytes arrived;
  switch (connection_.ReadSome(arrived, Remaining(deadline))) {
    case TcpConnection::ReadStatus::kTimeout:
      return false;
    case TcpConnection::ReadStatus::kClosed:
      closed_ = true;
      return false;
    case TcpConnection::ReadStatus::kData:
      break;
  }
  for (Packet& packet : session_.Receive(arrived)) queued_.push_back(std::move(packet));
  return true;
}

}  // namespace quorvane::client
