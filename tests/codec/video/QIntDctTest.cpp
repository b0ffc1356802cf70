// QIntDCT against the IEEE 1180-1990 accuracy test: 10000 random blocks in each of the
// ranges -256..255, -5..5 and -300..300 (and the same blocks negated) go through a double
// forward DCT, are rounded and clipped to -2048..2047, and come back through a double
// inverse DCT and through QIntDCT; the errors must stay within the standard's limits.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "codec/video/QIntDCT.h"

namespace fennik {
namespace {

// The standard's random generator.
class Ieee1180Random {
 public:
  int32_t Next(int32_t low, int32_t high) {
    state_ = state_ * 1103515245u + 12345u;
    const uint32_t i = state_ & 0x7FFFFFFEu;
    double x = static_cast<double>(i) / 2147483647.0;
    x *= static_cast<double>(low + high + 1);
    return static_cast<int32_t>(x) - low;
  }

 private:
  uint32_t state_ = 1;
};

// basis[k][n] = c(k) cos((2n + 1) k pi / 16), the orthonormal 8-point DCT.
struct Basis {
  double m[8][8];
  Basis() {
    for (int k = 0; k < 8; ++k)
      for (int n = 0; n < 8; ++n) m[k][n] = (k == 0 ? std::sqrt(0.125) : 0.5) * std::cos((2 * n + 1) * k * M_PI / 16.0);
  }
};
const Basis kBasis;

// Separable 2-D transform: forward out = B in B^T, inverse out = B^T in B.
void Transform(const double in[64], double out[64], bool inverse) {
  double tmp[64];
  for (int y = 0; y < 8; ++y)
    for (int u = 0; u < 8; ++u) {
      double s = 0;
      for (int x = 0; x < 8; ++x) s += in[8 * y + x] * (inverse ? kBasis.m[x][u] : kBasis.m[u][x]);
      tmp[8 * y + u] = s;
    }
  for (int v = 0; v < 8; ++v)
    for (int u = 0; u < 8; ++u) {
      double s = 0;
      for (int y = 0; y < 8; ++y) s += tmp[8 * y + u] * (inverse ? kBasis.m[y][v] : kBasis.m[v][y]);
      out[8 * v + u] = s;
    }
}
void ForwardDct(const double in[64], double out[64]) { Transform(in, out, false); }
void InverseDct(const double in[64], double out[64]) { Transform(in, out, true); }

int32_t Clamp(double v, int32_t low, int32_t high) {
  const double r = std::floor(v + 0.5);
  return static_cast<int32_t>(r < low ? low : r > high ? high : r);
}

struct Stats {
  int peak = 0;
  double mse[64] = {}, mean[64] = {};
};

Stats RunRange(int32_t low, int32_t high, int sign) {
  Ieee1180Random random;
  Stats s;
  const int kBlocks = 10000;
  for (int b = 0; b < kBlocks; ++b) {
    double pixels[64], coefficients[64], reference[64];
    for (double& p : pixels) p = sign * random.Next(low, high);
    ForwardDct(pixels, coefficients);
    int16_t block[64];
    double rounded[64];
    for (int i = 0; i < 64; ++i) {
      block[i] = static_cast<int16_t>(Clamp(coefficients[i], -2048, 2047));
      rounded[i] = block[i];
    }
    InverseDct(rounded, reference);
    QIntDCT::Inverse(block);
    for (int i = 0; i < 64; ++i) {
      const int err = Clamp(block[i], -256, 255) - Clamp(reference[i], -256, 255);
      s.peak = std::max(s.peak, std::abs(err));
      s.mse[i] += err * err;
      s.mean[i] += err;
    }
  }
  for (int i = 0; i < 64; ++i) s.mse[i] /= kBlocks, s.mean[i] /= kBlocks;
  return s;
}

TEST(QIntDct, MeetsTheIeee1180AccuracyLimits) {
  struct Range {
    int32_t low, high;
  };
  for (const Range r : {Range{256, 255}, Range{5, 5}, Range{300, 300}}) {
    for (int sign : {1, -1}) {
      SCOPED_TRACE(::testing::Message() << "range -" << r.low << ".." << r.high << " sign " << sign);
      const Stats s = RunRange(r.low, r.high, sign);
      EXPECT_LE(s.peak, 1);
      double overallMse = 0, overallMean = 0;
      for (int i = 0; i < 64; ++i) {
        EXPECT_LE(s.mse[i], 0.06) << i;
        EXPECT_LE(std::fabs(s.mean[i]), 0.015) << i;
        overallMse += s.mse[i] / 64;
        overallMean += s.mean[i] / 64;
      }
      EXPECT_LE(overallMse, 0.02);
      EXPECT_LE(std::fabs(overallMean), 0.0015);
    }
  }
}

TEST(QIntDct, ZeroInZeroOutAndPutAddClip) {
  int16_t block[64] = {};
  QIntDCT::Inverse(block);
  for (int16_t v : block) EXPECT_EQ(v, 0);
  // A DC of 80 is a flat residual of 10: put gives 10, add on 250 clips at 255, a negative
  // DC put clips at 0.
  uint8_t pixels[64];
  int16_t dc[64] = {80};
  QIntDCT::InversePut(dc, pixels, 8);
  for (uint8_t p : pixels) EXPECT_EQ(p, 10);
  for (uint8_t& p : pixels) p = 250;
  int16_t dc2[64] = {80};
  QIntDCT::InverseAdd(dc2, pixels, 8);
  for (uint8_t p : pixels) EXPECT_EQ(p, 255);
  int16_t negative[64] = {-80};
  QIntDCT::InversePut(negative, pixels, 8);
  for (uint8_t p : pixels) EXPECT_EQ(p, 0);
}

}  // namespace
}  // namespace fennik
