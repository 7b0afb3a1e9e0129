#include "platform/window/world_map.h"

#include <QFontMetricsF>
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
// How many rows above or below its marker a name may move to find room.
constexpr int kLabelRows = 4;

QString LabelOf(const MapMarker& marker) {
  return QString("%1 (%2, %3)").arg(marker.name).arg(marker.x).arg(marker.y);
}

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
  }
  painter.setBrush(Qt::NoBrush);
  painter.setPen(text);
  const std::vector<QRectF> places = LabelPlaces();
  for (std::size_t i = 0; i < markers_.size(); ++i) {
    // A veil behind the name keeps it readable over the grid lines.
    painter.fillRect(places[i], QColor(255, 255, 255, 200));
    painter.drawText(places[i], Qt::AlignCenter, LabelOf(markers_[i]));
  }
}

QRectF WorldMap::MarkerBox(const MapMarker& marker) const {
  const QPointF at = PointFor(marker.x, marker.y);
  const qreal reach = marker.kind == MapMarker::Kind::kNpc ? kFacingLength : kMarkerRadius + 1;
  return {at.x() - reach, at.y() - reach, 2 * reach, 2 * reach};
}

std::vector<QRectF> WorldMap::LabelPlaces() const {
  const QFontMetricsF metrics(font());
  const qreal height = metrics.height() + 2;
  std::vector<QRectF> covered;
  for (const MapMarker& marker : markers_) covered.push_back(MarkerBox(marker));
  // Right of the coordinates down the left and above those along the bottom.
  const QRectF grid = Grid();
  const QRectF inside(grid.left() + 1, 1, width() - grid.left() - 2, grid.bottom());
  std::vector<QRectF> places;
  for (const MapMarker& marker : markers_) {
    const QRectF box = MarkerBox(marker);
    const qreal width = metrics.horizontalAdvance(LabelOf(marker)) + 4;
    // Beside the marker, right then left, level with it first, then a row
    // further up or down each time.
    std::vector<QRectF> candidates;
    for (int row = 0; row <= kLabelRows; ++row) {
      for (const int direction : {-1, 1}) {
        if (row == 0 && direction == 1) continue;
        const qreal top = box.center().y() - height / 2 + direction * row * height;
        candidates.emplace_back(box.right() + 2, top, width, height);
        candidates.emplace_back(box.left() - 2 - width, top, width, height);
      }
    }
    const auto clear = [&](const QRectF& place) {
      if (!inside.contains(place)) return false;
      const auto hits = [&](const QRectF& other) { return other.intersects(place); };
      return std::none_of(covered.begin(), covered.end(), hits) &&
             std::none_of(places.begin(), places.end(), hits);
    };
    const auto found = std::find_if(candidates.begin(), candidates.end(), clear);
    if (found != candidates.end()) {
      places.push_back(*found);
      continue;
    }
    // Crowded: the first place inside the widget, kept inside it.
    QRectF place = candidates.front();
    if (place.right() > inside.right()) place = candidates[1];
    place.moveTop(std::clamp(place.top(), inside.top(), inside.bottom() - height));
    place.moveLeft(std::clamp(place.left(), inside.left(), inside.right() - width));
    places.push_back(place);
  }
  return places;
}

}  // namespace quorvane
