#include "platform/window/world_map.h"

#include <QPainter>
#include <algorithm>
#include <utility>

namespace quorvane {
namespace {

// Room for the coordinates left of and below the grid.
constexpr qreal kLabelLeft = 30;
constexpr qreal kLabelBottom = 20;
constexpr qreal kMargin = 8;
constexpr int kGridStep = 10;
constexpr qreal kMarkerRadius = 5;
constexpr qreal kFacingLength = 12;

const QColor kPlayerColors[] = {QColor(0x1f, 0x6f, 0xd1), QColor(0x2a, 0x9d, 0x3a)};
const QColor kNpcColor(0xe0, 0x6c, 0x00);

}  // namespace

WorldMap::WorldMap(QWidget* parent) : QWidget(parent) {
  setObjectName("WorldMap");
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void WorldMap::SetMarkers(std::vector<MapMarker> markers) {
  if (markers == markers_) return;
  markers_ = std::move(markers);
  update();
}

QColor WorldMap::ColorOf(const MapMarker& marker) {
  if (marker.kind == MapMarker::Kind::kNpc) return kNpcColor;
  return kPlayerColors[static_cast<std::size_t>(marker.index) % std::size(kPlayerColors)];
}

// The largest square that fits, centred across the width.
QRectF WorldMap::Grid() const {
  const qreal room = width() - kLabelLeft - kMargin;
  const qreal side = std::max<qreal>(10, std::min(room, height() - kMargin - kLabelBottom));
  return {kLabelLeft + (room - side) / 2, kMargin, side, side};
}

QPointF WorldMap::PointFor(int x, int y) const {
  const QRectF grid = Grid();
  const qreal scale = grid.width() / kExtent;
  return {grid.left() + std::clamp(x, 0, kExtent) * scale,
          grid.top() + std::clamp(y, 0, kExtent) * scale};
}

void WorldMap::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.fillRect(rect(), palette().base());
  const QRectF grid = Grid();
  const QColor text = palette().text().color();

  // Lines every 10, coordinates on every line, or every other one when the
  // grid is too small for them all.
  const int labelStep = grid.width() < 260 ? 2 * kGridStep : kGridStep;
  QFont small = font();
  small.setPointSizeF(std::max(6.0, small.pointSizeF() * 0.8));
  painter.setFont(small);
  for (int at = 0; at <= kExtent; at += kGridStep) {
    const QPointF across = PointFor(at, 0);
    const QPointF down = PointFor(0, at);
    painter.setPen(QPen(at % 50 == 0 ? QColor(0xb0, 0xb0, 0xb0) : QColor(0xe2, 0xe2, 0xe2), 1));
    painter.drawLine(QPointF(across.x(), grid.top()), QPointF(across.x(), grid.bottom()));
    painter.drawLine(QPointF(grid.left(), down.y()), QPointF(grid.right(), down.y()));
    if (at % labelStep != 0) continue;
    painter.setPen(text);
    painter.drawText(QRectF(across.x() - 15, grid.bottom() + 2, 30, kLabelBottom - 4),
                     Qt::AlignHCenter | Qt::AlignTop, QString::number(at));
    painter.drawText(QRectF(grid.left() - kLabelLeft, down.y() - 8, kLabelLeft - 4, 16),
                     Qt::AlignRight | Qt::AlignVCenter, QString::number(at));
  }
  painter.setPen(QPen(QColor(0x80, 0x80, 0x80), 1));
  painter.drawRect(grid);

  painter.setFont(font());
  for (const MapMarker& marker : markers_) {
    const QPointF at = PointFor(marker.x, marker.y);
    const QColor fill = ColorOf(marker);
    if (marker.kind == MapMarker::Kind::kNpc && marker.facing >= 1 && marker.facing <= 9 &&
        marker.facing != 5) {
      const int dx = (marker.facing - 1) % 3 - 1;
      const int dy = 1 - (marker.facing - 1) / 3;
      painter.setPen(QPen(fill.darker(130), 2));
      painter.drawLine(at, at + QPointF(dx, dy) * (kFacingLength / (dx && dy ? 1.4142 : 1.0)));
    }
    painter.setPen(QPen(fill.darker(150), 1));
    painter.setBrush(fill);
    if (marker.kind == MapMarker::Kind::kNpc) {
      painter.drawRect(QRectF(at.x() - kMarkerRadius, at.y() - kMarkerRadius, 2 * kMarkerRadius,
                              2 * kMarkerRadius));
    } else {
      painter.drawEllipse(at, kMarkerRadius + 1, kMarkerRadius + 1);
    }
    painter.setBrush(Qt::NoBrush);
    painter.setPen(text);
    const QString label = QString("%1 (%2, %3)").arg(marker.name).arg(marker.x).arg(marker.y);
    const qreal labelWidth = painter.fontMetrics().horizontalAdvance(label) + 2;
    const QRectF room(at.x() + kMarkerRadius + 4, at.y() - 18, labelWidth, 16);
    // Near the right edge the name goes left of its marker.
    const QRectF placed =
        room.right() > width() ? room.translated(-room.width() - 2 * kMarkerRadius - 8, 0) : room;
    // A veil behind the name keeps it readable over lines and other names.
    painter.fillRect(placed, QColor(255, 255, 255, 200));
    painter.drawText(placed, Qt::AlignCenter, label);
  }
}

}  // namespace quorvane
