#include "codec/video/H264InterPred.h"

#include <algorithm>
#include <cstring>

namespace fennik {
namespace {

inline uint8_t Clip1(int v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

inline int Tap6(int a, int b, int c, int d, int e, int f) { return a - 5 * b + 20 * c + 20 * d - 5 * e + f; }

// Copies the (w + 5) x (h + 5) window starting at (x - 2, y - 2) into `out`, repeating edge
// samples where the window leaves the picture. Returns a pointer to sample (x, y) in out.
const uint8_t* FetchWindow(const RefPlane& ref, int x, int y, int w, int h, uint8_t* out, int out_stride) {
  for (int j = 0; j < h + 5; ++j) {
    int yy = std::clamp(y - 2 + j, 0, ref.height - 1);
    const uint8_t* row = ref.data + yy * ref.stride;
    for (int i = 0; i < w + 5; ++i) out[j * out_stride + i] = row[std::clamp(x - 2 + i, 0, ref.width - 1)];
  }
  return out + 2 * out_stride + 2;
}

// Horizontal half sample b at (x + 1/2, y) for a w x h block, into out.
void HalfH(const uint8_t* s, int ss, uint8_t* out, int os, int w, int h) {
  for (int y = 0; y < h; ++y) {
    const uint8_t* r = s + y * ss;
    for (int x = 0; x < w; ++x) out[y * os + x] = Clip1((Tap6(r[x - 2], r[x - 1], r[x], r[x + 1], r[x + 2], r[x + 3]) + 16) >> 5);
  }
}

// Vertical half sample h at (x, y + 1/2).
void HalfV(const uint8_t* s, int ss, uint8_t* out, int os, int w, int h) {
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint8_t* c = s + y * ss + x;
      out[y * os + x] = Clip1((Tap6(c[-2 * ss], c[-ss], c[0], c[ss], c[2 * ss], c[3 * ss]) + 16) >> 5);
    }
}

// Centre half sample j at (x + 1/2, y + 1/2), from unclipped horizontal intermediates.
void HalfCentre(const uint8_t* s, int ss, uint8_t* out, int os, int w, int h) {
  int tmp[21 * 16];
  for (int y = -2; y < h + 3; ++y) {
    const uint8_t* r = s + y * ss;
    for (int x = 0; x < w; ++x) tmp[(y + 2) * 16 + x] = Tap6(r[x - 2], r[x - 1], r[x], r[x + 1], r[x + 2], r[x + 3]);
  }
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int* c = tmp + (y + 2) * 16 + x;
      out[y * os + x] = Clip1((Tap6(c[-32], c[-16], c[0], c[16], c[32], c[48]) + 512) >> 10);
    }
}

inline void Avg(uint8_t* dst, int ds, const uint8_t* a, int as, const uint8_t* b, int bs, int w, int h) {
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) dst[y * ds + x] = static_cast<uint8_t>((a[y * as + x] + b[y * bs + x] + 1) >> 1);
}

}  // namespace

void PredictLuma(uint8_t* dst, int ds, const RefPlane& ref, int x, int y, int fx, int fy, int w, int h) {
  const uint8_t* s;
  int ss;
  uint8_t window[21 * 21];
  if (x - 2 >= 0 && y - 2 >= 0 && x + w + 3 <= ref.width && y + h + 3 <= ref.height) {
    s = ref.data + y * ref.stride + x;
    ss = ref.stride;
  } else {
    s = FetchWindow(ref, x, y, w, h, window, 21);
    ss = 21;
  }
  if (fx == 0 && fy == 0) {
    for (int j = 0; j < h; ++j) std::memcpy(dst + j * ds, s + j * ss, w);
    return;
  }
  uint8_t b1[16 * 16], b2[16 * 16];  // intermediate half-sample planes
  const int bs = 16;
  if (fy == 0) {  // a, b, c
    HalfH(s, ss, fx == 2 ? dst : b1, fx == 2 ? ds : bs, w, h);
    if (fx != 2) Avg(dst, ds, b1, bs, s + (fx == 3 ? 1 : 0), ss, w, h);
    return;
  }
  if (fx == 0) {  // d, h, n
    HalfV(s, ss, fy == 2 ? dst : b1, fy == 2 ? ds : bs, w, h);
    if (fy != 2) Avg(dst, ds, b1, bs, s + (fy == 3 ? ss : 0), ss, w, h);
    return;
  }
  if (fx == 2 || fy == 2) {
    // j, and f / q (j with b or s) and i / k (j with h or m).
    HalfCentre(s, ss, fx == 2 && fy == 2 ? dst : b1, fx == 2 && fy == 2 ? ds : bs, w, h);
    if (fx == 2 && fy == 2) return;
    if (fx == 2) HalfH(s + (fy == 3 ? ss : 0), ss, b2, bs, w, h);  // b (fy 1) or s (fy 3)
    else HalfV(s + (fx == 3 ? 1 : 0), ss, b2, bs, w, h);         // h (fx 1) or m (fx 3)
    Avg(dst, ds, b1, bs, b2, bs, w, h);
    return;
  }
  // e, g, p, r: average of a horizontal half sample (b or s) and a vertical one (h or m).
  HalfH(s + (fy == 3 ? ss : 0), ss, b1, bs, w, h);
  HalfV(s + (fx == 3 ? 1 : 0), ss, b2, bs, w, h);
  Avg(dst, ds, b1, bs, b2, bs, w, h);
}

void PredictChroma(uint8_t* dst, int ds, const RefPlane& ref, int x, int y, int fx, int fy, int w, int h) {
  const int wa = (8 - fx) * (8 - fy), wb = fx * (8 - fy), wc = (8 - fx) * fy, wd = fx * fy;
  const bool inside = x >= 0 && y >= 0 && x + w + 1 <= ref.width && y + h + 1 <= ref.height;
  if (inside) {
    const uint8_t* s = ref.data + y * ref.stride + x;
    const int ss = ref.stride;
    if (fx == 0 && fy == 0) {
      for (int j = 0; j < h; ++j) std::memcpy(dst + j * ds, s + j * ss, w);
      return;
    }
    for (int j = 0; j < h; ++j)
      for (int i = 0; i < w; ++i) {
        const uint8_t* c = s + j * ss + i;
        dst[j * ds + i] = static_cast<uint8_t>((wa * c[0] + wb * c[1] + wc * c[ss] + wd * c[ss + 1] + 32) >> 6);
      }
    return;
  }
  for (int j = 0; j < h; ++j) {
    const int y0 = std::clamp(y + j, 0, ref.height - 1), y1 = std::clamp(y + j + 1, 0, ref.height - 1);
    for (int i = 0; i < w; ++i) {
      const int x0 = std::clamp(x + i, 0, ref.width - 1), x1 = std::clamp(x + i + 1, 0, ref.width - 1);
      const int a = ref.data[y0 * ref.stride + x0], b = ref.data[y0 * ref.stride + x1];
      const int c = ref.data[y1 * ref.stride + x0], d = ref.data[y1 * ref.stride + x1];
      dst[j * ds + i] = static_cast<uint8_t>((wa * a + wb * b + wc * c + wd * d + 32) >> 6);
    }
  }
}

void AverageBlocks(uint8_t* dst, int ds, const uint8_t* a, const uint8_t* b, int ss, int w, int h) {
  Avg(dst, ds, a, ss, b, ss, w, h);
}

void WeightBlock(uint8_t* block, int stride, int w, int h, int log_wd, int weight, int offset) {
  // The default weight without offset leaves every sample as it is.
  if (weight == (1 << log_wd) && offset == 0) return;
  const int round = log_wd >= 1 ? 1 << (log_wd - 1) : 0;
  for (int y = 0; y < h; ++y) {
    uint8_t* row = block + y * stride;
    for (int x = 0; x < w; ++x) row[x] = Clip1(((row[x] * weight + round) >> log_wd) + offset);
  }
}

void WeightBlocksBi(uint8_t* dst, int ds, const uint8_t* a, const uint8_t* b, int ss, int w, int h, int log_wd, int w0,
                    int w1, int o0, int o1) {
  if (w0 == (1 << log_wd) && w1 == w0 && o0 == 0 && o1 == 0) {  // same as the plain average
    Avg(dst, ds, a, ss, b, ss, w, h);
    return;
  }
  const int round = 1 << log_wd;
  const int offset = (o0 + o1 + 1) >> 1;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      dst[y * ds + x] = Clip1(((a[y * ss + x] * w0 + b[y * ss + x] * w1 + round) >> (log_wd + 1)) + offset);
}

}  // namespace fennik
