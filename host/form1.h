// The host: start-up, the listener and the session slots, the relay between
// them, the log, the server's own NPCs, and the policy over connections (the
// handshake deadline). It publishes what happens to its connections to
// observers.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "bytes.h"
#include "clock.h"
#include "connection_observer.h"
#include "data_files.h"
#include "diagnostics.h"
#include "generator.h"
#include "kelvane.hpp"
#include "listener.h"
#include "server_socket.h"
#include "socket_control.h"
#include "text_box.h"

namespace quorvane {

inline constexpr std::uint16_t kDefaultPort = 10217;
// Players served at once, one per slot.
inline constexpr std::size_t kSlotCount = 2;

struct HostSettings {
  std::uint16_t port = kDefaultPort;
  // Interval of Timer1, which drives the NPCs.
  std::chrono::milliseconds tickInterval{5000};
  // A connection still without a finished handshake after this long is
  // closed and its slot freed; one past it is never closed for being quiet.
  std::chrono::milliseconds handshakeTimeout{30000};
  // Logins (200) handled per connection within any one second; the rest are
  // dropped. 0: no limit.
  int loginRate = 4;
};

struct NpcRecord {
  std::string Name;  // empty for a free entry
  std::int16_t Dir = 0;
  std::int16_t X = 0;
  std::int16_t Y = 0;
};

inline constexpr std::size_t kNpcTableSize = 101;

class Form1 {
 public:
  struct Controls {
    TextBox& Text1;
    Listener& Winsock1;
    // One socket per slot, in slot order.
    std::array<std::reference_wrapper<SocketControl>, kSlotCount> Sockets;
    Clock& Clock1;
    // Where the host and its sessions report problems; empty drops them.
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
  void Winsock1_ConnectionRequest(std::int32_t requestID);
  void Timer1_Timer();

  // The relay: whatever a slot's session raises through AllSend goes to the
  // SendData of every other slot.
  void RelayFrom(std::size_t slot, std::int16_t id, ByteView data);
  void ServerSocket1_AllSend(std::int16_t id, ByteView data) { RelayFrom(0, id, data); }
  void ServerSocket2_AllSend(std::int16_t id, ByteView data) { RelayFrom(1, id, data); }
  // One packet to every slot's SendData, the last slot first: slot 2's
  // player, then slot 1's, the order in which the two relay handlers reached
  // them.
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

 private:
  struct SessionSlot;

  void SpawnNpcs();
  void MoveNpcs();
  // Inserts message + CR LF at the top of the log.
  void Log(std::string_view message);

  void WireSlot(std::size_t index);
  void ConnectionAccepted(std::size_t index);
  void HandshakeDeadline(std::size_t index);
  bool AdmitLogin(std::size_t index);
  void ConnectionClosed(std::size_t index, CloseReason reason);
  void Publish(const std::function<void(ConnectionObserver&)>& notify);

  TextBox& Text1;
  Listener& Winsock1;
  Clock& clock_;
  Diagnostics report_;
  Generator& generator_;
  HostSettings settings_;
  std::array<std::unique_ptr<SessionSlot>, kSlotCount> slots_;
  std::unique_ptr<Timer> Timer1;
  std::vector<ConnectionObserver*> observers_;

  std::array<NpcRecord, kNpcTableSize> Npcs{};
  std::int16_t TimerTicks = 0;
};

}  // namespace quorvane
