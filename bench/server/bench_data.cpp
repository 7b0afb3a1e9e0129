#include "bench_data.h"

#include <stdlib.h>

#include <QStringList>
#include <sstream>
#include <stdexcept>

#include "data_command.h"

namespace quorvane::bench {
namespace {

constexpr int kItemRecords = 16;

void RunTool(QStringList arguments) {
  arguments.prepend("quorvane-data");
  std::ostringstream out;
  std::ostringstream err;
  if (data::RunDataCommand(arguments, out, err) != 0) {
    throw std::runtime_error("quorvane-data " + arguments.join(' ').toStdString() + ": " +
                             err.str());
  }
}

}  // namespace

BenchData::BenchData() {
  std::string pattern = (std::filesystem::temp_directory_path() / "quorvane-bench-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  root_ = pattern;
  std::filesystem::create_directory(root_ / "characters");
  std::filesystem::create_directory(root_ / "items");
  const auto file = [&](const char* folder) {
    return QString::fromStdString((root_ / folder / kCharacterName).string());
  };

  RunTool({"new-character",
           "--name",
           kCharacterName,
           "--level",
           "600",
           "--class",
           "0",
           "--stat1a",
           "5200",
           "--stat1b",
           "5200",
           "--stat2a",
           "3100",
           "--stat2b",
           "3100",
           "--stat7",
           "98000",
           "--posx",
           QString::number(kCharacterX),
           "--posy",
           QString::number(kCharacterY),
           file("characters")});
  QStringList items{"new-items"};
  for (int record = 0; record < kItemRecords; ++record) {
    items << "--item"
          << QString("%1,%2,%3,%4,%5")
                 .arg(1 + record % 5)
                 .arg(record)
                 .arg(10 + record)
                 .arg(200 + record)
                 .arg(1 + record);
  }
  items << file("items");
  RunTool(items);
}

BenchData::~BenchData() {
  std::error_code ignored;
  std::filesystem::remove_all(root_, ignored);
}

}  // namespace quorvane::bench
