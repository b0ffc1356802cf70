// SSE2 versions of the H.264 pixel kernels (intrinsics). Every load reads only samples the
// scalar reference reads: 8 samples at a time with 64-bit loads, 4 with 32-bit loads; block
// widths below 8 fall back to the scalar reference.
#include "codec/video/kernels/H264Kernels.h"

#if defined(__x86_64__)
#include <emmintrin.h>

#include <cstring>

namespace fennik {
namespace {


inline __m128i Load8(const uint8_t* p) {
  return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), _mm_setzero_si128());
}
inline __m128i Load4(const uint8_t* p) {
  int32_t v;
  std::memcpy(&v, p, 4);
  return _mm_unpacklo_epi8(_mm_cvtsi32_si128(v), _mm_setzero_si128());
}
inline void Store8(uint8_t* p, __m128i v16) {
  _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_packus_epi16(v16, v16));
}
inline void Store4(uint8_t* p, __m128i v16) {
  const int32_t v = _mm_cvtsi128_si32(_mm_packus_epi16(v16, v16));
  std::memcpy(p, &v, 4);
}

void Weight(uint8_t* block, int stride, int w, int h, int log_wd, int weight, int offset) {
  // Out-of-range weights of a damaged stream take the reference path (same results).
  if (w < 4 || log_wd < 0 || log_wd > 7 || weight < -128 || weight > 127 || offset < -128 || offset > 127)
    return ScalarKernels().weight(block, stride, w, h, log_wd, weight, offset);
  // x * weight fits 16 bits for 8-bit samples and weights in -128..127.
  const __m128i wv = _mm_set1_epi16(static_cast<int16_t>(weight));
  const __m128i round = _mm_set1_epi16(static_cast<int16_t>(log_wd >= 1 ? 1 << (log_wd - 1) : 0));
  const __m128i off = _mm_set1_epi16(static_cast<int16_t>(offset));
  const __m128i shift = _mm_cvtsi32_si128(log_wd);
  auto one = [&](__m128i x) { return _mm_adds_epi16(_mm_sra_epi16(_mm_add_epi16(_mm_mullo_epi16(x, wv), round), shift), off); };
  for (int y = 0; y < h; ++y) {
    uint8_t* row = block + y * stride;
    if (w == 4) {
      Store4(row, one(Load4(row)));
      continue;
    }
    for (int x = 0; x < w; x += 8) Store8(row + x, one(Load8(row + x)));
  }
}

void WeightBi(uint8_t* dst, int ds, const uint8_t* a, const uint8_t* b, int ss, int w, int h, int log_wd, int w0, int w1,
              int offset) {
  if (w < 4 || log_wd < 0 || log_wd > 7 || w0 < -256 || w0 > 256 || w1 < -256 || w1 > 256 || offset < -256 ||
      offset > 256)
    return ScalarKernels().weight_bi(dst, ds, a, b, ss, w, h, log_wd, w0, w1, offset);
  // a * w0 + b * w1 in 32-bit lanes by madd of interleaved (a, b) with (w0, w1).
  const __m128i weights = _mm_set1_epi32(static_cast<int32_t>((static_cast<uint32_t>(w1) << 16) | static_cast<uint16_t>(w0)));
  const __m128i round = _mm_set1_epi32(1 << log_wd);
  const __m128i off = _mm_set1_epi32(offset);
  const __m128i shift = _mm_cvtsi32_si128(log_wd + 1);
  auto eight = [&](__m128i av, __m128i bv) {
    __m128i lo = _mm_madd_epi16(_mm_unpacklo_epi16(av, bv), weights);
    __m128i hi = _mm_madd_epi16(_mm_unpackhi_epi16(av, bv), weights);
    lo = _mm_add_epi32(_mm_sra_epi32(_mm_add_epi32(lo, round), shift), off);
    hi = _mm_add_epi32(_mm_sra_epi32(_mm_add_epi32(hi, round), shift), off);
    return _mm_packs_epi32(lo, hi);
  };
  for (int y = 0; y < h; ++y) {
    const uint8_t* ra = a + y * ss;
    const uint8_t* rb = b + y * ss;
    uint8_t* rd = dst + y * ds;
    if (w == 4) {
      Store4(rd, eight(Load4(ra), Load4(rb)));
      continue;
    }
    for (int x = 0; x < w; x += 8) Store8(rd + x, eight(Load8(ra + x), Load8(rb + x)));
  }
}

// Four int32 rows transposed in place.
inline void Transpose4(__m128i& a, __m128i& b, __m128i& c, __m128i& d) {
  const __m128i t0 = _mm_unpacklo_epi32(a, b), t1 = _mm_unpacklo_epi32(c, d);
  const __m128i t2 = _mm_unpackhi_epi32(a, b), t3 = _mm_unpackhi_epi32(c, d);
  a = _mm_unpacklo_epi64(t0, t1);
  b = _mm_unpackhi_epi64(t0, t1);
  c = _mm_unpacklo_epi64(t2, t3);
  d = _mm_unpackhi_epi64(t2, t3);
}

inline __m128i LoadI32(const int32_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

// The 4-point transform of 8.5.12.2 on four vectors (one lane per line).
inline void Transform4(__m128i& x0, __m128i& x1, __m128i& x2, __m128i& x3) {
  const __m128i e0 = _mm_add_epi32(x0, x2), e1 = _mm_sub_epi32(x0, x2);
  const __m128i e2 = _mm_sub_epi32(_mm_srai_epi32(x1, 1), x3), e3 = _mm_add_epi32(x1, _mm_srai_epi32(x3, 1));
  x0 = _mm_add_epi32(e0, e3);
  x1 = _mm_add_epi32(e1, e2);
  x2 = _mm_sub_epi32(e1, e2);
  x3 = _mm_sub_epi32(e0, e3);
}

// Adds (r + 32) >> 6 of 4 int32 lanes to 4 samples, clipped.
inline void AddRow4(uint8_t* dst, __m128i r) {
  r = _mm_srai_epi32(_mm_add_epi32(r, _mm_set1_epi32(32)), 6);
  const __m128i r16 = _mm_packs_epi32(r, r);
  Store4(dst, _mm_adds_epi16(Load4(dst), r16));
}

void Idct4Add(uint8_t* dst, int stride, const int32_t d[16]) {
  __m128i a = LoadI32(d), b = LoadI32(d + 4), c = LoadI32(d + 8), e = LoadI32(d + 12);
  Transpose4(a, b, c, e);  // lanes: rows; vectors: element index
  Transform4(a, b, c, e);  // row transforms
  Transpose4(a, b, c, e);  // lanes: columns; vectors: rows
  Transform4(a, b, c, e);  // column transforms
  AddRow4(dst, a);
  AddRow4(dst + stride, b);
  AddRow4(dst + 2 * stride, c);
  AddRow4(dst + 3 * stride, e);
}

// The 8-point transform of 8.5.13.2 on eight vectors (one lane per line).
inline void Transform8(__m128i* v) {
  const __m128i d0 = v[0], d1 = v[1], d2 = v[2], d3 = v[3], d4 = v[4], d5 = v[5], d6 = v[6], d7 = v[7];
  const __m128i a0 = _mm_add_epi32(d0, d4), a4 = _mm_sub_epi32(d0, d4);
  const __m128i a2 = _mm_sub_epi32(_mm_srai_epi32(d2, 1), d6), a6 = _mm_add_epi32(d2, _mm_srai_epi32(d6, 1));
  const __m128i b0 = _mm_add_epi32(a0, a6), b2 = _mm_add_epi32(a4, a2);
  const __m128i b4 = _mm_sub_epi32(a4, a2), b6 = _mm_sub_epi32(a0, a6);
  const __m128i a1 = _mm_sub_epi32(_mm_sub_epi32(_mm_sub_epi32(d5, d3), d7), _mm_srai_epi32(d7, 1));
  const __m128i a3 = _mm_sub_epi32(_mm_sub_epi32(_mm_add_epi32(d1, d7), d3), _mm_srai_epi32(d3, 1));
  const __m128i a5 = _mm_add_epi32(_mm_add_epi32(_mm_sub_epi32(d7, d1), d5), _mm_srai_epi32(d5, 1));
  const __m128i a7 = _mm_add_epi32(_mm_add_epi32(_mm_add_epi32(d3, d5), d1), _mm_srai_epi32(d1, 1));
  const __m128i b1 = _mm_add_epi32(a1, _mm_srai_epi32(a7, 2)), b7 = _mm_sub_epi32(a7, _mm_srai_epi32(a1, 2));
  const __m128i b3 = _mm_add_epi32(a3, _mm_srai_epi32(a5, 2)), b5 = _mm_sub_epi32(_mm_srai_epi32(a3, 2), a5);
  v[0] = _mm_add_epi32(b0, b7);
  v[1] = _mm_add_epi32(b2, b5);
  v[2] = _mm_add_epi32(b4, b3);
  v[3] = _mm_add_epi32(b6, b1);
  v[4] = _mm_sub_epi32(b6, b1);
  v[5] = _mm_sub_epi32(b4, b3);
  v[6] = _mm_sub_epi32(b2, b5);
  v[7] = _mm_sub_epi32(b0, b7);
}

// Transposes the 8x8 int32 matrix m[row][half] (half: columns 0-3 / 4-7) into t likewise.
inline void Transpose8(__m128i m[8][2], __m128i t[8][2]) {
  for (int rb = 0; rb < 2; ++rb)
    for (int cb = 0; cb < 2; ++cb) {
      __m128i a = m[rb * 4][cb], b = m[rb * 4 + 1][cb], c = m[rb * 4 + 2][cb], d = m[rb * 4 + 3][cb];
      Transpose4(a, b, c, d);
      t[cb * 4][rb] = a;
      t[cb * 4 + 1][rb] = b;
      t[cb * 4 + 2][rb] = c;
      t[cb * 4 + 3][rb] = d;
    }
}

void Idct8Add(uint8_t* dst, int stride, const int32_t d[64]) {
  __m128i m[8][2], t[8][2];
  for (int i = 0; i < 8; ++i) {
    m[i][0] = LoadI32(d + i * 8);
    m[i][1] = LoadI32(d + i * 8 + 4);
  }
  Transpose8(m, t);  // t[k][half]: element k of rows 0-3 / 4-7
  for (int half = 0; half < 2; ++half) {
    __m128i v[8];
    for (int k = 0; k < 8; ++k) v[k] = t[k][half];
    Transform8(v);
    for (int k = 0; k < 8; ++k) t[k][half] = v[k];
  }
  Transpose8(t, m);  // m[row][half] of the row-transformed block
  for (int half = 0; half < 2; ++half) {
    __m128i v[8];
    for (int k = 0; k < 8; ++k) v[k] = m[k][half];
    Transform8(v);
    for (int k = 0; k < 8; ++k) m[k][half] = v[k];
  }
  const __m128i round = _mm_set1_epi32(32);
  for (int y = 0; y < 8; ++y) {
    const __m128i lo = _mm_srai_epi32(_mm_add_epi32(m[y][0], round), 6);
    const __m128i hi = _mm_srai_epi32(_mm_add_epi32(m[y][1], round), 6);
    Store8(dst + y * stride, _mm_adds_epi16(Load8(dst + y * stride), _mm_packs_epi32(lo, hi)));
  }
}

void DcAdd(uint8_t* dst, int stride, int32_t dc, int size) {
  int32_t r = (dc + 32) >> 6;
  r = r < -32768 ? -32768 : (r > 32767 ? 32767 : r);
  const __m128i v = _mm_set1_epi16(static_cast<int16_t>(r));
  for (int y = 0; y < size; ++y) {
    if (size == 8) Store8(dst + y * stride, _mm_adds_epi16(Load8(dst + y * stride), v));
    else Store4(dst + y * stride, _mm_adds_epi16(Load4(dst + y * stride), v));
  }
}

// The luma edge filter on 8 lines in 16-bit lanes: v[0..7] = p3, p2, p1, p0, q0, q1, q2, q3;
// bsv and tc0v per lane. Writes the filtered p2..q2 back into v.
inline __m128i AbsDiff(__m128i a, __m128i b) { return _mm_max_epi16(_mm_sub_epi16(a, b), _mm_sub_epi16(b, a)); }
inline __m128i Select(__m128i mask, __m128i a, __m128i b) { return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b)); }
inline __m128i Clamp(__m128i v, __m128i lo, __m128i hi) { return _mm_min_epi16(_mm_max_epi16(v, lo), hi); }

void FilterLuma8(__m128i v[8], __m128i bsv, __m128i tc0v, int alpha, int beta) {
  const __m128i p3 = v[0], p2 = v[1], p1 = v[2], p0 = v[3], q0 = v[4], q1 = v[5], q2 = v[6], q3 = v[7];
  const __m128i av = _mm_set1_epi16(static_cast<int16_t>(alpha)), bv = _mm_set1_epi16(static_cast<int16_t>(beta));
  const __m128i zero = _mm_setzero_si128();
  const __m128i one = _mm_set1_epi16(1), two = _mm_set1_epi16(2), four = _mm_set1_epi16(4);
  const __m128i d0 = AbsDiff(p0, q0);
  __m128i filter = _mm_and_si128(_mm_cmplt_epi16(d0, av), _mm_cmplt_epi16(AbsDiff(p1, p0), bv));
  filter = _mm_and_si128(filter, _mm_cmplt_epi16(AbsDiff(q1, q0), bv));
  filter = _mm_andnot_si128(_mm_cmpeq_epi16(bsv, zero), filter);
  if (_mm_movemask_epi8(filter) == 0) return;
  const __m128i ap = _mm_cmplt_epi16(AbsDiff(p2, p0), bv), aq = _mm_cmplt_epi16(AbsDiff(q2, q0), bv);
  const __m128i strong_bs = _mm_cmpeq_epi16(bsv, four);
  // bS < 4.
  const __m128i tc = _mm_sub_epi16(_mm_sub_epi16(tc0v, ap), aq);  // masks are -1
  const __m128i ntc = _mm_sub_epi16(zero, tc), ntc0 = _mm_sub_epi16(zero, tc0v);
  __m128i delta = _mm_add_epi16(_mm_slli_epi16(_mm_sub_epi16(q0, p0), 2), _mm_sub_epi16(p1, q1));
  delta = Clamp(_mm_srai_epi16(_mm_add_epi16(delta, four), 3), ntc, tc);
  const __m128i n_p0 = _mm_add_epi16(p0, delta), n_q0 = _mm_sub_epi16(q0, delta);  // clipped by the final pack
  const __m128i avg = _mm_srai_epi16(_mm_add_epi16(_mm_add_epi16(p0, q0), one), 1);
  const __m128i n_p1 = _mm_add_epi16(
      p1, Clamp(_mm_srai_epi16(_mm_sub_epi16(_mm_add_epi16(p2, avg), _mm_slli_epi16(p1, 1)), 1), ntc0, tc0v));
  const __m128i n_q1 = _mm_add_epi16(
      q1, Clamp(_mm_srai_epi16(_mm_sub_epi16(_mm_add_epi16(q2, avg), _mm_slli_epi16(q1, 1)), 1), ntc0, tc0v));
  // bS == 4.
  const __m128i strong = _mm_cmplt_epi16(d0, _mm_set1_epi16(static_cast<int16_t>((alpha >> 2) + 2)));
  const __m128i sp = _mm_and_si128(ap, strong), sq = _mm_and_si128(aq, strong);
  const __m128i p0q0 = _mm_add_epi16(p0, q0);
  const __m128i s_p0 = _mm_srai_epi16(
      _mm_add_epi16(_mm_add_epi16(_mm_add_epi16(p2, _mm_slli_epi16(_mm_add_epi16(p1, p0q0), 1)), q1), four), 3);
  const __m128i s_p1 = _mm_srai_epi16(_mm_add_epi16(_mm_add_epi16(_mm_add_epi16(p2, p1), p0q0), two), 2);
  const __m128i s_p2 = _mm_srai_epi16(
      _mm_add_epi16(_mm_add_epi16(_mm_slli_epi16(p3, 1), _mm_add_epi16(_mm_add_epi16(p2, _mm_slli_epi16(p2, 1)), p1)),
                    _mm_add_epi16(p0q0, four)),
      3);
  const __m128i w_p0 = _mm_srai_epi16(_mm_add_epi16(_mm_add_epi16(_mm_slli_epi16(p1, 1), p0), _mm_add_epi16(q1, two)), 2);
  const __m128i s_q0 = _mm_srai_epi16(
      _mm_add_epi16(_mm_add_epi16(_mm_add_epi16(q2, _mm_slli_epi16(_mm_add_epi16(q1, p0q0), 1)), p1), four), 3);
  const __m128i s_q1 = _mm_srai_epi16(_mm_add_epi16(_mm_add_epi16(_mm_add_epi16(q2, q1), p0q0), two), 2);
  const __m128i s_q2 = _mm_srai_epi16(
      _mm_add_epi16(_mm_add_epi16(_mm_slli_epi16(q3, 1), _mm_add_epi16(_mm_add_epi16(q2, _mm_slli_epi16(q2, 1)), q1)),
                    _mm_add_epi16(p0q0, four)),
      3);
  const __m128i w_q0 = _mm_srai_epi16(_mm_add_epi16(_mm_add_epi16(_mm_slli_epi16(q1, 1), q0), _mm_add_epi16(p1, two)), 2);
  const __m128i f4 = _mm_and_si128(filter, strong_bs), fn = _mm_andnot_si128(strong_bs, filter);
  v[3] = Select(f4, Select(sp, s_p0, w_p0), Select(fn, n_p0, p0));
  v[2] = Select(f4, Select(sp, s_p1, p1), Select(_mm_and_si128(fn, ap), n_p1, p1));
  v[1] = Select(_mm_and_si128(f4, sp), s_p2, p2);
  v[4] = Select(f4, Select(sq, s_q0, w_q0), Select(fn, n_q0, q0));
  v[5] = Select(f4, Select(sq, s_q1, q1), Select(_mm_and_si128(fn, aq), n_q1, q1));
  v[6] = Select(_mm_and_si128(f4, sq), s_q2, q2);
}

// Transposes 8 vectors of 8 16-bit lanes.
inline void Transpose8x16(__m128i r[8]) {
  const __m128i a0 = _mm_unpacklo_epi16(r[0], r[1]), a1 = _mm_unpackhi_epi16(r[0], r[1]);
  const __m128i a2 = _mm_unpacklo_epi16(r[2], r[3]), a3 = _mm_unpackhi_epi16(r[2], r[3]);
  const __m128i a4 = _mm_unpacklo_epi16(r[4], r[5]), a5 = _mm_unpackhi_epi16(r[4], r[5]);
  const __m128i a6 = _mm_unpacklo_epi16(r[6], r[7]), a7 = _mm_unpackhi_epi16(r[6], r[7]);
  const __m128i b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
  const __m128i b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
  const __m128i b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
  const __m128i b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
  r[0] = _mm_unpacklo_epi64(b0, b4);
  r[1] = _mm_unpackhi_epi64(b0, b4);
  r[2] = _mm_unpacklo_epi64(b1, b5);
  r[3] = _mm_unpackhi_epi64(b1, b5);
  r[4] = _mm_unpacklo_epi64(b2, b6);
  r[5] = _mm_unpackhi_epi64(b2, b6);
  r[6] = _mm_unpacklo_epi64(b3, b7);
  r[7] = _mm_unpackhi_epi64(b3, b7);
}

void DeblockLuma(uint8_t* q0p, int across, int along, const uint8_t bs[4], int alpha, int beta, const uint8_t tc0[4]) {
  if (along != 1 && across != 1)
    return ScalarKernels().deblock_luma(q0p, across, along, bs, alpha, beta, tc0);
  for (int half = 0; half < 2; ++half) {
    const uint8_t b0 = bs[2 * half], b1 = bs[2 * half + 1];
    if (b0 == 0 && b1 == 0) continue;
    const __m128i bsv = _mm_setr_epi16(b0, b0, b0, b0, b1, b1, b1, b1);
    const __m128i tc0v = _mm_setr_epi16(tc0[b0 & 3], tc0[b0 & 3], tc0[b0 & 3], tc0[b0 & 3], tc0[b1 & 3], tc0[b1 & 3],
                                        tc0[b1 & 3], tc0[b1 & 3]);
    uint8_t* base = q0p + 8 * half * along;
    __m128i v[8];
    if (along == 1) {  // horizontal edge: rows across it, 8 lines in one row
      for (int i = 0; i < 8; ++i) v[i] = Load8(base + (i - 4) * across);
      FilterLuma8(v, bsv, tc0v, alpha, beta);
      for (int i = 1; i < 7; ++i) Store8(base + (i - 4) * across, v[i]);
    } else {  // vertical edge: 8 rows of p3..q3, transposed
      for (int i = 0; i < 8; ++i) v[i] = Load8(base + i * along - 4);
      Transpose8x16(v);
      FilterLuma8(v, bsv, tc0v, alpha, beta);
      Transpose8x16(v);
      for (int i = 0; i < 8; ++i) Store8(base + i * along - 4, v[i]);
    }
  }
}

// The chroma edge filter on 8 lines in 16-bit lanes: p1, p0, q0, q1; returns the new p0 and
// q0 in p0 and q0.
void FilterChroma8(__m128i p1, __m128i& p0, __m128i& q0, __m128i q1, __m128i bsv, __m128i tc0v, int alpha, int beta) {
  const __m128i av = _mm_set1_epi16(static_cast<int16_t>(alpha)), bv = _mm_set1_epi16(static_cast<int16_t>(beta));
  const __m128i zero = _mm_setzero_si128(), two = _mm_set1_epi16(2), four = _mm_set1_epi16(4);
  __m128i filter = _mm_and_si128(_mm_cmplt_epi16(AbsDiff(p0, q0), av), _mm_cmplt_epi16(AbsDiff(p1, p0), bv));
  filter = _mm_and_si128(filter, _mm_cmplt_epi16(AbsDiff(q1, q0), bv));
  filter = _mm_andnot_si128(_mm_cmpeq_epi16(bsv, zero), filter);
  if (_mm_movemask_epi8(filter) == 0) return;
  const __m128i strong = _mm_cmpeq_epi16(bsv, four);
  const __m128i tc = _mm_add_epi16(tc0v, _mm_set1_epi16(1));
  __m128i delta = _mm_add_epi16(_mm_slli_epi16(_mm_sub_epi16(q0, p0), 2), _mm_sub_epi16(p1, q1));
  delta = Clamp(_mm_srai_epi16(_mm_add_epi16(delta, four), 3), _mm_sub_epi16(zero, tc), tc);
  // The weak results are clipped by the final pack.
  const __m128i w_p0 = _mm_add_epi16(p0, delta), w_q0 = _mm_sub_epi16(q0, delta);
  const __m128i s_p0 = _mm_srai_epi16(_mm_add_epi16(_mm_add_epi16(_mm_slli_epi16(p1, 1), p0), _mm_add_epi16(q1, two)), 2);
  const __m128i s_q0 = _mm_srai_epi16(_mm_add_epi16(_mm_add_epi16(_mm_slli_epi16(q1, 1), q0), _mm_add_epi16(p1, two)), 2);
  p0 = Select(filter, Select(strong, s_p0, w_p0), p0);
  q0 = Select(filter, Select(strong, s_q0, w_q0), q0);
}

void DeblockChroma(uint8_t* q0p, int across, int along, const uint8_t bs[4], int alpha, int beta, const uint8_t tc0[4]) {
  if (along != 1 && across != 1)
    return ScalarKernels().deblock_chroma(q0p, across, along, bs, alpha, beta, tc0);
  const __m128i bsv = _mm_setr_epi16(bs[0], bs[0], bs[1], bs[1], bs[2], bs[2], bs[3], bs[3]);
  const int t0 = tc0[bs[0] & 3], t1 = tc0[bs[1] & 3], t2 = tc0[bs[2] & 3], t3 = tc0[bs[3] & 3];
  const __m128i tc0v = _mm_setr_epi16(static_cast<int16_t>(t0), static_cast<int16_t>(t0), static_cast<int16_t>(t1),
                                      static_cast<int16_t>(t1), static_cast<int16_t>(t2), static_cast<int16_t>(t2),
                                      static_cast<int16_t>(t3), static_cast<int16_t>(t3));
  if (along == 1) {  // horizontal edge: a row of 8 lines per sample position
    __m128i p0 = Load8(q0p - across), q0 = Load8(q0p);
    FilterChroma8(Load8(q0p - 2 * across), p0, q0, Load8(q0p + across), bsv, tc0v, alpha, beta);
    Store8(q0p - across, p0);
    Store8(q0p, q0);
    return;
  }
  // Vertical edge: 8 rows of p1, p0, q0, q1 transposed by three rounds of byte interleaving
  // into p1 | p0 and q0 | q1, and back by two.
  auto row = [&](int i) {
    int32_t v;
    std::memcpy(&v, q0p + i * along - 2, 4);
    return _mm_cvtsi32_si128(v);
  };
  const __m128i x = _mm_unpacklo_epi64(_mm_unpacklo_epi32(row(0), row(1)), _mm_unpacklo_epi32(row(2), row(3)));
  const __m128i y = _mm_unpacklo_epi64(_mm_unpacklo_epi32(row(4), row(5)), _mm_unpacklo_epi32(row(6), row(7)));
  const __m128i i0 = _mm_unpacklo_epi8(x, y), i1 = _mm_unpackhi_epi8(x, y);
  const __m128i u0 = _mm_unpacklo_epi8(i0, i1), u1 = _mm_unpackhi_epi8(i0, i1);
  const __m128i w0 = _mm_unpacklo_epi8(u0, u1), w1 = _mm_unpackhi_epi8(u0, u1);
  const __m128i zero = _mm_setzero_si128();
  __m128i p0 = _mm_unpackhi_epi8(w0, zero), q0 = _mm_unpacklo_epi8(w1, zero);
  FilterChroma8(_mm_unpacklo_epi8(w0, zero), p0, q0, _mm_unpackhi_epi8(w1, zero), bsv, tc0v, alpha, beta);
  const __m128i r0 = _mm_packus_epi16(_mm_unpacklo_epi8(w0, zero), p0);  // p1 | p0
  const __m128i r1 = _mm_packus_epi16(q0, _mm_unpackhi_epi8(w1, zero));  // q0 | q1
  const __m128i a0 = _mm_unpacklo_epi8(r0, r1), a1 = _mm_unpackhi_epi8(r0, r1);
  __m128i lines[2] = {_mm_unpacklo_epi8(a0, a1), _mm_unpackhi_epi8(a0, a1)};  // 4 lines each
  for (int i = 0; i < 8; ++i) {
    const int32_t v = _mm_cvtsi128_si32(lines[i >> 2]);
    std::memcpy(q0p + i * along - 2, &v, 4);
    lines[i >> 2] = _mm_srli_si128(lines[i >> 2], 4);
  }
}

}  // namespace

void FillSse2Kernels(H264Kernels* k) {
  k->weight = Weight;
  k->weight_bi = WeightBi;
  k->idct4_add = Idct4Add;
  k->idct8_add = Idct8Add;
  k->dc_add = DcAdd;
  k->deblock_luma = DeblockLuma;
  k->deblock_chroma = DeblockChroma;
}

}  // namespace fennik
#endif
