// AVX2 versions of the luma interpolation kernels for 16-sample-wide blocks (intrinsics): one
// row of 16 samples in 16-bit lanes per register. Narrower blocks keep the SSE2 versions.
// This file alone is compiled with -mavx2; its functions run only after the CPU check.
#include "codec/video/kernels/H264Kernels.h"

#if defined(__x86_64__) && defined(__AVX2__)
#include <immintrin.h>

namespace fennik {
namespace {

H264Kernels Sse2Table() {
  H264Kernels k{};
  FillScalarKernels(&k);
  FillSse2Kernels(&k);
  return k;
}

const H264Kernels& Narrow() {
  static const H264Kernels table = Sse2Table();
  return table;
}

inline __m256i Load16(const uint8_t* p) {
  return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}
inline void Store16(uint8_t* p, __m256i v16) {
  const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(v16, v16), 0x08);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm256_castsi256_si128(packed));
}

inline __m256i Tap6(__m256i a, __m256i b, __m256i c, __m256i d, __m256i e, __m256i f) {
  const __m256i t = _mm256_sub_epi16(_mm256_slli_epi16(_mm256_add_epi16(c, d), 2), _mm256_add_epi16(b, e));
  return _mm256_add_epi16(_mm256_add_epi16(a, f), _mm256_add_epi16(t, _mm256_slli_epi16(t, 2)));
}
inline __m256i Round5(__m256i v) { return _mm256_srai_epi16(_mm256_add_epi16(v, _mm256_set1_epi16(16)), 5); }

void HalfH(uint8_t* out, int os, const uint8_t* s, int ss, int w, int h) {
  if (w != 16) return Narrow().luma_half_h(out, os, s, ss, w, h);
  for (int y = 0; y < h; ++y) {
    const uint8_t* p = s + y * ss;
    Store16(out + y * os, Round5(Tap6(Load16(p - 2), Load16(p - 1), Load16(p), Load16(p + 1), Load16(p + 2), Load16(p + 3))));
  }
}

void HalfV(uint8_t* out, int os, const uint8_t* s, int ss, int w, int h) {
  if (w != 16) return Narrow().luma_half_v(out, os, s, ss, w, h);
  __m256i r0 = Load16(s - 2 * ss), r1 = Load16(s - ss), r2 = Load16(s), r3 = Load16(s + ss), r4 = Load16(s + 2 * ss);
  for (int y = 0; y < h; ++y) {
    const __m256i r5 = Load16(s + (y + 3) * ss);
    Store16(out + y * os, Round5(Tap6(r0, r1, r2, r3, r4, r5)));
    r0 = r1;
    r1 = r2;
    r2 = r3;
    r3 = r4;
    r4 = r5;
  }
}

inline __m256i Tap6Wide(__m256i a, __m256i b, __m256i c, __m256i d, __m256i e, __m256i f) {
  const __m256i k1m5 = _mm256_set1_epi32(static_cast<int32_t>(0xFFFB0001u));  // (1, -5) pairs
  const __m256i k20 = _mm256_set1_epi16(20);
  const __m256i km51 = _mm256_set1_epi32(0x0001FFFB);  // (-5, 1) pairs
  const __m256i round = _mm256_set1_epi32(512);
  __m256i lo = _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(a, b), k1m5),
                                _mm256_madd_epi16(_mm256_unpacklo_epi16(c, d), k20));
  lo = _mm256_add_epi32(lo, _mm256_madd_epi16(_mm256_unpacklo_epi16(e, f), km51));
  __m256i hi = _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(a, b), k1m5),
                                _mm256_madd_epi16(_mm256_unpackhi_epi16(c, d), k20));
  hi = _mm256_add_epi32(hi, _mm256_madd_epi16(_mm256_unpackhi_epi16(e, f), km51));
  lo = _mm256_srai_epi32(_mm256_add_epi32(lo, round), 10);
  hi = _mm256_srai_epi32(_mm256_add_epi32(hi, round), 10);
  return _mm256_packs_epi32(lo, hi);
}

void HalfCentre(uint8_t* out, int os, const uint8_t* s, int ss, int w, int h) {
  if (w != 16) return Narrow().luma_half_hv(out, os, s, ss, w, h);
  auto row = [&](int y) {
    const uint8_t* q = s + y * ss;
    return Tap6(Load16(q - 2), Load16(q - 1), Load16(q), Load16(q + 1), Load16(q + 2), Load16(q + 3));
  };
  __m256i r0 = row(-2), r1 = row(-1), r2 = row(0), r3 = row(1), r4 = row(2);
  for (int y = 0; y < h; ++y) {
    const __m256i r5 = row(y + 3);
    Store16(out + y * os, Tap6Wide(r0, r1, r2, r3, r4, r5));
    r0 = r1;
    r1 = r2;
    r2 = r3;
    r3 = r4;
    r4 = r5;
  }
}

}  // namespace

void FillAvx2Kernels(H264Kernels* k) {
  k->luma_half_h = HalfH;
  k->luma_half_v = HalfV;
  k->luma_half_hv = HalfCentre;
}

}  // namespace fennik
#else
namespace fennik {
void FillAvx2Kernels(H264Kernels*) {}
}  // namespace fennik
#endif
