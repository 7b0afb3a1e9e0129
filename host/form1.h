// The host: start-up, the listener and the two session slots, the relay
// between them, the log, and the server's own NPCs.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "bytes.h"
#include "generator.h"
#include "kelvane.hpp"
#include "listener.h"
#include "server_socket.h"
#include "socket_control.h"
#include "text_box.h"

namespace quorvane {

inline constexpr std::uint16_t kDefaultPort = 10217;

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
    SocketControl& Socket1;
    SocketControl& Socket2;
  };

  Form1(Controls controls, const kelvane::Api& cipher, Generator& generator,
        std::filesystem::path dataDir, std::uint16_t port = kDefaultPort);
  Form1(const Form1&) = delete;
  Form1& operator=(const Form1&) = delete;

  // Binds and listens; throws std::runtime_error when it cannot.
  void Form_Load();
  void Winsock1_ConnectionRequest(std::int32_t requestID);
  void Timer1_Timer();

  // The relay: each passes a packet to the other slot's SendData.
  void ServerSocket1_AllSend(std::int16_t id, ByteView data);
  void ServerSocket2_AllSend(std::int16_t id, ByteView data);

  std::int16_t Rand(std::int16_t Low, std::int16_t High);

  ServerSocket& Slot1() { return ServerSocket1; }
  ServerSocket& Slot2() { return ServerSocket2; }
  const NpcRecord& Npc(std::size_t index) const { return Npcs[index]; }
  std::int16_t Ticks() const { return TimerTicks; }

 private:
  void SpawnNpcs();
  void MoveNpcs();
  // Inserts message + CR LF at the top of the log.
  void Log(std::string_view message);

  TextBox& Text1;
  Listener& Winsock1;
  Generator& generator_;
  std::uint16_t port_;
  ServerSocket ServerSocket1;
  ServerSocket ServerSocket2;

  std::array<NpcRecord, kNpcTableSize> Npcs{};
  std::int16_t TimerTicks = 0;
};

}  // namespace quorvane
