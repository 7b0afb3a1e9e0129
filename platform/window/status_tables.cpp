#include "platform/window/status_tables.h"

#include <QDateTime>
#include <QHeaderView>
#include <array>
#include <chrono>

#include "host/status_names.h"
#include "status_text.h"

namespace quorvane {
namespace {

QTableWidget* MakeTable(int rows, const QStringList& columns) {
  auto* table = new QTableWidget(rows, static_cast<int>(columns.size()));
  table->setHorizontalHeaderLabels(columns);
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->setSelectionMode(QAbstractItemView::NoSelection);
  table->setFocusPolicy(Qt::NoFocus);
  table->setWordWrap(false);
  // Columns that do not fit scroll smoothly, to the last one's edge.
  table->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  table->horizontalHeader()->setStretchLastSection(true);
  table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  return table;
}

void SetCell(QTableWidget& table, int row, int column, const QString& text) {
  QTableWidgetItem* item = table.item(row, column);
  if (item == nullptr) {
    item = new QTableWidgetItem(text);
    table.setItem(row, column, item);
  } else if (item->text() != text) {
    item->setText(text);
  }
}

QString Since(const SlotStatus& slot) {
  const auto epochMs =
      std::chrono::duration_cast<std::chrono::milliseconds>(slot.connectedAt.time_since_epoch());
  const QString clock = QDateTime::fromMSecsSinceEpoch(epochMs.count()).toString("HH:mm:ss");
  return QString("%1 (%2)").arg(clock, Elapsed(slot.connectedFor));
}

std::array<QString, kSlotColumnCount> SlotRow(const SlotStatus& slot) {
  std::array<QString, kSlotColumnCount> cells;
  cells[kStateColumn] = Shown(NameOf(slot.state));
  if (slot.state == SlotState::kFree) return cells;
  const PacketTally in = slot.traffic.TotalReceived();
  const PacketTally out = slot.traffic.TotalSent();
  cells[kPeerColumn] = GameText(slot.peer);
  cells[kSinceColumn] = Since(slot);
  cells[kPacketsColumn] = QString("%1 / %2").arg(in.packets).arg(out.packets);
  cells[kBytesColumn] = QString("%1 / %2").arg(ByteSize(in.bytes), ByteSize(out.bytes));
  cells[kDroppedColumn] = QString::number(slot.relaysDropped);
  cells[kRefusalsColumn] = QString::number(slot.refusals);
  if (slot.state != SlotState::kLoggedIn) return cells;
  cells[kCharacterColumn] = GameText(slot.character) + (slot.characterFound ? "" : " (no file)");
  cells[kLevelColumn] = QString::number(slot.level);
  cells[kClassColumn] = QString::number(slot.characterClass);
  cells[kPositionColumn] = QString("%1, %2").arg(slot.x).arg(slot.y);
  return cells;
}

}  // namespace

QTableWidget* MakeSlotTable() {
  QTableWidget* table =
      MakeTable(static_cast<int>(kSlotCount),
                {"State", "Peer", "Character", "Level", "Class", "Position", "Connected since",
                 "Packets in / out", "Bytes in / out", "Relays dropped", "Refusals"});
  table->setObjectName("SlotTable");
  QStringList rows;
  // Named as the diagnostics name them; only the log box says Server1.
  for (std::size_t slot = 0; slot < kSlotCount; ++slot) rows << QString("slot %1").arg(slot + 1);
  table->setVerticalHeaderLabels(rows);
  return table;
}

QTableWidget* MakeNpcTable() {
  QTableWidget* table = MakeTable(0, {"Name", "Position", "Facing"});
  table->setObjectName("NpcTable");
  table->verticalHeader()->hide();
  return table;
}

void ShowSlots(QTableWidget& table, const ServerSnapshot& snapshot) {
  for (std::size_t slot = 0; slot < snapshot.slotTable.size(); ++slot) {
    const auto cells = SlotRow(snapshot.slotTable[slot]);
    for (int column = 0; column < kSlotColumnCount; ++column) {
      SetCell(table, static_cast<int>(slot), column, cells[static_cast<std::size_t>(column)]);
    }
  }
}

void ShowNpcs(QTableWidget& table, const ServerSnapshot& snapshot) {
  const int rows = static_cast<int>(snapshot.npcs.size());
  if (table.rowCount() != rows) table.setRowCount(rows);
  for (int row = 0; row < rows; ++row) {
    const NpcStatus& npc = snapshot.npcs[static_cast<std::size_t>(row)];
    SetCell(table, row, kNpcNameColumn, GameText(npc.name));
    SetCell(table, row, kNpcPositionColumn, QString("%1, %2").arg(npc.x).arg(npc.y));
    SetCell(table, row, kNpcFacingColumn, Facing(npc.facing));
  }
}

}  // namespace quorvane
