// A socket control for the host tests: its state code is set by the test,
// each Close, Reset and Accept is journaled with how many log lines stood at that
// moment, and its bytes travel in memory.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "host_fakes.h"
#include "session/socket_control.h"

namespace quorvane::testing {

class RecordingSocket : public SocketControl {
 public:
  struct Call {
    std::string what;  // "Close", "Reset" or "Accept N"
    std::size_t logLines;
    friend bool operator==(const Call&, const Call&) = default;
  };

  explicit RecordingSocket(const FakeTextBox& log) : log_(log) {}

  void Accept(std::int32_t requestID) override {
    Journal("Accept " + std::to_string(requestID));
    state = kConnected;
  }
  void Close() override {
    Journal("Close");
    End(CloseReason::kClosedByUs);
  }
  void Reset() override {
    Journal("Reset");
    End(CloseReason::kClosedByUs);
  }
  std::int16_t State() const override { return state; }
  // Its ends are reported at once.
  void CheckEnded() override {}
  std::string PeerAddress() const override { return state == kConnected ? peer : std::string(); }
  void GetData(Bytes& into) override {
    into.insert(into.end(), inbound_.begin(), inbound_.end());
    inbound_.clear();
  }
  void SendData(ByteView bytes) override { sent_.insert(sent_.end(), bytes.begin(), bytes.end()); }
  std::size_t PendingBytes() const override { return sent_.size(); }
  void SetDataArrivalHandler(std::function<void()> handler) override {
    arrival_ = std::move(handler);
  }
  void SetClosedHandler(ClosedHandler handler) override { closed_ = std::move(handler); }

  void Deliver(ByteView bytes) {
    inbound_.insert(inbound_.end(), bytes.begin(), bytes.end());
    if (arrival_) arrival_();
  }
  // The connection ends for `reason`, and the end is reported.
  void Drop(CloseReason reason) { End(reason); }
  Bytes TakeSent() { return std::exchange(sent_, {}); }

  std::int16_t state = 0;
  std::string peer;
  std::vector<Call> calls;

 private:
  void Journal(std::string what) {
    const std::string& text = log_.Text();
    calls.push_back(
        {std::move(what), static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'))});
  }

  void End(CloseReason reason) {
    const bool live = state == kConnected;
    state = 0;
    if (live && closed_) closed_(reason);
  }

  const FakeTextBox& log_;
  Bytes inbound_;
  Bytes sent_;
  std::function<void()> arrival_;
  ClosedHandler closed_;
};

}  // namespace quorvane::testing
