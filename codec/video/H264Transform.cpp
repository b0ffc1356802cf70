#include "codec/video/H264Transform.h"

#include <algorithm>

#include "codec/video/kernels/H264Kernels.h"

namespace fennik {
namespace {
inline uint8_t Clip1(int v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); }
}  // namespace

void InverseTransform4x4Add(uint8_t* dst, int stride, const int32_t d[16]) { Kernels().idct4_add(dst, stride, d); }

void InverseTransform8x8Add(uint8_t* dst, int stride, const int32_t d[64]) { Kernels().idct8_add(dst, stride, d); }

void InverseTransformDcAdd(uint8_t* dst, int stride, int32_t dc) { Kernels().dc_add(dst, stride, dc, 4); }

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
