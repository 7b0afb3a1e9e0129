// SendSpells: the fixed list, cut by Level, for Class 0 only.
#include <gtest/gtest.h>

#include "login_session.h"

namespace quorvane::testing {
namespace {

// The whole list in the order it goes out.
const std::vector<Bytes> kAllSpells{
    {0x01, 0x00, 0x01, 0x00}, {0x02, 0x00, 0x5B, 0x00}, {0x01, 0x01, 0x02, 0x00},
    {0x01, 0x02, 0x03, 0x00}, {0x01, 0x03, 0x04, 0x00}, {0x01, 0x04, 0x05, 0x00},
    {0x01, 0x05, 0x06, 0x00}, {0x01, 0x06, 0x0A, 0x00}, {0x01, 0x07, 0x2D, 0x01},
    {0x01, 0x08, 0x30, 0x01},
};

struct SpellCase {
  std::uint8_t cls;
  std::int16_t level;
  std::size_t entries;  // how many of the list, from its start
};

void PrintTo(const SpellCase& spellCase, std::ostream* out) {
  *out << "Class " << int{spellCase.cls} << ", Level " << spellCase.level;
}

class SpellsTest : public LoginSessionTest, public ::testing::WithParamInterface<SpellCase> {};

TEST_P(SpellsTest, SendsTheEntriesThatLevelEarns) {
  const SpellCase& spellCase = GetParam();
  data.WriteCharacter("Mage", CharacterFile({.level = spellCase.level, .cls = spellCase.cls}));
  Login(NameBlock("Mage"));

  harness.session.SendSpells();

  std::vector<Packet> expected;
  for (std::size_t i = 0; i < spellCase.entries; ++i)
    expected.push_back({opcode::kSpell, kAllSpells[i]});
  EXPECT_EQ(harness.Received(), expected);
}

INSTANTIATE_TEST_SUITE_P(ByClassAndLevel, SpellsTest,
                         ::testing::Values(SpellCase{0, 0, 2}, SpellCase{0, -1, 2},
                                           SpellCase{0, 9, 2}, SpellCase{0, 10, 3},
                                           SpellCase{0, 49, 3}, SpellCase{0, 50, 4},
                                           SpellCase{0, 250, 6}, SpellCase{0, 499, 8},
                                           SpellCase{0, 599, 9}, SpellCase{0, 600, 10},
                                           SpellCase{0, 32767, 10}, SpellCase{1, 600, 0},
                                           SpellCase{255, 0, 0}));

}  // namespace
}  // namespace quorvane::testing
