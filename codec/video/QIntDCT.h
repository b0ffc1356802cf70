// The integer 8x8 inverse DCT for the MPEG-4 Visual decoder. Separable row and column passes
// over 16-bit coefficients with 32-bit fixed-point products (cosine constants scaled by
// 2^14 * sqrt(2)), rounding and shifting once per pass (11 bits after the rows, 20 after the
// columns); meets the IEEE 1180-1990 accuracy limits. The constants and shifts are those of
// the widely used "simple" IDCT, so that decoded pictures can be compared bit for bit with a
// reference decoder told to use it (ffmpeg `-idct simple`).
#pragma once

#include <cstddef>
#include <cstdint>

namespace fennik {

class QIntDCT {
 public:
  // In place: 64 coefficients in raster order become 64 residual samples.
  static void Inverse(int16_t block[64]);
  // Inverse transform, then the samples clipped to 0..255 into `dst` (intra blocks).
  static void InversePut(int16_t block[64], uint8_t* dst, ptrdiff_t stride);
  // Inverse transform, then the samples added to `dst` with clipping (inter blocks).
  static void InverseAdd(int16_t block[64], uint8_t* dst, ptrdiff_t stride);
};

}  // namespace fennik
