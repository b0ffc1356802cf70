#include "codec/video/M4VQpel.h"

#include <algorithm>
#include <cstddef>

namespace fennik {

namespace {

constexpr int kMaxWindow = 17;

inline uint8_t Clip255(int v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

// The half-sample filter along one line: n outputs from the n + 1 samples src[0], src[step],
// ... src[n * step]; taps before the first sample mirror onto it (s[-k] = s[k - 1]) and taps
// after the last onto the last (s[n + k] = s[n + 1 - k]).
void HalfFilter(const uint8_t* src, int step, int n, int rounding, uint8_t* dst, int dstStep) {
  int s[kMaxWindow + 8];
  for (int i = 0; i <= n; ++i) s[i + 3] = src[i * step];
  for (int k = 1; k <= 3; ++k) {
    s[3 - k] = s[3 + k - 1];
    s[3 + n + k] = s[3 + n + 1 - k];
  }
  const int* p = s + 3;
  const int round = 16 - rounding;
  for (int i = 0; i < n; ++i) {
    const int v = 20 * (p[i] + p[i + 1]) - 6 * (p[i - 1] + p[i + 2]) + 3 * (p[i - 2] + p[i + 3]) -
                  (p[i - 3] + p[i + 4]);
    dst[i * dstStep] = Clip255((v + round) >> 5);
  }
}

inline uint8_t Avg(int a, int b, int rounding) { return static_cast<uint8_t>((a + b + 1 - rounding) >> 1); }

}  // namespace

void M4vQpelPredict(const H263Plane& ref, int x, int y, int mvx, int mvy, int n, int rounding, uint8_t* dst,
                    int dstStride) {
  // The reference window: (n + 1) x (n + 1) samples from the integer part of the position.
  uint8_t full[kMaxWindow * kMaxWindow];
  const int x0 = x + (mvx >> 2);
  const int y0 = y + (mvy >> 2);
  const int w = n + 1;
  for (int r = 0; r <= n; ++r) {
    const int sy = std::clamp(y0 + r, 0, ref.height - 1);
    const uint8_t* row = ref.data + static_cast<ptrdiff_t>(sy) * ref.stride;
    for (int c = 0; c <= n; ++c) full[r * w + c] = row[std::clamp(x0 + c, 0, ref.width - 1)];
  }
  const int dx = mvx & 3;
  const int dy = mvy & 3;
  if (dx == 0 && dy == 0) {
    for (int r = 0; r < n; ++r)
      for (int c = 0; c < n; ++c) dst[r * dstStride + c] = full[r * w + c];
    return;
  }
  if (dy == 0) {
    uint8_t half[kMaxWindow];
    for (int r = 0; r < n; ++r) {
      const uint8_t* line = full + r * w;
      uint8_t* out = dst + r * dstStride;
      HalfFilter(line, 1, n, rounding, dx == 2 ? out : half, 1);
      if (dx != 2) {
        const uint8_t* near = line + (dx == 3 ? 1 : 0);
        for (int c = 0; c < n; ++c) out[c] = Avg(near[c], half[c], rounding);
      }
    }
    return;
  }
  if (dx == 0) {
    uint8_t half[kMaxWindow];
    for (int c = 0; c < n; ++c) {
      HalfFilter(full + c, w, n, rounding, dy == 2 ? dst + c : half, dy == 2 ? dstStride : 1);
      if (dy != 2) {
        const uint8_t* near = full + c + (dy == 3 ? w : 0);
        for (int r = 0; r < n; ++r) dst[r * dstStride + c] = Avg(near[r * w], half[r], rounding);
      }
    }
    return;
  }
  // Both components fractional: the horizontal quarter (or half) samples of all n + 1 rows,
  // filtered vertically; the vertical quarter positions average that with the row above or
  // below.
  uint8_t horizontal[kMaxWindow * kMaxWindow];
  for (int r = 0; r <= n; ++r) {
    const uint8_t* line = full + r * w;
    uint8_t* out = horizontal + r * n;
    HalfFilter(line, 1, n, rounding, out, 1);
    if (dx != 2) {
      const uint8_t* near = line + (dx == 3 ? 1 : 0);
      for (int c = 0; c < n; ++c) out[c] = Avg(near[c], out[c], rounding);
    }
  }
  uint8_t half[kMaxWindow];
  for (int c = 0; c < n; ++c) {
    HalfFilter(horizontal + c, n, n, rounding, dy == 2 ? dst + c : half, dy == 2 ? dstStride : 1);
    if (dy != 2) {
      const uint8_t* near = horizontal + c + (dy == 3 ? n : 0);
      for (int r = 0; r < n; ++r) dst[r * dstStride + c] = Avg(near[r * n], half[r], rounding);
    }
  }
}

int M4vChroma4MV(int sum) {
  static constexpr int kRound[16] = {0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2};
  return kRound[sum & 15] + (sum >> 4) * 2;
}

void M4vAverageBlock(uint8_t* dst, int dstStride, const uint8_t* src, int srcStride, int w, int h) {
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c)
      dst[r * dstStride + c] = static_cast<uint8_t>((dst[r * dstStride + c] + src[r * srcStride + c] + 1) >> 1);
}

}  // namespace fennik
