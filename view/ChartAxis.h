// The time chart's horizontal axis: ticks every 100 pixels and labels at multiples of the
// zoom level's label interval, as a pure function of zoom level, first visible time and width.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fennik {

struct ChartZoom {
  int64_t microsecondsPerPixel;
  int pixelsPerTick;
  int64_t labelInterval;  // microseconds
  int labelFormat;        // 0 "%d:%02d", 1 "%d:%02d:%02d", 2 "%d:%02d:%02d.%03d"
};

constexpr int kChartZoomLevels = 12;
// The zoom level's row; levels outside 0..11 are clamped to the nearest level.
const ChartZoom& ChartZoomLevel(int level);

struct ChartTick {
  int x;               // pixel from the axis' left end
  int64_t time;        // microseconds
  bool labelled;
  std::string label;   // empty unless labelled
};

// Ticks from the first visible time rounded down to the label interval, one every
// pixelsPerTick pixels, up to `widthPixels`. Ticks left of the visible area (x < 0) are
// left out. Times are microseconds and not negative.
std::vector<ChartTick> ChartAxisTicks(int level, int64_t firstVisibleTime, int widthPixels);

// A label in the zoom's format: hours, minutes within the hour, seconds, milliseconds.
std::string ChartLabel(int64_t time, int labelFormat);

}  // namespace fennik
