// Per-pixel kernels of the H.263 decoder: half-pixel motion-compensated prediction with
// picture-edge extrapolation (H.263 6.1.2, Annex D), overlapped block motion compensation
// (Annex F.3) and the deblocking filter (Annex J.3).
#pragma once

#include <cstdint>

namespace fennik {

// A plane of a reference picture: samples, stride and the picture area (coordinates outside it
// take the nearest edge sample).
struct H263Plane {
  const uint8_t* data = nullptr;
  int stride = 0;
  int width = 0;
  int height = 0;
};

// Prediction of a w x h block (w, h <= 16) whose top-left corner is (x, y), displaced by
// (mvx, mvy) half-pixels; rounding_type is RTYPE (0 or 1).
void H263Predict(const H263Plane& ref, int x, int y, int mvx, int mvy, int w, int h, int rounding_type,
                 uint8_t* dst, int dst_stride);

// OBMC of one 8x8 luminance block: the predictions with the block's own vector and with the
// vectors of its upper/lower and left/right neighbours, weighted per H.263 Figures F.2-F.4.
// mv holds {own, top, bottom, left, right} as (x, y) pairs.
void H263ObmcBlock(const H263Plane& ref, int x, int y, const int mv[5][2], int rounding_type, uint8_t* dst,
                   int dst_stride);

// Deblocking filter across one 8-sample edge segment: `p` is the first sample after the edge,
// `across` the step over the edge and `along` the step along it (H.263 J.3).
void H263DeblockEdge(uint8_t* p, int across, int along, int strength);

}  // namespace fennik
