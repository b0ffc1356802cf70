// The time chart: a horizontal time axis in microseconds at one of twelve zoom levels, and
// as content two series over capture time (a stream's jitter and bit rate), each scaled to
// the chart's height by its own maximum.
#pragma once

#include <QAbstractScrollArea>
#include <cstdint>
#include <vector>

namespace fennik {

struct ViewStyle;

struct ChartPoint {
  int64_t time;   // microseconds from the capture's first packet
  double jitter;  // milliseconds
  double bitRate; // bits per second
};

class CAvChartView : public QAbstractScrollArea {
 public:
  explicit CAvChartView(const ViewStyle* style, QWidget* parent = nullptr);

  void SetPoints(std::vector<ChartPoint> points);
  const std::vector<ChartPoint>& Points() const { return points_; }
  // Zoom levels 0 (20 ms per pixel) to 11 (5 µs per pixel); clamped.
  void SetZoom(int level);
  int Zoom() const { return zoom_; }
  // The time at the left edge.
  int64_t FirstVisibleTime() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void UpdateScrollBar();

  const ViewStyle* style_;
  std::vector<ChartPoint> points_;
  double maxJitter_ = 1;
  double maxBitRate_ = 1;
  int zoom_ = 2;
};

}  // namespace fennik
