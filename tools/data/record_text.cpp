#include "record_text.h"

#include <algorithm>
#include <iomanip>
#include <sstream>
#include <string_view>

#include "session/character_fields.h"
#include "session/character_record.h"
#include "session/item_record.h"

namespace quorvane::data {
namespace {

constexpr std::int64_t kPackIntMax = 32767;

// Printable ASCII as it stands, other bytes as \xNN; trailing 00 bytes dropped.
std::string QuotedText(ByteView text) {
  while (!text.empty() && text.back() == 0x00) text = text.first(text.size() - 1);
  std::ostringstream quoted;
  quoted << '"' << std::hex << std::uppercase << std::setfill('0');
  for (const std::uint8_t byte : text) {
    if (byte >= 0x20 && byte < 0x7F && byte != '"' && byte != '\\') {
      quoted << static_cast<char>(byte);
    } else {
      quoted << "\\x" << std::setw(2) << int{byte};
    }
  }
  quoted << '"';
  return quoted.str();
}

void NoteIfOutside(std::ostream& out, std::int64_t value, std::int64_t min, std::int64_t max) {
  if (value < min || value > max) {
    out << "  (outside " << min << ".." << max << ": not sent as intended)";
  }
}

}  // namespace

std::string DescribeCharacterFile(ByteView bytes) {
  const CharacterRecord record = DecodeCharacterRecord(bytes);
  std::ostringstream text;
  text << std::left;
  if (bytes.size() < kCharacterRecordSize) {
    text << "# " << bytes.size() << " bytes: the missing " << kCharacterRecordSize - bytes.size()
         << " read as zero\n";
  }
  text << std::setw(8) << "Name" << ' ' << QuotedText(record.Name) << '\n';
  for (const auto& field : NumericCharacterFields()) {
    const std::int64_t value = field.get(record);
    text << std::setw(8) << field.name << ' ' << value;
    NoteIfOutside(text, value, field.sendMin, field.sendMax);
    text << '\n';
  }
  if (record.Class != 0) text << "# Class is not 0: no spells are sent\n";
  return text.str();
}

std::string DescribeItemFile(ByteView bytes) {
  std::ostringstream text;
  std::size_t number = 1;
  for (; bytes.size() >= kItemRecordSize; bytes = bytes.subspan(kItemRecordSize), ++number) {
    const ItemRecord item = DecodeItemRecord(bytes);
    text << std::setw(2) << number << ": Kind " << int{item.Kind} << " Index " << int{item.Index}
         << " Word1 " << item.Word1 << " Word2 " << item.Word2 << " Count " << item.Count;
    if (number > kItemRecordsRead) {
      text << "  (past record " << kItemRecordsRead << ": never read)";
    } else if (item.Count <= 0) {
      text << "  (empty: not sent)";
    } else {
      NoteIfOutside(text, std::min(item.Word1, item.Word2), 0, kPackIntMax);
    }
    text << '\n';
  }
  if (!bytes.empty()) {
    text << "# " << bytes.size() << " trailing bytes: not a whole record, never sent\n";
  }
  if (number == 1 && bytes.empty()) text << "# no records\n";
  return text.str();
}

}  // namespace quorvane::data
