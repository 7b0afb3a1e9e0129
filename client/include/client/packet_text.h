// Human-readable text of the packets: the opcode's name from the opcode table,
// the payload in hex, and the fields of the opcodes the system knows.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

#include "client/client_session.h"

namespace quorvane::client {

// The name of an opcode of the game protocol, or "unknown".
std::string_view OpcodeName(std::int16_t opcode);

// Bytes as lower-case hex pairs separated by blanks.
std::string Hex(ByteView bytes);

// Bytes as a quoted text: printable ASCII as it stands, anything else as \xNN.
std::string Quoted(ByteView bytes);

// One line "OPCODE NAME, N bytes: HEX", followed by a second, indented line
// with the decoded fields when the opcode is known and its payload has the
// expected shape. No trailing newline.
std::string DescribePacket(const Packet& packet);

// For test failure messages: the packet as DescribePacket gives it.
void PrintTo(const Packet& packet, std::ostream* out);

}  // namespace quorvane::client
