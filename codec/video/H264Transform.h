// H.264 inverse transforms for 8-bit pictures (8.5.10 to 8.5.15): the 4x4 and 8x8 residual
// transforms with their reconstruction, the Intra_16x16 luma DC and the 4:2:0 and 4:2:2 chroma
// DC transforms, and the residual of lossless (transform bypass) macroblocks.
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

// Transform of the 4:2:2 chroma DC coefficients c (4 rows of 2), in place (8.5.11.1).
void InverseHadamard2x4(int32_t c[8]);

// Adds the w x h residual r (raster, the block's levels as they are in transform bypass) to
// the prediction at dst. hor_pred 0 / 1: the residual of a block predicted vertically /
// horizontally is first accumulated down the columns / along the rows (8.5.15); -1: as is.
// r is modified.
void AddBypassResidual(uint8_t* dst, int stride, int32_t* r, int w, int h, int hor_pred);

}  // namespace fennik
