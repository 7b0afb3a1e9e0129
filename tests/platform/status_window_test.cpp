// The window's status panels on the offscreen platform, driven by a status
// model that hears a scripted sequence of connection events and reads its
// characters, counters and NPCs from a stand-in for the host.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QHeaderView>
#include <QImage>
#include <QScrollBar>
#include <QTextBlock>
#include <array>
#include <chrono>
#include <string>
#include <vector>

#include "fake_clock.h"
#include "host/server_status.h"
#include "platform/output/stderr_report.h"
#include "platform/window/server_window.h"
#include "platform/window/status_tables.h"
#include "spin.h"

namespace quorvane {
namespace {

using namespace std::chrono_literals;

class ScriptedSource final : public StatusSource {
 public:
  Character CharacterIn(std::size_t slot) const override { return characters[slot]; }
  TrafficCounters TrafficOf(std::size_t slot) const override { return traffic[slot]; }
  std::vector<NpcStatus> Npcs() const override { return npcs; }

  std::array<Character, kSlotCount> characters{};
  std::array<TrafficCounters, kSlotCount> traffic{};
  std::vector<NpcStatus> npcs;
};

class StatusWindowTest : public ::testing::Test {
 protected:
  StatusWindowTest() {
    window_.resize(1400, 860);
    window_.show();
  }

  void Refresh() {
    window_.Refresh(status_.Snapshot());
    QCoreApplication::processEvents();
  }

  QString Cell(int row, int column) {
    const QTableWidgetItem* item = window_.SlotTable().item(row, column);
    return item == nullptr ? QString() : item->text();
  }
  QString NpcCell(int row, int column) {
    const QTableWidgetItem* item = window_.NpcTable().item(row, column);
    return item == nullptr ? QString() : item->text();
  }

  // The map as drawn, and the colour at map coordinates.
  QColor MapColorAt(int x, int y) {
    const QImage picture = window_.Map().grab().toImage();
    return picture.pixelColor(window_.Map().PointFor(x, y).toPoint());
  }

  std::vector<std::string> MarkerNames() {
    std::vector<std::string> names;
    for (const MapMarker& marker : window_.Map().Markers()) {
      names.push_back(marker.name.toStdString());
    }
    return names;
  }

  testing::FakeClock clock_;
  ScriptedSource source_;
  ServerStatus status_{source_, clock_};
  ServerWindow window_;
};

TEST_F(StatusWindowTest, SlotTableFollowsEachSlotThroughItsConnection) {
  Refresh();
  EXPECT_EQ(window_.SlotTable().rowCount(), 2);
  // As the diagnostics name it; only the log box says Server2.
  EXPECT_EQ(window_.SlotTable().verticalHeaderItem(1)->text(), "slot 2");
  EXPECT_EQ(Cell(0, kStateColumn), "free");
  EXPECT_EQ(Cell(0, kPeerColumn), "");

  status_.ConnectionAccepted(0, "127.0.0.1:40000");
  clock_.Advance(65s);
  Refresh();
  EXPECT_EQ(Cell(0, kStateColumn), "awaiting hello");
  EXPECT_EQ(Cell(0, kPeerColumn), "127.0.0.1:40000");
  EXPECT_TRUE(Cell(0, kSinceColumn).endsWith("(1:05)")) << Cell(0, kSinceColumn).toStdString();
  EXPECT_EQ(Cell(0, kCharacterColumn), "");
  EXPECT_EQ(Cell(1, kStateColumn), "free");

  status_.HandshakeDone(0);
  Refresh();
  EXPECT_EQ(Cell(0, kStateColumn), "open");

  source_.characters[0] = {250, 0, 30, 31};
  source_.traffic[0].CountReceived(124, 8);
  source_.traffic[0].CountReceived(200, 54);
  source_.traffic[0].CountSent(125, 1024);
  source_.traffic[0].handshakeSent += {1, 1536};
  status_.LoggedIn(0, "Mirelle", true);
  status_.ConnectionAccepted(1, "[::1]:40001");
  status_.HandshakeDone(1);
  status_.LoggedIn(1, "Gh\xf6st", false);
  status_.ConnectionRefused("127.0.0.1:40002", RefusalReason::kSlotsFull);
  status_.RelayDropped(0, 1, 303, DropReason::kBackPressure);
  Refresh();
  EXPECT_EQ(Cell(0, kStateColumn), "logged in");
  EXPECT_EQ(Cell(0, kCharacterColumn), "Mirelle");
  EXPECT_EQ(Cell(0, kLevelColumn), "250");
  EXPECT_EQ(Cell(0, kClassColumn), "0");
  EXPECT_EQ(Cell(0, kPositionColumn), "30, 31");
  EXPECT_EQ(Cell(0, kPacketsColumn), "2 / 2");
  EXPECT_EQ(Cell(0, kBytesColumn), "62 B / 2.5 KiB");
  EXPECT_EQ(Cell(0, kRefusalsColumn), "1");
  EXPECT_EQ(Cell(0, kDroppedColumn), "0");
  EXPECT_EQ(Cell(1, kCharacterColumn), QString::fromUtf8("Ghöst (no file)"));
  EXPECT_EQ(Cell(1, kPeerColumn), "[::1]:40001");
  EXPECT_EQ(Cell(1, kRefusalsColumn), "0");
  EXPECT_EQ(Cell(1, kDroppedColumn), "1");

  status_.ConnectionClosed(0, CloseReason::kPeerClosed, HostCause::kNone, 1s);
  Refresh();
  EXPECT_EQ(Cell(0, kStateColumn), "free");
  for (int column = kPeerColumn; column < kSlotColumnCount; ++column) {
    EXPECT_EQ(Cell(0, column), "") << column;
  }
  EXPECT_EQ(Cell(1, kStateColumn), "logged in");
}

TEST_F(StatusWindowTest, NpcTableListsTheLiveNpcsWhereTheyStand) {
  Refresh();
  EXPECT_EQ(window_.NpcTable().rowCount(), 0);
  source_.npcs = {{"+Volkrin_ 0", 40, 50, 8}, {"+Volkrin_ 1", 70, 20, 3}};
  Refresh();
  ASSERT_EQ(window_.NpcTable().rowCount(), 2);
  EXPECT_EQ(NpcCell(0, kNpcNameColumn), "+Volkrin_ 0");
  EXPECT_EQ(NpcCell(0, kNpcPositionColumn), "40, 50");
  EXPECT_EQ(NpcCell(0, kNpcFacingColumn), QString::fromUtf8("8 ↑"));
  EXPECT_EQ(NpcCell(1, kNpcFacingColumn), QString::fromUtf8("3 ↘"));
  source_.npcs[1].x = 71;
  source_.npcs[1].facing = 6;
  Refresh();
  EXPECT_EQ(NpcCell(1, kNpcPositionColumn), "71, 20");
  EXPECT_EQ(NpcCell(1, kNpcFacingColumn), QString::fromUtf8("6 →"));
}

TEST_F(StatusWindowTest, MapShowsPlayersAtTheirLoginPositionAndNpcsAsTheyWalk) {
  source_.characters[0] = {40, 0, 30, 31};
  source_.characters[1] = {5, 0, 90, 95};
  source_.npcs = {{"+Volkrin_ 0", 60, 60, 2}, {"+Volkrin_ 1", 15, 80, 9}};
  status_.ConnectionAccepted(0, "127.0.0.1:40000");
  status_.LoggedIn(0, "Ada", true);
  status_.ConnectionAccepted(1, "127.0.0.1:40001");
  Refresh();
  // A player shows once logged in.
  EXPECT_EQ(MarkerNames(), (std::vector<std::string>{"Ada", "+Volkrin_ 0", "+Volkrin_ 1"}));
  status_.LoggedIn(1, "Pip", true);
  Refresh();
  EXPECT_EQ(MarkerNames(), (std::vector<std::string>{"Ada", "Pip", "+Volkrin_ 0", "+Volkrin_ 1"}));

  const MapMarker ada = window_.Map().Markers()[0];
  const MapMarker npc = window_.Map().Markers()[2];
  EXPECT_EQ(MapColorAt(30, 31), WorldMap::ColorOf(ada));
  EXPECT_EQ(MapColorAt(90, 95), WorldMap::ColorOf(window_.Map().Markers()[1]));
  EXPECT_NE(WorldMap::ColorOf(ada), WorldMap::ColorOf(window_.Map().Markers()[1]));
  EXPECT_EQ(MapColorAt(60, 60), WorldMap::ColorOf(npc));
  EXPECT_EQ(MapColorAt(15, 80), WorldMap::ColorOf(npc));
  const QColor empty = MapColorAt(100, 20);
  EXPECT_NE(empty, WorldMap::ColorOf(npc));

  // The NPC walks; the map follows at the next refresh.
  source_.npcs[0].x = 100;
  source_.npcs[0].y = 20;
  Refresh();
  EXPECT_EQ(window_.Map().Markers()[2].x, 100);
  EXPECT_EQ(MapColorAt(100, 20), WorldMap::ColorOf(npc));
  EXPECT_NE(MapColorAt(60, 60), WorldMap::ColorOf(npc));

  status_.ConnectionClosed(0, CloseReason::kReset, HostCause::kNone, 1s);
  Refresh();
  EXPECT_EQ(MarkerNames(), (std::vector<std::string>{"Pip", "+Volkrin_ 0", "+Volkrin_ 1"}));
  EXPECT_NE(MapColorAt(30, 31), WorldMap::ColorOf(ada));
}

// Players and NPCs a step apart, one at the right edge: each name finds a
// place of its own, on no marker and inside the map.
TEST(WorldMapTest, NamesKeepClearOfEachOtherAndOfEveryMarker) {
  WorldMap map;
  map.resize(340, 340);
  using Kind = MapMarker::Kind;
  map.SetMarkers({{Kind::kPlayer, "Mirelle", 42, 57, 0, 0},
                  {Kind::kPlayer, "Torvald", 44, 58, 0, 1},
                  {Kind::kNpc, "+Volkrin_ 0", 43, 57, 6, 0},
                  {Kind::kNpc, "+Volkrin_ 1", 42, 60, 2, 1},
                  {Kind::kNpc, "+Volkrin_ 2", WorldMap::kExtent, 0, 4, 2},
                  {Kind::kNpc, "+Volkrin_ 3", 0, 50, 8, 3}});
  const std::vector<QRectF> places = map.LabelPlaces();
  ASSERT_EQ(places.size(), map.Markers().size());
  for (std::size_t i = 0; i < places.size(); ++i) {
    const std::string name = map.Markers()[i].name.toStdString();
    EXPECT_TRUE(QRectF(map.rect()).contains(places[i])) << name;
    // Off the coordinates: right of the grid's left edge, above its bottom.
    EXPECT_GE(places[i].left(), map.PointFor(0, 0).x()) << name;
    EXPECT_LE(places[i].bottom(), map.PointFor(0, WorldMap::kExtent).y()) << name;
    for (std::size_t j = 0; j < places.size(); ++j) {
      if (j != i) {
        EXPECT_FALSE(places[i].intersects(places[j])) << name << " and " << j;
      }
      EXPECT_FALSE(places[i].intersects(map.MarkerBox(map.Markers()[j])))
          << name << " covers marker " << j;
    }
  }
}

// At its default size the window fits a 1280x800 screen with room for a title
// bar; what does not fit scrolls inside its panel.
TEST_F(StatusWindowTest, DefaultSizeFitsA1280By800Screen) {
  source_.characters[0] = {250, 0, 42, 57};
  source_.characters[1] = {40, 1, 44, 58};
  source_.npcs = {{"+Volkrin_ 0", 43, 57, 6}, {"+Volkrin_ 1", 42, 60, 2}};
  status_.ConnectionAccepted(0, "[2001:db8:1234:5678:9abc:def0:1234:5678]:40000");
  status_.LoggedIn(0, "Mirelle", true);
  status_.ConnectionAccepted(1, "127.0.0.1:40001");
  status_.LoggedIn(1, "Torvald", true);
  for (int i = 0; i < 5; ++i) status_.ConnectionRefused("127.0.0.2:5", RefusalReason::kSlotsFull);
  ServerWindow fresh;
  fresh.show();
  fresh.Refresh(status_.Snapshot());
  fresh.Diagnostics().Append(std::string(300, 'x'));
  fresh.Diagnostics().Flush();
  QCoreApplication::processEvents();

  EXPECT_LE(fresh.width(), 1280);
  EXPECT_LE(fresh.height(), 760);
  EXPECT_LE(fresh.minimumSizeHint().width(), fresh.width());
  EXPECT_LE(fresh.minimumSizeHint().height(), fresh.height());
  const std::vector<QWidget*> panels{&fresh.Text1(), &fresh.SlotTable(), &fresh.NpcTable(),
                                     &fresh.Map(), &fresh.Diagnostics()};
  for (QWidget* panel : panels) {
    const QRect placed(panel->mapTo(&fresh, QPoint(0, 0)), panel->size());
    EXPECT_TRUE(fresh.rect().contains(placed)) << panel->objectName().toStdString();
  }
  // Columns beyond the panel's width are reached by scrolling, up to the last.
  for (QTableWidget* table : {&fresh.SlotTable(), &fresh.NpcTable()}) {
    const int beyond = table->horizontalHeader()->length() - table->viewport()->width();
    EXPECT_EQ(table->horizontalScrollBar()->maximum(), std::max(beyond, 0))
        << table->objectName().toStdString();
  }
  EXPECT_GT(fresh.Diagnostics().horizontalScrollBar()->maximum(), 0);
}

TEST_F(StatusWindowTest, MarkersBeyondTheGridStandOnItsEdge) {
  WorldMap& map = window_.Map();
  EXPECT_EQ(map.PointFor(500, -3), map.PointFor(WorldMap::kExtent, 0));
  EXPECT_EQ(map.PointFor(-1, 32767), map.PointFor(0, WorldMap::kExtent));
  EXPECT_LT(map.PointFor(0, 0).x(), map.PointFor(1, 0).x());
  EXPECT_LT(map.PointFor(0, 0).y(), map.PointFor(0, 1).y());
}

TEST_F(StatusWindowTest, StatusLineSaysWhereTheServerListensAndWhatItCounted) {
  status_.ConnectionAccepted(0, "127.0.0.1:40000");
  status_.ConnectionAccepted(1, "127.0.0.1:40001");
  status_.ConnectionRefused("127.0.0.1:40002", RefusalReason::kSlotsFull);
  status_.ConnectionRefused("192.0.2.1:5", RefusalReason::kBanned);
  status_.AddressBanned("192.0.2.1", BanReason::kConnectionRate, 60s);
  clock_.Advance(3723s);
  status_.AddressBanned("192.0.2.2", BanReason::kConnectionRate, 60s);
  window_.Watch([this] { return status_.Snapshot(); }, "127.0.0.1:10217");
  EXPECT_EQ(window_.StatusLine().text(),
            QString::fromUtf8("Listening on 127.0.0.1:10217 · up 1:02:03 · accepted 2 · refused 2 "
                              "· bans in force 1"));
}

TEST_F(StatusWindowTest, WatchedWindowRefreshesByItself) {
  window_.Watch([this] { return status_.Snapshot(); }, "127.0.0.1:10217");
  EXPECT_EQ(Cell(0, kStateColumn), "free");
  status_.ConnectionAccepted(0, "127.0.0.1:40000");
  EXPECT_EQ(Cell(0, kStateColumn), "free");  // not per event
  EXPECT_TRUE(testing::SpinUntil([&] { return Cell(0, kStateColumn) == "awaiting hello"; }, 2s));
}

TEST_F(StatusWindowTest, DiagnosticsShowAtTheRefreshAndKeepTheLastTenThousandLines) {
  DiagnosticsPane& pane = window_.Diagnostics();
  pane.Append("quorvane: first");
  EXPECT_EQ(pane.toPlainText(), "");
  Refresh();
  EXPECT_EQ(pane.toPlainText(), "quorvane: first");

  for (int i = 0; i < kDiagnosticsLines + 50; ++i) pane.Append("line " + std::to_string(i));
  Refresh();
  EXPECT_EQ(pane.blockCount(), kDiagnosticsLines);
  EXPECT_EQ(pane.document()->firstBlock().text(), "line 50");
  EXPECT_EQ(pane.document()->lastBlock().text(), QString("line %1").arg(kDiagnosticsLines + 49));

  pane.Append("one more");
  Refresh();
  EXPECT_EQ(pane.blockCount(), kDiagnosticsLines);
  EXPECT_EQ(pane.document()->lastBlock().text(), "one more");
  EXPECT_EQ(pane.document()->firstBlock().text(), "line 51");
}

TEST(DiagnosticsTapTest, TapGetsEveryReportLineAsWrittenOnStderrWhileItLives) {
  std::vector<std::string> lines;
  ::testing::internal::CaptureStderr();
  {
    const DiagnosticsTap tap([&](std::string_view line) { lines.emplace_back(line); });
    ReportOnStderr({Severity::kWarning, "slot 1 127.0.0.1:1", "closed: no handshake within 10 s"});
  }
  ReportOnStderr({Severity::kInfo, "", "after the tap"});
  const std::string written = ::testing::internal::GetCapturedStderr();

  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(lines[0].ends_with(" W slot 1 127.0.0.1:1: closed: no handshake within 10 s"))
      << lines[0];
  EXPECT_TRUE(written.starts_with(lines[0] + "\n")) << written;
  EXPECT_NE(written.find(" I after the tap\n"), std::string::npos) << written;
}

}  // namespace
}  // namespace quorvane
