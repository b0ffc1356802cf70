// Separable 8x8 inverse DCT: f(x,y) = sum_u sum_v C(u)C(v)/4 F(u,v) cos((2x+1)u pi/16)
// cos((2y+1)v pi/16), computed as eight 1-D row transforms followed by eight column
// transforms with a precomputed basis. Rows whose coefficients are all zero are skipped, and
// a block with only its DC coefficient has the exact result DC / 8 everywhere.
#include "codec/video/Idct8x8.h"

#include <cmath>

namespace fennik {
namespace {

struct Basis {
  float c[8][8];  // c[x][u] = C(u)/2 cos((2x+1) u pi / 16)
  Basis() {
    for (int x = 0; x < 8; ++x)
      for (int u = 0; u < 8; ++u) {
        const double cu = u == 0 ? std::sqrt(0.5) : 1.0;
        c[x][u] = static_cast<float>(cu / 2.0 * std::cos((2 * x + 1) * u * M_PI / 16.0));
      }
  }
};
const Basis kBasis;

// Nearest integer, halves away from zero.
inline int RoundToInt(float v) { return static_cast<int>(v >= 0.0f ? v + 0.5f : v - 0.5f); }

// Returns false when only the DC coefficient is non-zero (then `dc` holds its result).
bool Transform(const int16_t coef[64], float out[64], int& dc) {
  bool ac = false;
  for (int i = 1; i < 64; ++i)
    if (coef[i] != 0) {
      ac = true;
      break;
    }
  if (!ac) {
    // DC / 8 rounded half away from zero, as the full transform rounds.
    const int v = coef[0];
    dc = v >= 0 ? (v + 4) >> 3 : -((-v + 4) >> 3);
    return false;
  }
  float tmp[64];
  for (int r = 0; r < 8; ++r) {
    const int16_t* in = coef + r * 8;
    float* t = tmp + r * 8;
    if ((in[0] | in[1] | in[2] | in[3] | in[4] | in[5] | in[6] | in[7]) == 0) {
      for (int x = 0; x < 8; ++x) t[x] = 0.0f;
      continue;
    }
    for (int x = 0; x < 8; ++x) {
      const float* b = kBasis.c[x];
      t[x] = b[0] * in[0] + b[1] * in[1] + b[2] * in[2] + b[3] * in[3] + b[4] * in[4] + b[5] * in[5] +
             b[6] * in[6] + b[7] * in[7];
    }
  }
  for (int y = 0; y < 8; ++y) {
    const float* b = kBasis.c[y];
    for (int x = 0; x < 8; ++x)
      out[y * 8 + x] = b[0] * tmp[x] + b[1] * tmp[8 + x] + b[2] * tmp[16 + x] + b[3] * tmp[24 + x] +
                       b[4] * tmp[32 + x] + b[5] * tmp[40 + x] + b[6] * tmp[48 + x] + b[7] * tmp[56 + x];
  }
  return true;
}

inline int Clip(int v, int lo, int hi) { return v < lo ? lo : v > hi ? hi : v; }

}  // namespace

void Idct8x8(const int16_t coef[64], int16_t out[64]) {
  float f[64];
  int dc = 0;
  if (!Transform(coef, f, dc)) {
    for (int i = 0; i < 64; ++i) out[i] = static_cast<int16_t>(Clip(dc, -256, 255));
    return;
  }
  for (int i = 0; i < 64; ++i) out[i] = static_cast<int16_t>(Clip(RoundToInt(f[i]), -256, 255));
}

void Idct8x8Put(const int16_t coef[64], uint8_t* dst, int stride) {
  float f[64];
  int dc = 0;
  if (!Transform(coef, f, dc)) {
    const uint8_t v = static_cast<uint8_t>(Clip(dc, 0, 255));
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 8; ++x) dst[y * stride + x] = v;
    return;
  }
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) dst[y * stride + x] = static_cast<uint8_t>(Clip(RoundToInt(f[y * 8 + x]), 0, 255));
}

void Idct8x8Add(const int16_t coef[64], uint8_t* dst, int stride) {
  float f[64];
  int dc = 0;
  if (!Transform(coef, f, dc)) {
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 8; ++x) {
        uint8_t& p = dst[y * stride + x];
        p = static_cast<uint8_t>(Clip(p + dc, 0, 255));
      }
    return;
  }
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      uint8_t& p = dst[y * stride + x];
      p = static_cast<uint8_t>(Clip(p + RoundToInt(f[y * 8 + x]), 0, 255));
    }
}

}  // namespace fennik
