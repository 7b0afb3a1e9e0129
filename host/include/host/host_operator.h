// The operator's hands on the host: chat lines to the players, kicks, the
// manual bans beside the host's automatic ones, and the shutdown that warns
// the players before it ends the server. It acts through Form1's own paths
// (its broadcasts, its closing of a slot with a cause, its address rules)
// and counts down on the host's clock.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/clock.h"
#include "host/connection_observer.h"
#include "host/form1.h"
#include "host/operator_actions.h"
#include "session/diagnostics.h"

namespace quorvane {

inline constexpr std::string_view kDefaultShutdownText = "The server is shutting down";
inline constexpr std::chrono::seconds kDefaultShutdownGrace{10};
// Room for the seconds left that each notice adds to its text.
inline constexpr std::size_t kLongestShutdownText = kLongestWelcomeText;
// Say texts and kick or ban reasons, bounded like the welcome text.
inline constexpr std::size_t kLongestOperatorText = kLongestWelcomeText;
// Notices go out at these seconds before the end, those within the delay.
inline constexpr std::array<std::chrono::seconds, 4> kShutdownSteps{
    std::chrono::seconds(60), std::chrono::seconds(30), std::chrono::seconds(10),
    std::chrono::seconds(5)};

enum class AdminAction { kSay, kKick, kBan, kUnban, kShutdown, kShutdownCancel, kReload };
inline constexpr AdminAction kAdminActions[] = {
    AdminAction::kSay,      AdminAction::kKick,           AdminAction::kBan,   AdminAction::kUnban,
    AdminAction::kShutdown, AdminAction::kShutdownCancel, AdminAction::kReload};
inline constexpr std::size_t kAdminActionCount = std::size(kAdminActions);
// "say", "kick", ..., "shutdown_cancel", "reload": a metrics label.
std::string_view NameOf(AdminAction action);

// The notice a player gets during a countdown: "TEXT (in N s)".
std::string ShutdownNotice(std::string_view text, std::chrono::seconds left);

struct OperatorSettings {
  // 0: a shutdown ends the server at once.
  std::chrono::seconds shutdownGrace = kDefaultShutdownGrace;
  std::string shutdownText{kDefaultShutdownText};  // Latin-1
};

class HostOperator final : public OperatorActions, public ConnectionObserver {
 public:
  struct Hooks {
    // A countdown has begun: the server stops taking connections.
    std::function<void()> draining;
    // The countdown was cancelled: the server takes connections again.
    std::function<void()> resumed;
    // Every connection is closed: the program should end now.
    std::function<void()> end;
    // Keeps the manual bans in force (the ban file); an error text when it
    // could not, and the change is then undone.
    std::function<std::string(const std::vector<BanRecord>&)> store;
  };
  using WallClock = std::function<std::chrono::system_clock::time_point()>;

  // Subscribes to `form`'s events; `form` and `clock` must outlive it.
  HostOperator(
      Form1& form, Clock& clock, Diagnostics report, OperatorSettings settings, Hooks hooks,
      WallClock wallClock = [] { return std::chrono::system_clock::now(); });
  HostOperator(const HostOperator&) = delete;
  HostOperator& operator=(const HostOperator&) = delete;
  ~HostOperator();

  ActionResult Say(const std::string& latin1Text, const Operator& by) override;
  ActionResult Kick(int slot, const std::string& reason, const Operator& by) override;
  ActionResult Ban(const AddressRange& range, BanDuration duration, const std::string& reason,
                   const Operator& by) override;
  ActionResult Unban(const AddressRange& range, const Operator& by) override;
  std::vector<BanRecord> Bans() const override;
  ActionResult Shutdown(std::optional<std::chrono::seconds> delay, const std::string& latin1Message,
                        const Operator& by) override;
  ActionResult CancelShutdown(const Operator& by) override;

  // SIGTERM or SIGINT: the configured grace and text; during a countdown,
  // the end at once. What it does, in a line naming the signal.
  std::string Terminate(std::string_view signalName);
  // The settings a reload brings; a running countdown keeps its text.
  void SetSettings(OperatorSettings settings) { settings_ = std::move(settings); }
  // The manual bans as the ban file holds them, replacing those kept;
  // players connected from a banned range are not closed by this.
  void SetManualBans(std::vector<BanRecord> bans);
  std::size_t ManualBansInForce() const;
  void CountReload() { Count(AdminAction::kReload); }
  const std::array<std::uint64_t, kAdminActionCount>& ActionCounts() const { return actions_; }
  // Seconds to the end while counting down.
  std::optional<std::chrono::seconds> ShutdownLeft() const;

  void ConnectionClosed(std::size_t slot, CloseReason reason, HostCause cause,
                        std::chrono::milliseconds lasted) override;

 private:
  bool AnyoneLoggedIn() const;
  void ChatToLoggedIn(std::string_view latin1Text);
  // Tells the slot's player `Kicked[: reason]`, then closes it.
  void KickSlot(std::size_t index, const std::string& reason);
  bool InForce(const BanRecord& ban) const;
  void DropExpired();
  void Count(AdminAction action) { ++actions_[static_cast<std::size_t>(action)]; }
  void Note(const Operator& by, std::string_view what);
  // The next notice or the end, whichever is due first.
  void Step();
  void ScheduleStep();
  void End();

  Form1& form_;
  Clock& clock_;
  Diagnostics report_;
  OperatorSettings settings_;
  Hooks hooks_;
  WallClock wallClock_;
  std::vector<BanRecord> manualBans_;
  std::array<std::uint64_t, kAdminActionCount> actions_{};
  std::unique_ptr<Timer> countdown_;
  // While counting down: when the server ends and what the notices say.
  std::optional<Clock::TimePoint> endsAt_;
  // The step the countdown timer is set for; nothing: the end.
  std::optional<std::chrono::seconds> nextStep_;
  std::string noticeText_;
  bool ended_ = false;
};

}  // namespace quorvane
