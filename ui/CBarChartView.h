// A bar chart drawn from the toolkit-free BarChart content: title, scale with its top value,
// shaded spans behind the bars, the bars, and the bars' or the axis ends' labels.
#pragma once

#include <QWidget>

#include "view/BarChart.h"

namespace fennik {

class CBarChartView : public QWidget {
 public:
  explicit CBarChartView(QWidget* parent = nullptr);

  void SetChart(BarChart chart);
  const BarChart& Chart() const { return chart_; }

  QSize sizeHint() const override { return {420, 190}; }
  QSize minimumSizeHint() const override { return {260, 150}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  BarChart chart_;
};

}  // namespace fennik
