// The kernel harness: every entry of each instruction set's kernel table (up to what this CPU
// has) against the scalar reference, on random inputs with extreme values, every block size,
// unaligned pointers and odd strides. Equal output bytes, including the bytes around the block
// that must stay untouched.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "codec/video/H264Dpb.h"
#include "codec/video/kernels/H264Kernels.h"

namespace fennik {
namespace {

std::vector<SimdLevel> LevelsToTest() {
  std::vector<SimdLevel> levels;
  for (int i = 1; i <= static_cast<int>(CpuSimdLevel()); ++i) levels.push_back(static_cast<SimdLevel>(i));
  return levels;
}

// Samples: random, all 0, all 255, or alternating 0 / 255 (the filters' extreme sums).
void FillSamples(std::vector<uint8_t>& buf, std::mt19937& rng, int pattern) {
  for (size_t i = 0; i < buf.size(); ++i) {
    switch (pattern) {
      case 0: buf[i] = static_cast<uint8_t>(rng()); break;
      case 1: buf[i] = 0; break;
      case 2: buf[i] = 255; break;
      default: buf[i] = (i + rng() % 2) % 2 ? 255 : 0; break;
    }
  }
}

// Source with a margin of 8 samples around a 32 x 32 area; dst with a guard area.
constexpr int kSrcStride = 64 + 3;  // odd: rows start at every alignment
constexpr int kDstStride = 48 + 5;

class KernelHarness : public ::testing::Test {
 protected:
  // A motion-compensation case: source samples of a pattern read from a random alignment, and
  // the same random destination for the kernel (got) and the reference (want), written at a
  // random alignment.
  struct McCase {
    std::vector<uint8_t> src = std::vector<uint8_t>(kSrcStride * 48);
    std::vector<uint8_t> got = std::vector<uint8_t>(kDstStride * 26);
    std::vector<uint8_t> want;
    const uint8_t* s = nullptr;
    int dalign = 0;
  };
  McCase NewMcCase(int pattern) {
    McCase m;
    FillSamples(m.src, rng_, pattern);
    m.s = m.src.data() + 8 * kSrcStride + 8 + rng_() % 16;
    FillSamples(m.got, rng_, 0);
    m.want = m.got;
    m.dalign = static_cast<int>(rng_() % 16);
    return m;
  }

  std::mt19937 rng_{20261207};
  const H264Kernels& ref_ = ScalarKernels();
};

TEST_F(KernelHarness, AverageEverySize) {
  const int sizes[] = {2, 4, 8, 16};
  const int heights[] = {1, 2, 3, 4, 8, 16};  // odd heights too: the SIMD loops take two rows per step
  for (SimdLevel level : LevelsToTest()) {
    const H264Kernels k = KernelsFor(level);
    SCOPED_TRACE(SimdLevelName(level));
    for (int pattern = 0; pattern < 4; ++pattern)
      for (int iter = 0; iter < 40; ++iter)
        for (int w : sizes)
          for (int h : heights) {
            McCase m = NewMcCase(pattern);
            k.average(m.got.data() + m.dalign, kDstStride, m.s, kSrcStride, m.s + 37, kSrcStride, w, h);
            ref_.average(m.want.data() + m.dalign, kDstStride, m.s, kSrcStride, m.s + 37, kSrcStride, w, h);
            ASSERT_EQ(m.got, m.want) << "average " << w << "x" << h;
          }
  }
}

TEST_F(KernelHarness, LumaQuarterSamplesEveryPositionAndSize) {
  const int sizes[] = {4, 8, 16};
  for (SimdLevel level : LevelsToTest()) {
    const H264Kernels k = KernelsFor(level);
    SCOPED_TRACE(SimdLevelName(level));
    for (int pattern = 0; pattern < 4; ++pattern)
      for (int pos = 0; pos < 16; ++pos)
        for (int w : sizes)
          for (int h : sizes) {
            McCase m = NewMcCase(pattern);
            k.luma_qpel(m.got.data() + m.dalign, kDstStride, m.s, kSrcStride, pos & 3, pos >> 2, w, h);
            ref_.luma_qpel(m.want.data() + m.dalign, kDstStride, m.s, kSrcStride, pos & 3, pos >> 2, w, h);
            ASSERT_EQ(m.got, m.want) << w << "x" << h << " position " << pos << " pattern " << pattern;
          }
  }
}

TEST_F(KernelHarness, ChromaInterpolationEveryFractionAndSize) {
  const int widths[] = {1, 2, 4, 8};
  const int heights[] = {1, 2, 4, 8, 16};
  for (SimdLevel level : LevelsToTest()) {
    const H264Kernels k = KernelsFor(level);
    SCOPED_TRACE(SimdLevelName(level));
    for (int pattern = 0; pattern < 4; ++pattern)
      for (int fx = 0; fx < 8; ++fx)
        for (int fy = 0; fy < 8; ++fy)
          for (int w : widths)
            for (int h : heights) {
              McCase m = NewMcCase(pattern);
              const uint8_t* s = m.s;
              // Both planes of one vector: Cb and Cr in one call, the second plane elsewhere.
              k.chroma_pair(m.got.data() + m.dalign, m.got.data() + 8 * kDstStride + 26, kDstStride, s,
                            s + 3 * kSrcStride + 19, kSrcStride, fx, fy, w, h);
              ref_.chroma_pair(m.want.data() + m.dalign, m.want.data() + 8 * kDstStride + 26, kDstStride, s,
                               s + 3 * kSrcStride + 19, kSrcStride, fx, fy, w, h);
              ASSERT_EQ(m.got, m.want) << "pair " << w << "x" << h << " fraction " << fx << "," << fy;
            }
  }
}

TEST_F(KernelHarness, WeightedPredictionOverTheWeightRange) {
  const int widths[] = {2, 4, 8, 16};
  const int heights[] = {2, 4, 8, 16};
  for (SimdLevel level : LevelsToTest()) {
    const H264Kernels k = KernelsFor(level);
    SCOPED_TRACE(SimdLevelName(level));
    for (int iter = 0; iter < 300; ++iter) {
      const int pattern = iter % 4;
      const int w = widths[rng_() % 4], h = heights[rng_() % 4];
      // Extremes of the weights first, then random ones; a few beyond the legal range.
      const int log_wd = iter < 8 ? (iter % 2) * 7 : static_cast<int>(rng_() % 8);
      const int w0 = iter < 8 ? (iter & 2 ? 127 : -128) : static_cast<int>(rng_() % 300) - 150;
      const int w1 = iter < 8 ? (iter & 4 ? 127 : -128) : static_cast<int>(rng_() % 300) - 150;
      const int o = iter < 8 ? (iter & 1 ? 127 : -128) : static_cast<int>(rng_() % 300) - 150;
      std::vector<uint8_t> a(16 * 16), bb(16 * 16);
      FillSamples(a, rng_, pattern);
      FillSamples(bb, rng_, (pattern + 1) % 4);
      std::vector<uint8_t> d1(kDstStride * 17), d2;
      FillSamples(d1, rng_, 0);
      d2 = d1;
      k.weight_bi(d1.data() + 1, kDstStride, a.data(), bb.data(), 16, w, h, log_wd, w0, w1, o);
      ref_.weight_bi(d2.data() + 1, kDstStride, a.data(), bb.data(), 16, w, h, log_wd, w0, w1, o);
      ASSERT_EQ(d1, d2) << "bi " << w << "x" << h << " logwd " << log_wd << " w " << w0 << "," << w1 << " o " << o;
      d1 = d2;
      std::memcpy(d1.data() + 3, a.data(), a.size());
      d2 = d1;
      k.weight(d1.data() + 3, kDstStride, w, h, log_wd, w0, o);
      ref_.weight(d2.data() + 3, kDstStride, w, h, log_wd, w0, o);
      ASSERT_EQ(d1, d2) << "single " << w << "x" << h << " logwd " << log_wd << " w " << w0 << " o " << o;
    }
  }
}

TEST_F(KernelHarness, InverseTransformsAndDcShortcut) {
  for (SimdLevel level : LevelsToTest()) {
    const H264Kernels k = KernelsFor(level);
    SCOPED_TRACE(SimdLevelName(level));
    for (int iter = 0; iter < 2000; ++iter) {
      // Coefficients: small (typical), large (clipping both ways), or sparse extremes.
      const int range = iter % 3 == 0 ? 64 : (iter % 3 == 1 ? 1 << 14 : 1 << 20);
      int32_t d[64];
      for (int32_t& v : d) {
        v = static_cast<int32_t>(rng_() % (2 * range + 1)) - range;
        if (iter % 5 == 0 && rng_() % 4 != 0) v = 0;
      }
      std::vector<uint8_t> p1(kDstStride * 9);
      FillSamples(p1, rng_, iter % 4);
      std::vector<uint8_t> p2 = p1;
      const int off = static_cast<int>(rng_() % 16);
      k.idct4_add(p1.data() + off, kDstStride, d);
      ref_.idct4_add(p2.data() + off, kDstStride, d);
      ASSERT_EQ(p1, p2) << "4x4 range " << range;
      k.idct8_add(p1.data() + off, kDstStride, d);
      ref_.idct8_add(p2.data() + off, kDstStride, d);
      ASSERT_EQ(p1, p2) << "8x8 range " << range;
      for (int size : {4, 8}) {
        k.dc_add(p1.data() + off, kDstStride, d[0], size);
        ref_.dc_add(p2.data() + off, kDstStride, d[0], size);
        ASSERT_EQ(p1, p2) << "dc " << size << " value " << d[0];
      }
    }
  }
}

TEST_F(KernelHarness, LumaAndChromaDeblockingBothDirectionsEveryStrength) {
  for (SimdLevel level : LevelsToTest()) {
    const H264Kernels k = KernelsFor(level);
    SCOPED_TRACE(SimdLevelName(level));
    for (int iter = 0; iter < 3000; ++iter) {
      // Small steps (filtered) around a random level, or random / extreme samples.
      std::vector<uint8_t> a(kDstStride * 32);
      const int mode = iter % 4;
      const int centre = static_cast<int>(rng_() % 256), spread = 1 + static_cast<int>(rng_() % 24);
      for (auto& v : a)
        v = mode < 2 ? static_cast<uint8_t>(std::clamp(centre + static_cast<int>(rng_() % (2 * spread + 1)) - spread, 0, 255))
                     : static_cast<uint8_t>(mode == 2 ? rng_() : (rng_() % 2) * 255);
      uint8_t bs[4];
      for (auto& b : bs) b = static_cast<uint8_t>(rng_() % 5);
      if (iter % 7 == 0) std::fill(bs, bs + 4, static_cast<uint8_t>(iter % 2 ? 4 : 2));
      const int alpha = static_cast<int>(rng_() % 256), beta = static_cast<int>(rng_() % 19);
      const uint8_t tc0[4] = {0, static_cast<uint8_t>(rng_() % 14), static_cast<uint8_t>(rng_() % 18),
                              static_cast<uint8_t>(rng_() % 26)};
      const bool vertical = iter % 2 == 0;
      const int off = 4 * kDstStride + 4 + static_cast<int>(rng_() % 8);
      std::vector<uint8_t> b = a, c = a, d = a;
      const int across = vertical ? 1 : kDstStride, along = vertical ? kDstStride : 1;
      k.deblock_luma(a.data() + off, across, along, bs, alpha, beta, tc0);
      ref_.deblock_luma(b.data() + off, across, along, bs, alpha, beta, tc0);
      ASSERT_EQ(a, b) << (vertical ? "vertical" : "horizontal") << " alpha " << alpha << " beta " << beta;
      k.deblock_chroma(c.data() + off, across, along, bs, alpha, beta, tc0);
      ref_.deblock_chroma(d.data() + off, across, along, bs, alpha, beta, tc0);
      ASSERT_EQ(c, d) << "chroma " << (vertical ? "vertical" : "horizontal") << " alpha " << alpha << " beta " << beta;
      if (k.deblock_chroma_pair == nullptr) continue;
      // Cb and Cr together: Cr 12 rows below, with its own thresholds (at times none).
      const int alphas[2] = {alpha, iter % 5 ? static_cast<int>(rng_() % 256) : 0};
      const int betas[2] = {beta, iter % 3 ? static_cast<int>(rng_() % 19) : 0};
      const uint8_t tc0_cr[4] = {0, static_cast<uint8_t>(rng_() % 14), static_cast<uint8_t>(rng_() % 18), 25};
      const uint8_t* const tc0s[2] = {tc0, tc0_cr};
      uint8_t* const planes[2] = {c.data() + off, c.data() + off + 12 * kDstStride};
      k.deblock_chroma_pair(planes, across, along, bs, alphas, betas, tc0s);
      for (int p = 0; p < 2; ++p) ref_.deblock_chroma(d.data() + off + 12 * kDstStride * p, across, along, bs, alphas[p], betas[p], tc0s[p]);
      ASSERT_EQ(c, d) << "chroma pair " << (vertical ? "vertical" : "horizontal");
    }
  }
}

// A motion field of 3 x 2 macroblocks with few distinct pictures and vectors near the limits
// (so that equal, near and far pairs, straight and crossed, all occur), tested at the centre
// macroblock of the lower row against every kind of left and top neighbour.
struct TestMotion {
  static constexpr int kStride = 12;
  H264Mv mv[2][kStride * 8] = {};
  int8_t ref[2][kStride * 8] = {};
  int32_t serial[2][kStride * 8] = {};
  H264MotionField Field() const { return {{mv[0], mv[1]}, {ref[0], ref[1]}, {serial[0], serial[1]}, kStride}; }
};

TEST_F(KernelHarness, DeblockMotionRuleOfWholeMacroblocks) {
  auto coord = [&] {
    const int v = static_cast<int>(rng_() % 16);
    return static_cast<int16_t>(v < 14 ? v - 7 : (v == 14 ? 32767 : -32768));
  };
  TestMotion m;
  for (SimdLevel level : LevelsToTest()) {
    const H264Kernels k = KernelsFor(level);
    SCOPED_TRACE(SimdLevelName(level));
    for (int iter = 0; iter < 4000; ++iter) {
      const int lists = 1 + iter % 2, spread = 1 + iter % 5;  // spread 1: mostly equal blocks
      for (int l = 0; l < 2; ++l)
        for (int i = 0; i < TestMotion::kStride * 8; ++i) {
          m.ref[l][i] = static_cast<int8_t>(l < lists ? static_cast<int>(rng_() % 3) - 1 : -1);
          if (spread == 1 && l < lists && rng_() % 4) m.ref[l][i] = static_cast<int8_t>(l);
          m.serial[l][i] = static_cast<int32_t>(rng_() % spread) - 1;
          m.mv[l][i] = spread == 1 ? H264Mv{} : H264Mv{coord(), coord()};
        }
      const int base = 4 * TestMotion::kStride + 4;
      const int lefts[] = {-1, 0, -TestMotion::kStride - 1}, tops[] = {-TestMotion::kStride, 0, -3 * TestMotion::kStride + 5};
      const int left = lefts[rng_() % 3], top = tops[rng_() % 3], inner = iter % 4, lim = iter % 3 ? 4 : 2;
      EXPECT_EQ(k.deblock_motion(m.Field(), base, left, top, lists, inner, lim),
                ref_.deblock_motion(m.Field(), base, left, top, lists, inner, lim))
          << "left " << left << " top " << top << " lists " << lists << " inner " << inner;
    }
  }
  // The rule itself: one vector each from either list against the same picture, near or far.
  m = TestMotion{};
  std::fill(std::begin(m.ref[1]), std::end(m.ref[1]), int8_t{-1});
  const int q = 4 * TestMotion::kStride + 4;
  m.ref[0][q] = -1;
  m.ref[1][q] = 0;
  m.mv[1][q] = H264Mv{3, -3};
  EXPECT_EQ(ref_.deblock_motion(m.Field(), q, -1, 0, 2, 0, 4), 0u);
  m.mv[1][q] = H264Mv{3, -4};
  EXPECT_EQ(ref_.deblock_motion(m.Field(), q, -1, 0, 2, 0, 4), 1u);
  EXPECT_EQ(ref_.deblock_motion(m.Field(), q, -1, -TestMotion::kStride, 2, 0, 4), 0x10001u);
}

TEST(KernelDispatch, LevelsAreOrderedAndNamed) {
  EXPECT_LE(ActiveSimdLevel(), CpuSimdLevel());
#if defined(__x86_64__)
  EXPECT_GE(CpuSimdLevel(), SimdLevel::kSse2);  // part of x86-64
#endif
  EXPECT_STREQ(SimdLevelName(SimdLevel::kSse41), "sse4.1");
}

}  // namespace
}  // namespace fennik
