// A socket control held in memory: the test plays the network. Bytes the
// session writes are kept write by write; bytes the test delivers become one
// arrival.
#pragma once

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "bytes.h"
#include "socket_control.h"

namespace quorvane::testing {

class FakeSocket : public SocketControl {
 public:
  void Accept(std::int32_t requestID) override {
    accepted.push_back(requestID);
    state = kConnected;
  }
  void Close() override {
    ++closes;
    state = kClosed;
  }
  std::int16_t State() const override { return state; }
  void GetData(Bytes& into) override {
    into.insert(into.end(), inbound_.begin(), inbound_.end());
    inbound_.clear();
  }
  void SendData(ByteView bytes) override { writes_.emplace_back(bytes.begin(), bytes.end()); }
  void SetDataArrivalHandler(std::function<void()> handler) override {
    arrival_ = std::move(handler);
  }

  // Bytes arrive from the peer and the arrival is reported at once.
  void Deliver(ByteView bytes) {
    inbound_.insert(inbound_.end(), bytes.begin(), bytes.end());
    if (arrival_) arrival_();
  }
  // The peer goes away without the session being told.
  void Disconnect() { state = kClosed; }

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

  static constexpr std::int16_t kClosed = 0;
  std::int16_t state = kClosed;
  std::vector<std::int32_t> accepted;
  int closes = 0;

 private:
  Bytes inbound_;
  std::vector<Bytes> writes_;
  std::function<void()> arrival_;
};

}  // namespace quorvane::testing
