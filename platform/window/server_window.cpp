#include "platform/window/server_window.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QScrollBar>
#include <QSplitter>
#include <QStatusBar>
#include <QVBoxLayout>
#include <utility>

#include "platform/window/status_tables.h"
#include "status_text.h"

namespace quorvane {
namespace {

// The log box's place in the client area, at 15 twips a pixel: it starts 8
// pixels in and leaves 6 on the right and 5 below.
constexpr int kLogLeft = 8;
constexpr int kLogTop = 8;
constexpr int kLogRight = 6;
constexpr int kLogBottom = 5;
constexpr int kLogWidth = 420;
// Fits a 1280x800 screen with a title bar and a panel; the tables scroll
// what does not fit.
constexpr int kWindowWidth = 1240;
constexpr int kWindowHeight = 720;

QGroupBox* Framed(const QString& title, QWidget* content) {
  auto* box = new QGroupBox(title);
  auto* layout = new QVBoxLayout(box);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->addWidget(content);
  return box;
}

std::vector<MapMarker> MarkersOf(const ServerSnapshot& snapshot) {
  std::vector<MapMarker> markers;
  for (std::size_t slot = 0; slot < snapshot.slotTable.size(); ++slot) {
    const SlotStatus& status = snapshot.slotTable[slot];
    if (status.state != SlotState::kLoggedIn) continue;
    markers.push_back({MapMarker::Kind::kPlayer, GameText(status.character), status.x, status.y, 0,
                       static_cast<int>(slot)});
  }
  for (std::size_t npc = 0; npc < snapshot.npcs.size(); ++npc) {
    const NpcStatus& status = snapshot.npcs[npc];
    markers.push_back({MapMarker::Kind::kNpc, GameText(status.name), status.x, status.y,
                       status.facing, static_cast<int>(npc)});
  }
  return markers;
}

}  // namespace

ServerWindow::ServerWindow()
    : text1_(new QPlainTextEdit),
      slots_(MakeSlotTable()),
      npcs_(MakeNpcTable()),
      map_(new WorldMap),
      diagnostics_(new DiagnosticsPane),
      statusLine_(new QLabel) {
  setWindowTitle("Quorvane");
  text1_->setObjectName("Text1");
  text1_->setReadOnly(true);
  text1_->setLineWrapMode(QPlainTextEdit::NoWrap);
  text1_->setMinimumWidth(kLogWidth);

  // The slots take the height of their rows; the rest goes to the map and
  // the diagnostics.
  // Every row in view, with room for the scroll bar a narrow window needs.
  slots_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  slots_->setFixedHeight(slots_->horizontalHeader()->sizeHint().height() +
                         slots_->rowCount() * slots_->verticalHeader()->defaultSectionSize() +
                         slots_->horizontalScrollBar()->sizeHint().height() +
                         2 * slots_->frameWidth());
  auto* world = new QWidget;
  auto* worldLayout = new QHBoxLayout(world);
  worldLayout->setContentsMargins(0, 0, 0, 0);
  worldLayout->addWidget(Framed("Map", map_), 3);
  worldLayout->addWidget(Framed("NPCs", npcs_), 2);
  auto* panels = new QSplitter(Qt::Vertical);
  panels->addWidget(Framed("Slots", slots_));
  panels->addWidget(world);
  panels->addWidget(Framed("Diagnostics", diagnostics_));
  panels->setStretchFactor(1, 3);
  panels->setStretchFactor(2, 2);

  auto* area = new QWidget;
  auto* layout = new QHBoxLayout(area);
  layout->setContentsMargins(kLogLeft, kLogTop, kLogRight, kLogBottom);
  layout->addWidget(text1_, 0);
  layout->addWidget(panels, 1);
  setCentralWidget(area);

  statusLine_->setObjectName("StatusLine");
  statusBar()->addWidget(statusLine_, 1);
  resize(kWindowWidth, kWindowHeight);

  connect(&refresh_, &QTimer::timeout, this, [this] { Refresh(read_()); });
}

void ServerWindow::Watch(std::function<ServerSnapshot()> read, QString endpoint) {
  read_ = std::move(read);
  endpoint_ = std::move(endpoint);
  Refresh(read_());
  refresh_.start(kWindowRefresh);
}

void ServerWindow::Refresh(const ServerSnapshot& snapshot) {
  ShowSlots(*slots_, snapshot);
  ShowNpcs(*npcs_, snapshot);
  map_->SetMarkers(MarkersOf(snapshot));
  const QString status = quorvane::StatusLine(endpoint_, snapshot);
  if (statusLine_->text() != status) statusLine_->setText(status);
  diagnostics_->Flush();
}

}  // namespace quorvane
