// The command language of quorvane-client's standard input.
#pragma once

#include <string>
#include <string_view>

#include "client/client_session.h"

namespace quorvane::client {

inline constexpr std::size_t kLoginBlockSize = 46;
inline constexpr std::size_t kLoginNameSize = 16;
inline constexpr std::uint8_t kDefaultChatType = 1;

struct Command {
  enum class Action { kNothing, kSend, kQuit, kError };
  Action action = Action::kNothing;
  Packet packet;      // for kSend
  std::string error;  // for kError
};

// The login name block: 00, the name 00-padded to 16 bytes, then 00 bytes to
// 46 in all. Throws std::invalid_argument for an empty name or one over 16 bytes.
Bytes LoginBlock(std::string_view name);

// Parses one input line:
//   login NAME | say [TYPE] TEXT | move HEX | ping | raw OPCODE HEX | quit
// An empty line does nothing.
Command ParseCommand(std::string_view line);

// Hex digits with optional blanks between bytes; throws std::invalid_argument.
Bytes ParseHex(std::string_view text);

}  // namespace quorvane::client
