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

}  // namespace fennik
