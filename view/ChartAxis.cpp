#include "view/ChartAxis.h"

#include <cinttypes>
#include <cstdio>

namespace fennik {
namespace {

constexpr ChartZoom kZoom[kChartZoomLevels] = {
    {20000, 100, 10000000, 1}, {10000, 100, 5000000, 1}, {5000, 100, 1000000, 1},
    {2000, 100, 1000000, 1},   {1000, 100, 500000, 2},   {500, 100, 100000, 2},
    {200, 100, 100000, 2},     {100, 100, 50000, 2},     {50, 100, 10000, 2},
    {20, 100, 10000, 2},       {10, 100, 5000, 2},       {5, 100, 1000, 2},
};

}  // namespace

const ChartZoom& ChartZoomLevel(int level) {
  if (level < 0) level = 0;
  if (level >= kChartZoomLevels) level = kChartZoomLevels - 1;
  return kZoom[level];
}

std::string ChartLabel(int64_t time, int labelFormat) {
  if (time < 0) time = 0;
  const int64_t ms = time / 1000 % 1000;
  const int64_t totalSeconds = time / 1000000;
  const int64_t s = totalSeconds % 60;
  const int64_t m = totalSeconds / 60 % 60;
  const int64_t h = totalSeconds / 3600;
  char text[48];
  switch (labelFormat) {
    case 0:
      std::snprintf(text, sizeof text, "%" PRId64 ":%02" PRId64, h, m);
      break;
    case 1:
      std::snprintf(text, sizeof text, "%" PRId64 ":%02" PRId64 ":%02" PRId64, h, m, s);
      break;
    default:
      std::snprintf(text, sizeof text, "%" PRId64 ":%02" PRId64 ":%02" PRId64 ".%03" PRId64, h, m, s,
                    ms);
      break;
  }
  return text;
}

std::vector<ChartTick> ChartAxisTicks(int level, int64_t firstVisibleTime, int widthPixels) {
  std::vector<ChartTick> ticks;
  if (widthPixels <= 0) return ticks;
  if (firstVisibleTime < 0) firstVisibleTime = 0;
  const ChartZoom& zoom = ChartZoomLevel(level);
  const int64_t tickTime = zoom.microsecondsPerPixel * zoom.pixelsPerTick;
  const int64_t origin = firstVisibleTime - firstVisibleTime % zoom.labelInterval;
  for (int64_t t = origin;; t += tickTime) {
    const int64_t x = (t - firstVisibleTime) / zoom.microsecondsPerPixel;
    if (x > widthPixels) break;
    if (x < 0) continue;
    ChartTick tick{static_cast<int>(x), t, t % zoom.labelInterval == 0, {}};
    if (tick.labelled) tick.label = ChartLabel(t, zoom.labelFormat);
    ticks.push_back(std::move(tick));
  }
  return ticks;
}

}  // namespace fennik
