#include "codec/video/H264Transform.h"

#include <algorithm>
#include <cstring>

#include "codec/video/h264_tables.h"

#include "codec/video/kernels/H264Kernels.h"

namespace fennik {
namespace {
inline uint8_t Clip1(int v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); }
}  // namespace

H264LevelScales::H264LevelScales() : scale4_(6 * 52 * 16), scale8_(6 * 52 * 64) {}

void H264LevelScales::Bind(const uint8_t (*lists4x4)[16], const uint8_t (*lists8x8)[64]) {
  if (std::memcmp(lists4_, lists4x4, sizeof(lists4_)) != 0) {
    std::memcpy(lists4_, lists4x4, sizeof(lists4_));
    std::memset(ready4_, 0, sizeof(ready4_));
  }
  if (std::memcmp(lists8_, lists8x8, sizeof(lists8_)) != 0) {
    std::memcpy(lists8_, lists8x8, sizeof(lists8_));
    std::memset(ready8_, 0, sizeof(ready8_));
  }
}

namespace {

// The normAdjust class of raster position pos in a 4x4 and in an 8x8 block (8.5.9).
int NormClass4x4(int pos) {
  const int i = pos >> 2, j = pos & 3;
  return ((i & 1) == 0 && (j & 1) == 0) ? 0 : (((i & 1) == 1 && (j & 1) == 1) ? 1 : 2);
}

int NormClass8x8(int pos) {
  const int i = pos >> 3, j = pos & 7;
  if ((i & 3) == 0 && (j & 3) == 0) return 0;
  if ((i & 1) == 1 && (j & 1) == 1) return 1;
  if ((i & 3) == 2 && (j & 3) == 2) return 2;
  if (((i & 3) == 0 && (j & 1) == 1) || ((i & 1) == 1 && (j & 3) == 0)) return 3;
  if (((i & 3) == 0 && (j & 3) == 2) || ((i & 3) == 2 && (j & 3) == 0)) return 4;
  return 5;
}

// Factors of the n positions of a list in zig-zag order (zigzag: scan index -> raster).
void MakeFactors(const uint8_t* list, const uint8_t* zigzag, int n, const uint8_t* norm, int (*norm_class)(int),
                 int shift, int32_t* out) {
  for (int k = 0; k < n; ++k) out[zigzag[k]] = (list[k] * norm[norm_class(zigzag[k])]) << shift;
}

}  // namespace

void H264LevelScales::Fill4x4(int list, int qp) {
  MakeFactors(lists4_[list], kZigzag4x4, 16, kNormAdjust4x4[qp % 6], NormClass4x4, qp / 6,
              &scale4_[(list * 52 + qp) * 16]);
  ready4_[list] |= uint64_t{1} << qp;
}

void H264LevelScales::Fill8x8(int list, int qp) {
  MakeFactors(lists8_[list], kZigzag8x8, 64, kNormAdjust8x8[qp % 6], NormClass8x8, qp / 6,
              &scale8_[(list * 52 + qp) * 64]);
  ready8_[list] |= uint64_t{1} << qp;
}

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
