#include "codec/video/M4VGmc.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>

namespace fennik {

namespace {

// Integer division rounded to the nearest, halves away from zero ("//" of ISO/IEC 14496-2).
int64_t RoundedDiv(int64_t a, int64_t b) { return a >= 0 ? (a + b / 2) / b : -((-a + b / 2) / b); }

// a >> b rounded to the nearest, halves upwards for positive and downwards for negative values.
// 2^(k - 1): the rounding term of a division by 2^k (0 for k = 0).
int64_t Half(int k) { return k > 0 ? int64_t{1} << (k - 1) : 0; }

int64_t RoundedShift(int64_t a, int b) {
  if (b <= 0) return a;
  const int64_t half = (int64_t{1} << b) >> 1;
  return a > 0 ? (a + half) >> b : (a + half - 1) >> b;
}

inline int Sample(const H263Plane& p, int x, int y) {
  x = std::clamp(x, 0, p.width - 1);
  y = std::clamp(y, 0, p.height - 1);
  return p.data[static_cast<ptrdiff_t>(y) * p.stride + x];
}

}  // namespace

bool M4vGmcSetup(int width, int height, int accuracy, int points, const int32_t trajectory[4][2],
                 M4vGmcParams& params) {
  params = M4vGmcParams{};
  if (width <= 0 || height <= 0 || accuracy < 0 || accuracy > 3 || points < 0 || points > 3) return false;
  const int64_t a = int64_t{2} << accuracy;  // s of the standard
  const int rho = 3 - accuracy;
  const int64_t r = 16 / a;
  const int64_t w = width, h = height;
  int alpha = 0, beta = 0;
  while ((int64_t{1} << alpha) < w) ++alpha;
  while ((int64_t{1} << beta) < h) ++beta;
  const int64_t w2 = int64_t{1} << alpha, h2 = int64_t{1} << beta;
  int64_t d[3][2] = {};
  for (int i = 0; i < points && i < 3; ++i) {
    d[i][0] = trajectory[i][0];
    d[i][1] = trajectory[i][1];
  }
  // Sprite reference points (i0', j0'), (i1', j1'), (i2', j2') of the VOP's corners (0, 0),
  // (W, 0) and (0, H), in 1 / s samples.
  const int64_t half = a >> 1;
  const int64_t i0 = half * d[0][0], j0 = half * d[0][1];
  const int64_t i1 = half * (2 * w + d[0][0] + d[1][0]), j1 = half * (d[0][1] + d[1][1]);
  const int64_t i2 = half * (d[0][0] + d[2][0]), j2 = half * (2 * h + d[0][1] + d[2][1]);
  // Virtual sprite points of the corners (W', 0) and (0, H'), W' and H' powers of two.
  const int64_t vi1 = 16 * w2 + RoundedDiv((w - w2) * (r * i0) + w2 * (r * i1 - 16 * w), w);
  const int64_t vj1 = RoundedDiv((w - w2) * (r * j0) + w2 * (r * j1), w);
  const int64_t vi2 = RoundedDiv((h - h2) * (r * i0) + h2 * (r * i2), h);
  const int64_t vj2 = 16 * h2 + RoundedDiv((h - h2) * (r * j0) + h2 * (r * j2 - 16 * h), h);

  int64_t off[2][2] = {}, del[2][2] = {};
  int shift[2] = {0, 0};
  switch (points) {
    case 0:
      del[0][0] = del[1][1] = a;
      break;
    case 1:
      off[0][0] = i0;
      off[0][1] = j0;
      off[1][0] = (i0 >> 1) | (i0 & 1);
      off[1][1] = (j0 >> 1) | (j0 & 1);
      del[0][0] = del[1][1] = a;
      break;
    case 2: {
      const int k = alpha + rho;
      del[0][0] = -r * i0 + vi1;
      del[0][1] = r * j0 - vj1;
      del[1][0] = -r * j0 + vj1;
      del[1][1] = -r * i0 + vi1;
      off[0][0] = i0 * (int64_t{1} << k) + Half(k);
      off[0][1] = j0 * (int64_t{1} << k) + Half(k);
      off[1][0] = del[0][0] + del[0][1] + 2 * w2 * r * i0 - 16 * w2 + (int64_t{1} << (k + 1));
      off[1][1] = del[1][0] + del[1][1] + 2 * w2 * r * j0 - 16 * w2 + (int64_t{1} << (k + 1));
      shift[0] = k;
      shift[1] = k + 2;
      break;
    }
    default: {
      const int minab = std::min(alpha, beta);
      const int64_t w3 = w2 >> minab, h3 = h2 >> minab;
      const int k = alpha + beta + rho - minab;
      del[0][0] = (-r * i0 + vi1) * h3;
      del[0][1] = (-r * i0 + vi2) * w3;
      del[1][0] = (-r * j0 + vj1) * h3;
      del[1][1] = (-r * j0 + vj2) * w3;
      off[0][0] = i0 * (int64_t{1} << k) + Half(k);
      off[0][1] = j0 * (int64_t{1} << k) + Half(k);
      off[1][0] = del[0][0] + del[0][1] + 2 * w2 * h3 * r * i0 - 16 * w2 * h3 + (int64_t{1} << (k + 1));
      off[1][1] = del[1][0] + del[1][1] + 2 * w2 * h3 * r * j0 - 16 * w2 * h3 + (int64_t{1} << (k + 1));
      shift[0] = k;
      shift[1] = k + 2;
      break;
    }
  }
  if (points >= 2 && del[0][0] == (a << shift[0]) && del[0][1] == 0 && del[1][0] == 0 &&
      del[1][1] == (a << shift[0])) {
    // An affine warp that is a translation: positions as for one warping point.
    off[0][0] >>= shift[0];
    off[0][1] >>= shift[0];
    off[1][0] >>= shift[1];
    off[1][1] >>= shift[1];
    del[0][0] = del[1][1] = a;
    del[0][1] = del[1][0] = 0;
    shift[0] = shift[1] = 0;
    points = 1;
  }
  // Positions of every sample of a VOP up to 4096 samples wide, and the sum of a macroblock's
  // 256 of them, must stay inside 64 bits.
  constexpr int64_t kLimit = int64_t{1} << 40;
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 2; ++j)
      if (std::llabs(off[i][j]) >= kLimit || std::llabs(del[i][j]) >= kLimit) return false;
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 2; ++j) {
      params.offset[i][j] = off[i][j];
      params.delta[i][j] = del[i][j];
    }
  params.shift[0] = shift[0];
  params.shift[1] = shift[1];
  params.accuracy = accuracy;
  params.points = points == 0 ? 1 : points;
  params.valid = true;
  return true;
}

void M4vGmcPredict(const H263Plane& ref, const M4vGmcParams& params, bool chroma, int mbx, int mby, int rounding,
                   uint8_t* dst, int dstStride) {
  const int n = chroma ? 8 : 16;
  const int x0 = mbx * n, y0 = mby * n;
  const int c = chroma ? 1 : 0;
  if (params.points == 1) {
    // Translation: bilinear interpolation at 1/16 sample.
    const int up = 3 - params.accuracy;
    const int64_t mx = params.offset[c][0], my = params.offset[c][1];
    const int sx = x0 + static_cast<int>(mx >> (params.accuracy + 1));
    const int sy = y0 + static_cast<int>(my >> (params.accuracy + 1));
    const int fx = static_cast<int>((mx * (int64_t{1} << up)) & 15);
    const int fy = static_cast<int>((my * (int64_t{1} << up)) & 15);
    const int round = 128 - rounding;
    for (int r = 0; r < n; ++r)
      for (int q = 0; q < n; ++q) {
        const int v = (16 - fx) * (16 - fy) * Sample(ref, sx + q, sy + r) + fx * (16 - fy) * Sample(ref, sx + q + 1, sy + r) +
                      (16 - fx) * fy * Sample(ref, sx + q, sy + r + 1) + fx * fy * Sample(ref, sx + q + 1, sy + r + 1);
        dst[r * dstStride + q] = static_cast<uint8_t>((v + round) >> 8);
      }
    return;
  }
  const int bits = params.accuracy + 1;
  const int s = 1 << bits;
  const int round = (1 << (2 * bits - 1)) - rounding;
  const int k = params.shift[c];
  const int scale = chroma ? 4 : 1;  // chrominance positions step 4 luminance-delta units
  for (int r = 0; r < n; ++r)
    for (int q = 0; q < n; ++q) {
      const int64_t x = x0 + q, y = y0 + r;
      const int64_t px = (params.offset[c][0] + scale * (params.delta[0][0] * x + params.delta[0][1] * y)) >> k;
      const int64_t py = (params.offset[c][1] + scale * (params.delta[1][0] * x + params.delta[1][1] * y)) >> k;
      const int fx = static_cast<int>(px & (s - 1)), fy = static_cast<int>(py & (s - 1));
      const int ix = static_cast<int>(px >> bits), iy = static_cast<int>(py >> bits);
      const int v = ((s - fx) * Sample(ref, ix, iy) + fx * Sample(ref, ix + 1, iy)) * (s - fy) +
                    ((s - fx) * Sample(ref, ix, iy + 1) + fx * Sample(ref, ix + 1, iy + 1)) * fy;
      dst[r * dstStride + q] = static_cast<uint8_t>((v + round) >> (2 * bits));
    }
}

int M4vGmcAverageVector(const M4vGmcParams& params, int component, int mbx, int mby, bool quarterSample,
                        uint32_t fcode) {
  const int a = params.accuracy;
  const int q = quarterSample ? 1 : 0;
  int64_t sum;
  if (params.points == 1) {
    const int64_t off = params.offset[0][component];
    sum = a > q ? off / (int64_t{1} << (a - q)) : RoundedShift(off * (int64_t{1} << q), a);
  } else {
    // The mean displacement of the macroblock's 256 warped positions from the samples' own.
    const int k = params.shift[0];
    const int64_t identity = int64_t{2} << (a + k);
    const int64_t dx = params.delta[component][0] - (component == 0 ? identity : 0);
    const int64_t dy = params.delta[component][1] - (component == 1 ? identity : 0);
    sum = 0;
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x)
        sum += (params.offset[0][component] + dx * (mbx * 16 + x) + dy * (mby * 16 + y)) >> k;
    sum = RoundedShift(sum, a + 8 - q);
  }
  const int64_t len = int64_t{1} << (std::clamp<uint32_t>(fcode, 1, 7) + 4);
  return static_cast<int>(std::clamp(sum, -len, len - 1));
}

}  // namespace fennik
