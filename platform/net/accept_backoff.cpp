#include "platform/net/accept_backoff.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace quorvane {

AcceptBackoff::AcceptBackoff(Clock& clock, Diagnostics report, std::function<bool()> retry)
    : clock_(clock),
      report_(std::move(report)),
      retry_(std::move(retry)),
      timer_(clock.CreateTimer(TimerKind::kOneShot, "accepting again", [this] { Retry(); })) {}

AcceptBackoff::~AcceptBackoff() = default;

void AcceptBackoff::Failed(const std::string& where, const std::string& reason,
                           unsigned closedUnserved) {
  if (!failing_) {
    failing_ = true;
    where_ = where;
    failures_ = 0;
    closedUnserved_ = 0;
    began_ = clock_.Now();
    pause_ = kFirstPause;
    Report(report_, Severity::kError, where_,
           "cannot accept connections: " + reason + "; trying again after growing pauses");
  } else {
    pause_ = std::min(pause_ * 2, kLongestPause);
  }
  ++failures_;
  closedUnserved_ += closedUnserved;
  timer_->Start(pause_);
}

void AcceptBackoff::Accepted() {
  if (failing_) End();
}

void AcceptBackoff::Retry() {
  if (retry_ && retry_()) End();
}

void AcceptBackoff::End() {
  failing_ = false;
  timer_->Stop();
  const double seconds = std::chrono::duration<double>(clock_.Now() - began_).count();
  char message[160];
  std::snprintf(message, sizeof message,
                "accepting again after %llu failed attempts in %.1f s; %llu waiting connections "
                "closed unserved",
                static_cast<unsigned long long>(failures_), seconds,
                static_cast<unsigned long long>(closedUnserved_));
  Report(report_, Severity::kInfo, where_, message);
}

}  // namespace quorvane
