// One player's session: its connection, the handshake that builds its
// CipherState, the receive loop, the opcode dispatch and every packet the
// server sends to that player. Free of I/O: it talks to its socket through
// SocketControl, to the cipher through the loaded Kelvane exports and to the
// data files through DataFolder, and tells its host what happens through
// events.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string_view>

#include "kelvane.hpp"
#include "session/bytes.h"
#include "session/character_record.h"
#include "session/data_files.h"
#include "session/diagnostics.h"
#include "session/generator.h"
#include "session/socket_control.h"
#include "session/traffic_counters.h"
#include "session/welcome_line.h"

namespace quorvane {

inline constexpr std::size_t kNameFieldSize = 46;
using NameField = std::array<std::uint8_t, kNameFieldSize>;

// Phases of a session.
inline constexpr std::int16_t kPhaseIdle = 0;
inline constexpr std::int16_t kPhaseAwaitingHello = 1;
inline constexpr std::int16_t kPhaseOpen = 2;

// A packet handler that cannot go on; only its own packet is lost: the
// receive loop goes on with the next packet of the arrival.
class HandlerFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class ServerSocket {
 public:
  // The event through which a session hands a packet to the other player.
  using AllSendHandler = std::function<void(std::int16_t id, ByteView data)>;
  // The hello was answered: the session is open for packets.
  using HandshakeDoneHandler = std::function<void()>;
  // A login went through to its welcome line. `fileName` is the character
  // file name the name block selected; `characterFound` is false when no
  // readable character file had that name and the record stayed as it was.
  using LoggedInHandler = std::function<void(std::string_view fileName, bool characterFound)>;
  // The connection ended, whichever way (see SocketControl).
  using ClosedHandler = SocketControl::ClosedHandler;
  // Bytes arrived from the client, before they are handled.
  using ArrivalHandler = std::function<void()>;
  // Asked for every login once its character file is looked up, before the
  // login changes or sends anything. `characterFile` is the name of the file
  // in characters/ that the name selected, empty when there is none or it
  // could not be read. False
  // refuses the login: it then changes and sends nothing, and the gate may
  // close the connection, which ends the arrival. Without a gate every login
  // goes through.
  using LoginGate = std::function<bool(std::string_view characterFile)>;
  // Asked before each login packet (200) is handled; false drops it. The
  // packet was opened all the same, so the receive sequence stays in step.
  using LoginRateGate = std::function<bool()>;

  // `data` is where logins find characters and items; it must outlive the
  // session.
  ServerSocket(SocketControl& socket, const kelvane::Api& cipher, Generator& generator,
               DataFolder& data);
  ServerSocket(const ServerSocket&) = delete;
  ServerSocket& operator=(const ServerSocket&) = delete;
  ~ServerSocket();

  void Closer();
  // Takes the connection on a slot that starts afresh: phase 1, NameField all
  // 00, CharacterRecord and the senders' storage zero, so nothing of an
  // earlier client of the slot reaches this one.
  void Accept(std::int32_t requestID);
  std::int16_t Stat() const;
  quorvane::NameField Char() const;
  std::int16_t PlayerX() const;
  std::int16_t PlayerY() const;
  void SendData(std::int16_t id, ByteView data);
  void SendStats();
  void SendItems();
  void SendSpells();

  void SetAllSendHandler(AllSendHandler handler);
  void SetHandshakeDoneHandler(HandshakeDoneHandler handler);
  void SetLoggedInHandler(LoggedInHandler handler);
  void SetClosedHandler(ClosedHandler handler);
  void SetArrivalHandler(ArrivalHandler handler);
  void SetLoginGate(LoginGate gate);
  // Without a gate every login is handled.
  void SetLoginRateGate(LoginRateGate gate);
  // Where unreadable data files and failed handlers are reported, with no
  // subject: the receiver names the connection.
  void SetDiagnostics(Diagnostics diagnostics);
  // The chat line payload that closes each login (see welcome_line.h).
  void SetWelcomeLine(Bytes line) { welcome_ = std::move(line); }

  // Read-only views for the host and for tests.
  std::int16_t Phase() const { return SessionPhase; }
  const ::CipherState& Cipher() const { return CipherState; }
  const quorvane::CharacterRecord& Character() const { return CharacterRecord; }
  // Packets and bytes this session has moved since it was made.
  const TrafficCounters& Traffic() const { return traffic_; }

 private:
  void DataArrival();
  // `kept` bytes of an unfinished hello came before this arrival's.
  void Handshake(std::size_t kept);
  // The decoded hello when `wire` is one, escaped and whole.
  std::optional<Bytes> ValidHello(ByteView wire);
  void Answer(ByteView hello, std::size_t helloWireSize);
  void ReceiveLoop();
  // Dispatches one opened packet; a handler that fails loses only its packet.
  void DispatchGuarded(std::int16_t opcode, ByteView payload);
  void DispatchPacket(std::int16_t opcode, ByteView payload);
  void Ping();
  void Chat(ByteView payload);
  void Move(ByteView payload);
  void Login(ByteView payload);

  // The arrived bytes from `start` on, as a byte string opened in place.
  const unsigned char* ReceivedFrom(std::size_t start);

  bool Ready() const;
  // Seals the packet in place at the end of outgoing_ and writes it to this
  // session's own socket: at once, or while a packet is dispatched with what
  // its handler sends next, before the handler lets anyone else act.
  void SendSealed(std::int16_t opcode, ByteView payload);
  // Writes outgoing_ to the socket.
  void SendOutgoing();
  void RaiseAllSend(std::int16_t id, ByteView data);

  SocketControl& socket_;
  const kelvane::Api& cipher_;
  Generator& generator_;
  DataFolder& data_;
  AllSendHandler allSend_;
  HandshakeDoneHandler handshakeDone_;
  LoggedInHandler loggedIn_;
  ClosedHandler closed_;
  ArrivalHandler arrival_;
  LoginGate loginGate_;
  LoginRateGate loginRateGate_;
  Diagnostics diagnostics_;
  Bytes welcome_ = *WelcomeLine(kDefaultWelcomeSender, kDefaultWelcomeText);

  std::int16_t SessionPhase = kPhaseIdle;
  ::CipherState CipherState{};
  quorvane::NameField NameField{};
  quorvane::CharacterRecord CharacterRecord{};

  // Room for a byte-string length in front of the arrived bytes.
  static constexpr std::size_t kLengthSlot = sizeof(std::uint32_t);
  // The length slot, then arrived bytes not yet consumed: an incomplete packet
  // (or hello) waits here for the rest of its bytes, so it never holds more
  // than one packet's 65,543 bytes between arrivals.
  Bytes received_;
  // Reused argument block for the handshake's cipher calls.
  kelvane::ByteStrBuffer argument_;
  // Sealed packets not yet written to the socket, back to back; reused, so a
  // login's packets cost no allocation once it has grown.
  Bytes outgoing_;
  // A packet's handler runs: what it sends is written when it returns.
  bool dispatching_ = false;
  // Reused storage for the payloads the handlers build.
  Bytes scratch_;
  TrafficCounters traffic_;
};

}  // namespace quorvane
