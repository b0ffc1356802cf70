// Global motion compensation of MPEG-4 Visual S-VOPs (sprite_enable = GMC, ISO/IEC 14496-2
// 7.8): the warping parameters from the sprite trajectories of 0 to 3 warping points, the
// warped prediction of a macroblock's luminance and chrominance at sprite_warping_accuracy
// with bilinear interpolation, and the average vector of a GMC macroblock that motion vector
// prediction of its neighbours uses.
#pragma once

#include <cstdint>

#include "codec/video/H263Kernels.h"

namespace fennik {

struct M4vGmcParams {
  bool valid = false;
  // 1: a pure translation (0 or 1 warping points, or an affine warp that reduces to one);
  // 2 or 3: the general warp.
  int points = 1;
  int accuracy = 0;  // sprite_warping_accuracy: positions in 1 / 2^(accuracy + 1) samples
  // Sample positions, in 1 / 2^(accuracy + 1) units: for a translation the offsets themselves
  // (luminance [0], chrominance [1]; x, y); otherwise position = (offset + delta . (x, y)) >>
  // shift, chrominance with 4 x its own sample coordinates and its own offset and shift.
  int64_t offset[2][2] = {};
  int64_t delta[2][2] = {};  // [x or y of the position][per x or per y of the sample]
  int shift[2] = {0, 0};
};

// Computes the warp of a width x height VOP from no_of_sprite_warping_points trajectories
// (du, dv) in `trajectory`. False (and an invalid record) when the values cannot be
// represented (a damaged header).
bool M4vGmcSetup(int width, int height, int accuracy, int points, const int32_t trajectory[4][2],
                 M4vGmcParams& params);

// The warped 16 x 16 luminance (plane 0) or 8 x 8 chrominance (planes 1, 2) prediction of
// macroblock (mbx, mby); rounding is vop_rounding_type. Samples outside the plane take the
// nearest edge sample.
void M4vGmcPredict(const H263Plane& ref, const M4vGmcParams& params, bool chroma, int mbx, int mby, int rounding,
                   uint8_t* dst, int dstStride);

// The average motion vector component (0 x, 1 y) of GMC macroblock (mbx, mby), in half or
// quarter samples, limited to the range vop_fcode_forward allows.
int M4vGmcAverageVector(const M4vGmcParams& params, int component, int mbx, int mby, bool quarterSample,
                        uint32_t fcode);

}  // namespace fennik
