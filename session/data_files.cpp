#include "session/data_files.h"

#include "session/character_record.h"
#include "session/diagnostics.h"
#include "session/item_record.h"

namespace quorvane {

std::string_view DataFolderName(DataKind kind) {
  return kind == DataKind::kCharacter ? "characters" : "items";
}

std::size_t DataFileReadLimit(DataKind kind) {
  return kind == DataKind::kCharacter ? kCharacterRecordSize : kItemRecordSize * kItemRecordsRead;
}

std::string DataFileReport(DataKind kind, std::string_view path, std::string_view reason) {
  std::string report = "cannot read ";
  report += kind == DataKind::kCharacter ? "character file" : "item file";
  report += ' ';
  report += Quoted(path);
  report += ": ";
  report += reason;
  return report;
}

}  // namespace quorvane
