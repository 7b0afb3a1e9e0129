#include "client/packet_text.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string_view>

#include "session/opcodes.h"

namespace quorvane::client {
namespace {

constexpr std::size_t kNameBlockSize = 46;
// The character name of a name block: bytes 1 to 17, zero bytes dropped.
constexpr std::size_t kNameOffset = 1;
constexpr std::size_t kNameSize = 17;
// After the name block: X and Y, then three flag bytes.
constexpr std::size_t kFlagsOffset = kNameBlockSize + 4;
constexpr std::size_t kFlagsSize = 3;
constexpr std::size_t kAppearedSize = kFlagsOffset + kFlagsSize;
// Where a server character's name block holds its facing.
constexpr std::size_t kFacingOffset = 24;
constexpr std::array<std::uint8_t, 3> kPlayerFlags{0x00, 0x00, 0x00};
constexpr std::array<std::uint8_t, 3> kServerCharacterFlags{0x01, 0x00, 0x01};

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

// X,Y from two 16-bit fields.
std::string Coordinates(ByteView bytes, std::size_t offset) {
  return std::to_string(Int16At(bytes, offset)) + "," + std::to_string(Int16At(bytes, offset + 2));
}

std::string Position(ByteView bytes, std::size_t offset) {
  return "at " + Coordinates(bytes, offset);
}

// A facing, 1 to 9 laid out like a numeric keypad with north (smaller Y) on
// the upper row, as the way it points.
std::string_view Heading(std::uint8_t facing) {
  constexpr std::array<std::string_view, 9> kHeadings{"south-west", "south",    "south-east",
                                                      "west",       "in place", "east",
                                                      "north-west", "north",    "north-east"};
  if (facing < 1 || facing > kHeadings.size()) return "no direction";
  return kHeadings[facing - 1];
}

// 205: a name block, X, Y and three flag bytes, 00 00 00 for a player and
// 01 00 01 for one of the server's characters, whose facing stands at 24.
std::string AppearedFields(ByteView payload) {
  if (payload.size() != kAppearedSize) return {};
  const ByteView flags = payload.subspan(kFlagsOffset, kFlagsSize);
  const std::string where = NameOf(payload) + " " + Position(payload, kNameBlockSize);
  if (std::ranges::equal(flags, kPlayerFlags)) return "player " + where;
  if (std::ranges::equal(flags, kServerCharacterFlags)) {
    return "server character " + where + ", facing " + std::to_string(payload[kFacingOffset]);
  }
  return "character " + where + ", flags " + Hex(flags);
}

// 203: a name block and a move. The server's characters send 8 bytes: the
// position before the step, their flags and the new facing; the old facing
// stands at 24 of the name block. A player's move is shown in that layout
// when it has those 8 bytes, else as it came.
std::string MovedFields(ByteView payload) {
  if (payload.size() < kNameBlockSize) return {};
  if (payload.size() != kAppearedSize + 1) {
    return "name " + NameOf(payload) + ", move " + Hex(payload.subspan(kNameBlockSize));
  }
  const std::uint8_t facing = payload[kAppearedSize];
  return "name " + NameOf(payload) + " from " + Coordinates(payload, kNameBlockSize) + ", facing " +
         std::to_string(payload[kFacingOffset]) + " -> " + std::to_string(facing) + " (" +
         std::string(Heading(facing)) + "), flags " +
         Hex(payload.subspan(kFlagsOffset, kFlagsSize));
}

std::string ChatFields(ByteView payload) {
  if (payload.size() < 3) return {};
  const auto lineFeed = std::find(payload.begin() + 2, payload.end(), 0x0A);
  if (lineFeed == payload.end()) return {};
  const auto nameEnd = static_cast<std::size_t>(lineFeed - payload.begin());
  return "line type " + std::to_string(payload[1]) + " from " +
         Quoted(payload.subspan(2, nameEnd - 2)) + ": " + Quoted(payload.subspan(nameEnd + 1));
}

// Each stats code with the character fields it carries, in packet order,
// and the width of each value.
struct StatCode {
  std::uint8_t code;
  std::array<std::string_view, 2> names;  // the second is empty for one value
  std::size_t width;
};

constexpr std::array<StatCode, 12> kStatCodes{{
    {1, {"Stat1A", "Stat1B"}, 4},
    {2, {"Stat2A", "Stat2B"}, 4},
    {3, {"Stat3A", "Stat3B"}, 4},
    {4, {"Stat4A", "Stat4B"}, 4},
    {5, {"Level", ""}, 2},
    {6, {"Stat6", ""}, 2},
    {7, {"Stat7", ""}, 4},
    {8, {"Stat8", ""}, 4},
    {9, {"Stat9", ""}, 4},
    {10, {"Stat10", ""}, 4},
    {11, {"Stat11A", "Stat11B"}, 4},
    {12, {"Stat12A", "Stat12B"}, 4},
}};

std::string StatFields(ByteView payload) {
  if (payload.empty()) return {};
  const std::uint8_t code = payload[0];
  const std::string prefix = "stat code " + std::to_string(code) + ": ";
  const auto known = std::find_if(kStatCodes.begin(), kStatCodes.end(),
                                  [code](const StatCode& stat) { return stat.code == code; });
  if (known == kStatCodes.end()) return prefix + "fixed " + Hex(payload.subspan(1));
  const std::size_t values = known->names[1].empty() ? 1 : 2;
  if (payload.size() != 1 + values * known->width) return {};
  std::string text = prefix;
  for (std::size_t i = 0; i < values; ++i) {
    const std::size_t offset = 1 + i * known->width;
    const std::int32_t value =
        known->width == 2 ? Int16At(payload, offset) : Int32At(payload, offset);
    if (i > 0) text += ", ";
    text += std::string(known->names[i]) + " " + std::to_string(value);
  }
  return text;
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
      return MovedFields(payload);
    case opcode::kAppeared:
      return AppearedFields(payload);
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
