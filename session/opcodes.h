// Packet opcodes, named after what each packet does.
#pragma once

#include <cstdint>

namespace quorvane::opcode {

// Client to server.
inline constexpr std::int16_t kPing = 124;
inline constexpr std::int16_t kLogin = 200;
inline constexpr std::int16_t kMove = 202;
inline constexpr std::int16_t kSay = 302;

// Server to client.
inline constexpr std::int16_t kPong = 125;
inline constexpr std::int16_t kMoved = 203;     // a character's step, relayed
inline constexpr std::int16_t kAppeared = 205;  // a character arrived, relayed
inline constexpr std::int16_t kPosition = 209;  // where the logging-in character stands
inline constexpr std::int16_t kPlace = 221;     // a position with its fixed tail, twice per login
inline constexpr std::int16_t kItem = 223;
inline constexpr std::int16_t kIdentity = 243;  // the name block echoed at login
inline constexpr std::int16_t kSpell = 251;
inline constexpr std::int16_t kStat = 261;
inline constexpr std::int16_t kChatLine = 303;
inline constexpr std::int16_t kLoginStep = 1013;
inline constexpr std::int16_t kLoginBegin = 1015;

}  // namespace quorvane::opcode
