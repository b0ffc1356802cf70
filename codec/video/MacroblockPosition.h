// Macroblock numbering of a decoded picture for the macroblock views: the pixel position of a
// macroblock index and the macroblock under a pixel. Pictures are numbered row by row, except
// H.264 frames with macroblock-adaptive frame/field decoding (MBAFF), whose macroblocks go in
// vertical pairs (top, bottom) pair by pair along each row of pairs.
#pragma once

#include <cstdint>

namespace fennik {

struct MacroblockGeometry {
  uint32_t width = 0;     // picture width in samples
  uint32_t height = 0;    // picture height in samples
  uint32_t count = 0;     // macroblocks in the picture
  bool mbaff = false;     // numbered in vertical pairs
};

// Top-left sample of macroblock `index`; (0, 0) for an index outside the picture.
void MacroblockToPixel(const MacroblockGeometry& g, uint32_t index, uint32_t& x, uint32_t& y);

// The macroblock holding sample (x, y); positions beyond the picture's right or bottom edge
// count as its last column or row.
uint32_t PixelToMacroblock(const MacroblockGeometry& g, uint32_t x, uint32_t y);

}  // namespace fennik
