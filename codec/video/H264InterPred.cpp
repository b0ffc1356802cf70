#include "codec/video/H264InterPred.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "codec/video/kernels/H264Kernels.h"

namespace fennik {
namespace {

// The kernel table, chosen once at start-up (read on every block).
const H264Kernels& kMc = Kernels();

// Room for the largest luma window (21 x 21) or chroma window (9 x 17 at stride 16), and
// for the SIMD kernels' reads past a row's end.
constexpr int kWindowStride = 24;
using Window = uint8_t[kWindowStride * 22 + 16];

// Copies the w x h window starting at (x, y) into `out`, repeating edge samples where the
// window leaves the picture.
void FetchWindow(const RefPlane& ref, int x, int y, int w, int h, uint8_t* out) {
  // Windows beyond only the top or bottom edge copy whole rows.
  const bool inside_x = x >= 0 && x + w <= ref.width;
  for (int j = 0; j < h; ++j) {
    const uint8_t* row = ref.data + std::clamp(y + j, 0, ref.height - 1) * ref.stride;
    if (inside_x) {  // fixed-size copies; the plane allows reads 16 bytes past a row
      if (w <= 16) std::memcpy(out + j * kWindowStride, row + x, 16);
      else std::memcpy(out + j * kWindowStride, row + x, kWindowStride);
      continue;
    }
    for (int i = 0; i < w; ++i) out[j * kWindowStride + i] = row[std::clamp(x + i, 0, ref.width - 1)];
  }
}

// Copies a w x h block of full samples (w in {2, 4, 8, 16}): fixed-size row copies, two
// rows per step.
template <int W>
void CopyRows(uint8_t* dst, int ds, const uint8_t* src, int ss, int h) {
  if (h & 1) {  // an odd row first: the loop then needs no tail
    std::memcpy(dst, src, W);
    dst += ds;
    src += ss;
  }
  const ptrdiff_t ds2 = 2 * static_cast<ptrdiff_t>(ds), ss2 = 2 * static_cast<ptrdiff_t>(ss);
  for (h >>= 1; h > 0; --h, dst += ds2, src += ss2) {
    std::memcpy(dst, src, W);
    std::memcpy(dst + ds, src + ss, W);
  }
}

// Whether the samples a block's interpolation uses lie inside the plane: the filter taps
// reach `before` samples before and `after` samples after the block in a direction with a
// fractional offset, none in one without.
inline bool Inside(int pos, int size, int frac, int before, int after, int limit) {
  return frac == 0 ? pos >= 0 && pos + size <= limit : pos - before >= 0 && pos + size + after <= limit;
}

}  // namespace

// Other widths, kept out of line so that the common ones need no saved registers.
[[gnu::noinline]] void CopyOtherWidth(uint8_t* dst, int ds, const uint8_t* src, int ss, int w, int h) {
  for (int j = 0; j < h; ++j) std::memcpy(dst + j * ds, src + j * ss, static_cast<size_t>(w));
}

void CopyBlock(uint8_t* dst, int ds, const uint8_t* src, int ss, int w, int h) {
  switch (w) {
    case 16: return CopyRows<16>(dst, ds, src, ss, h);
    case 8: return CopyRows<8>(dst, ds, src, ss, h);
    case 4: return CopyRows<4>(dst, ds, src, ss, h);
    case 2: return CopyRows<2>(dst, ds, src, ss, h);
    default: return CopyOtherWidth(dst, ds, src, ss, w, h);
  }
}

void PredictLuma(uint8_t* dst, int ds, const RefPlane& ref, int x, int y, int fx, int fy, int w, int h) {
  if (Inside(x, w, fx, 2, 3, ref.width) && Inside(y, h, fy, 2, 3, ref.height)) {
    // Full-sample vectors (most of a still scene) are plain copies.
    if ((fx | fy) == 0) return CopyBlock(dst, ds, ref.data + y * ref.stride + x, ref.stride, w, h);
    kMc.luma_qpel(dst, ds, ref.data + y * ref.stride + x, ref.stride, fx, fy, w, h);
    return;
  }
  // The block's filter window (2 samples left and above, 3 right and below) with the edge
  // samples repeated.
  Window window;
  FetchWindow(ref, x - 2, y - 2, w + 5, h + 5, window);
  kMc.luma_qpel(dst, ds, window + 2 * kWindowStride + 2, kWindowStride, fx, fy, w, h);
}

void PredictChromaPair(uint8_t* dcb, uint8_t* dcr, int ds, const RefPlane& cb, const RefPlane& cr, int x, int y, int fx,
                       int fy, int w, int h) {
  if (Inside(x, w, fx, 0, 1, cb.width) && Inside(y, h, fy, 0, 1, cb.height)) {
    const int offset = y * cb.stride + x;
    if ((fx | fy) == 0) {
      CopyBlock(dcb, ds, cb.data + offset, cb.stride, w, h);
      return CopyBlock(dcr, ds, cr.data + offset, cb.stride, w, h);
    }
    kMc.chroma_pair(dcb, dcr, ds, cb.data + offset, cr.data + offset, cb.stride, fx, fy, w, h);
    return;
  }
  Window wcb, wcr;
  FetchWindow(cb, x, y, w + 1, h + 1, wcb);
  FetchWindow(cr, x, y, w + 1, h + 1, wcr);
  kMc.chroma_pair(dcb, dcr, ds, wcb, wcr, kWindowStride, fx, fy, w, h);
}

void AverageBlocks(uint8_t* dst, int ds, const PredBlock& a, const PredBlock& b, int w, int h) {
  kMc.average(dst, ds, a.data, a.stride, b.data, b.stride, w, h);
}

void WeightBlock(uint8_t* block, int stride, int w, int h, int log_wd, int weight, int offset) {
  // The default weight without offset leaves every sample as it is.
  if (weight == (1 << log_wd) && offset == 0) return;
  kMc.weight(block, stride, w, h, log_wd, weight, offset);
}

void WeightBlocksBi(uint8_t* dst, int ds, const uint8_t* a, const uint8_t* b, int ss, int w, int h, int log_wd, int w0,
                    int w1, int o0, int o1) {
  if (w0 == (1 << log_wd) && w1 == w0 && o0 == 0 && o1 == 0) {  // same as the plain average
    kMc.average(dst, ds, a, ss, b, ss, w, h);
    return;
  }
  kMc.weight_bi(dst, ds, a, b, ss, w, h, log_wd, w0, w1, (o0 + o1 + 1) >> 1);
}

}  // namespace fennik
