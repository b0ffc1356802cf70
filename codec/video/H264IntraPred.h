// H.264 intra prediction kernels (8.3.1.2, 8.3.3, 8.3.4) for 8-bit samples. Each takes its
// neighbouring samples already gathered, so the kernels never look outside what they get.
#pragma once

#include <cstdint>

namespace fennik {

// Neighbouring samples of a block: `top` holds p[x, -1] for x = 0 .. 2 * size - 1 (the second
// half is the top-right part, already replicated when it is unavailable), `left` p[-1, y],
// `top_left` p[-1, -1].
struct IntraNeighbours {
  uint8_t top[32];
  uint8_t left[16];
  uint8_t top_left = 128;
  bool has_top = false;
  bool has_left = false;
  bool has_top_left = false;
};

// Intra_4x4 prediction mode 0..8 (Table 8-2) into a 4x4 block at dst.
void PredictIntra4x4(uint8_t* dst, int stride, int mode, const IntraNeighbours& n);
// Intra_8x8 prediction mode 0..8 (8.3.2.2) with the reference sample filtering of 8.3.2.2.1;
// n.top holds 16 samples (the top-right half already replicated when unavailable).
void PredictIntra8x8(uint8_t* dst, int stride, int mode, const IntraNeighbours& n);
// Intra_16x16 prediction mode 0..3 (Table 8-4).
void PredictIntra16x16(uint8_t* dst, int stride, int mode, const IntraNeighbours& n);
// Chroma prediction mode 0..3 (Table 8-5) for an 8-wide block of `height` rows: 8 (4:2:0) or
// 16 (4:2:2).
void PredictIntraChroma(uint8_t* dst, int stride, int mode, const IntraNeighbours& n, int height);

}  // namespace fennik
