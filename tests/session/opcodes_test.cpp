// The opcode table against the protocol's opcodes written out by hand: every
// constant's value, and each value's name and direction.
#include "session/opcodes.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace quorvane {
namespace {

constexpr auto kIn = PacketDirection::kClientToServer;
constexpr auto kOut = PacketDirection::kServerToClient;

struct Known {
  std::int16_t constant;
  std::int16_t value;
  PacketDirection direction;
  std::string_view name;
};

const Known kProtocol[] = {
    {opcode::kPing, 124, kIn, "Ping"},
    {opcode::kPong, 125, kOut, "Pong"},
    {opcode::kLogin, 200, kIn, "Login"},
    {opcode::kMove, 202, kIn, "Move"},
    {opcode::kMoved, 203, kOut, "Moved"},
    {opcode::kAppeared, 205, kOut, "Appeared"},
    {opcode::kPosition, 209, kOut, "Position"},
    {opcode::kPlace, 221, kOut, "Place"},
    {opcode::kItem, 223, kOut, "Item"},
    {opcode::kIdentity, 243, kOut, "Identity"},
    {opcode::kSpell, 251, kOut, "Spell"},
    {opcode::kStat, 261, kOut, "Stat"},
    {opcode::kSay, 302, kIn, "Say"},
    {opcode::kChatLine, 303, kOut, "ChatLine"},
    {opcode::kLoginStep, 1013, kOut, "LoginStep"},
    {opcode::kLoginBegin, 1015, kOut, "LoginBegin"},
};

TEST(Opcodes, EachConstantHasItsValueNameAndDirection) {
  for (const Known& known : kProtocol) {
    SCOPED_TRACE(std::string(known.name));
    EXPECT_EQ(known.constant, known.value);
    const OpcodeInfo* info = FindOpcode(known.value, known.direction);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->value, known.value);
    EXPECT_EQ(info->name, known.name);
    EXPECT_FALSE(info->meaning.empty());
    EXPECT_EQ(FindOpcode(known.value), info);
    const auto other = known.direction == kIn ? kOut : kIn;
    EXPECT_EQ(FindOpcode(known.value, other), nullptr);
  }
}

TEST(Opcodes, TableHoldsNothingElse) {
  for (const OpcodeInfo& info : kOpcodeTable) {
    SCOPED_TRACE(std::string(info.name));
    bool known = false;
    for (const Known& entry : kProtocol) {
      known = known || (entry.value == info.value && entry.direction == info.direction &&
                        entry.name == info.name);
    }
    EXPECT_TRUE(known);
  }
}

TEST(Opcodes, OtherValuesAreNotFound) {
  // 0 and -1 are the cipher's "no packet" and "out of sequence".
  for (const std::int16_t value : {0, -1, 123, 201, 204, 304, 1014}) {
    SCOPED_TRACE(value);
    EXPECT_EQ(FindOpcode(value), nullptr);
    EXPECT_EQ(FindOpcode(value, kIn), nullptr);
    EXPECT_EQ(FindOpcode(value, kOut), nullptr);
  }
}

}  // namespace
}  // namespace quorvane
