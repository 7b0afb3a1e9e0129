// An item file with any content: the loader returns the whole records among
// the first 128 bytes, and the login sends the four fixed entries, then one
// packet per record with a positive Count, carrying the record's 8 bytes and
// 10 zeros.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_check.h"
#include "fuzz_login.h"
#include "memory_data_folder.h"
#include "session/item_record.h"
#include "session/opcodes.h"

namespace {

using quorvane::Bytes;
using quorvane::fuzz::Require;

constexpr std::size_t kFixedEntries = 4;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static quorvane::testing::MemoryDataFolder folder;
  folder.WriteItems(quorvane::fuzz::kFuzzName, quorvane::Bytes(data, data + size));

  const std::size_t whole = std::min<std::size_t>(size, 128) / 8;
  const auto records = quorvane::LoadItems(folder, quorvane::fuzz::kFuzzName);
  Require(records.has_value() && records->size() == whole, "whole records among the first 16");

  std::vector<Bytes> expected;
  for (std::size_t r = 0; r < whole; ++r) {
    const std::uint8_t* record = data + 8 * r;
    const quorvane::ItemRecord& loaded = (*records)[r];
    Require(loaded.Kind == record[0] && loaded.Index == record[1] &&
                loaded.Word1 == static_cast<std::int16_t>(record[2] | record[3] << 8) &&
                loaded.Word2 == static_cast<std::int16_t>(record[4] | record[5] << 8) &&
                loaded.Count == static_cast<std::int16_t>(record[6] | record[7] << 8),
            "a record's fields come from its 8 bytes");
    if (static_cast<std::int16_t>(record[6] | record[7] << 8) > 0) {
      Bytes payload(record, record + 8);
      payload.resize(18, 0x00);
      expected.push_back(payload);
    }
  }

  std::vector<Bytes> sent;
  for (const auto& packet : quorvane::fuzz::LogInAsFuzz(folder)) {
    if (packet.opcode == quorvane::opcode::kItem) sent.push_back(packet.payload);
  }
  Require(sent.size() == kFixedEntries + expected.size(), "one item packet per non-empty record");
  Require(std::equal(expected.begin(), expected.end(), sent.begin() + kFixedEntries),
          "item packets carry the records' bytes");
  return 0;
}
