#include "codec/video/H264InterPred.h"

#include <algorithm>
#include <cstring>

#include "codec/video/kernels/H264Kernels.h"

namespace fennik {
namespace {

// Copies the (w + 5) x (h + 5) window starting at (x - 2, y - 2) into `out`, repeating edge
// samples where the window leaves the picture. Returns a pointer to sample (x, y) in out.
const uint8_t* FetchWindow(const RefPlane& ref, int x, int y, int w, int h, uint8_t* out, int out_stride) {
  // Windows beyond only the top or bottom edge copy whole rows.
  const bool inside_x = x - 2 >= 0 && x + w + 3 <= ref.width;
  for (int j = 0; j < h + 5; ++j) {
    int yy = std::clamp(y - 2 + j, 0, ref.height - 1);
    const uint8_t* row = ref.data + yy * ref.stride;
    if (inside_x) {
      std::memcpy(out + j * out_stride, row + x - 2, static_cast<size_t>(w + 5));
      continue;
    }
    for (int i = 0; i < w + 5; ++i) out[j * out_stride + i] = row[std::clamp(x - 2 + i, 0, ref.width - 1)];
  }
  return out + 2 * out_stride + 2;
}

}  // namespace

void PredictLuma(uint8_t* dst, int ds, const RefPlane& ref, int x, int y, int fx, int fy, int w, int h) {
  const H264Kernels& k = Kernels();
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
    // Fixed-size copies (inlined) rather than a library call per row.
    if (w == 16) for (int j = 0; j < h; ++j) std::memcpy(dst + j * ds, s + j * ss, 16);
    else if (w == 8) for (int j = 0; j < h; ++j) std::memcpy(dst + j * ds, s + j * ss, 8);
    else for (int j = 0; j < h; ++j) std::memcpy(dst + j * ds, s + j * ss, static_cast<size_t>(w));
    return;
  }
  uint8_t b1[16 * 16], b2[16 * 16];  // intermediate half-sample planes
  const int bs = 16;
  if (fy == 0) {  // a, b, c
    k.luma_half_h(fx == 2 ? dst : b1, fx == 2 ? ds : bs, s, ss, w, h);
    if (fx != 2) k.average(dst, ds, b1, bs, s + (fx == 3 ? 1 : 0), ss, w, h);
    return;
  }
  if (fx == 0) {  // d, h, n
    k.luma_half_v(fy == 2 ? dst : b1, fy == 2 ? ds : bs, s, ss, w, h);
    if (fy != 2) k.average(dst, ds, b1, bs, s + (fy == 3 ? ss : 0), ss, w, h);
    return;
  }
  if (fx == 2 || fy == 2) {
    // j, and f / q (j with b or s) and i / k (j with h or m).
    k.luma_half_hv(fx == 2 && fy == 2 ? dst : b1, fx == 2 && fy == 2 ? ds : bs, s, ss, w, h);
    if (fx == 2 && fy == 2) return;
    if (fx == 2) k.luma_half_h(b2, bs, s + (fy == 3 ? ss : 0), ss, w, h);  // b (fy 1) or s (fy 3)
    else k.luma_half_v(b2, bs, s + (fx == 3 ? 1 : 0), ss, w, h);         // h (fx 1) or m (fx 3)
    k.average(dst, ds, b1, bs, b2, bs, w, h);
    return;
  }
  // e, g, p, r: average of a horizontal half sample (b or s) and a vertical one (h or m).
  k.luma_half_h(b1, bs, s + (fy == 3 ? ss : 0), ss, w, h);
  k.luma_half_v(b2, bs, s + (fx == 3 ? 1 : 0), ss, w, h);
  k.average(dst, ds, b1, bs, b2, bs, w, h);
}

void PredictChroma(uint8_t* dst, int ds, const RefPlane& ref, int x, int y, int fx, int fy, int w, int h) {
  const bool inside = x >= 0 && y >= 0 && x + w + 1 <= ref.width && y + h + 1 <= ref.height;
  if (inside) {
    Kernels().chroma(dst, ds, ref.data + y * ref.stride + x, ref.stride, fx, fy, w, h);
    return;
  }
  // Outside the picture: the (w + 1) x (h + 1) window with edge samples repeated.
  uint8_t window[9 * 17];
  for (int j = 0; j <= h; ++j) {
    const uint8_t* row = ref.data + std::clamp(y + j, 0, ref.height - 1) * ref.stride;
    for (int i = 0; i <= w; ++i) window[j * 9 + i] = row[std::clamp(x + i, 0, ref.width - 1)];
  }
  Kernels().chroma(dst, ds, window, 9, fx, fy, w, h);
}

void AverageBlocks(uint8_t* dst, int ds, const uint8_t* a, const uint8_t* b, int ss, int w, int h) {
  Kernels().average(dst, ds, a, ss, b, ss, w, h);
}

void WeightBlock(uint8_t* block, int stride, int w, int h, int log_wd, int weight, int offset) {
  // The default weight without offset leaves every sample as it is.
  if (weight == (1 << log_wd) && offset == 0) return;
  Kernels().weight(block, stride, w, h, log_wd, weight, offset);
}

void WeightBlocksBi(uint8_t* dst, int ds, const uint8_t* a, const uint8_t* b, int ss, int w, int h, int log_wd, int w0,
                    int w1, int o0, int o1) {
  if (w0 == (1 << log_wd) && w1 == w0 && o0 == 0 && o1 == 0) {  // same as the plain average
    Kernels().average(dst, ds, a, ss, b, ss, w, h);
    return;
  }
  Kernels().weight_bi(dst, ds, a, b, ss, w, h, log_wd, w0, w1, (o0 + o1 + 1) >> 1);
}

}  // namespace fennik
