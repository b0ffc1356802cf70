#include "codec/video/H264Deblock.h"

#include <algorithm>
#include <cstdlib>

#include "codec/video/h264_tables.h"
#include "codec/video/kernels/H264Kernels.h"

namespace fennik {
namespace {
inline uint8_t Clip1(int v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }
}  // namespace

void FilterLumaEdge(uint8_t* q0p, int across, int along, const uint8_t bs[4], const EdgeThresholds& t) {
  Kernels().deblock_luma(q0p, across, along, bs, t.alpha, t.beta, kDeblockTc0[t.index_a]);
}

void FilterChromaEdge(uint8_t* q0p, int across, int along, int count, const uint8_t bs[4], const EdgeThresholds& t) {
  if (count != 8) return FilterChromaLines(q0p, across, along, count, bs, count / 4, t);
  Kernels().deblock_chroma(q0p, across, along, bs, t.alpha, t.beta, kDeblockTc0[t.index_a]);
}

void FilterLumaLines(uint8_t* q0p, int across, int along, int count, const uint8_t* bs, int per_bs,
                     const EdgeThresholds& t) {
  for (int k = 0; k < count; ++k) {
    const int strength = bs[k / per_bs];
    if (strength == 0) continue;
    uint8_t* s = q0p + k * along;
    const int p0 = s[-across], p1 = s[-2 * across], p2 = s[-3 * across];
    const int q0 = s[0], q1 = s[across], q2 = s[2 * across];
    if (std::abs(p0 - q0) >= t.alpha || std::abs(p1 - p0) >= t.beta || std::abs(q1 - q0) >= t.beta) continue;
    const int ap = std::abs(p2 - p0), aq = std::abs(q2 - q0);
    if (strength < 4) {
      const int tc0 = kDeblockTc0[t.index_a][strength];
      const int tc = tc0 + (ap < t.beta ? 1 : 0) + (aq < t.beta ? 1 : 0);
      const int delta = std::clamp((((q0 - p0) * 4) + (p1 - q1) + 4) >> 3, -tc, tc);
      s[-across] = Clip1(p0 + delta);
      s[0] = Clip1(q0 - delta);
      if (ap < t.beta) s[-2 * across] = static_cast<uint8_t>(p1 + std::clamp((p2 + ((p0 + q0 + 1) >> 1) - (p1 * 2)) >> 1, -tc0, tc0));
      if (aq < t.beta) s[across] = static_cast<uint8_t>(q1 + std::clamp((q2 + ((p0 + q0 + 1) >> 1) - (q1 * 2)) >> 1, -tc0, tc0));
      continue;
    }
    const int p3 = s[-4 * across], q3 = s[3 * across];
    const bool strong = std::abs(p0 - q0) < ((t.alpha >> 2) + 2);
    if (ap < t.beta && strong) {
      s[-across] = static_cast<uint8_t>((p2 + 2 * p1 + 2 * p0 + 2 * q0 + q1 + 4) >> 3);
      s[-2 * across] = static_cast<uint8_t>((p2 + p1 + p0 + q0 + 2) >> 2);
      s[-3 * across] = static_cast<uint8_t>((2 * p3 + 3 * p2 + p1 + p0 + q0 + 4) >> 3);
    } else {
      s[-across] = static_cast<uint8_t>((2 * p1 + p0 + q1 + 2) >> 2);
    }
    if (aq < t.beta && strong) {
      s[0] = static_cast<uint8_t>((p1 + 2 * p0 + 2 * q0 + 2 * q1 + q2 + 4) >> 3);
      s[across] = static_cast<uint8_t>((p0 + q0 + q1 + q2 + 2) >> 2);
      s[2 * across] = static_cast<uint8_t>((2 * q3 + 3 * q2 + q1 + q0 + p0 + 4) >> 3);
    } else {
      s[0] = static_cast<uint8_t>((2 * q1 + q0 + p1 + 2) >> 2);
    }
  }
}

void FilterChromaLines(uint8_t* q0p, int across, int along, int count, const uint8_t* bs, int per_bs,
                       const EdgeThresholds& t) {
  for (int k = 0; k < count; ++k) {
    const int strength = bs[k / per_bs];
    if (strength == 0) continue;
    const int tc0 = strength < 4 ? kDeblockTc0[t.index_a][strength] : 0;
    DeblockChromaLine(q0p + k * along, across, strength, t.alpha, t.beta, tc0);
  }
}

}  // namespace fennik
