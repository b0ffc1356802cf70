#include "codec/video/H264Transform.h"

#include <algorithm>

namespace fennik {
namespace {
inline uint8_t Clip1(int v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); }
}  // namespace

void InverseTransform4x4Add(uint8_t* dst, int stride, const int32_t d[16]) {
  int32_t f[16], h[16];
  for (int i = 0; i < 4; ++i) {  // rows (8-326 to 8-333)
    const int32_t* r = d + i * 4;
    int32_t e0 = r[0] + r[2], e1 = r[0] - r[2];
    int32_t e2 = (r[1] >> 1) - r[3], e3 = r[1] + (r[3] >> 1);
    f[i * 4 + 0] = e0 + e3;
    f[i * 4 + 1] = e1 + e2;
    f[i * 4 + 2] = e1 - e2;
    f[i * 4 + 3] = e0 - e3;
  }
  for (int j = 0; j < 4; ++j) {  // columns
    int32_t g0 = f[j] + f[8 + j], g1 = f[j] - f[8 + j];
    int32_t g2 = (f[4 + j] >> 1) - f[12 + j], g3 = f[4 + j] + (f[12 + j] >> 1);
    h[j] = g0 + g3;
    h[4 + j] = g1 + g2;
    h[8 + j] = g1 - g2;
    h[12 + j] = g0 - g3;
  }
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) dst[y * stride + x] = Clip1(dst[y * stride + x] + ((h[y * 4 + x] + 32) >> 6));
}

namespace {
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
}  // namespace

void InverseTransform8x8Add(uint8_t* dst, int stride, const int32_t d[64]) {
  int32_t g[64], h[64];
  for (int i = 0; i < 8; ++i) Transform8(d + i * 8, 1, g + i * 8, 1);  // rows
  for (int j = 0; j < 8; ++j) Transform8(g + j, 8, h + j, 8);          // columns
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) dst[y * stride + x] = Clip1(dst[y * stride + x] + ((h[y * 8 + x] + 32) >> 6));
}

void InverseTransformDcAdd(uint8_t* dst, int stride, int32_t dc) {
  const int32_t r = (dc + 32) >> 6;
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) dst[y * stride + x] = Clip1(dst[y * stride + x] + r);
}

void InverseHadamard4x4(int32_t c[16]) {
  int32_t t[16];
  for (int i = 0; i < 4; ++i) {
    const int32_t* r = c + i * 4;
    int32_t a = r[0] + r[1], b = r[0] - r[1], d = r[2] + r[3], e = r[2] - r[3];
    t[i * 4 + 0] = a + d;
    t[i * 4 + 1] = a - d;
    t[i * 4 + 2] = b - e;
    t[i * 4 + 3] = b + e;
  }
  for (int j = 0; j < 4; ++j) {
    int32_t a = t[j] + t[4 + j], b = t[j] - t[4 + j], d = t[8 + j] + t[12 + j], e = t[8 + j] - t[12 + j];
    c[j] = a + d;
    c[4 + j] = a - d;
    c[8 + j] = b - e;
    c[12 + j] = b + e;
  }
}

void InverseHadamard2x2(int32_t c[4]) {
  int32_t a = c[0] + c[1], b = c[0] - c[1], d = c[2] + c[3], e = c[2] - c[3];
  c[0] = a + d;
  c[1] = b + e;
  c[2] = a - d;
  c[3] = b - e;
}

void InverseHadamard2x4(int32_t c[8]) {
  // f = A c B with A the 4x4 matrix of rows (1 1 1 1), (1 1 -1 -1), (1 -1 -1 1), (1 -1 1 -1)
  // and B the 2x2 Hadamard matrix; c is 4 rows of 2.
  int32_t t[8];
  for (int col = 0; col < 2; ++col) {
    const int32_t a = c[col], b = c[2 + col], d = c[4 + col], e = c[6 + col];
    t[col] = a + b + d + e;
    t[2 + col] = a + b - d - e;
    t[4 + col] = a - b - d + e;
    t[6 + col] = a - b + d - e;
  }
  for (int row = 0; row < 4; ++row) {
    c[row * 2] = t[row * 2] + t[row * 2 + 1];
    c[row * 2 + 1] = t[row * 2] - t[row * 2 + 1];
  }
}

void AddBypassResidual(uint8_t* dst, int stride, int32_t* r, int w, int h, int hor_pred) {
  if (hor_pred == 0) {
    for (int y = 1; y < h; ++y)
      for (int x = 0; x < w; ++x) r[y * w + x] += r[(y - 1) * w + x];
  } else if (hor_pred == 1) {
    for (int y = 0; y < h; ++y)
      for (int x = 1; x < w; ++x) r[y * w + x] += r[y * w + x - 1];
  }
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int v = dst[y * stride + x] + r[y * w + x];
      dst[y * stride + x] = static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
    }
}

}  // namespace fennik
