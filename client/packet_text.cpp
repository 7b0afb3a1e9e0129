#include "packet_text.h"

#include <algorithm>
#include <cstdio>

#include "opcodes.h"

namespace quorvane::client {
namespace {

constexpr std::size_t kNameBlockSize = 46;
// The character name of a name block: bytes 1 to 17, zero bytes dropped.
constexpr std::size_t kNameOffset = 1;
constexpr std::size_t kNameSize = 17;

std::int16_t Int16At(ByteView bytes, std::size_t offset) {
  return static_cast<std::int16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

std::int32_t Int32At(ByteView bytes, std::size_t offset) {
  const std::uint32_t value = bytes[offset] | (bytes[offset + 1] << 8) | (bytes[offset + 2] << 16) |
                              (static_cast<std::uint32_t>(bytes[offset + 3]) << 24);
  return static_cast<std::int32_t>(value);
}

std::string NameOf(ByteView block) {
  Bytes name;
  for (std::uint8_t byte : block.subspan(kNameOffset, kNameSize)) {
    if (byte != 0) name.push_back(byte);
  }
  return Quoted(name);
}

std::string Position(ByteView bytes, std::size_t offset) {
  return "at " + std::to_string(Int16At(bytes, offset)) + "," +
         std::to_string(Int16At(bytes, offset + 2));
}

std::string ChatFields(ByteView payload) {
  if (payload.size() < 3) return {};
  const auto lineFeed = std::find(payload.begin() + 2, payload.end(), 0x0A);
  if (lineFeed == payload.end()) return {};
  const auto nameEnd = static_cast<std::size_t>(lineFeed - payload.begin());
  return "line type " + std::to_string(payload[1]) + " from " +
         Quoted(payload.subspan(2, nameEnd - 2)) + ": " + Quoted(payload.subspan(nameEnd + 1));
}

std::string StatFields(ByteView payload) {
  if (payload.empty()) return {};
  const std::uint8_t code = payload[0];
  const std::string prefix = "stat code " + std::to_string(code) + ": ";
  switch (code) {
    case 1:
    case 2:
    case 3:
    case 4:
    case 11:
    case 12:
      if (payload.size() != 9) return {};
      return prefix + std::to_string(Int32At(payload, 1)) + ", " +
             std::to_string(Int32At(payload, 5));
    case 5:
    case 6:
      if (payload.size() != 3) return {};
      return prefix + std::to_string(Int16At(payload, 1));
    case 7:
    case 8:
    case 9:
    case 10:
      if (payload.size() != 5) return {};
      return prefix + std::to_string(Int32At(payload, 1));
    default:
      return prefix + "fixed " + Hex(payload.subspan(1));
  }
}

std::string ItemFields(ByteView payload) {
  if (payload.size() != 18) return {};
  return "item kind " + std::to_string(payload[0]) + ", index " + std::to_string(payload[1]) +
         ", words " + std::to_string(Int16At(payload, 2)) + " " +
         std::to_string(Int16At(payload, 4)) + ", count " + std::to_string(Int16At(payload, 6));
}

std::string SpellFields(ByteView payload) {
  if (payload.size() != 4) return {};
  return "spell list " + std::to_string(payload[0]) + ", slot " + std::to_string(payload[1]) +
         ", spell " + std::to_string(payload[2]) + ", flag " + std::to_string(payload[3]);
}

std::string Fields(const Packet& packet) {
  const ByteView payload = packet.payload;
  switch (packet.opcode) {
    case opcode::kMoved:
      if (payload.size() < kNameBlockSize) return {};
      return "name " + NameOf(payload) + ", move " + Hex(payload.subspan(kNameBlockSize));
    case opcode::kAppeared:
      if (payload.size() != kNameBlockSize + 7) return {};
      return "name " + NameOf(payload) + " " + Position(payload, kNameBlockSize) + ", flags " +
             Hex(payload.subspan(kNameBlockSize + 4));
    case opcode::kPosition:
      if (payload.size() != 7) return {};
      return Position(payload, 0);
    case opcode::kPlace:
      if (payload.size() != 22) return {};
      return Position(payload, 0) + ", then " + Hex(payload.subspan(4, 7));
    case opcode::kItem:
      return ItemFields(payload);
    case opcode::kIdentity:
      if (payload.size() != kNameBlockSize) return {};
      return "name " + NameOf(payload);
    case opcode::kSpell:
      return SpellFields(payload);
    case opcode::kStat:
      return StatFields(payload);
    case opcode::kChatLine:
      return ChatFields(payload);
    default:
      return {};
  }
}

}  // namespace

std::string_view OpcodeName(std::int16_t opcode) {
  // Sent packets are described too, and a raw one may carry a server opcode:
  // the name is the same whichever way it goes.
  const OpcodeInfo* info = FindOpcode(opcode);
  return info != nullptr ? info->name : "unknown";
}

std::string Hex(ByteView bytes) {
  std::string text;
  text.reserve(bytes.size() * 3);
  char pair[3];
  for (std::uint8_t byte : bytes) {
    if (!text.empty()) text += ' ';
    std::snprintf(pair, sizeof pair, "%02x", byte);
    text += pair;
  }
  return text;
}

std::string Quoted(ByteView bytes) {
  std::string text = "\"";
  char escape[5];
  for (std::uint8_t byte : bytes) {
    if (byte == '"' || byte == '\\') {
      text += '\\';
      text += static_cast<char>(byte);
    } else if (byte >= 0x20 && byte < 0x7F) {
      text += static_cast<char>(byte);
    } else {
      std::snprintf(escape, sizeof escape, "\\x%02x", byte);
      text += escape;
    }
  }
  return text + "\"";
}

std::string DescribePacket(const Packet& packet) {
  std::string text = std::to_string(packet.opcode) + " " + std::string(OpcodeName(packet.opcode)) +
                     ", " + std::to_string(packet.payload.size()) + " bytes";
  if (!packet.payload.empty()) text += ": " + Hex(packet.payload);
  const std::string fields = Fields(packet);
  if (!fields.empty()) text += "\n  " + fields;
  return text;
}

void PrintTo(const Packet& packet, std::ostream* out) {
  *out << DescribePacket(packet);
}

}  // namespace quorvane::client
