// H.264 deblocking filter kernels (8.7.2.3, 8.7.2.4) for one edge of 8-bit samples. An edge is
// addressed by the pointer to its first q0 sample, the step across the edge (1 for a vertical
// edge, the stride for a horizontal one) and the step along it.
#pragma once

#include <cstdint>

namespace fennik {

struct EdgeThresholds {
  int alpha;
  int beta;
  int index_a;  // for tC0
};

// Filters 16 luma samples along an edge; bs[k] is the boundary strength of samples 4k..4k+3.
void FilterLumaEdge(uint8_t* q0, int across, int along, const uint8_t bs[4], const EdgeThresholds& t);

// Filters `count` chroma samples (8 or 16) along an edge of a 4:2:0 or 4:2:2 picture; bs[k]
// applies to samples k * count / 4 .. (k + 1) * count / 4 - 1.
void FilterChromaEdge(uint8_t* q0, int across, int along, int count, const uint8_t bs[4], const EdgeThresholds& t);

// Part of an edge: `count` lines along it, bs[k] applying to lines k * per_bs ..
// (k + 1) * per_bs - 1 (the edges between frame and field macroblocks of MBAFF frames).
void FilterLumaLines(uint8_t* q0, int across, int along, int count, const uint8_t* bs, int per_bs,
                     const EdgeThresholds& t);
void FilterChromaLines(uint8_t* q0, int across, int along, int count, const uint8_t* bs, int per_bs,
                       const EdgeThresholds& t);

}  // namespace fennik
