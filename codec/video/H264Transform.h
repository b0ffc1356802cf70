// H.264 inverse transforms for 8-bit 4:2:0 pictures (8.5.10 to 8.5.12): the 4x4 residual
// transform with its reconstruction, and the Intra_16x16 luma DC and 2x2 chroma DC transforms.
#pragma once

#include <cstdint>

namespace fennik {

// Inverse-transforms the scaled 4x4 block d (raster order, 16 values), adds the residual
// ((x + 32) >> 6) to the prediction at dst and clips to 0..255.
void InverseTransform4x4Add(uint8_t* dst, int stride, const int32_t d[16]);

// 8x8 inverse transform (8.5.13) of d (raster, 64 values) added to the prediction.
void InverseTransform8x8Add(uint8_t* dst, int stride, const int32_t d[64]);

// Adds a block whose only coefficient is DC: every residual sample is (dc + 32) >> 6.
void InverseTransformDcAdd(uint8_t* dst, int stride, int32_t dc);

// 4x4 Hadamard of the Intra_16x16 DC coefficients c (raster), result f in place (8.5.10
// without the scaling).
void InverseHadamard4x4(int32_t c[16]);

// 2x2 transform of the 4:2:0 chroma DC coefficients c (raster), in place (8.5.11.1).
void InverseHadamard2x2(int32_t c[4]);

}  // namespace fennik
