#include "npc_announcements.h"

#include <algorithm>

#include "host/form1.h"
#include "session/wire_fields.h"

namespace quorvane {
namespace {

constexpr std::size_t kAppearanceSize = 53;
constexpr std::size_t kNameOffset = 1;
constexpr std::size_t kNameSize = 17;

}  // namespace

Bytes NpcAppearance(const NpcRecord& npc) {
  Bytes payload(kAppearanceSize, 0);
  payload[0] = 0x02;
  std::copy_n(npc.Name.begin(), std::min(npc.Name.size(), kNameSize),
              payload.begin() + kNameOffset);
  payload[18] = 0x38;
  payload[24] = static_cast<std::uint8_t>(npc.Dir);
  payload[36] = 0x1E;
  payload[37] = 0x1E;
  const auto x = PackInt(npc.X);
  std::copy(x.begin(), x.end(), payload.begin() + 46);
  const auto y = PackInt(npc.Y);
  std::copy(y.begin(), y.end(), payload.begin() + 48);
  payload[50] = 0x01;
  payload[51] = 0x00;
  payload[52] = 0x01;
  return payload;
}

Bytes NpcStep(const NpcRecord& before, std::int16_t newDir) {
  Bytes payload = NpcAppearance(before);
  payload.push_back(static_cast<std::uint8_t>(newDir));
  return payload;
}

}  // namespace quorvane
