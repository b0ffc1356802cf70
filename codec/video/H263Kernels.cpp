// Motion compensation, OBMC and deblocking kernels of the H.263 decoder.
#include "codec/video/H263Kernels.h"

#include <cstdlib>

#include "codec/video/h263_tables.h"

namespace fennik {
namespace {

inline int Clamp(int v, int lo, int hi) { return v < lo ? lo : v > hi ? hi : v; }
inline uint8_t ClipPixel(int v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

}  // namespace

void H263Predict(const H263Plane& ref, int x, int y, int mvx, int mvy, int w, int h, int rounding_type,
                 uint8_t* dst, int dst_stride) {
  const int ix = x + (mvx >> 1);
  const int iy = y + (mvy >> 1);
  const int fx = mvx & 1;
  const int fy = mvy & 1;
  const uint8_t* src;
  int stride;
  uint8_t edge[17 * 17];
  if (ix < 0 || iy < 0 || ix + w + fx > ref.width || iy + h + fy > ref.height) {
    // Annex D.1: samples outside the picture are those of the nearest edge.
    for (int r = 0; r < h + fy; ++r) {
      const uint8_t* row = ref.data + Clamp(iy + r, 0, ref.height - 1) * ref.stride;
      for (int c = 0; c < w + fx; ++c) edge[r * 17 + c] = row[Clamp(ix + c, 0, ref.width - 1)];
    }
    src = edge;
    stride = 17;
  } else {
    src = ref.data + iy * ref.stride + ix;
    stride = ref.stride;
  }
  if (!fx && !fy) {
    for (int r = 0; r < h; ++r)
      for (int c = 0; c < w; ++c) dst[r * dst_stride + c] = src[r * stride + c];
  } else if (fx && !fy) {
    const int round = 1 - rounding_type;
    for (int r = 0; r < h; ++r)
      for (int c = 0; c < w; ++c)
        dst[r * dst_stride + c] = static_cast<uint8_t>((src[r * stride + c] + src[r * stride + c + 1] + round) >> 1);
  } else if (!fx && fy) {
    const int round = 1 - rounding_type;
    for (int r = 0; r < h; ++r)
      for (int c = 0; c < w; ++c)
        dst[r * dst_stride + c] = static_cast<uint8_t>((src[r * stride + c] + src[(r + 1) * stride + c] + round) >> 1);
  } else {
    const int round = 2 - rounding_type;
    for (int r = 0; r < h; ++r)
      for (int c = 0; c < w; ++c) {
        const uint8_t* s = src + r * stride + c;
        dst[r * dst_stride + c] = static_cast<uint8_t>((s[0] + s[1] + s[stride] + s[stride + 1] + round) >> 2);
      }
  }
}

void H263ObmcBlock(const H263Plane& ref, int x, int y, const int mv[5][2], int rounding_type, uint8_t* dst,
                   int dst_stride) {
  uint8_t pred[5][64];
  H263Predict(ref, x, y, mv[0][0], mv[0][1], 8, 8, rounding_type, pred[0], 8);
  for (int k = 1; k < 5; ++k) {
    if (mv[k][0] == mv[0][0] && mv[k][1] == mv[0][1]) {
      for (int i = 0; i < 64; ++i) pred[k][i] = pred[0][i];
    } else {
      H263Predict(ref, x, y, mv[k][0], mv[k][1], 8, 8, rounding_type, pred[k], 8);
    }
  }
  for (int r = 0; r < 8; ++r)
    for (int c = 0; c < 8; ++c) {
      const int i = r * 8 + c;
      const int vertical = r < 4 ? pred[1][i] : pred[2][i];
      const int horizontal = c < 4 ? pred[3][i] : pred[4][i];
      dst[r * dst_stride + c] = static_cast<uint8_t>(
          (pred[0][i] * kH263ObmcCurrent[i] + vertical * kH263ObmcTopBottom[i] + horizontal * kH263ObmcLeftRight[i] + 4) >> 3);
    }
}

void H263DeblockEdge(uint8_t* p, int across, int along, int strength) {
  for (int k = 0; k < 8; ++k, p += along) {
    const int a = p[-2 * across], b = p[-across], c = p[0], d = p[across];
    const int delta = (a - 4 * b + 4 * c - d) / 8;
    // UpDownRamp(delta, strength)
    int d1;
    if (delta < -2 * strength || delta > 2 * strength) d1 = 0;
    else if (delta < -strength) d1 = -2 * strength - delta;
    else if (delta <= strength) d1 = delta;
    else d1 = 2 * strength - delta;
    const int half = std::abs(d1) >> 1;
    const int d2 = Clamp((a - d) / 4, -half, half);
    p[-2 * across] = ClipPixel(a - d2);
    p[-across] = ClipPixel(b + d1);
    p[0] = ClipPixel(c - d1);
    p[across] = ClipPixel(d + d2);
  }
}

}  // namespace fennik
