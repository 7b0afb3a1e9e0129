// The main window: caption "Quorvane" and the read-only log box Text1, and
// beside it what the operator watches: the slot table, the NPC table, a map,
// the diagnostics pane and a status line. Those are refreshed from status
// snapshots on a timer a few times a second, never per event, so that a storm
// of connections costs the window no more than a quiet server.
#pragma once

#include <QLabel>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QTableWidget>
#include <QTimer>
#include <chrono>
#include <functional>

#include "host/server_status.h"
#include "platform/window/diagnostics_pane.h"
#include "platform/window/world_map.h"

namespace quorvane {

inline constexpr std::chrono::milliseconds kWindowRefresh{250};

class ServerWindow final : public QMainWindow {
 public:
  ServerWindow();

  QPlainTextEdit& Text1() { return *text1_; }
  DiagnosticsPane& Diagnostics() { return *diagnostics_; }
  QTableWidget& SlotTable() { return *slots_; }
  QTableWidget& NpcTable() { return *npcs_; }
  WorldMap& Map() { return *map_; }
  QLabel& StatusLine() { return *statusLine_; }

  // From now on refreshes every kWindowRefresh from what `read` returns;
  // `endpoint` is the "ADDR:PORT" the server listens on.
  void Watch(std::function<ServerSnapshot()> read, QString endpoint);
  // Shows `snapshot` and the diagnostics gathered since the last refresh.
  void Refresh(const ServerSnapshot& snapshot);

 private:
  QPlainTextEdit* text1_;
  QTableWidget* slots_;
  QTableWidget* npcs_;
  WorldMap* map_;
  DiagnosticsPane* diagnostics_;
  QLabel* statusLine_;
  QTimer refresh_;
  std::function<ServerSnapshot()> read_;
  QString endpoint_;
};

}  // namespace quorvane
