// Macroblock numbering of progressive and MBAFF pictures for the macroblock views.
#include <gtest/gtest.h>

#include "codec/video/MacroblockPosition.h"

namespace fennik {
namespace {

TEST(MacroblockPositionTest, RowByRowNumbering) {
  const MacroblockGeometry g{176, 144, 99, false};
  uint32_t x = 1, y = 1;
  MacroblockToPixel(g, 12, x, y);  // second row, second column
  EXPECT_EQ(x, 16u);
  EXPECT_EQ(y, 16u);
  MacroblockToPixel(g, 99, x, y);  // past the last macroblock
  EXPECT_EQ(x, 0u);
  EXPECT_EQ(y, 0u);
  EXPECT_EQ(PixelToMacroblock(g, 17, 31), 12u);
  EXPECT_EQ(PixelToMacroblock(g, 175, 143), 98u);
  // Beyond the edges: the last column and row, not the next row's first macroblock.
  EXPECT_EQ(PixelToMacroblock(g, 176, 0), 10u);
  EXPECT_EQ(PixelToMacroblock(g, 5000, 5000), 98u);
}

TEST(MacroblockPositionTest, MbaffPairsRoundTrip) {
  // 4 macroblocks wide, 2 rows of pairs: 0/1 is the first pair (top, bottom), 2/3 the next.
  const MacroblockGeometry g{64, 64, 16, true};
  uint32_t x, y;
  MacroblockToPixel(g, 1, x, y);
  EXPECT_EQ(x, 0u);
  EXPECT_EQ(y, 16u);
  MacroblockToPixel(g, 6, x, y);
  EXPECT_EQ(x, 48u);
  EXPECT_EQ(y, 0u);
  MacroblockToPixel(g, 9, x, y);  // second row of pairs, first pair's bottom
  EXPECT_EQ(x, 0u);
  EXPECT_EQ(y, 48u);
  for (uint32_t i = 0; i < g.count; ++i) {
    MacroblockToPixel(g, i, x, y);
    EXPECT_EQ(PixelToMacroblock(g, x + 15, y + 15), i) << i;
  }
}

}  // namespace
}  // namespace fennik
