// AVX2 versions of deblocking kernels (intrinsics). The luma edge filter takes all 16 lines of
// an edge at once in 16-bit lanes; a vertical edge's 16 rows of p3..q3 are transposed into 8
// vectors with SSE2 byte interleaving, filtered, and transposed back. The chroma filter takes
// the same edge of Cb and Cr together (8 lines each). The motion rule of the
// strengths compares two rows of 4x4 blocks at a time. Cases these do not cover (edge steps
// neither 1 nor contiguous, a left macroblock whose blocks are not next in memory) keep the
// lower level's kernel. This file alone is compiled with -mavx2; its functions run only after
// the CPU check.
#include <cstring>

#include "codec/video/H264Dpb.h"
#include "codec/video/kernels/H264Kernels.h"

#if defined(__x86_64__) && defined(__AVX2__)
#include <immintrin.h>

namespace fennik {
namespace {

using V = __m256i;

inline V AbsDiff(V a, V b) { return _mm256_abs_epi16(_mm256_sub_epi16(a, b)); }
inline V Select(V mask, V a, V b) { return _mm256_blendv_epi8(b, a, mask); }
inline V Clamp(V v, V lo, V hi) { return _mm256_min_epi16(_mm256_max_epi16(v, lo), hi); }

// The lines to filter: bS above 0, |p0 - q0| < alpha, |p1 - p0| < beta and |q1 - q0| < beta.
[[gnu::always_inline]] inline V FilteredLines(V p1, V p0, V q0, V q1, V bsv, V av, V bv) {
  V filter = _mm256_and_si256(_mm256_cmpgt_epi16(av, AbsDiff(p0, q0)), _mm256_cmpgt_epi16(bv, AbsDiff(p1, p0)));
  filter = _mm256_and_si256(filter, _mm256_cmpgt_epi16(bv, AbsDiff(q1, q0)));
  return _mm256_andnot_si256(_mm256_cmpeq_epi16(bsv, _mm256_setzero_si256()), filter);
}

// The luma filter of strengths below 4: new p1, p0, q0, q1 (p0 and q0 clipped by the final
// pack); ap, aq: the lines where |p2 - p0| (|q2 - q0|) is below beta.
struct NormalLuma {
  V p1, p0, q0, q1;
};
[[gnu::always_inline]] inline NormalLuma NormalFilter(V p2, V p1, V p0, V q0, V q1, V q2, V ap, V aq, V tc0v) {
  const V zero = _mm256_setzero_si256(), one = _mm256_set1_epi16(1), four = _mm256_set1_epi16(4);
  const V tc = _mm256_sub_epi16(_mm256_sub_epi16(tc0v, ap), aq);  // masks are -1
  const V ntc = _mm256_sub_epi16(zero, tc), ntc0 = _mm256_sub_epi16(zero, tc0v);
  V delta = _mm256_add_epi16(_mm256_slli_epi16(_mm256_sub_epi16(q0, p0), 2), _mm256_sub_epi16(p1, q1));
  delta = Clamp(_mm256_srai_epi16(_mm256_add_epi16(delta, four), 3), ntc, tc);
  const V avg = _mm256_srai_epi16(_mm256_add_epi16(_mm256_add_epi16(p0, q0), one), 1);
  const V n_p1 = _mm256_add_epi16(
      p1, Clamp(_mm256_srai_epi16(_mm256_sub_epi16(_mm256_add_epi16(p2, avg), _mm256_slli_epi16(p1, 1)), 1), ntc0, tc0v));
  const V n_q1 = _mm256_add_epi16(
      q1, Clamp(_mm256_srai_epi16(_mm256_sub_epi16(_mm256_add_epi16(q2, avg), _mm256_slli_epi16(q1, 1)), 1), ntc0, tc0v));
  return {n_p1, _mm256_add_epi16(p0, delta), _mm256_sub_epi16(q0, delta), n_q1};
}

// The bS 4 filter's values for one side of the edge: x3..x0 on that side (x0 next to the
// edge), y0 and y1 across it; the q side is the p side mirrored. s0..s2: the strong filter
// of x0..x2, w0: the weak filter of x0.
struct StrongSide {
  V s0, s1, s2, w0;
};
[[gnu::always_inline]] inline StrongSide StrongFilter(V x3, V x2, V x1, V x0, V y0, V y1) {
  const V two = _mm256_set1_epi16(2), four = _mm256_set1_epi16(4);
  const V x0y0 = _mm256_add_epi16(x0, y0);
  StrongSide r;
  r.s0 = _mm256_srai_epi16(
      _mm256_add_epi16(_mm256_add_epi16(_mm256_add_epi16(x2, _mm256_slli_epi16(_mm256_add_epi16(x1, x0y0), 1)), y1), four), 3);
  r.s1 = _mm256_srai_epi16(_mm256_add_epi16(_mm256_add_epi16(_mm256_add_epi16(x2, x1), x0y0), two), 2);
  r.s2 = _mm256_srai_epi16(
      _mm256_add_epi16(_mm256_add_epi16(_mm256_slli_epi16(x3, 1), _mm256_add_epi16(_mm256_add_epi16(x2, _mm256_slli_epi16(x2, 1)), x1)),
                       _mm256_add_epi16(x0y0, four)),
      3);
  r.w0 = _mm256_srai_epi16(_mm256_add_epi16(_mm256_add_epi16(_mm256_slli_epi16(x1, 1), x0), _mm256_add_epi16(y1, two)), 2);
  return r;
}

// The luma edge filter on 16 lines: v[0..7] = p3, p2, p1, p0, q0, q1, q2, q3 per lane, bsv and
// tc0v per lane. Writes the filtered p2..q2 back into v; false when no line is filtered.
[[gnu::always_inline]] inline bool FilterLuma16(V v[8], V bsv, V tc0v, int alpha, int beta) {
  const V p3 = v[0], p2 = v[1], p1 = v[2], p0 = v[3], q0 = v[4], q1 = v[5], q2 = v[6], q3 = v[7];
  const V av = _mm256_set1_epi16(static_cast<int16_t>(alpha)), bv = _mm256_set1_epi16(static_cast<int16_t>(beta));
  const V four = _mm256_set1_epi16(4);
  const V filter = FilteredLines(p1, p0, q0, q1, bsv, av, bv);
  if (_mm256_testz_si256(filter, filter)) return false;
  const V ap = _mm256_cmpgt_epi16(bv, AbsDiff(p2, p0)), aq = _mm256_cmpgt_epi16(bv, AbsDiff(q2, q0));
  const V strong_bs = _mm256_cmpeq_epi16(bsv, four);
  const NormalLuma n = NormalFilter(p2, p1, p0, q0, q1, q2, ap, aq, tc0v);
  // bS == 4.
  const V strong = _mm256_cmpgt_epi16(_mm256_set1_epi16(static_cast<int16_t>((alpha >> 2) + 2)), AbsDiff(p0, q0));
  const V sp = _mm256_and_si256(ap, strong), sq = _mm256_and_si256(aq, strong);
  const StrongSide sp4 = StrongFilter(p3, p2, p1, p0, q0, q1), sq4 = StrongFilter(q3, q2, q1, q0, p0, p1);
  const V f4 = _mm256_and_si256(filter, strong_bs), fn = _mm256_andnot_si256(strong_bs, filter);
  v[3] = Select(f4, Select(sp, sp4.s0, sp4.w0), Select(fn, n.p0, p0));
  v[2] = Select(f4, Select(sp, sp4.s1, p1), Select(_mm256_and_si256(fn, ap), n.p1, p1));
  v[1] = Select(_mm256_and_si256(f4, sp), sp4.s2, p2);
  v[4] = Select(f4, Select(sq, sq4.s0, sq4.w0), Select(fn, n.q0, q0));
  v[5] = Select(f4, Select(sq, sq4.s1, q1), Select(_mm256_and_si256(fn, aq), n.q1, q1));
  v[6] = Select(_mm256_and_si256(f4, sq), sq4.s2, q2);
  return true;
}

// FilterLuma16 for an edge without strength 4 (between inter macroblocks and inside them):
// only p1..q1 change.
[[gnu::always_inline]] inline bool FilterLumaWeak16(V v[8], V bsv, V tc0v, int alpha, int beta) {
  const V p2 = v[1], p1 = v[2], p0 = v[3], q0 = v[4], q1 = v[5], q2 = v[6];
  const V av = _mm256_set1_epi16(static_cast<int16_t>(alpha)), bv = _mm256_set1_epi16(static_cast<int16_t>(beta));
  const V filter = FilteredLines(p1, p0, q0, q1, bsv, av, bv);
  if (_mm256_testz_si256(filter, filter)) return false;
  const V ap = _mm256_cmpgt_epi16(bv, AbsDiff(p2, p0)), aq = _mm256_cmpgt_epi16(bv, AbsDiff(q2, q0));
  const NormalLuma n = NormalFilter(p2, p1, p0, q0, q1, q2, ap, aq, tc0v);
  v[3] = Select(filter, n.p0, p0);
  v[4] = Select(filter, n.q0, q0);
  v[2] = Select(_mm256_and_si256(filter, ap), n.p1, p1);
  v[5] = Select(_mm256_and_si256(filter, aq), n.q1, q1);
  return true;
}

// Stores the 4 32-bit lanes of v in 4 rows.
inline void Store4Rows(uint8_t* p, int stride, __m128i v) {
  const int32_t r0 = _mm_cvtsi128_si32(v), r1 = _mm_extract_epi32(v, 1), r2 = _mm_extract_epi32(v, 2),
                r3 = _mm_extract_epi32(v, 3);
  std::memcpy(p, &r0, 4);
  std::memcpy(p + stride, &r1, 4);
  std::memcpy(p + 2 * stride, &r2, 4);
  std::memcpy(p + 3 * stride, &r3, 4);
}

// Per-line values from the 4 bytes of an edge's strengths: each in 4 lanes of 16 lines
// (Quarters) or in 2 lanes of 8 (Pairs); tC0 of each strength from the table by strength.
inline __m128i Bytes4(const uint8_t* p) {
  int32_t v;
  std::memcpy(&v, p, 4);
  return _mm_cvtsi32_si128(v);
}
inline __m128i Tc0ByStrength(const uint8_t tc0[4], __m128i bs4) {
  return _mm_shuffle_epi8(Bytes4(tc0), _mm_and_si128(bs4, _mm_set1_epi8(3)));
}
inline V Quarters(__m128i b4) {
  const V x = _mm256_cvtepu8_epi64(b4);
  const V y = _mm256_or_si256(x, _mm256_slli_epi64(x, 16));
  return _mm256_or_si256(y, _mm256_slli_epi64(y, 32));
}
inline __m128i Pairs(__m128i b4) {
  const __m128i x = _mm_cvtepu8_epi32(b4);
  return _mm_or_si128(x, _mm_slli_epi32(x, 16));
}

inline __m128i Pack(V v) { return _mm_packus_epi16(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1)); }

// 16 rows of 8 samples (p3..q3 of a vertical edge) into 8 vectors of 16 lines.
void LoadColumns(const uint8_t* p, int stride, V v[8]) {
  __m128i a[8], b[8];
  for (int j = 0; j < 8; ++j)
    a[j] = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + 2 * j * stride)),
                             _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + (2 * j + 1) * stride)));
  for (int k = 0; k < 4; ++k) {  // 4 rows per 32 bits: columns 0-3 / 4-7
    b[k] = _mm_unpacklo_epi16(a[2 * k], a[2 * k + 1]);
    b[4 + k] = _mm_unpackhi_epi16(a[2 * k], a[2 * k + 1]);
  }
  for (int h = 0; h < 2; ++h) {  // 8 rows per 64 bits: two columns, rows 0-7 / 8-15
    const __m128i* s = b + 4 * h;
    const __m128i lo01 = _mm_unpacklo_epi32(s[0], s[1]), hi01 = _mm_unpacklo_epi32(s[2], s[3]);
    const __m128i lo23 = _mm_unpackhi_epi32(s[0], s[1]), hi23 = _mm_unpackhi_epi32(s[2], s[3]);
    v[4 * h] = _mm256_cvtepu8_epi16(_mm_unpacklo_epi64(lo01, hi01));
    v[4 * h + 1] = _mm256_cvtepu8_epi16(_mm_unpackhi_epi64(lo01, hi01));
    v[4 * h + 2] = _mm256_cvtepu8_epi16(_mm_unpacklo_epi64(lo23, hi23));
    v[4 * h + 3] = _mm256_cvtepu8_epi16(_mm_unpackhi_epi64(lo23, hi23));
  }
}

// The reverse of LoadColumns.
void StoreColumns(uint8_t* p, int stride, const V v[8]) {
  __m128i c[8], a[8], b[8];
  for (int i = 0; i < 8; ++i) c[i] = Pack(v[i]);
  for (int j = 0; j < 4; ++j) {  // column pairs, rows 0-7 / 8-15
    a[j] = _mm_unpacklo_epi8(c[2 * j], c[2 * j + 1]);
    a[4 + j] = _mm_unpackhi_epi8(c[2 * j], c[2 * j + 1]);
  }
  for (int h = 0; h < 2; ++h) {  // 4 columns per 32 bits, rows 0-3 / 4-7 of the half
    const __m128i* s = a + 4 * h;
    b[4 * h] = _mm_unpacklo_epi16(s[0], s[1]);
    b[4 * h + 1] = _mm_unpackhi_epi16(s[0], s[1]);
    b[4 * h + 2] = _mm_unpacklo_epi16(s[2], s[3]);
    b[4 * h + 3] = _mm_unpackhi_epi16(s[2], s[3]);
  }
  for (int h = 0; h < 2; ++h)
    for (int k = 0; k < 2; ++k) {  // two rows per vector
      const __m128i lo = _mm_unpacklo_epi32(b[4 * h + k], b[4 * h + 2 + k]);
      const __m128i hi = _mm_unpackhi_epi32(b[4 * h + k], b[4 * h + 2 + k]);
      uint8_t* row = p + (8 * h + 4 * k) * stride;
      _mm_storel_epi64(reinterpret_cast<__m128i*>(row), lo);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(row + stride), _mm_unpackhi_epi64(lo, lo));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(row + 2 * stride), hi);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(row + 3 * stride), _mm_unpackhi_epi64(hi, hi));
    }
}

// The p1, p0, q0, q1 columns of a vertical edge (v[2..5]) back into its 16 rows, 4 bytes from p.
void StoreInnerColumns(uint8_t* p, int stride, const V v[8]) {
  const __m128i p1 = Pack(v[2]), p0 = Pack(v[3]), q0 = Pack(v[4]), q1 = Pack(v[5]);
  const __m128i a0 = _mm_unpacklo_epi8(p1, p0), a1 = _mm_unpackhi_epi8(p1, p0);  // lines 0-7 / 8-15
  const __m128i b0 = _mm_unpacklo_epi8(q0, q1), b1 = _mm_unpackhi_epi8(q0, q1);
  Store4Rows(p, stride, _mm_unpacklo_epi16(a0, b0));
  Store4Rows(p + 4 * stride, stride, _mm_unpackhi_epi16(a0, b0));
  Store4Rows(p + 8 * stride, stride, _mm_unpacklo_epi16(a1, b1));
  Store4Rows(p + 12 * stride, stride, _mm_unpackhi_epi16(a1, b1));
}

H264Kernels Sse2Table() {
  H264Kernels k{};
  FillScalarKernels(&k);
  FillScalarDeblockKernels(&k);
  FillSse2Kernels(&k);
  FillSse2DeblockKernels(&k);
  return k;
}

const H264Kernels& Narrow() {
  static const H264Kernels table = Sse2Table();
  return table;
}

void DeblockLuma(uint8_t* q0p, int across, int along, const uint8_t bs[4], int alpha, int beta, const uint8_t tc0[4]) {
  if (along != 1 && across != 1) return Narrow().deblock_luma(q0p, across, along, bs, alpha, beta, tc0);
  const __m128i bs4 = Bytes4(bs);
  const V bsv = Quarters(bs4), tc0v = Quarters(Tc0ByStrength(tc0, bs4));
  // Without strength 4 only p1..q1 change (and p2..q2 are read).
  int32_t word;
  std::memcpy(&word, bs, 4);
  const bool weak = (word & 0x04040404) == 0;
  V v[8];
  if (along == 1) {  // horizontal edge: rows across it, 16 lines in one row
    for (int i = weak ? 1 : 0; i < (weak ? 7 : 8); ++i)
      v[i] = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(q0p + (i - 4) * across)));
    if (weak ? !FilterLumaWeak16(v, bsv, tc0v, alpha, beta) : !FilterLuma16(v, bsv, tc0v, alpha, beta)) return;
    for (int i = weak ? 2 : 1; i < (weak ? 6 : 7); ++i)
      _mm_storeu_si128(reinterpret_cast<__m128i*>(q0p + (i - 4) * across), Pack(v[i]));
    return;
  }
  LoadColumns(q0p - 4, along, v);
  if (weak) {
    if (FilterLumaWeak16(v, bsv, tc0v, alpha, beta)) StoreInnerColumns(q0p - 2, along, v);
  } else if (FilterLuma16(v, bsv, tc0v, alpha, beta)) {
    StoreColumns(q0p - 4, along, v);
  }
}

// The chroma edge filter on the 8 lines of Cb (low half) and of Cr (high half); alpha, beta
// and tC0 per lane. Returns the new p0 and q0 in p0 and q0.
[[gnu::always_inline]] inline void FilterChroma16(V p1, V& p0, V& q0, V q1, V bsv, V tc0v, V av, V bv) {
  const V zero = _mm256_setzero_si256(), two = _mm256_set1_epi16(2), four = _mm256_set1_epi16(4);
  V filter = _mm256_and_si256(_mm256_cmpgt_epi16(av, AbsDiff(p0, q0)), _mm256_cmpgt_epi16(bv, AbsDiff(p1, p0)));
  filter = _mm256_and_si256(filter, _mm256_cmpgt_epi16(bv, AbsDiff(q1, q0)));
  filter = _mm256_andnot_si256(_mm256_cmpeq_epi16(bsv, zero), filter);
  if (_mm256_testz_si256(filter, filter)) return;
  const V strong = _mm256_cmpeq_epi16(bsv, four);
  const V tc = _mm256_add_epi16(tc0v, _mm256_set1_epi16(1));
  V delta = _mm256_add_epi16(_mm256_slli_epi16(_mm256_sub_epi16(q0, p0), 2), _mm256_sub_epi16(p1, q1));
  delta = Clamp(_mm256_srai_epi16(_mm256_add_epi16(delta, four), 3), _mm256_sub_epi16(zero, tc), tc);
  // The weak results are clipped by the final pack.
  const V w_p0 = _mm256_add_epi16(p0, delta), w_q0 = _mm256_sub_epi16(q0, delta);
  const V s_p0 = _mm256_srai_epi16(_mm256_add_epi16(_mm256_add_epi16(_mm256_slli_epi16(p1, 1), p0), _mm256_add_epi16(q1, two)), 2);
  const V s_q0 = _mm256_srai_epi16(_mm256_add_epi16(_mm256_add_epi16(_mm256_slli_epi16(q1, 1), q0), _mm256_add_epi16(p1, two)), 2);
  p0 = Select(filter, Select(strong, s_p0, w_p0), p0);
  q0 = Select(filter, Select(strong, s_q0, w_q0), q0);
}

// 8 rows of p1, p0, q0, q1 (a vertical chroma edge) as p1 | p0 and q0 | q1, 8 bytes each.
void LoadChromaColumns(const uint8_t* p, int stride, __m128i& w0, __m128i& w1) {
  auto row = [&](int i) {
    int32_t v;
    std::memcpy(&v, p + i * stride, 4);
    return v;
  };
  auto rows4 = [&](int i) {  // rows i..i + 3 in the 4 lanes
    const __m128i r = _mm_insert_epi32(_mm_cvtsi32_si128(row(i)), row(i + 1), 1);
    return _mm_insert_epi32(_mm_insert_epi32(r, row(i + 2), 2), row(i + 3), 3);
  };
  const __m128i x = rows4(0), y = rows4(4);
  const __m128i i0 = _mm_unpacklo_epi8(x, y), i1 = _mm_unpackhi_epi8(x, y);
  const __m128i u0 = _mm_unpacklo_epi8(i0, i1), u1 = _mm_unpackhi_epi8(i0, i1);
  w0 = _mm_unpacklo_epi8(u0, u1);
  w1 = _mm_unpackhi_epi8(u0, u1);
}

// The reverse of LoadChromaColumns.
void StoreChromaColumns(uint8_t* p, int stride, __m128i r0, __m128i r1) {
  const __m128i a0 = _mm_unpacklo_epi8(r0, r1), a1 = _mm_unpackhi_epi8(r0, r1);
  Store4Rows(p, stride, _mm_unpacklo_epi8(a0, a1));  // 4 lines each
  Store4Rows(p + 4 * stride, stride, _mm_unpackhi_epi8(a0, a1));
}

inline V PerPlane(int cb, int cr) {
  return _mm256_setr_m128i(_mm_set1_epi16(static_cast<int16_t>(cb)), _mm_set1_epi16(static_cast<int16_t>(cr)));
}

void DeblockChromaPair(uint8_t* const q0p[2], int across, int along, const uint8_t bs[4], const int alpha[2],
                       const int beta[2], const uint8_t* const tc0[2]) {
  if (along != 1 && across != 1) {
    for (int c = 0; c < 2; ++c) Narrow().deblock_chroma(q0p[c], across, along, bs, alpha[c], beta[c], tc0[c]);
    return;
  }
  const __m128i bs4 = Bytes4(bs), bs8 = Pairs(bs4);
  const V bsv = _mm256_setr_m128i(bs8, bs8);
  const V tc0v = _mm256_setr_m128i(Pairs(Tc0ByStrength(tc0[0], bs4)), Pairs(Tc0ByStrength(tc0[1], bs4)));
  // A plane not to filter gets thresholds no step passes (as alpha or beta 0 do).
  const V av = PerPlane(beta[0] > 0 ? alpha[0] : 0, beta[1] > 0 ? alpha[1] : 0), bv = PerPlane(beta[0], beta[1]);
  auto load2 = [&](int off) {  // 8 samples of each plane at q0 + off
    return _mm256_cvtepu8_epi16(_mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(q0p[0] + off)),
                                                   _mm_loadl_epi64(reinterpret_cast<const __m128i*>(q0p[1] + off))));
  };
  if (along == 1) {  // horizontal edge: a row of 8 lines per sample position
    V p0 = load2(-across), q0 = load2(0);
    FilterChroma16(load2(-2 * across), p0, q0, load2(across), bsv, tc0v, av, bv);
    const __m128i np0 = Pack(p0), nq0 = Pack(q0);
    for (int c = 0; c < 2; ++c) {
      _mm_storel_epi64(reinterpret_cast<__m128i*>(q0p[c] - across), c == 0 ? np0 : _mm_unpackhi_epi64(np0, np0));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(q0p[c]), c == 0 ? nq0 : _mm_unpackhi_epi64(nq0, nq0));
    }
    return;
  }
  __m128i w0[2], w1[2];  // per plane: p1 | p0, q0 | q1
  for (int c = 0; c < 2; ++c) LoadChromaColumns(q0p[c] - 2, along, w0[c], w1[c]);
  const V p1 = _mm256_cvtepu8_epi16(_mm_unpacklo_epi64(w0[0], w0[1]));
  const V q1 = _mm256_cvtepu8_epi16(_mm_unpackhi_epi64(w1[0], w1[1]));
  V p0 = _mm256_cvtepu8_epi16(_mm_unpackhi_epi64(w0[0], w0[1]));
  V q0 = _mm256_cvtepu8_epi16(_mm_unpacklo_epi64(w1[0], w1[1]));
  FilterChroma16(p1, p0, q0, q1, bsv, tc0v, av, bv);
  const __m128i np0 = Pack(p0), nq0 = Pack(q0);  // Cb | Cr
  StoreChromaColumns(q0p[0] - 2, along, _mm_unpacklo_epi64(w0[0], np0), _mm_unpacklo_epi64(nq0, _mm_srli_si128(w1[0], 8)));
  StoreChromaColumns(q0p[1] - 2, along, _mm_unpackhi_epi64(_mm_slli_si128(w0[1], 8), np0), _mm_unpackhi_epi64(nq0, w1[1]));
}

// Keys and vectors of two rows of 4 blocks (low half: the upper row) per list; the key is
// the reference picture identity or kUnusedKey, the vector zero where the list is unused.
struct Motion8 {
  V key0, key1, mv0, mv1;
};

constexpr int32_t kUnusedKey = INT32_MIN;

inline void LoadList(const H264MotionField& f, int l, int idx, int stride, V& key, V& mv) {
  int32_t r0, r1;
  std::memcpy(&r0, f.ref[l] + idx, 4);
  std::memcpy(&r1, f.ref[l] + idx + stride, 4);
  const V ref = _mm256_cvtepi8_epi32(_mm_unpacklo_epi32(_mm_cvtsi32_si128(r0), _mm_cvtsi32_si128(r1)));
  const V used = _mm256_cmpgt_epi32(ref, _mm256_set1_epi32(-1));
  const V serial = _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(f.serial[l] + idx + stride),
                                       reinterpret_cast<const __m128i*>(f.serial[l] + idx));
  const V mvs = _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(f.mv[l] + idx + stride),
                                    reinterpret_cast<const __m128i*>(f.mv[l] + idx));
  key = _mm256_blendv_epi8(_mm256_set1_epi32(kUnusedKey), serial, used);
  mv = _mm256_and_si256(used, mvs);
}

// Rows idx and idx + stride (stride 0: one row twice).
template <int kLists>
inline Motion8 LoadRows(const H264MotionField& f, int idx, int stride) {
  Motion8 m;
  LoadList(f, 0, idx, stride, m.key0, m.mv0);
  if (kLists == 2) {
    LoadList(f, 1, idx, stride, m.key1, m.mv1);
  } else {
    m.key1 = _mm256_set1_epi32(kUnusedKey);
    m.mv1 = _mm256_setzero_si256();
  }
  return m;
}

inline V Far(V a, V b, V limit) {
  return _mm256_cmpgt_epi16(_mm256_max_epi16(_mm256_subs_epi16(a, b), _mm256_subs_epi16(b, a)), limit);
}

// Bit i set where lane i of p and q differ in motion (the rule of H264DeblockMotion.cpp).
template <int kLists>
inline uint32_t Differ8(const Motion8& p, const Motion8& q, V limit) {
  const V zero = _mm256_setzero_si256();
  V same;
  if (kLists == 1) {
    same = _mm256_and_si256(_mm256_cmpeq_epi32(p.key0, q.key0), _mm256_cmpeq_epi32(Far(p.mv0, q.mv0, limit), zero));
  } else {
    // Identical motion in every lane, the usual case inside a macroblock, decides at once.
    const V equal = _mm256_and_si256(_mm256_and_si256(_mm256_cmpeq_epi32(p.key0, q.key0), _mm256_cmpeq_epi32(p.key1, q.key1)),
                                     _mm256_and_si256(_mm256_cmpeq_epi32(p.mv0, q.mv0), _mm256_cmpeq_epi32(p.mv1, q.mv1)));
    if (_mm256_movemask_epi8(equal) == -1) return 0;
    const V far_s = _mm256_or_si256(Far(p.mv0, q.mv0, limit), Far(p.mv1, q.mv1, limit));
    const V far_c = _mm256_or_si256(Far(p.mv0, q.mv1, limit), Far(p.mv1, q.mv0, limit));
    const V straight = _mm256_and_si256(_mm256_cmpeq_epi32(p.key0, q.key0), _mm256_cmpeq_epi32(p.key1, q.key1));
    const V crossed = _mm256_and_si256(_mm256_cmpeq_epi32(p.key0, q.key1), _mm256_cmpeq_epi32(p.key1, q.key0));
    same = _mm256_or_si256(_mm256_and_si256(straight, _mm256_cmpeq_epi32(far_s, zero)),
                           _mm256_and_si256(crossed, _mm256_cmpeq_epi32(far_c, zero)));
  }
  return ~static_cast<uint32_t>(_mm256_movemask_ps(_mm256_castsi256_ps(same))) & 0xFF;
}

// Each row's blocks moved one lane right (lane 0 zero): the left neighbours inside the
// macroblock.
inline Motion8 ShiftRight(const Motion8& m) {
  return Motion8{_mm256_slli_si256(m.key0, 4), _mm256_slli_si256(m.key1, 4), _mm256_slli_si256(m.mv0, 4),
                 _mm256_slli_si256(m.mv1, 4)};
}

// Rows (a.high, b.low): the rows above b's when a holds the rows before.
inline Motion8 RowsAbove(const Motion8& a, const Motion8& b) {
  return Motion8{_mm256_permute2x128_si256(a.key0, b.key0, 0x21), _mm256_permute2x128_si256(a.key1, b.key1, 0x21),
                 _mm256_permute2x128_si256(a.mv0, b.mv0, 0x21), _mm256_permute2x128_si256(a.mv1, b.mv1, 0x21)};
}

template <int kLists>
uint32_t DeblockMotion(const H264MotionField& f, int base, int left, int top, int inner, int lim) {
  const V limit = _mm256_set1_epi32(static_cast<int32_t>((static_cast<uint32_t>(lim - 1) << 16) | 3u));
  const int s = f.stride;
  const Motion8 q01 = LoadRows<kLists>(f, base, s), q23 = LoadRows<kLists>(f, base + 2 * s, s);
  uint32_t bits = 0;
  if (left == -1) {
    bits = Differ8<kLists>(LoadRows<kLists>(f, base - 1, s), q01, limit) |
           Differ8<kLists>(LoadRows<kLists>(f, base + 2 * s - 1, s), q23, limit) << 8;
  } else if (inner & kInnerVertical) {
    bits = Differ8<kLists>(ShiftRight(q01), q01, limit) | Differ8<kLists>(ShiftRight(q23), q23, limit) << 8;
  }
  if (top != 0 || (inner & kInnerHorizontal)) {
    const Motion8 above = top != 0 ? LoadRows<kLists>(f, base + top, 0) : q01;  // its high half: the top row
    bits |= Differ8<kLists>(RowsAbove(above, q01), q01, limit) << 16 | Differ8<kLists>(RowsAbove(q01, q23), q23, limit) << 24;
  }
  const uint32_t v = (inner & kInnerVertical ? 0xEEEEu : 0) | (left != 0 ? 0x1111u : 0);
  const uint32_t h = (inner & kInnerHorizontal ? 0xFFF0u : 0) | (top != 0 ? 0xFu : 0);
  return bits & (v | h << 16);
}

uint32_t DeblockMotion(const H264MotionField& f, int base, int left, int top, int lists, int inner, int lim) {
  if (left != 0 && left != -1) return Narrow().deblock_motion(f, base, left, top, lists, inner, lim);
  return lists == 1 ? DeblockMotion<1>(f, base, left, top, inner, lim) : DeblockMotion<2>(f, base, left, top, inner, lim);
}

}  // namespace

void FillAvx2DeblockKernels(H264Kernels* k) {
  k->deblock_luma = DeblockLuma;
  k->deblock_chroma_pair = DeblockChromaPair;
  k->deblock_motion = DeblockMotion;
}

}  // namespace fennik
#else
namespace fennik {
void FillAvx2DeblockKernels(H264Kernels*) {}
}  // namespace fennik
#endif
