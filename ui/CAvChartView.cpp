#include "ui/CAvChartView.h"

#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QWheelEvent>
#include <algorithm>

#include "ui/CCellView.h"
#include "view/ChartAxis.h"

namespace fennik {
namespace {

constexpr int kAxisHeight = 24;  // the time axis' band at the bottom
constexpr int kMargin = 6;
const QColor kJitterColour(0, 102, 204);
const QColor kBitRateColour(204, 51, 0);

}  // namespace

CAvChartView::CAvChartView(const ViewStyle* style, QWidget* parent) : QAbstractScrollArea(parent), style_(style) {
  setFocusPolicy(Qt::StrongFocus);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
}

void CAvChartView::SetPoints(std::vector<ChartPoint> points) {
  points_ = std::move(points);
  maxJitter_ = 1;
  maxBitRate_ = 1;
  for (const ChartPoint& p : points_) {
    maxJitter_ = std::max(maxJitter_, std::abs(p.jitter));
    maxBitRate_ = std::max(maxBitRate_, p.bitRate);
  }
  UpdateScrollBar();
  viewport()->update();
}

void CAvChartView::SetZoom(int level) {
  const int64_t first = FirstVisibleTime();
  zoom_ = std::clamp(level, 0, kChartZoomLevels - 1);
  UpdateScrollBar();
  // Keep the left edge's time.
  horizontalScrollBar()->setValue(static_cast<int>(first / ChartZoomLevel(zoom_).microsecondsPerPixel));
  viewport()->update();
}

int64_t CAvChartView::FirstVisibleTime() const {
  return int64_t{horizontalScrollBar()->value()} * ChartZoomLevel(zoom_).microsecondsPerPixel;
}

void CAvChartView::UpdateScrollBar() {
  const int64_t last = points_.empty() ? 0 : points_.back().time;
  const int64_t pixels = last / ChartZoomLevel(zoom_).microsecondsPerPixel;
  const int width = viewport()->width();
  horizontalScrollBar()->setRange(0, static_cast<int>(std::clamp<int64_t>(pixels - width + 2 * kMargin, 0, INT32_MAX)));
  horizontalScrollBar()->setPageStep(std::max(1, width));
  horizontalScrollBar()->setSingleStep(20);
}

void CAvChartView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  UpdateScrollBar();
}

void CAvChartView::scrollContentsBy(int, int) { viewport()->update(); }

void CAvChartView::wheelEvent(QWheelEvent* event) {
  if (event->modifiers() & Qt::ControlModifier) {
    SetZoom(zoom_ + (event->angleDelta().y() > 0 ? 1 : -1));
    return;
  }
  QAbstractScrollArea::wheelEvent(event);
}

void CAvChartView::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Plus) SetZoom(zoom_ + 1);
  else if (event->key() == Qt::Key_Minus) SetZoom(zoom_ - 1);
  else QAbstractScrollArea::keyPressEvent(event);
}

void CAvChartView::paintEvent(QPaintEvent*) {
  const QSize size = viewport()->size();
  if (size.isEmpty()) return;
  QPixmap buffer(size);
  buffer.fill(Qt::white);
  {
    QPainter p(&buffer);
    QFont font = CellFont(*style_);
    p.setFont(font);
    const int axisY = size.height() - kAxisHeight;
    const int64_t perPixel = ChartZoomLevel(zoom_).microsecondsPerPixel;
    const int64_t first = FirstVisibleTime();
    // The axis: ticks every 100 pixels, labels at multiples of the zoom's interval.
    p.setPen(CellColor(0xC8C8C8));
    p.drawLine(0, axisY, size.width(), axisY);
    for (const ChartTick& tick : ChartAxisTicks(zoom_, first, size.width())) {
      const int x = tick.x + kMargin;
      p.setPen(CellColor(0xC8C8C8));
      p.drawLine(x, 0, x, axisY + (tick.labelled ? 6 : 3));
      if (tick.labelled) {
        p.setPen(Qt::black);
        p.drawText(x + 2, size.height() - 6, QString::fromStdString(tick.label));
      }
    }
    // The two series, each scaled to the plot's height by its maximum.
    const int plotHeight = std::max(1, axisY - 2 * kMargin);
    auto series = [&](double ChartPoint::*value, double maximum, const QColor& colour) {
      QPainterPath path;
      bool started = false;
      for (const ChartPoint& point : points_) {
        const double x = static_cast<double>(point.time - first) / static_cast<double>(perPixel) + kMargin;
        if (x < -100) continue;
        const double y = axisY - kMargin - plotHeight * std::clamp(point.*value / maximum, 0.0, 1.0);
        if (!started) path.moveTo(x, y);
        else path.lineTo(x, y);
        started = true;
        if (x > size.width() + 100) break;
      }
      p.setPen(QPen(colour, 1));
      p.drawPath(path);
    };
    p.setRenderHint(QPainter::Antialiasing, true);
    series(&ChartPoint::bitRate, maxBitRate_, kBitRateColour);
    series(&ChartPoint::jitter, maxJitter_, kJitterColour);
    p.setRenderHint(QPainter::Antialiasing, false);
    // Legend with the scales' maxima.
    p.setPen(kJitterColour);
    p.drawText(kMargin, kMargin + p.fontMetrics().ascent(), QStringLiteral("Jitter(ms) max %1").arg(maxJitter_, 0, 'f', 0));
    p.setPen(kBitRateColour);
    p.drawText(kMargin, kMargin + p.fontMetrics().height() + p.fontMetrics().ascent(),
               QStringLiteral("Bitrate max %1 bps").arg(maxBitRate_, 0, 'f', 0));
  }
  QPainter window(viewport());
  window.drawPixmap(0, 0, buffer);
}

}  // namespace fennik
