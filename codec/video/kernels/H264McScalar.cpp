// Scalar references of the whole-position motion-compensation kernels, composed of the half
// sample filters and the average of the same table: the definition the SIMD versions of
// luma_qpel and chroma_pair are tested against.
#include "codec/video/kernels/H264Kernels.h"

#include <cstring>

namespace fennik {
namespace {

// Quarter positions are the rounded average of two neighbouring full or half samples
// (8-250 to 8-261); the intermediate planes are 16-sample rows.
void LumaQpel(uint8_t* dst, int ds, const uint8_t* s, int ss, int fx, int fy, int w, int h) {
  const H264Kernels& k = ScalarKernels();
  if (fx == 0 && fy == 0) {
    for (int j = 0; j < h; ++j) std::memcpy(dst + j * ds, s + j * ss, static_cast<size_t>(w));
    return;
  }
  uint8_t b1[16 * 16], b2[16 * 16];
  const int bs = 16;
  if (fy == 0) {  // a, b, c
    if (fx == 2) return k.luma_half_h(dst, ds, s, ss, w, h);
    k.luma_half_h(b1, bs, s, ss, w, h);
    k.average(dst, ds, b1, bs, s + (fx == 3 ? 1 : 0), ss, w, h);
    return;
  }
  if (fx == 0) {  // d, h, n
    if (fy == 2) return k.luma_half_v(dst, ds, s, ss, w, h);
    k.luma_half_v(b1, bs, s, ss, w, h);
    k.average(dst, ds, b1, bs, s + (fy == 3 ? ss : 0), ss, w, h);
    return;
  }
  if (fx == 2 || fy == 2) {  // j, and j averaged with b / s (f, q) or with h / m (i, k)
    if (fx == 2 && fy == 2) return k.luma_half_hv(dst, ds, s, ss, w, h);
    k.luma_half_hv(b1, bs, s, ss, w, h);
    if (fx == 2) k.luma_half_h(b2, bs, s + (fy == 3 ? ss : 0), ss, w, h);
    else k.luma_half_v(b2, bs, s + (fx == 3 ? 1 : 0), ss, w, h);
    k.average(dst, ds, b1, bs, b2, bs, w, h);
    return;
  }
  // e, g, p, r: a horizontal half sample (b or s) with a vertical one (h or m).
  k.luma_half_h(b1, bs, s + (fy == 3 ? ss : 0), ss, w, h);
  k.luma_half_v(b2, bs, s + (fx == 3 ? 1 : 0), ss, w, h);
  k.average(dst, ds, b1, bs, b2, bs, w, h);
}

void ChromaPair(uint8_t* dcb, uint8_t* dcr, int ds, const uint8_t* scb, const uint8_t* scr, int ss, int fx, int fy,
                int w, int h) {
  const H264Kernels& k = ScalarKernels();
  k.chroma(dcb, ds, scb, ss, fx, fy, w, h);
  k.chroma(dcr, ds, scr, ss, fx, fy, w, h);
}

}  // namespace

void FillScalarMcKernels(H264Kernels* k) {
  k->luma_qpel = LumaQpel;
  k->chroma_pair = ChromaPair;
}

}  // namespace fennik
