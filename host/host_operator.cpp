#include "host/host_operator.h"

#include <algorithm>
#include <utility>

#include "host/status_names.h"
#include "session/welcome_line.h"

namespace quorvane {
namespace {

using std::chrono::seconds;

std::string SlotName(std::size_t index) {
  return "slot " + std::to_string(index + 1);
}

std::string DurationText(BanDuration duration) {
  return duration ? std::to_string(duration->count()) + " s" : std::string("good");
}

}  // namespace

std::string_view NameOf(AdminAction action) {
  switch (action) {
    case AdminAction::kSay:
      return "say";
    case AdminAction::kKick:
      return "kick";
    case AdminAction::kBan:
      return "ban";
    case AdminAction::kUnban:
      return "unban";
    case AdminAction::kShutdown:
      return "shutdown";
    case AdminAction::kShutdownCancel:
      return "shutdown_cancel";
    case AdminAction::kReload:
      return "reload";
  }
  return "unknown";
}

std::string ShutdownNotice(std::string_view text, seconds left) {
  return std::string(text) + " (in " + std::to_string(left.count()) + " s)";
}

HostOperator::HostOperator(Form1& form, Clock& clock, Diagnostics report, OperatorSettings settings,
                           Hooks hooks, WallClock wallClock)
    : form_(form),
      clock_(clock),
      report_(std::move(report)),
      settings_(std::move(settings)),
      hooks_(std::move(hooks)),
      wallClock_(std::move(wallClock)) {
  countdown_ =
      clock_.CreateTimer(TimerKind::kOneShot, "the shutdown countdown", [this] { Step(); });
  form_.SetBanCheck([this](const IpAddress& address) {
    return std::any_of(manualBans_.begin(), manualBans_.end(), [&](const BanRecord& ban) {
      return ban.range.Contains(address) && InForce(ban);
    });
  });
  form_.AddObserver(*this);
}

HostOperator::~HostOperator() {
  form_.RemoveObserver(*this);
  form_.SetBanCheck({});
}

ActionResult HostOperator::Say(const std::string& latin1Text, const Operator& by) {
  if (latin1Text.empty()) return {false, "say needs a text"};
  if (latin1Text.size() > kLongestOperatorText) {
    return {false, "the text is longer than " + std::to_string(kLongestOperatorText) + " bytes"};
  }
  std::size_t players = 0;
  for (std::size_t index = 0; index < kSlotCount; ++index) players += form_.LoggedIn(index);
  ChatToLoggedIn(latin1Text);
  Count(AdminAction::kSay);
  const std::string done = "said to " + std::to_string(players) +
                           (players == 1 ? " player" : " players") + ": " + latin1Text;
  Note(by, done);
  return {true, done};
}

ActionResult HostOperator::Kick(int slot, const std::string& reason, const Operator& by) {
  if (slot < 1 || static_cast<std::size_t>(slot) > kSlotCount) {
    return {false,
            "no slot " + std::to_string(slot) + ": slots are 1 to " + std::to_string(kSlotCount)};
  }
  if (reason.size() > kLongestOperatorText) {
    return {false, "the reason is longer than " + std::to_string(kLongestOperatorText) + " bytes"};
  }
  const auto index = static_cast<std::size_t>(slot - 1);
  const std::optional<IpAddress> peer = form_.PeerOf(index);
  if (form_.Slot(index).Stat() != SocketControl::kConnected) {
    return {false, SlotName(index) + " is free"};
  }
  KickSlot(index, reason);
  Count(AdminAction::kKick);
  const std::string done = "kicked " + SlotName(index) + (peer ? " " + peer->ToString() : "") +
                           (reason.empty() ? "" : ": " + reason);
  Note(by, done);
  return {true, done};
}

ActionResult HostOperator::Ban(const AddressRange& range, BanDuration duration,
                               const std::string& reason, const Operator& by) {
  if (reason.size() > kLongestOperatorText) {
    return {false, "the reason is longer than " + std::to_string(kLongestOperatorText) + " bytes"};
  }
  if (duration && *duration <= seconds::zero()) return {false, "a ban needs a duration over 0"};
  DropExpired();
  const auto now = wallClock_();
  BanRecord ban{range, true, std::nullopt, reason, by.user, now};
  if (duration) ban.until = now + *duration;
  std::vector<BanRecord> changed = manualBans_;
  std::erase_if(changed, [&](const BanRecord& old) { return old.range == range; });
  changed.push_back(ban);
  if (hooks_.store) {
    if (const std::string error = hooks_.store(changed); !error.empty()) {
      Note(by, "could not ban " + range.ToString() + ": " + error);
      return {false, error};
    }
  }
  manualBans_ = std::move(changed);
  std::size_t closed = 0;
  for (std::size_t index = 0; index < kSlotCount; ++index) {
    const std::optional<IpAddress> peer = form_.PeerOf(index);
    if (peer && range.Contains(*peer)) {
      KickSlot(index, reason);
      ++closed;
    }
  }
  Count(AdminAction::kBan);
  std::string done = "banned " + range.ToString() + " for " + DurationText(duration);
  if (!reason.empty()) done += ": " + reason;
  if (closed != 0) done += " (closed " + std::to_string(closed) + " connected)";
  Note(by, done);
  return {true, done};
}

ActionResult HostOperator::Unban(const AddressRange& range, const Operator& by) {
  DropExpired();
  std::vector<BanRecord> changed = manualBans_;
  const bool manual =
      std::erase_if(changed, [&](const BanRecord& ban) { return ban.range == range; }) != 0;
  if (manual && hooks_.store) {
    if (const std::string error = hooks_.store(changed); !error.empty()) {
      Note(by, "could not unban " + range.ToString() + ": " + error);
      return {false, error};
    }
  }
  manualBans_ = std::move(changed);
  // An automatic ban is of one address: the range of exactly that address.
  bool automatic = false;
  for (const auto& ban : form_.AutomaticBans()) {
    if (AddressRange::Parse(ban.address.ToString()) == range) {
      automatic = form_.LiftAutomaticBan(ban.address);
    }
  }
  if (!manual && !automatic) return {false, "no ban of " + range.ToString()};
  Count(AdminAction::kUnban);
  const std::string done = "unbanned " + range.ToString();
  Note(by, done);
  return {true, done};
}

std::vector<BanRecord> HostOperator::Bans() const {
  std::vector<BanRecord> bans;
  for (const BanRecord& ban : manualBans_) {
    if (InForce(ban)) bans.push_back(ban);
  }
  const auto wallNow = wallClock_();
  const auto now = clock_.Now();
  for (const auto& ban : form_.AutomaticBans()) {
    const auto toWall = [&](Clock::TimePoint at) {
      return wallNow + std::chrono::duration_cast<std::chrono::system_clock::duration>(at - now);
    };
    bans.push_back({*AddressRange::Parse(ban.address.ToString()), false, toWall(ban.until),
                    std::string(NameOf(ban.reason)), "", toWall(ban.since)});
  }
  return bans;
}

void HostOperator::SetManualBans(std::vector<BanRecord> bans) {
  manualBans_ = std::move(bans);
  DropExpired();
}

std::size_t HostOperator::ManualBansInForce() const {
  return static_cast<std::size_t>(
      std::count_if(manualBans_.begin(), manualBans_.end(),
                    [this](const BanRecord& ban) { return InForce(ban); }));
}

ActionResult HostOperator::Shutdown(std::optional<seconds> delay, const std::string& latin1Message,
                                    const Operator& by) {
  if (endsAt_) {
    return {false, "a shutdown is counting down already (" +
                       std::to_string(ShutdownLeft()->count()) + " s left); cancel it first"};
  }
  if (latin1Message.size() > kLongestShutdownText) {
    return {false, "the message is longer than " + std::to_string(kLongestShutdownText) + " bytes"};
  }
  const seconds wait = delay.value_or(settings_.shutdownGrace);
  if (wait < seconds::zero()) return {false, "the delay cannot be negative"};
  Count(AdminAction::kShutdown);
  if (wait == seconds::zero() || !AnyoneLoggedIn()) {
    Note(by, "shutting down now");
    End();
    return {true, "shutting down now"};
  }
  noticeText_ = latin1Message.empty() ? settings_.shutdownText : latin1Message;
  endsAt_ = clock_.Now() + wait;
  nextStep_.reset();
  form_.SetDraining(true);
  if (hooks_.draining) hooks_.draining();
  ChatToLoggedIn(ShutdownNotice(noticeText_, wait));
  ScheduleStep();
  const std::string done = "shutting down in " + std::to_string(wait.count()) + " s";
  Note(by, done);
  return {true, done};
}

ActionResult HostOperator::CancelShutdown(const Operator& by) {
  if (!endsAt_ || ended_) return {false, "no shutdown is counting down"};
  countdown_->Stop();
  endsAt_.reset();
  form_.SetDraining(false);
  if (hooks_.resumed) hooks_.resumed();
  ChatToLoggedIn("The shutdown is cancelled");
  Count(AdminAction::kShutdownCancel);
  Note(by, "cancelled the shutdown");
  return {true, "cancelled the shutdown"};
}

std::string HostOperator::Terminate(std::string_view signalName) {
  const std::string done = "shutting down on " + std::string(signalName);
  if (endsAt_ || settings_.shutdownGrace == seconds::zero() || !AnyoneLoggedIn()) {
    End();
    return done;
  }
  noticeText_ = settings_.shutdownText;
  endsAt_ = clock_.Now() + settings_.shutdownGrace;
  nextStep_.reset();
  form_.SetDraining(true);
  if (hooks_.draining) hooks_.draining();
  ChatToLoggedIn(ShutdownNotice(noticeText_, settings_.shutdownGrace));
  ScheduleStep();
  return done + " in " + std::to_string(settings_.shutdownGrace.count()) +
         " s, warning the players; a second signal ends at once";
}

std::optional<seconds> HostOperator::ShutdownLeft() const {
  if (!endsAt_) return std::nullopt;
  // Rounded up: one millisecond left is still a second to say.
  return std::chrono::ceil<seconds>(*endsAt_ - clock_.Now());
}

void HostOperator::ConnectionClosed(std::size_t /*slot*/, CloseReason /*reason*/,
                                    HostCause /*cause*/, std::chrono::milliseconds /*lasted*/) {
  // Nobody left to warn: no reason to wait.
  if (endsAt_ && !ended_ && !AnyoneLoggedIn()) End();
}

bool HostOperator::AnyoneLoggedIn() const {
  for (std::size_t index = 0; index < kSlotCount; ++index) {
    if (form_.LoggedIn(index)) return true;
  }
  return false;
}

void HostOperator::ChatToLoggedIn(std::string_view latin1Text) {
  const Bytes line = LineLike(form_.CurrentWelcomeLine(), latin1Text);
  // The last slot first, as the form's own broadcasts go.
  for (std::size_t index = kSlotCount; index-- > 0;) {
    if (form_.LoggedIn(index)) form_.SendChatLine(index, line);
  }
}

void HostOperator::KickSlot(std::size_t index, const std::string& reason) {
  if (form_.LoggedIn(index)) {
    form_.SendChatLine(index, LineLike(form_.CurrentWelcomeLine(),
                                       reason.empty() ? "Kicked" : "Kicked: " + reason));
  }
  form_.Dismiss(index, HostCause::kKicked);
}

bool HostOperator::InForce(const BanRecord& ban) const {
  return !ban.until || *ban.until > wallClock_();
}

void HostOperator::DropExpired() {
  std::erase_if(manualBans_, [this](const BanRecord& ban) { return !InForce(ban); });
}

void HostOperator::Note(const Operator& by, std::string_view what) {
  Report(report_, Severity::kInfo, "operator " + by.user + " (uid " + std::to_string(by.uid) + ")",
         what);
}

void HostOperator::Step() {
  if (!endsAt_) return;
  // The step the timer was set for, whether it fired a little early or late.
  if (!nextStep_) {
    End();
    return;
  }
  ChatToLoggedIn(ShutdownNotice(noticeText_, *nextStep_));
  ScheduleStep();
}

void HostOperator::ScheduleStep() {
  const auto remaining = *endsAt_ - clock_.Now();
  // The largest step still ahead, else the end itself.
  auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(remaining);
  const std::optional<seconds> current = nextStep_;
  nextStep_.reset();
  for (const seconds step : kShutdownSteps) {
    if (step < remaining && (!current || step < *current)) {
      nextStep_ = step;
      wait = std::chrono::duration_cast<std::chrono::milliseconds>(remaining - step);
      break;
    }
  }
  if (wait < std::chrono::milliseconds::zero()) wait = std::chrono::milliseconds::zero();
  countdown_->Start(wait);
}

void HostOperator::End() {
  if (std::exchange(ended_, true)) return;
  countdown_->Stop();
  form_.SetDraining(true);
  for (std::size_t index = 0; index < kSlotCount; ++index) {
    if (form_.Slot(index).Stat() == SocketControl::kConnected) {
      form_.Dismiss(index, HostCause::kShutdown);
    }
  }
  if (hooks_.end) hooks_.end();
}

}  // namespace quorvane
