// A small map of the world: a grid with its coordinates, the players where
// they logged in and the NPCs where they stand, each with its name. Y grows
// downwards, as the NPCs' facings count it. It repaints only when what it
// shows has changed.
#pragma once

#include <QColor>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <QWidget>
#include <vector>

namespace quorvane {

struct MapMarker {
  enum class Kind { kPlayer, kNpc };
  Kind kind = Kind::kPlayer;
  QString name;
  int x = 0;
  int y = 0;
  // The way an NPC faces, as a keypad (8 up, 6 right); 0 draws no facing.
  int facing = 0;
  // Tells the players apart: slot 0, 1, ...
  int index = 0;

  friend bool operator==(const MapMarker&, const MapMarker&) = default;
};

class WorldMap final : public QWidget {
 public:
  // The grid shows coordinates 0 to kExtent on both axes; a marker beyond it
  // stands on its edge.
  static constexpr int kExtent = 110;

  explicit WorldMap(QWidget* parent = nullptr);

  void SetMarkers(std::vector<MapMarker> markers);
  const std::vector<MapMarker>& Markers() const { return markers_; }

  // Where map coordinates are drawn in the widget.
  QPointF PointFor(int x, int y) const;
  // The fill of a marker.
  static QColor ColorOf(const MapMarker& marker);
  // Where each marker's name goes, in the order of Markers(): beside its
  // marker, clear of the other names and of every marker where there is
  // room, inside the widget and off the grid's coordinates.
  std::vector<QRectF> LabelPlaces() const;
  // What a marker covers: its shape and an NPC's facing line.
  QRectF MarkerBox(const MapMarker& marker) const;

  QSize sizeHint() const override { return {340, 340}; }
  QSize minimumSizeHint() const override { return {200, 200}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  // The grid's square in widget coordinates.
  QRectF Grid() const;

  std::vector<MapMarker> markers_;
};

}  // namespace quorvane
