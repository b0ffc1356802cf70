// Per-block kernels of the H.264 decoder on inputs whose results can be worked out by hand:
// intra prediction, inverse transforms, interpolation with edge repetition, weighting and
// the deblocking filter.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "codec/video/H264Deblock.h"
#include "codec/video/H264InterPred.h"
#include "codec/video/H264IntraPred.h"
#include "codec/video/H264Transform.h"

namespace fennik {
namespace {

IntraNeighbours Ramp(int size) {
  IntraNeighbours n;
  for (int i = 0; i < 2 * size; ++i) n.top[i] = static_cast<uint8_t>(10 + 10 * i);
  for (int i = 0; i < size; ++i) n.left[i] = static_cast<uint8_t>(200 - 10 * i);
  n.top_left = 100;
  n.has_top = n.has_left = n.has_top_left = true;
  return n;
}

TEST(H264KernelTest, Intra4x4DirectionalModes) {
  const IntraNeighbours n = Ramp(4);  // top 10, 20, .. 80; left 200, 190, 180, 170
  uint8_t b[4 * 4];
  PredictIntra4x4(b, 4, 0, n);  // vertical
  EXPECT_EQ(b[3 * 4 + 2], 30);
  PredictIntra4x4(b, 4, 1, n);  // horizontal
  EXPECT_EQ(b[2 * 4 + 3], 180);
  PredictIntra4x4(b, 4, 2, n);  // DC: (100 + 740 + 4) >> 3
  EXPECT_EQ(b[5], (10 + 20 + 30 + 40 + 200 + 190 + 180 + 170 + 4) >> 3);
  PredictIntra4x4(b, 4, 3, n);  // diagonal down-left: (p[x+y] + 2 p[x+y+1] + p[x+y+2] + 2) >> 2
  EXPECT_EQ(b[0], (10 + 40 + 30 + 2) >> 2);
  EXPECT_EQ(b[15], (70 + 3 * 80 + 2) >> 2);
  PredictIntra4x4(b, 4, 4, n);  // diagonal down-right, the diagonal uses the corner
  EXPECT_EQ(b[0], (10 + 2 * 100 + 200 + 2) >> 2);
  PredictIntra4x4(b, 4, 8, n);  // horizontal-up: the last row repeats p[-1, 3]
  EXPECT_EQ(b[3 * 4 + 3], 170);
  PredictIntra4x4(b, 4, 5, n);  // vertical-right: 2-tap top, 3-tap down the left column
  EXPECT_EQ(b[0], (100 + 10 + 1) >> 1);
  EXPECT_EQ(b[3 * 4], (180 + 2 * 190 + 200 + 2) >> 2);
  PredictIntra4x4(b, 4, 6, n);  // horizontal-down: 2-tap left, 3-tap along the top row
  EXPECT_EQ(b[0], (100 + 200 + 1) >> 1);
  EXPECT_EQ(b[3], (30 + 2 * 20 + 10 + 2) >> 2);
  PredictIntra4x4(b, 4, 7, n);  // vertical-left: even rows 2-tap, odd rows 3-tap
  EXPECT_EQ(b[2 * 4], (20 + 30 + 1) >> 1);
  EXPECT_EQ(b[1 * 4 + 3], (40 + 2 * 50 + 60 + 2) >> 2);
  // DC without neighbours is 128; with only the top row it averages the top.
  IntraNeighbours none;
  PredictIntra4x4(b, 4, 2, none);
  EXPECT_EQ(b[0], 128);
  IntraNeighbours top_only = n;
  top_only.has_left = false;
  PredictIntra4x4(b, 4, 2, top_only);
  EXPECT_EQ(b[0], (10 + 20 + 30 + 40 + 2) >> 2);
}

TEST(H264KernelTest, Intra8x8ModesUseTheFilteredSamples) {
  // Filtered: p'[-1, -1] 103, p'[x, -1] 35 then 10 + 10x up to 158 at x = 15, p'[-1, y] 173
  // then 200 - 10y down to 133 at y = 7.
  const IntraNeighbours n = Ramp(8);
  uint8_t b[8 * 8];
  const int expected[][3] = {{2, 0, (385 + 1296 + 8) >> 4}, {3, 63, (150 + 3 * 158 + 2) >> 2},
                             {4, 0, (35 + 2 * 103 + 173 + 2) >> 2}, {5, 56, (140 + 2 * 150 + 160 + 2) >> 2},
                             {6, 7, (70 + 2 * 60 + 50 + 2) >> 2}, {7, 63, (110 + 2 * 120 + 130 + 2) >> 2},
                             {8, 63, 133}};
  for (const auto& [mode, at, value] : expected) {
    PredictIntra8x8(b, 8, mode, n);
    EXPECT_EQ(b[at], value) << "mode " << mode;
  }
}

TEST(H264KernelTest, Intra16x16PlaneOnAFlatPictureIsFlat) {
  IntraNeighbours n;
  std::memset(n.top, 90, sizeof(n.top));
  std::memset(n.left, 90, sizeof(n.left));
  n.top_left = 90;
  n.has_top = n.has_left = n.has_top_left = true;
  std::vector<uint8_t> b(16 * 16);
  PredictIntra16x16(b.data(), 16, 3, n);
  for (uint8_t v : b) EXPECT_EQ(v, 90);
  // A horizontal ramp p[x, -1] = 16 + 8x over a flat left column: H = 16 * 204, so
  // b = (5 H + 32) >> 6 = 255, c = 0, a = 16 * (8 + 136); every row is the same ramp.
  for (int i = 0; i < 16; ++i) n.top[i] = static_cast<uint8_t>(16 + 8 * i);
  n.top_left = 8;
  for (int i = 0; i < 16; ++i) n.left[i] = 8;
  PredictIntra16x16(b.data(), 16, 3, n);
  EXPECT_EQ(b[0], (2304 - 7 * 255 + 16) >> 5);
  EXPECT_EQ(b[15], (2304 + 8 * 255 + 16) >> 5);
  EXPECT_EQ(b[15 * 16], b[0]);
  EXPECT_EQ(b[15 * 16 + 15], b[15]);
}

TEST(H264KernelTest, ChromaDcUsesPerBlockNeighbours) {
  IntraNeighbours n;
  for (int i = 0; i < 8; ++i) {
    n.top[i] = i < 4 ? 40 : 80;
    n.left[i] = i < 4 ? 120 : 160;
  }
  n.has_top = n.has_left = true;
  uint8_t b[8 * 8];
  PredictIntraChroma(b, 8, 0, n, 8);
  EXPECT_EQ(b[0], (4 * 40 + 4 * 120 + 4) >> 3);       // top-left: both
  EXPECT_EQ(b[4], 80);                                // top-right: the top row
  EXPECT_EQ(b[4 * 8], 160);                           // bottom-left: the left column
  EXPECT_EQ(b[4 * 8 + 4], (4 * 80 + 4 * 160 + 4) >> 3);  // bottom-right: both
}

TEST(H264KernelTest, InverseTransformOfDcAndRounding) {
  uint8_t block[4 * 4];
  std::memset(block, 100, sizeof(block));
  int32_t d[16] = {};
  d[0] = 64 * 5;  // a DC of 320 adds (320 + 32) >> 6 = 5 everywhere
  InverseTransform4x4Add(block, 4, d);
  for (uint8_t v : block) EXPECT_EQ(v, 105);
  InverseTransformDcAdd(block, 4, -64 * 200);  // clipped at 0
  for (uint8_t v : block) EXPECT_EQ(v, 0);
  // A single first-row AC coefficient gives a horizontal cosine-like pattern.
  std::memset(block, 128, sizeof(block));
  int32_t ac[16] = {};
  ac[1] = 64;
  InverseTransform4x4Add(block, 4, ac);
  EXPECT_GT(block[0], block[3]);
  EXPECT_EQ(block[0], block[12]);
}

// Dequantisation factors: weight * normAdjust << qP / 6 by raster position, and tables made
// again when the bound lists change (a new PPS).
TEST(H264KernelTest, LevelScalesFollowTheBoundLists) {
  uint8_t l4[6][16], l8[6][64];
  std::memset(l4, 16, sizeof(l4));
  std::memset(l8, 16, sizeof(l8));
  H264LevelScales scales;
  scales.Bind(l4, l8);
  const int32_t* f = scales.Of4x4(0, 0);
  EXPECT_EQ(f[0], 160);  // class 0: 16 * 10
  EXPECT_EQ(f[5], 256);  // (1, 1), class 1: 16 * 16
  EXPECT_EQ(f[1], 208);  // class 2: 16 * 13
  EXPECT_EQ(scales.Of4x4(0, 13)[0], 16 * 11 << 2);
  EXPECT_EQ(scales.Of8x8(1, 0)[9], 16 * 18);
  l4[0][0] = 32;
  l8[1][0] = 8;
  scales.Bind(l4, l8);
  EXPECT_EQ(scales.Of4x4(0, 0)[0], 320);
  EXPECT_EQ(scales.Of4x4(1, 0)[0], 160);
  EXPECT_EQ(scales.Of8x8(1, 0)[0], 8 * 20);
}

TEST(H264KernelTest, HadamardTransformsInvertEachOther) {
  int32_t c[16];
  for (int i = 0; i < 16; ++i) c[i] = i * 3 - 20;
  int32_t t[16];
  std::memcpy(t, c, sizeof(t));
  InverseHadamard4x4(t);
  InverseHadamard4x4(t);  // H * H = 16 I for the 4x4 Hadamard applied on both sides
  for (int i = 0; i < 16; ++i) EXPECT_EQ(t[i], 16 * c[i]);
  int32_t c2[4] = {10, 3, -4, 7};
  InverseHadamard2x2(c2);
  EXPECT_EQ(c2[0], 16);  // sum
  EXPECT_EQ(c2[1], 10 - 3 - 4 - 7);
  EXPECT_EQ(c2[2], 10 + 3 + 4 - 7);
  EXPECT_EQ(c2[3], 10 - 3 + 4 + 7);
}

TEST(H264KernelTest, LumaInterpolationHalfSamplesAndEdgeRepetition) {
  // A 32x32 plane with a horizontal ramp 4x.
  std::vector<uint8_t> plane(32 * 32);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) plane[y * 32 + x] = static_cast<uint8_t>(4 * x);
  const RefPlane ref{plane.data(), 32, 32, 32};
  uint8_t out[16 * 16];
  PredictLuma(out, 16, ref, 8, 8, 0, 0, 4, 4);
  EXPECT_EQ(out[0], 32);
  PredictLuma(out, 16, ref, 8, 8, 2, 0, 4, 4);  // b between 32 and 36 on a linear ramp
  EXPECT_EQ(out[0], 34);
  PredictLuma(out, 16, ref, 8, 8, 1, 0, 4, 4);  // a = (G + b + 1) >> 1
  EXPECT_EQ(out[0], 33);
  PredictLuma(out, 16, ref, 8, 8, 0, 2, 4, 4);  // vertical half sample of a column is the column
  EXPECT_EQ(out[0], 32);
  PredictLuma(out, 16, ref, 8, 8, 2, 2, 4, 4);  // centre sample
  EXPECT_EQ(out[0], 34);
  // Far outside the picture every sample repeats the nearest edge sample.
  PredictLuma(out, 16, ref, -1000, -1000, 3, 1, 8, 8);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(out[i], 0);
  PredictLuma(out, 16, ref, 5000, 20, 1, 3, 8, 8);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(out[i], 124);
}

TEST(H264KernelTest, CopyBlockCopiesExactlyTheBlock) {
  std::vector<uint8_t> src(20 * 20);
  for (size_t i = 0; i < src.size(); ++i) src[i] = static_cast<uint8_t>(i * 7 + 3);
  for (int w : {1, 2, 4, 8, 16})
    for (int h : {1, 2, 3, 8, 16}) {  // odd heights take a row before the two-row steps
      std::vector<uint8_t> dst(24 * 20, 0xEE);
      CopyBlock(dst.data() + 1, 24, src.data(), 20, w, h);
      for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 24; ++x) {
          const bool in = x >= 1 && x <= w && y < h;
          ASSERT_EQ(dst[y * 24 + x], in ? src[y * 20 + x - 1] : 0xEE) << w << "x" << h << " at " << x << "," << y;
        }
    }
}

TEST(H264KernelTest, ChromaInterpolationIsBilinearInEighths) {
  std::vector<uint8_t> plane(16 * 16, 0);
  plane[5 * 16 + 5] = 64;
  const RefPlane ref{plane.data(), 16, 16, 16};
  uint8_t cb[8 * 8], cr[8 * 8];
  PredictChromaPair(cb, cr, 8, ref, ref, 4, 4, 4, 4, 2, 2);  // half way in both directions
  EXPECT_EQ(cb[0], (16 * 64 + 32) >> 6);
  EXPECT_EQ(cr[0], cb[0]);
  PredictChromaPair(cb, cr, 8, ref, ref, 5, 5, 0, 0, 1, 1);
  EXPECT_EQ(cb[0], 64);
  PredictChromaPair(cb, cr, 8, ref, ref, -50, 100, 3, 5, 2, 2);  // clamped to the corner (0, 15)
  EXPECT_EQ(cb[0], 0);
}

TEST(H264KernelTest, WeightedPrediction) {
  uint8_t block[4] = {100, 200, 0, 255};
  WeightBlock(block, 4, 4, 1, 5, 32, 0);  // the default weight leaves samples alone
  EXPECT_EQ(block[1], 200);
  WeightBlock(block, 4, 4, 1, 5, 48, -10);  // 1.5 x - 10, clipped
  EXPECT_EQ(block[0], 140);
  EXPECT_EQ(block[1], 255);
  EXPECT_EQ(block[2], 0);
  const uint8_t a[2] = {100, 10}, b[2] = {50, 20};
  uint8_t out[2];
  WeightBlocksBi(out, 2, a, b, 2, 2, 1, 5, 32, 32, 0, 0);  // implicit equal weights: average
  EXPECT_EQ(out[0], 75);
  EXPECT_EQ(out[1], 15);
  WeightBlocksBi(out, 2, a, b, 2, 2, 1, 6, 96, 32, 4, 2);  // (3a + b) / 4 + 3
  EXPECT_EQ(out[0], (100 * 96 + 50 * 32 + 64) / 128 + 3);
}

TEST(H264KernelTest, DeblockingSmoothsSmallStepsOnly) {
  // A vertical edge between columns 3 and 4 of an 8-wide block, 16 rows.
  std::vector<uint8_t> plane(8 * 16);
  auto fill = [&](int left, int right) {
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 8; ++x) plane[y * 8 + x] = static_cast<uint8_t>(x < 4 ? left : right);
  };
  const uint8_t bs4[4] = {4, 4, 4, 4}, bs0[4] = {0, 0, 0, 0}, bs2[4] = {2, 2, 2, 2};
  const EdgeThresholds t{40, 10, 36};
  fill(100, 110);
  FilterLumaEdge(plane.data() + 4, 1, 8, bs0, t);
  EXPECT_EQ(plane[3], 100);  // bS 0: untouched
  FilterLumaEdge(plane.data() + 4, 1, 8, bs4, t);
  EXPECT_EQ(plane[3], (100 + 2 * 100 + 2 * 100 + 2 * 110 + 110 + 4) >> 3);  // strong filter p0
  EXPECT_EQ(plane[4], (100 + 2 * 100 + 2 * 110 + 2 * 110 + 110 + 4) >> 3);  // strong filter q0
  fill(100, 110);
  // Normal filter: tc0 (indexA 36, bS 2) is 3, tc = 5; delta = (4 * 10 - 10 + 4) >> 3 = 4;
  // p1 moves by (p2 + ((p0 + q0 + 1) >> 1) - 2 p1) >> 1 = 2, q1 by (-5) >> 1 = -3.
  FilterLumaEdge(plane.data() + 4, 1, 8, bs2, t);
  EXPECT_EQ(plane[3], 104);
  EXPECT_EQ(plane[4], 106);
  EXPECT_EQ(plane[2], 102);
  EXPECT_EQ(plane[5], 107);
  fill(20, 200);  // a real edge (|p0 - q0| >= alpha) is kept
  FilterLumaEdge(plane.data() + 4, 1, 8, bs4, t);
  EXPECT_EQ(plane[3], 20);
  EXPECT_EQ(plane[4], 200);
  fill(100, 110);
  FilterChromaEdge(plane.data() + 4, 1, 8, 8, bs2, t);  // chroma: tc = tc0 + 1 = 4, p1 / q1 kept
  EXPECT_EQ(plane[3], 104);
  EXPECT_EQ(plane[4], 106);
  EXPECT_EQ(plane[2], 100);
}

}  // namespace
}  // namespace fennik
