// The host: start-up, the listener and the session slots, the relay between
// them, the log, the server's own NPCs, and the policy over connections
// (deadlines, address rules and bans, relay back-pressure, one player per
// character). It publishes what happens to its connections to observers and
// reports it through its diagnostics.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/address_admission.h"
#include "host/clock.h"
#include "host/connection_observer.h"
#include "host/listener.h"
#include "host/relay_budget.h"
#include "host/text_box.h"
#include "kelvane.hpp"
#include "session/bytes.h"
#include "session/data_files.h"
#include "session/diagnostics.h"
#include "session/generator.h"
#include "session/server_socket.h"
#include "session/socket_control.h"
#include "session/welcome_line.h"

namespace quorvane {

// The defaults of HostSettings, which the program's option table shows.
inline constexpr std::uint16_t kDefaultPort = 10217;
inline constexpr std::chrono::milliseconds kDefaultTickInterval{5000};
inline constexpr std::chrono::milliseconds kDefaultHandshakeTimeout{10000};
inline constexpr std::chrono::milliseconds kDefaultLoginTimeout{20000};
inline constexpr std::chrono::milliseconds kDefaultIdleTimeout{0};
inline constexpr std::chrono::milliseconds kDefaultLoginGrace{2000};
inline constexpr std::size_t kDefaultRelaySoftLimit = 256 * 1024;
inline constexpr bool kDefaultRequireCharacter = false;
inline constexpr int kDefaultLoginRate = 4;
// Players served at once, one per slot.
inline constexpr std::size_t kSlotCount = 2;

struct HostSettings {
  std::uint16_t port = kDefaultPort;
  // Interval of Timer1, which drives the NPCs.
  std::chrono::milliseconds tickInterval = kDefaultTickInterval;
  // A connection still without a finished handshake after this long is
  // closed and its slot freed.
  std::chrono::milliseconds handshakeTimeout = kDefaultHandshakeTimeout;
  // A connection that has not sent a login this long after its accept is
  // closed; 0 for never.
  std::chrono::milliseconds loginTimeout = kDefaultLoginTimeout;
  // A connection that has sent nothing for this long is closed; 0 for never.
  std::chrono::milliseconds idleTimeout = kDefaultIdleTimeout;
  // How long after its accept a connection that has not logged in keeps its
  // slot against a newcomer who finds every slot taken; past it, the one
  // held longest is closed to make room. 0: never closed for a newcomer.
  std::chrono::milliseconds loginGrace = kDefaultLoginGrace;
  // Who may connect (see AddressAdmission).
  AdmissionSettings admission{};
  // A relayed packet is dropped unsealed while its receiver has more than
  // this many bytes waiting to be sent; 0 for no bound short of the socket's
  // own (kSendBound).
  std::size_t relaySoftLimit = kDefaultRelaySoftLimit;
  // What each connection may have relayed (see RelayBudget).
  RelayRates relayRates{};
  // Logins whose name selects no character file are refused.
  bool requireCharacter = kDefaultRequireCharacter;
  // The chat line payload that closes each login (see welcome_line.h).
  Bytes welcomeLine = *WelcomeLine(kDefaultWelcomeSender, kDefaultWelcomeText);
  // Logins (200) handled per connection within any one second; the rest are
  // dropped. 0: no limit.
  int loginRate = kDefaultLoginRate;
};

struct NpcRecord {
  std::string Name;  // empty for a free entry
  std::int16_t Dir = 0;
  std::int16_t X = 0;
  std::int16_t Y = 0;
};

inline constexpr std::size_t kNpcTableSize = 101;

class ConnectionDiagnostics;

class Form1 {
 public:
  struct Controls {
    TextBox& Text1;
    Listener& Winsock1;
    // One socket per slot, in slot order.
    std::array<std::reference_wrapper<SocketControl>, kSlotCount> Sockets;
    Clock& Clock1;
    // Where the host and its sessions report problems and the life of each
    // connection; empty drops them.
    Diagnostics Report = {};
    // Where logins find characters and items; none: no files at all.
    DataFolder* Data = nullptr;
  };

  Form1(Controls controls, const kelvane::Api& cipher, Generator& generator, HostSettings settings);
  Form1(const Form1&) = delete;
  Form1& operator=(const Form1&) = delete;
  ~Form1();

  // Binds and listens, then starts Timer1; throws std::runtime_error when it
  // cannot listen.
  void Form_Load();
  // A request whose peer cannot be told, then one the address rules refuse,
  // is closed and the slots never see it. Then the first free slot takes it:
  // when every slot is taken, one whose connection has ended unnoticed is
  // freed, else the one held longest by a connection past its login grace
  // without a login is closed for it. Failing all, the log says none is free.
  void Winsock1_ConnectionRequest(std::int32_t requestID);
  void Timer1_Timer();

  // The relay: whatever a slot's session raises through AllSend goes to the
  // SendData of every other slot, within the sender's relay budget and while
  // the receiver's pending output is under the soft limit; otherwise it is
  // dropped before it is sealed, so both ends stay in sequence.
  void RelayFrom(std::size_t slot, std::int16_t id, ByteView data);
  void ServerSocket1_AllSend(std::int16_t id, ByteView data) { RelayFrom(0, id, data); }
  void ServerSocket2_AllSend(std::int16_t id, ByteView data) { RelayFrom(1, id, data); }
  // One packet to every slot's SendData, the last slot first: slot 2's
  // player, then slot 1's, the order in which the two relay handlers reached
  // them. The soft limit on pending output applies, no relay budget.
  void Broadcast(std::int16_t id, ByteView data);

  std::int16_t Rand(std::int16_t Low, std::int16_t High);

  // The session of slot `index`, counted from 0.
  ServerSocket& Slot(std::size_t index);
  const NpcRecord& Npc(std::size_t index) const { return Npcs[index]; }
  std::int16_t Ticks() const { return TimerTicks; }

  // `observer` hears of every connection event from now on, until removed;
  // it must outlive its subscription.
  void AddObserver(ConnectionObserver& observer);
  void RemoveObserver(ConnectionObserver& observer);

  // Every login from now on closes with `line` (see welcome_line.h).
  void SetWelcomeLine(const Bytes& line);
  // Connection requests from now on meet these ranges (see AdmissionSettings),
  // and connections in the slots whose addresses they refuse are closed.
  void SetAddressRanges(std::vector<AddressRange> allow, std::vector<AddressRange> deny);

  // What an operator acts through (see HostOperator); slots count from 0.
  const Bytes& CurrentWelcomeLine() const { return settings_.welcomeLine; }
  bool LoggedIn(std::size_t index) const;
  // The peer's address while the slot is connected.
  std::optional<IpAddress> PeerOf(std::size_t index) const;
  // One chat line (303) to the slot, under the soft limit like any broadcast.
  void SendChatLine(std::size_t index, ByteView line);
  // Ends the connection in `index` once what waits for it is handed over,
  // telling observers `cause`.
  void Dismiss(std::size_t index, HostCause cause);
  // Requests from addresses `banned` says true for are refused as banned,
  // after the denied ranges and before everything else; empty for none.
  void SetBanCheck(std::function<bool(const IpAddress&)> banned);
  // While draining, every request is refused: the server is shutting down.
  void SetDraining(bool draining) { draining_ = draining; }
  std::vector<AddressAdmission::BanInForce> AutomaticBans() const;
  bool LiftAutomaticBan(const IpAddress& address);

 private:
  struct SessionSlot;

  void SpawnNpcs();
  void MoveNpcs();
  // Shows a player who has just logged in who is on the map already.
  void ShowWorldTo(std::size_t index);
  // Inserts message + CR LF at the top of the log.
  void Log(std::string_view message);

  void WireSlot(std::size_t index);
  // The address rules over a request from `address` ("ADDR:PORT" in
  // `peer`); false when it was refused and closed.
  bool Admit(std::int32_t requestID, const IpAddress& address, const std::string& peer);
  std::size_t SlotsHeldBy(const IpAddress& address) const;
  // The slot a request admitted now takes, if any: see Winsock1_ConnectionRequest.
  std::optional<std::size_t> SlotForNewcomer();
  std::optional<std::size_t> FreeSlot() const;
  // Closes the connection held longest past its login grace without a login;
  // its slot, or nothing when every slot's connection is in its grace or
  // logged in.
  std::optional<std::size_t> MakeRoom();
  void ConnectionAccepted(std::size_t index, const std::optional<IpAddress>& address,
                          const std::string& peer);
  // A deadline of the connection in `index` has come: it is closed for `cause`.
  void Deadline(std::size_t index, HostCause cause);
  void IdleCheck(std::size_t index);
  static void StopDeadlines(SessionSlot& slot);
  bool AdmitLogin(std::size_t index, std::string_view characterFile);
  // Ends the connection in `index` at once, telling observers `cause`.
  void CloseFor(std::size_t index, HostCause cause);
  // The login rate limit of the connection in `index`: false drops the login.
  bool AdmitLoginRate(std::size_t index);
  void ConnectionClosed(std::size_t index, CloseReason reason);
  // SendData on `to` unless its pending output is over the soft limit.
  void Deliver(std::size_t from, std::size_t to, std::int16_t id, ByteView data);
  void Publish(const std::function<void(ConnectionObserver&)>& notify);

  TextBox& Text1;
  Listener& Winsock1;
  Clock& clock_;
  Diagnostics report_;
  Generator& generator_;
  HostSettings settings_;
  AddressAdmission admission_;
  // Writes the life of every connection to report_; heard first, and gone
  // only after the slots.
  std::unique_ptr<ConnectionDiagnostics> diagnostics_;
  std::array<std::unique_ptr<SessionSlot>, kSlotCount> slots_;
  std::unique_ptr<Timer> Timer1;
  std::vector<ConnectionObserver*> observers_;
  std::function<bool(const IpAddress&)> banned_;
  bool draining_ = false;

  std::array<NpcRecord, kNpcTableSize> Npcs{};
  std::int16_t TimerTicks = 0;
};

}  // namespace quorvane
