// A socket control held in memory: the test plays the network. Bytes the
// session writes are kept write by write; bytes the test delivers become one
// arrival.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "session/bytes.h"
#include "session/socket_control.h"

namespace quorvane::testing {

class FakeSocket : public SocketControl {
 public:
  void Accept(std::int32_t requestID) override {
    accepted.push_back(requestID);
    state = kConnected;
  }
  void Close() override {
    ++closes;
    End(CloseReason::kClosedByUs);
  }
  void Reset() override {
    ++resets;
    End(CloseReason::kClosedByUs);
  }
  std::int16_t State() const override { return state; }
  void CheckEnded() override {
    if (const auto reason = std::exchange(unhandledEnd, std::nullopt)) End(*reason);
  }
  std::string PeerAddress() const override { return state == kConnected ? peer : std::string(); }
  void GetData(Bytes& into) override {
    into.insert(into.end(), inbound_.begin(), inbound_.end());
    inbound_.clear();
  }
  void SendData(ByteView bytes) override { writes_.emplace_back(bytes.begin(), bytes.end()); }
  std::size_t PendingBytes() const override { return pendingBytes; }
  void SetDataArrivalHandler(std::function<void()> handler) override {
    arrival_ = std::move(handler);
  }
  void SetClosedHandler(ClosedHandler handler) override { closed_ = std::move(handler); }

  // Bytes arrive from the peer and the arrival is reported at once.
  void Deliver(ByteView bytes) {
    inbound_.insert(inbound_.end(), bytes.begin(), bytes.end());
    if (arrival_) arrival_();
  }
  // The peer goes away without the session being told.
  void Disconnect() { state = kClosed; }
  // The connection ends for `reason`, and the end is reported.
  void Drop(CloseReason reason) { End(reason); }
  // The connection ends for `reason`, but the end waits to be read: it is
  // reported only at CheckEnded.
  void DropUnhandled(CloseReason reason) { unhandledEnd = reason; }

  // Every byte written since the last take, in order.
  Bytes TakeSent() {
    Bytes all;
    for (const Bytes& write : writes_) all.insert(all.end(), write.begin(), write.end());
    writes_.clear();
    return all;
  }
  // The writes since the last take, one element per SendData call.
  std::vector<Bytes> TakeWrites() { return std::exchange(writes_, {}); }
  bool NothingSent() const { return writes_.empty(); }

  std::int16_t state = kClosed;
  std::string peer = "127.0.0.1:40000";
  // What waits to be sent, as the test pretends: 0, every write reaches the
  // peer at once.
  std::size_t pendingBytes = 0;
  std::vector<std::int32_t> accepted;
  std::optional<CloseReason> unhandledEnd;
  int closes = 0;
  int resets = 0;

 private:
  void End(CloseReason reason) {
    unhandledEnd.reset();
    const bool live = state == kConnected;
    state = kClosed;
    if (live && closed_) closed_(reason);
  }

  Bytes inbound_;
  std::vector<Bytes> writes_;
  std::function<void()> arrival_;
  ClosedHandler closed_;
};

}  // namespace quorvane::testing
