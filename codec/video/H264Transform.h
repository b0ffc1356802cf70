// H.264 inverse transforms for 8-bit pictures (8.5.10 to 8.5.15): the 4x4 and 8x8 residual
// transforms with their reconstruction, the Intra_16x16 luma DC and the 4:2:0 and 4:2:2 chroma
// DC transforms, and the residual of lossless (transform bypass) macroblocks.
#pragma once

#include <cstdint>
#include <vector>

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

// Scaled coefficients of a conforming stream lie in -2^15 .. 2^15 - 1 (8.5.12.1); damaged
// streams are held to that range so that the transforms cannot overflow.
inline int32_t ClampCoeff(int64_t v) { return static_cast<int32_t>(v < -32768 ? -32768 : (v > 32767 ? 32767 : v)); }

// The dequantisation factors LevelScale(qP % 6, i, j) << (qP / 6) (8.5.9, 8.5.12.1) of the six
// 4x4 and six 8x8 scaling lists of a picture parameter set, by raster position; each (list,
// qP) table is made on its first use. A 4x4 level c scales to (c * f + 8) >> 4, an 8x8 level to
// (c * f + 32) >> 6.
class H264LevelScales {
 public:
  H264LevelScales();
  // The lists (zig-zag order) the tables are made from; tables of other lists are dropped.
  void Bind(const uint8_t (*lists4x4)[16], const uint8_t (*lists8x8)[64]);
  const int32_t* Of4x4(int list, int qp) {
    if (!((ready4_[list] >> qp) & 1)) Fill4x4(list, qp);
    return &scale4_[(list * 52 + qp) * 16];
  }
  const int32_t* Of8x8(int list, int qp) {
    if (!((ready8_[list] >> qp) & 1)) Fill8x8(list, qp);
    return &scale8_[(list * 52 + qp) * 64];
  }

 private:
  void Fill4x4(int list, int qp);
  void Fill8x8(int list, int qp);
  uint8_t lists4_[6][16] = {};
  uint8_t lists8_[6][64] = {};
  uint64_t ready4_[6] = {};  // bit qP: table made
  uint64_t ready8_[6] = {};
  std::vector<int32_t> scale4_, scale8_;
};

}  // namespace fennik
