// The window's two tables: one row per slot, and one per live NPC. Cells are
// rewritten only where their text changed, so a refresh of an idle server
// repaints nothing.
#pragma once

#include <QTableWidget>

#include "host/server_status.h"

namespace quorvane {

enum SlotColumn {
  kStateColumn,
  kPeerColumn,
  kCharacterColumn,
  kLevelColumn,
  kClassColumn,
  kPositionColumn,
  kSinceColumn,
  kPacketsColumn,
  kBytesColumn,
  kDroppedColumn,
  kRefusalsColumn,
  kSlotColumnCount,
};

enum NpcColumn { kNpcNameColumn, kNpcPositionColumn, kNpcFacingColumn, kNpcColumnCount };

// A read-only table with a row per slot ("Server1", ...) and the slot columns.
QTableWidget* MakeSlotTable();
QTableWidget* MakeNpcTable();

void ShowSlots(QTableWidget& table, const ServerSnapshot& snapshot);
void ShowNpcs(QTableWidget& table, const ServerSnapshot& snapshot);

}  // namespace quorvane
