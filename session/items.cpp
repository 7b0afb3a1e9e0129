// SendItems: four entries every character carries, then the non-empty
// records of the character's item file, one packet each.
#include <algorithm>
#include <array>
#include <cstdint>

#include "session/data_file_names.h"
#include "session/item_record.h"
#include "session/opcodes.h"
#include "session/server_socket.h"
#include "session/wire_fields.h"

namespace quorvane {
namespace {

constexpr std::size_t kItemPayloadSize = 18;

constexpr ItemRecord kFixedItems[] = {
    {.Kind = 3, .Index = 0, .Word1 = 4, .Word2 = 34, .Count = 100},
    {.Kind = 1, .Index = 0, .Word1 = 1, .Word2 = 241, .Count = 1},
    {.Kind = 1, .Index = 1, .Word1 = 2, .Word2 = 129, .Count = 1},
    {.Kind = 1, .Index = 2, .Word1 = 3, .Word2 = 53, .Count = 1},
};

// On the stack: a login sends up to twenty of them.
std::array<std::uint8_t, kItemPayloadSize> ItemPayload(const ItemRecord& item) {
  std::array<std::uint8_t, kItemPayloadSize> payload{item.Kind, item.Index};
  auto at = payload.begin() + 2;
  for (const std::int16_t word : {item.Word1, item.Word2, item.Count}) {
    const auto packed = PackInt(word);
    at = std::copy(packed.begin(), packed.end(), at);
  }
  return payload;
}

}  // namespace

void ServerSocket::SendItems() {
  if (!Ready()) return;
  for (const auto& item : kFixedItems) SendSealed(opcode::kItem, ItemPayload(item));
  const auto records = LoadItems(data_, CharacterFileName(NameField), diagnostics_);
  if (!records) return;
  for (const auto& item : *records) {
    if (item.Count > 0) SendSealed(opcode::kItem, ItemPayload(item));
  }
}

}  // namespace quorvane
