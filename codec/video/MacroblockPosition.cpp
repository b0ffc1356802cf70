#include "codec/video/MacroblockPosition.h"

#include <algorithm>

namespace fennik {

void MacroblockToPixel(const MacroblockGeometry& g, uint32_t index, uint32_t& x, uint32_t& y) {
  x = y = 0;
  const uint32_t w = g.width / 16;
  if (w == 0 || index >= g.count) return;
  if (g.mbaff) {
    // Pair row, then the pair's column and which of the two.
    y = index / (2 * w) * 32 + (index & 1) * 16;
    x = (index % (2 * w)) * 8 & ~15u;
  } else {
    x = index % w * 16;
    y = index / w * 16;
  }
}

uint32_t PixelToMacroblock(const MacroblockGeometry& g, uint32_t x, uint32_t y) {
  const uint32_t w = g.width / 16;
  if (w == 0 || g.height == 0) return 0;
  const uint32_t cx = std::min(x, g.width - 1) / 16;
  const uint32_t cy = std::min(y, g.height - 1);
  if (g.mbaff) return w * (cy / 16 & ~1u) + ((cy & 16) ? 1 : 0) + 2 * cx;
  return w * (cy / 16) + cx;
}

}  // namespace fennik
