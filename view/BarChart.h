// The content of the bar charts the desktop dialogs draw, toolkit-free: bars of equal width
// with their values and labels, shaded spans over the horizontal axis, and a scale whose
// top is the largest value rounded up to a 1-2-5 step.
#pragma once

#include <string>
#include <vector>

namespace fennik {

struct BarChartSpan {
  double from;  // fractions of the axis, 0 (left end) to 1 (right end)
  double to;
};

struct BarChart {
  std::string title;
  std::vector<double> values;          // one per bar, not negative
  std::vector<std::string> barLabels;  // one per bar, or empty: only the axis ends are labelled
  std::string axisStart, axisEnd;      // labels of the axis' ends when the bars have none
  std::string valueUnit;               // after the scale's top value ("%", "packets")
  std::vector<BarChartSpan> spans;     // shaded behind the bars
  std::string emptyText;               // shown instead of the bars when there are none
};

// The scale's top for a largest value: 1, 2 or 5 times a power of ten, at least `max`;
// 1 when `max` is 0 or less.
double BarChartTop(double max);

// The scale text of a value ("%g": "5", "0.2", "2000").
std::string BarChartValueText(double value);

}  // namespace fennik
