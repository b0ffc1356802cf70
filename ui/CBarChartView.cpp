#include "ui/CBarChartView.h"

#include <QPainter>
#include <algorithm>

namespace fennik {
namespace {

const QColor kBarColour(0, 102, 204);
const QColor kSpanColour(255, 150, 90, 140);
const QColor kAxisColour(90, 90, 90);
constexpr double kMinSpan = 8;

QString Q(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

CBarChartView::CBarChartView(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void CBarChartView::SetChart(BarChart chart) {
  chart_ = std::move(chart);
  update();
}

void CBarChartView::paintEvent(QPaintEvent* /*event*/) {
  QPainter p(this);
  p.fillRect(rect(), palette().base());
  const QFontMetrics fm(font());
  const int line = fm.height();
  p.setPen(palette().text().color());
  p.drawText(QRect(4, 2, width() - 8, line), Qt::AlignLeft | Qt::AlignVCenter,
             fm.elidedText(Q(chart_.title), Qt::ElideRight, width() - 8));
  if (chart_.values.empty()) {
    p.drawText(rect(), Qt::AlignCenter, Q(chart_.emptyText));
    return;
  }
  const double top = BarChartTop(*std::max_element(chart_.values.begin(), chart_.values.end()));
  const QString topText = Q(BarChartValueText(top) + chart_.valueUnit);
  const int left = std::max(fm.horizontalAdvance(topText), fm.horizontalAdvance(QStringLiteral("0"))) + 8;
  const QRect plot(left, line + 8, std::max(10, width() - left - 8), std::max(10, height() - 3 * line - 8));
  // Scale: top and zero.
  p.setPen(kAxisColour);
  p.drawText(QRect(0, plot.top() - line / 2, left - 4, line), Qt::AlignRight | Qt::AlignVCenter, topText);
  p.drawText(QRect(0, plot.bottom() - line / 2, left - 4, line), Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("0"));
  for (const BarChartSpan& s : chart_.spans) {
    // At least kMinSpan pixels wide around its middle, so that a short burst stays visible.
    const double x0 = plot.left() + s.from * plot.width();
    const double x1 = plot.left() + s.to * plot.width();
    const double w = std::max<double>(kMinSpan, x1 - x0);
    p.fillRect(QRectF((x0 + x1 - w) / 2, plot.top(), w, plot.height()), kSpanColour);
  }
  const size_t n = chart_.values.size();
  const double barWidth = static_cast<double>(plot.width()) / static_cast<double>(n);
  for (size_t i = 0; i < n; ++i) {
    const int h = static_cast<int>(chart_.values[i] / top * plot.height() + 0.5);
    const int x0 = plot.left() + static_cast<int>(static_cast<double>(i) * barWidth);
    const int x1 = plot.left() + static_cast<int>(static_cast<double>(i + 1) * barWidth);
    const int gap = barWidth > 6 ? 1 : 0;
    if (h > 0) p.fillRect(QRect(x0 + gap, plot.bottom() - h + 1, std::max(1, x1 - x0 - 2 * gap), h), kBarColour);
  }
  p.setPen(kAxisColour);
  p.drawLine(plot.bottomLeft(), plot.bottomRight());
  p.drawLine(plot.bottomLeft(), plot.topLeft());
  const int labelTop = plot.bottom() + 3;
  if (chart_.barLabels.size() == n) {
    // Every second label when they would not fit side by side.
    int widest = 0;
    for (const std::string& l : chart_.barLabels) widest = std::max(widest, fm.horizontalAdvance(Q(l)));
    const size_t step = widest + 4 > static_cast<int>(barWidth) ? 2 : 1;
    for (size_t i = 0; i < n; i += step) {
      const int x = plot.left() + static_cast<int>((static_cast<double>(i) + 0.5) * barWidth);
      p.drawText(QRect(x - widest, labelTop, 2 * widest, line), Qt::AlignCenter, Q(chart_.barLabels[i]));
    }
  } else {
    p.drawText(QRect(plot.left(), labelTop, plot.width(), line), Qt::AlignLeft | Qt::AlignVCenter, Q(chart_.axisStart));
    p.drawText(QRect(plot.left(), labelTop, plot.width(), line), Qt::AlignRight | Qt::AlignVCenter, Q(chart_.axisEnd));
  }
}

}  // namespace fennik
