#include "client_command.h"

#include <charconv>
#include <stdexcept>

#include "session/opcodes.h"

namespace quorvane::client {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// Splits off the first word; `rest` keeps what follows, trimmed.
std::string_view FirstWord(std::string_view text, std::string_view& rest) {
  std::size_t end = 0;
  while (end < text.size() && !IsBlank(text[end])) ++end;
  rest = Trim(text.substr(end));
  return text.substr(0, end);
}

template <typename Int>
bool ParseInt(std::string_view text, Int& value) {
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  return error == std::errc() && stop == end;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

Command Send(std::int16_t opcode, Bytes payload) {
  Command command;
  command.action = Command::Action::kSend;
  command.packet = Packet{opcode, std::move(payload)};
  return command;
}

Command Error(std::string message) {
  Command command;
  command.action = Command::Action::kError;
  command.error = std::move(message);
  return command;
}

Command Say(std::string_view arguments) {
  std::uint8_t type = kDefaultChatType;
  std::string_view text = arguments;
  std::string_view afterType;
  const std::string_view first = FirstWord(arguments, afterType);
  std::uint8_t given = 0;
  if (!afterType.empty() && ParseInt(first, given)) {
    type = given;
    text = afterType;
  }
  Bytes payload{type};
  payload.insert(payload.end(), text.begin(), text.end());
  return Send(opcode::kSay, std::move(payload));
}

Command Raw(std::string_view arguments) {
  std::string_view hex;
  const std::string_view opcodeText = FirstWord(arguments, hex);
  std::int16_t opcode = 0;
  if (!ParseInt(opcodeText, opcode)) return Error("raw needs an opcode from -32768 to 32767");
  return Send(opcode, ParseHex(hex));
}

}  // namespace

Bytes LoginBlock(std::string_view name) {
  if (name.empty()) throw std::invalid_argument("the name is empty");
  if (name.size() > kLoginNameSize) throw std::invalid_argument("the name is over 16 bytes");
  Bytes block(kLoginBlockSize, 0);
  std::copy(name.begin(), name.end(), block.begin() + 1);
  return block;
}

Bytes ParseHex(std::string_view text) {
  Bytes bytes;
  int high = -1;
  for (char c : text) {
    if (IsBlank(c)) {
      if (high >= 0) throw std::invalid_argument("odd number of hex digits in a byte");
      continue;
    }
    const int digit = HexDigit(c);
    if (digit < 0) throw std::invalid_argument(std::string("not a hex digit: ") + c);
    if (high < 0) {
      high = digit;
    } else {
      bytes.push_back(static_cast<std::uint8_t>(high * 16 + digit));
      high = -1;
    }
  }
  if (high >= 0) throw std::invalid_argument("odd number of hex digits");
  return bytes;
}

Command ParseCommand(std::string_view line) {
  std::string_view arguments;
  const std::string_view verb = FirstWord(Trim(line), arguments);
  try {
    if (verb.empty()) return Command{};
    if (verb == "quit") {
      Command command;
      command.action = Command::Action::kQuit;
      return command;
    }
    if (verb == "ping") return Send(opcode::kPing, {});
    if (verb == "login") return Send(opcode::kLogin, LoginBlock(arguments));
    if (verb == "say") return Say(arguments);
    if (verb == "move") return Send(opcode::kMove, ParseHex(arguments));
    if (verb == "raw") return Raw(arguments);
  } catch (const std::invalid_argument& error) {
    return Error(std::string(verb) + ": " + error.what());
  }
  return Error("unknown command: " + std::string(verb) +
               " (commands: login NAME, say [TYPE] TEXT, move HEX, ping, raw OPCODE HEX, quit)");
}

}  // namespace quorvane::client
