// The 8x8 inverse DCT against the accuracy limits of IEEE Std 1180-1990: 10,000 random blocks
// for each input range (-256..255, -5..5, -300..300) and sign, made with the standard's
// generator, transformed forward in double precision, and compared with the double-precision
// inverse transform.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "codec/video/Idct8x8.h"

namespace fennik {
namespace {

// The pseudo-random generator given in IEEE 1180 (a 32-bit linear congruential generator).
class Ieee1180Random {
 public:
  explicit Ieee1180Random(uint32_t seed) : x_(seed) {}
  int Next(int low, int high) {  // uniform in -low .. high
    x_ = x_ * 1103515245u + 12345u;
    const double v = static_cast<double>(x_ & 0x7ffffffeu) / static_cast<double>(0x7fffffff) * (low + high + 1);
    return static_cast<int>(v) - low;
  }

 private:
  uint32_t x_;
};

// c[k][n] = C(k)/2 cos((2n+1) k pi / 16), the orthonormal DCT basis.
struct DctBasis {
  double c[8][8];
  DctBasis() {
    for (int k = 0; k < 8; ++k)
      for (int n = 0; n < 8; ++n) c[k][n] = (k == 0 ? std::sqrt(0.125) : 0.5) * std::cos((2 * n + 1) * k * M_PI / 16.0);
  }
};
const DctBasis kDct;

// Separable double-precision transform: out = M in M^T (forward, M = c) or M^T in M (inverse).
void Transform(const double in[64], double out[64], bool inverse) {
  double tmp[64];
  for (int r = 0; r < 8; ++r)
    for (int k = 0; k < 8; ++k) {
      double s = 0;
      for (int n = 0; n < 8; ++n) s += (inverse ? kDct.c[n][k] : kDct.c[k][n]) * in[r * 8 + n];
      tmp[r * 8 + k] = s;
    }
  for (int k = 0; k < 8; ++k)
    for (int col = 0; col < 8; ++col) {
      double s = 0;
      for (int n = 0; n < 8; ++n) s += (inverse ? kDct.c[n][k] : kDct.c[k][n]) * tmp[n * 8 + col];
      out[k * 8 + col] = s;
    }
}

void ForwardDct(const int in[64], int16_t out[64]) {
  double d[64], f[64];
  for (int i = 0; i < 64; ++i) d[i] = in[i];
  Transform(d, f, false);
  for (int i = 0; i < 64; ++i)
    out[i] = static_cast<int16_t>(std::clamp(static_cast<int>(std::floor(f[i] + 0.5)), -2048, 2047));
}

void ReferenceIdct(const int16_t in[64], int out[64]) {
  double d[64], f[64];
  for (int i = 0; i < 64; ++i) d[i] = in[i];
  Transform(d, f, true);
  for (int i = 0; i < 64; ++i) out[i] = std::clamp(static_cast<int>(std::floor(f[i] + 0.5)), -256, 255);
}

struct Range {
  int low, high, sign;
};

class Idct1180 : public ::testing::TestWithParam<Range> {};

TEST_P(Idct1180, MeetsTheAccuracyLimits) {
  const Range r = GetParam();
  Ieee1180Random rng(1);
  constexpr int kBlocks = 10000;
  double err_sum[64] = {}, sq_sum[64] = {};
  int peak = 0;
  for (int b = 0; b < kBlocks; ++b) {
    int pixels[64];
    for (int& p : pixels) p = r.sign * rng.Next(r.low, r.high);
    int16_t coef[64], test_out[64];
    int ref_out[64];
    ForwardDct(pixels, coef);
    ReferenceIdct(coef, ref_out);
    Idct8x8(coef, test_out);
    for (int i = 0; i < 64; ++i) {
      const int e = test_out[i] - ref_out[i];
      peak = std::max(peak, std::abs(e));
      err_sum[i] += e;
      sq_sum[i] += e * e;
    }
  }
  double total_err = 0, total_sq = 0, worst_mse = 0, worst_mean = 0;
  for (int i = 0; i < 64; ++i) {
    worst_mse = std::max(worst_mse, sq_sum[i] / kBlocks);
    worst_mean = std::max(worst_mean, std::abs(err_sum[i]) / kBlocks);
    total_err += err_sum[i];
    total_sq += sq_sum[i];
  }
  EXPECT_LE(peak, 1);
  EXPECT_LE(worst_mse, 0.06);
  EXPECT_LE(total_sq / (64.0 * kBlocks), 0.02);
  EXPECT_LE(worst_mean, 0.015);
  EXPECT_LE(std::abs(total_err) / (64.0 * kBlocks), 0.0015);
}

INSTANTIATE_TEST_SUITE_P(Ranges, Idct1180,
                         ::testing::Values(Range{256, 255, 1}, Range{5, 5, 1}, Range{300, 300, 1}, Range{256, 255, -1},
                                           Range{5, 5, -1}, Range{300, 300, -1}));

TEST(Idct8x8, ZeroInGivesZeroOutAndDcOnlyIsFlat) {
  int16_t coef[64] = {}, out[64];
  Idct8x8(coef, out);
  for (int16_t v : out) EXPECT_EQ(v, 0);
  coef[0] = -84;  // -84 / 8 = -10.5, rounded away from zero
  Idct8x8(coef, out);
  for (int16_t v : out) EXPECT_EQ(v, -11);
  uint8_t pixels[8 * 8];
  std::fill(std::begin(pixels), std::end(pixels), 250);
  coef[0] = 160;  // +20 saturates at 255
  Idct8x8Add(coef, pixels, 8);
  for (uint8_t p : pixels) EXPECT_EQ(p, 255);
}

}  // namespace
}  // namespace fennik
