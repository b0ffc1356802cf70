// H.264 inter prediction kernels (8.4.2.2, 8.4.2.3): quarter-sample luma interpolation with
// the 6-tap filter, eighth-sample chroma interpolation, and the default, explicit and
// implicit weighted sample prediction. Reference samples outside the picture repeat the
// nearest edge sample, as 8.4.2.2 prescribes.
#pragma once

#include <cstdint>

namespace fennik {

// A reference plane. The SIMD kernels read up to 16 bytes past a row's last sample: the
// buffer must extend that far past the plane's last row (picture buffers keep spare rows).
struct RefPlane {
  const uint8_t* data;
  int stride;
  int width;   // samples per row of the decoded picture
  int height;  // rows
};

// Predicts a w x h luma block (w, h <= 16) whose top-left full-sample position is (x, y)
// with fractional offsets fx, fy in quarter samples, into dst (stride dst_stride).
void PredictLuma(uint8_t* dst, int dst_stride, const RefPlane& ref, int x, int y, int fx, int fy, int w, int h);

// A predicted block: where its samples are and their row step.
struct PredBlock {
  const uint8_t* data;
  int stride;
};

// Predicts the Cb and Cr blocks of one vector (w, h <= 8 and 16) at full-sample position
// (x, y) with fractional offsets fx, fy in eighth samples, from planes of the same
// size and stride.
void PredictChromaPair(uint8_t* dst_cb, uint8_t* dst_cr, int dst_stride, const RefPlane& cb, const RefPlane& cr, int x,
                       int y, int fx, int fy, int w, int h);

// Copies a w x h block of full samples.
void CopyBlock(uint8_t* dst, int dst_stride, const uint8_t* src, int src_stride, int w, int h);

// Whether the w x h block at full-sample position (x, y) lies inside the plane.
inline bool InsidePlane(const RefPlane& ref, int x, int y, int w, int h) {
  return x >= 0 && y >= 0 && x + w <= ref.width && y + h <= ref.height;
}

// As PredictLuma, except that with `borrow` a full-sample block inside the plane is not
// copied: the result is then the reference's own samples, else dst.
inline PredBlock PredictLumaOrBorrow(uint8_t* dst, int ds, const RefPlane& ref, int x, int y, int fx, int fy, int w,
                                     int h, bool borrow) {
  if ((fx | fy) == 0 && InsidePlane(ref, x, y, w, h)) {  // full samples inside (most of a still scene)
    const uint8_t* src = ref.data + y * ref.stride + x;
    if (borrow) return {src, ref.stride};
    CopyBlock(dst, ds, src, ref.stride, w, h);
  } else {
    PredictLuma(dst, ds, ref, x, y, fx, fy, w, h);
  }
  return {dst, ds};
}

// As PredictChromaPair, with full-sample blocks inside the planes borrowed as for luma;
// out[0] Cb, out[1] Cr.
inline void PredictChromaPairOrBorrow(uint8_t* dst_cb, uint8_t* dst_cr, int ds, const RefPlane& cb, const RefPlane& cr,
                                      int x, int y, int fx, int fy, int w, int h, bool borrow, PredBlock out[2]) {
  if ((fx | fy) == 0 && InsidePlane(cb, x, y, w, h)) {
    const int offset = y * cb.stride + x;
    if (borrow) {
      out[0] = {cb.data + offset, cb.stride};
      out[1] = {cr.data + offset, cb.stride};
      return;
    }
    CopyBlock(dst_cb, ds, cb.data + offset, cb.stride, w, h);
    CopyBlock(dst_cr, ds, cr.data + offset, cb.stride, w, h);
  } else {
    PredictChromaPair(dst_cb, dst_cr, ds, cb, cr, x, y, fx, fy, w, h);
  }
  out[0] = {dst_cb, ds};
  out[1] = {dst_cr, ds};
}

// Default bi-prediction: (a + b + 1) >> 1 into dst.
void AverageBlocks(uint8_t* dst, int dst_stride, const PredBlock& a, const PredBlock& b, int w, int h);

// Explicit / implicit weighting of one prediction (8-270 / 8-271), in place.
void WeightBlock(uint8_t* block, int stride, int w, int h, int log_wd, int weight, int offset);

// Weighted bi-prediction (8-272) of a and b into dst.
void WeightBlocksBi(uint8_t* dst, int dst_stride, const uint8_t* a, const uint8_t* b, int src_stride, int w, int h,
                    int log_wd, int w0, int w1, int o0, int o1);

}  // namespace fennik
