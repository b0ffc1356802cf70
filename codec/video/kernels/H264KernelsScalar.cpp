// Portable scalar references of the H.264 pixel kernels: the definition every SIMD version is
// tested against, and the table used on CPUs without one.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "codec/video/kernels/H264Kernels.h"

namespace fennik {
namespace {

inline uint8_t Clip1(int v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

inline int Tap6(int a, int b, int c, int d, int e, int f) { return a - 5 * b + 20 * c + 20 * d - 5 * e + f; }

void HalfH(uint8_t* out, int os, const uint8_t* s, int ss, int w, int h) {
  for (int y = 0; y < h; ++y) {
    const uint8_t* r = s + y * ss;
    for (int x = 0; x < w; ++x)
      out[y * os + x] = Clip1((Tap6(r[x - 2], r[x - 1], r[x], r[x + 1], r[x + 2], r[x + 3]) + 16) >> 5);
  }
}

void HalfV(uint8_t* out, int os, const uint8_t* s, int ss, int w, int h) {
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint8_t* c = s + y * ss + x;
      out[y * os + x] = Clip1((Tap6(c[-2 * ss], c[-ss], c[0], c[ss], c[2 * ss], c[3 * ss]) + 16) >> 5);
    }
}

// Centre half sample j from the unclipped horizontal intermediates (8-248).
void HalfCentre(uint8_t* out, int os, const uint8_t* s, int ss, int w, int h) {
  int tmp[21 * 16];
  for (int y = -2; y < h + 3; ++y) {
    const uint8_t* r = s + y * ss;
    for (int x = 0; x < w; ++x) tmp[(y + 2) * 16 + x] = Tap6(r[x - 2], r[x - 1], r[x], r[x + 1], r[x + 2], r[x + 3]);
  }
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int* c = tmp + (y + 2) * 16 + x;
      out[y * os + x] = Clip1((Tap6(c[-32], c[-16], c[0], c[16], c[32], c[48]) + 512) >> 10);
    }
}

void Average(uint8_t* dst, int ds, const uint8_t* a, int as, const uint8_t* b, int bs, int w, int h) {
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) dst[y * ds + x] = static_cast<uint8_t>((a[y * as + x] + b[y * bs + x] + 1) >> 1);
}

void Chroma(uint8_t* dst, int ds, const uint8_t* s, int ss, int fx, int fy, int w, int h) {
  if (fx == 0 && fy == 0) {
    for (int j = 0; j < h; ++j) std::memcpy(dst + j * ds, s + j * ss, static_cast<size_t>(w));
    return;
  }
  const int wa = (8 - fx) * (8 - fy), wb = fx * (8 - fy), wc = (8 - fx) * fy, wd = fx * fy;
  for (int j = 0; j < h; ++j)
    for (int i = 0; i < w; ++i) {
      const uint8_t* c = s + j * ss + i;
      dst[j * ds + i] = static_cast<uint8_t>((wa * c[0] + wb * c[1] + wc * c[ss] + wd * c[ss + 1] + 32) >> 6);
    }
}

void Weight(uint8_t* block, int stride, int w, int h, int log_wd, int weight, int offset) {
  const int round = log_wd >= 1 ? 1 << (log_wd - 1) : 0;
  for (int y = 0; y < h; ++y) {
    uint8_t* row = block + y * stride;
    for (int x = 0; x < w; ++x) row[x] = Clip1(((row[x] * weight + round) >> log_wd) + offset);
  }
}

void WeightBi(uint8_t* dst, int ds, const uint8_t* a, const uint8_t* b, int ss, int w, int h, int log_wd, int w0, int w1,
              int offset) {
  const int round = 1 << log_wd;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      dst[y * ds + x] = Clip1(((a[y * ss + x] * w0 + b[y * ss + x] * w1 + round) >> (log_wd + 1)) + offset);
}

void Idct4Add(uint8_t* dst, int stride, const int32_t d[16]) {
  int32_t f[16], h[16];
  for (int i = 0; i < 4; ++i) {  // rows (8-326 to 8-333)
    const int32_t* r = d + i * 4;
    const int32_t e0 = r[0] + r[2], e1 = r[0] - r[2];
    const int32_t e2 = (r[1] >> 1) - r[3], e3 = r[1] + (r[3] >> 1);
    f[i * 4 + 0] = e0 + e3;
    f[i * 4 + 1] = e1 + e2;
    f[i * 4 + 2] = e1 - e2;
    f[i * 4 + 3] = e0 - e3;
  }
  for (int j = 0; j < 4; ++j) {  // columns
    const int32_t g0 = f[j] + f[8 + j], g1 = f[j] - f[8 + j];
    const int32_t g2 = (f[4 + j] >> 1) - f[12 + j], g3 = f[4 + j] + (f[12 + j] >> 1);
    h[j] = g0 + g3;
    h[4 + j] = g1 + g2;
    h[8 + j] = g1 - g2;
    h[12 + j] = g0 - g3;
  }
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) dst[y * stride + x] = Clip1(dst[y * stride + x] + ((h[y * 4 + x] + 32) >> 6));
}

// One-dimensional 8-point transform of 8.5.13.2 on in[0 .. 7 * step].
inline void Transform8(const int32_t* in, int step, int32_t* out, int out_step) {
  const int32_t d0 = in[0], d1 = in[step], d2 = in[2 * step], d3 = in[3 * step];
  const int32_t d4 = in[4 * step], d5 = in[5 * step], d6 = in[6 * step], d7 = in[7 * step];
  const int32_t a0 = d0 + d4, a4 = d0 - d4, a2 = (d2 >> 1) - d6, a6 = d2 + (d6 >> 1);
  const int32_t b0 = a0 + a6, b2 = a4 + a2, b4 = a4 - a2, b6 = a0 - a6;
  const int32_t a1 = -d3 + d5 - d7 - (d7 >> 1), a3 = d1 + d7 - d3 - (d3 >> 1);
  const int32_t a5 = -d1 + d7 + d5 + (d5 >> 1), a7 = d3 + d5 + d1 + (d1 >> 1);
  const int32_t b1 = a1 + (a7 >> 2), b7 = a7 - (a1 >> 2), b3 = a3 + (a5 >> 2), b5 = (a3 >> 2) - a5;
  out[0] = b0 + b7;
  out[out_step] = b2 + b5;
  out[2 * out_step] = b4 + b3;
  out[3 * out_step] = b6 + b1;
  out[4 * out_step] = b6 - b1;
  out[5 * out_step] = b4 - b3;
  out[6 * out_step] = b2 - b5;
  out[7 * out_step] = b0 - b7;
}

void Idct8Add(uint8_t* dst, int stride, const int32_t d[64]) {
  int32_t g[64], h[64];
  for (int i = 0; i < 8; ++i) Transform8(d + i * 8, 1, g + i * 8, 1);  // rows
  for (int j = 0; j < 8; ++j) Transform8(g + j, 8, h + j, 8);          // columns
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) dst[y * stride + x] = Clip1(dst[y * stride + x] + ((h[y * 8 + x] + 32) >> 6));
}

void DcAdd(uint8_t* dst, int stride, int32_t dc, int size) {
  const int32_t r = (dc + 32) >> 6;
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) dst[y * stride + x] = Clip1(dst[y * stride + x] + r);
}

void DeblockLuma(uint8_t* q0p, int across, int along, const uint8_t bs[4], int alpha, int beta, const uint8_t tc0s[4]) {
  for (int k = 0; k < 16; ++k) {
    const int strength = bs[k >> 2];
    if (strength == 0) continue;
    uint8_t* s = q0p + k * along;
    const int p0 = s[-across], p1 = s[-2 * across], p2 = s[-3 * across];
    const int q0 = s[0], q1 = s[across], q2 = s[2 * across];
    if (std::abs(p0 - q0) >= alpha || std::abs(p1 - p0) >= beta || std::abs(q1 - q0) >= beta) continue;
    const int ap = std::abs(p2 - p0), aq = std::abs(q2 - q0);
    if (strength < 4) {
      const int tc0 = tc0s[strength];
      const int tc = tc0 + (ap < beta ? 1 : 0) + (aq < beta ? 1 : 0);
      const int delta = std::clamp((((q0 - p0) * 4) + (p1 - q1) + 4) >> 3, -tc, tc);
      s[-across] = Clip1(p0 + delta);
      s[0] = Clip1(q0 - delta);
      if (ap < beta) s[-2 * across] = static_cast<uint8_t>(p1 + std::clamp((p2 + ((p0 + q0 + 1) >> 1) - (p1 * 2)) >> 1, -tc0, tc0));
      if (aq < beta) s[across] = static_cast<uint8_t>(q1 + std::clamp((q2 + ((p0 + q0 + 1) >> 1) - (q1 * 2)) >> 1, -tc0, tc0));
      continue;
    }
    const int p3 = s[-4 * across], q3 = s[3 * across];
    const bool strong = std::abs(p0 - q0) < ((alpha >> 2) + 2);
    if (ap < beta && strong) {
      s[-across] = static_cast<uint8_t>((p2 + 2 * p1 + 2 * p0 + 2 * q0 + q1 + 4) >> 3);
      s[-2 * across] = static_cast<uint8_t>((p2 + p1 + p0 + q0 + 2) >> 2);
      s[-3 * across] = static_cast<uint8_t>((2 * p3 + 3 * p2 + p1 + p0 + q0 + 4) >> 3);
    } else {
      s[-across] = static_cast<uint8_t>((2 * p1 + p0 + q1 + 2) >> 2);
    }
    if (aq < beta && strong) {
      s[0] = static_cast<uint8_t>((p1 + 2 * p0 + 2 * q0 + 2 * q1 + q2 + 4) >> 3);
      s[across] = static_cast<uint8_t>((p0 + q0 + q1 + q2 + 2) >> 2);
      s[2 * across] = static_cast<uint8_t>((2 * q3 + 3 * q2 + q1 + q0 + p0 + 4) >> 3);
    } else {
      s[0] = static_cast<uint8_t>((2 * q1 + q0 + p1 + 2) >> 2);
    }
  }
}

void DeblockChroma(uint8_t* q0p, int across, int along, const uint8_t bs[4], int alpha, int beta, const uint8_t tc0s[4]) {
  for (int k = 0; k < 8; ++k) {
    const int strength = bs[k >> 1];
    if (strength != 0) DeblockChromaLine(q0p + k * along, across, strength, alpha, beta, tc0s[strength & 3]);
  }
}

}  // namespace

void DeblockChromaLine(uint8_t* s, int across, int strength, int alpha, int beta, int tc0) {
  const int p0 = s[-across], p1 = s[-2 * across];
  const int q0 = s[0], q1 = s[across];
  if (std::abs(p0 - q0) >= alpha || std::abs(p1 - p0) >= beta || std::abs(q1 - q0) >= beta) return;
  if (strength < 4) {
    const int tc = tc0 + 1;
    const int delta = std::clamp((((q0 - p0) * 4) + (p1 - q1) + 4) >> 3, -tc, tc);
    s[-across] = Clip1(p0 + delta);
    s[0] = Clip1(q0 - delta);
  } else {
    s[-across] = static_cast<uint8_t>((2 * p1 + p0 + q1 + 2) >> 2);
    s[0] = static_cast<uint8_t>((2 * q1 + q0 + p1 + 2) >> 2);
  }
}

void FillScalarKernels(H264Kernels* k) {
  k->luma_half_h = HalfH;
  k->luma_half_v = HalfV;
  k->luma_half_hv = HalfCentre;
  k->average = Average;
  k->chroma = Chroma;
  k->weight = Weight;
  k->weight_bi = WeightBi;
  k->idct4_add = Idct4Add;
  k->idct8_add = Idct8Add;
  k->dc_add = DcAdd;
  k->deblock_luma = DeblockLuma;
  k->deblock_chroma = DeblockChroma;
  FillScalarMcKernels(k);
}

}  // namespace fennik
