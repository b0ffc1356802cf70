#include "codec/audio/MpaSynthesis.h"

#include <cmath>
#include <cstring>
#include <numbers>

#include "codec/audio/MpaTables.h"

namespace fennik {
namespace {

// 1 / (2 cos(π(2k + 1) / 2N)) for the odd half of an N-point DCT-II, N = 2 ... 32.
struct DctFactors {
  float f[6][16];  // [log2 N][k]
  DctFactors() {
    for (int lg = 1; lg <= 5; ++lg) {
      const int n = 1 << lg;
      for (int k = 0; k < n / 2; ++k) {
        f[lg][k] = static_cast<float>(1.0 / (2.0 * std::cos(std::numbers::pi * (2 * k + 1) / (2.0 * n))));
      }
    }
  }
};
const DctFactors kDct;

// Lee's factorisation: the even outputs are the N/2-point DCT of x[k] + x[N-1-k]; the odd
// outputs are sums of neighbouring outputs of the N/2-point DCT of
// (x[k] - x[N-1-k]) / (2 cos(π(2k + 1)/2N)).
template <int N, int Lg>
void Dct(const float* x, float* out) {
  if constexpr (N == 1) {
    out[0] = x[0];
  } else {
    float a[N / 2], b[N / 2], ya[N / 2], yb[N / 2];
    for (int k = 0; k < N / 2; ++k) {
      a[k] = x[k] + x[N - 1 - k];
      b[k] = (x[k] - x[N - 1 - k]) * kDct.f[Lg][k];
    }
    Dct<N / 2, Lg - 1>(a, ya);
    Dct<N / 2, Lg - 1>(b, yb);
    for (int r = 0; r < N / 2; ++r) {
      out[2 * r] = ya[r];
      out[2 * r + 1] = yb[r] + (r + 1 < N / 2 ? yb[r + 1] : 0.0f);
    }
  }
}

// The full 512-value window D (11172-3 Table B.3) from its stored half.
struct Window {
  float d[512];
  Window() {
    for (int i = 0; i <= 256; ++i) {
      const float v = static_cast<float>(kMpaSynthesisWindowHalf[i]) / 65536.0f;
      d[i] = v;
      if (i != 0 && i != 256) d[512 - i] = (i % 64) != 0 ? -v : v;
    }
  }
};
const Window kWindow;

}  // namespace

void MpaDct32(const float* in, float* out) { Dct<32, 5>(in, out); }

MpaSynthesis::MpaSynthesis() { Reset(); }

void MpaSynthesis::Reset() {
  std::memset(v_, 0, sizeof v_);
  head_ = 0;
}

void MpaSynthesis::Run(const float* subbands, int16_t* out, int stride) {
  // Shift: the newest V goes into the slot before the previous newest.
  head_ = (head_ + 15) & 15;
  float x[32];
  MpaDct32(subbands, x);
  // V[i] = X[i + 16] with X[32] = 0, X[64 - m] = -X[m], X[m + 64] = -X[m].
  float* v = v_[head_];
  for (int i = 0; i < 16; ++i) v[i] = x[i + 16];
  v[16] = 0.0f;
  for (int i = 17; i < 49; ++i) v[i] = -x[48 - i];
  for (int i = 49; i < 64; ++i) v[i] = -x[i - 48];
  // U from V (11172-3 Figure A.2): for i = 0..7, U[64i + j] = V[128i + j] and
  // U[64i + 32 + j] = V[128i + 96 + j]; V[128i + …] lies in step 2i, V[128i + 96 + …] in
  // step 2i + 1 at offset 32.
  float sum[32] = {};
  for (int i = 0; i < 8; ++i) {
    const float* even = v_[(head_ + 2 * i) & 15];
    const float* odd = v_[(head_ + 2 * i + 1) & 15] + 32;
    const float* d0 = kWindow.d + 64 * i;
    const float* d1 = d0 + 32;
    for (int j = 0; j < 32; ++j) sum[j] += even[j] * d0[j] + odd[j] * d1[j];
  }
  for (int j = 0; j < 32; ++j) {
    const float s = std::nearbyint(sum[j] * 32768.0f);
    out[j * stride] = static_cast<int16_t>(s > 32767.0f ? 32767.0f : (s < -32768.0f ? -32768.0f : s));
  }
}

}  // namespace fennik
