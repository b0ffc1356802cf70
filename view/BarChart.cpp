#include "view/BarChart.h"

#include <cmath>
#include <cstdio>

namespace fennik {

double BarChartTop(double max) {
  if (!(max > 0)) return 1;
  double step = std::pow(10.0, std::floor(std::log10(max)));
  for (const double factor : {1.0, 2.0, 5.0, 10.0}) {
    if (step * factor >= max * (1 - 1e-12)) return step * factor;
  }
  return step * 10;
}

std::string BarChartValueText(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

}  // namespace fennik
