// SendItems: four entries every character carries, then the non-empty
// records of the character's item file, one packet each.
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

Bytes ItemPayload(const ItemRecord& item) {
  Bytes payload{item.Kind, item.Index};
  Append(payload, PackInt(item.Word1));
  Append(payload, PackInt(item.Word2));
  Append(payload, PackInt(item.Count));
  payload.resize(kItemPayloadSize, 0x00);
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
