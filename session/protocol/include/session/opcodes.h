// Every opcode of the game protocol, named after what its packet does: one
// constant each, and one table with its direction and meaning, from which
// printers and traces take the names. No other opcode is sent or acted on.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace quorvane {

namespace opcode {

// Client to server.
inline constexpr std::int16_t kPing = 124;
inline constexpr std::int16_t kLogin = 200;
inline constexpr std::int16_t kMove = 202;
inline constexpr std::int16_t kSay = 302;

// Server to client.
inline constexpr std::int16_t kPong = 125;
inline constexpr std::int16_t kMoved = 203;
inline constexpr std::int16_t kAppeared = 205;
inline constexpr std::int16_t kPosition = 209;
inline constexpr std::int16_t kPlace = 221;
inline constexpr std::int16_t kItem = 223;
inline constexpr std::int16_t kIdentity = 243;
inline constexpr std::int16_t kSpell = 251;
inline constexpr std::int16_t kStat = 261;
inline constexpr std::int16_t kChatLine = 303;
inline constexpr std::int16_t kLoginStep = 1013;
inline constexpr std::int16_t kLoginBegin = 1015;

}  // namespace opcode

enum class PacketDirection { kClientToServer, kServerToClient };

struct OpcodeInfo {
  std::int16_t value;
  PacketDirection direction;
  std::string_view name;     // the constant's name without its k
  std::string_view meaning;  // what the packet carries, in one line
};

inline constexpr std::array<OpcodeInfo, 16> kOpcodeTable{{
    {opcode::kPing, PacketDirection::kClientToServer, "Ping",
     "asks for a pong; the payload is not read"},
    {opcode::kPong, PacketDirection::kServerToClient, "Pong", "answers a ping: one byte 00"},
    {opcode::kLogin, PacketDirection::kClientToServer, "Login",
     "the login name block: 00, the character name, 00 padding"},
    {opcode::kMove, PacketDirection::kClientToServer, "Move",
     "a step of the player's character, relayed to the other player as Moved"},
    {opcode::kMoved, PacketDirection::kServerToClient, "Moved",
     "a character's step: its 46-byte name block, then the move"},
    {opcode::kAppeared, PacketDirection::kServerToClient, "Appeared",
     "a character arrived: its name block, X, Y and three flag bytes"},
    {opcode::kPosition, PacketDirection::kServerToClient, "Position",
     "where the logging-in character stands: X, Y, 00 00 02"},
    {opcode::kPlace, PacketDirection::kServerToClient, "Place",
     "a position with its fixed tail, twice per login"},
    {opcode::kItem, PacketDirection::kServerToClient, "Item", "one 18-byte item entry"},
    {opcode::kIdentity, PacketDirection::kServerToClient, "Identity",
     "the stored name block, echoed at login"},
    {opcode::kSpell, PacketDirection::kServerToClient, "Spell", "one 4-byte spell entry"},
    {opcode::kStat, PacketDirection::kServerToClient, "Stat",
     "one statistic: a code byte, then its values"},
    {opcode::kSay, PacketDirection::kClientToServer, "Say", "a chat line: a type byte, then text"},
    {opcode::kChatLine, PacketDirection::kServerToClient, "ChatLine",
     "a chat line with its writer's name, to the writer and the other player"},
    {opcode::kLoginStep, PacketDirection::kServerToClient, "LoginStep",
     "one byte 00, twice near the end of a login"},
    {opcode::kLoginBegin, PacketDirection::kServerToClient, "LoginBegin",
     "one byte 00 before the login's first position"},
}};

// The entry of `value` in `direction`, or nullptr.
constexpr const OpcodeInfo* FindOpcode(std::int16_t value, PacketDirection direction) {
  for (const OpcodeInfo& info : kOpcodeTable) {
    if (info.value == value && info.direction == direction) return &info;
  }
  return nullptr;
}

// The entry of `value` in either direction (no value is used in both), or nullptr.
constexpr const OpcodeInfo* FindOpcode(std::int16_t value) {
  for (const OpcodeInfo& info : kOpcodeTable) {
    if (info.value == value) return &info;
  }
  return nullptr;
}

}  // namespace quorvane
