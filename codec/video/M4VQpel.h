// Quarter-sample motion compensation of MPEG-4 Visual (ISO/IEC 14496-2 7.6.2.2): the 8-tap
// half-sample filter (-1, 3, -6, 20, 20, -6, 3, -1) / 32 applied to the block's own window of
// (n + 1) x (n + 1) reference samples, mirrored at the window's edges, with the quarter
// positions averaged from their integer and half-sample neighbours under the VOP's rounding
// control; and the chrominance vectors the quarter-sample luminance vectors give.
#pragma once

#include <cstdint>

#include "codec/video/H263Kernels.h"

namespace fennik {

// Prediction of the n x n block (n = 8 or 16) at (x, y) displaced by (mvx, mvy) quarter
// samples. Reference samples outside the plane take the nearest edge sample (unrestricted
// motion vectors). rounding is vop_rounding_type (0 or 1).
void M4vQpelPredict(const H263Plane& ref, int x, int y, int mvx, int mvy, int n, int rounding, uint8_t* dst,
                    int dstStride);

// Half-sample chrominance vector component of a macroblock with one quarter-sample luminance
// vector component v (frame prediction): v halved toward zero, then rounded to half samples.
inline int M4vQpelChroma1MV(int v) {
  const int half = v / 2;
  return (half >> 1) | (half & 1);
}

// The vertical component of a field vector in the same way, halved downwards.
inline int M4vQpelChromaFieldY(int v) {
  const int half = v >> 1;
  return (half >> 1) | (half & 1);
}

// Rounds the sum of a macroblock's four luminance vector components (half-sample units) to the
// chrominance vector in half samples (ISO/IEC 14496-2 Table 7-9, sixteenth-sample rounding).
int M4vChroma4MV(int sum);

// dst = (dst + src + 1) >> 1 over a w x h block: the second prediction of a bidirectional
// macroblock averaged into the first.
void M4vAverageBlock(uint8_t* dst, int dstStride, const uint8_t* src, int srcStride, int w, int h);

}  // namespace fennik
