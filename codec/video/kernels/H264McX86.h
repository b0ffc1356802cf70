// The x86 motion-compensation kernels (intrinsics), written once and compiled by each
// instruction set's file inside its own anonymous namespace: H264McSse2.cpp, H264McSsse3.cpp,
// H264McSse41.cpp and H264McAvx2.cpp. SSSE3 builds form the horizontal 6-tap sums and the
// chroma interpolation with byte multiply-adds (pmaddubsw); SSE4.1 builds widen samples with
// one zero-extending load; AVX2 builds get the three-operand forms.
//
// Luma: every quarter-sample position is one pass over the block in columns of 8 samples. The
// quarter positions average two half or full samples that the same pass computes (8-250 to
// 8-261): the horizontal half samples b / s come from the centre filter's own horizontal sums,
// the vertical ones from a sliding window of rows.
// Each including file includes <cstring> and its intrinsics header first.
#pragma once

// Samples p[0..7] in 16-bit lanes.
inline __m128i Widen8(const uint8_t* p) {
#if defined(__SSE4_1__)
  return _mm_cvtepu8_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
#else
  return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), _mm_setzero_si128());
#endif
}
inline __m128i Bytes8(const uint8_t* p) { return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)); }
inline __m128i Pack(__m128i v16) { return _mm_packus_epi16(v16, v16); }

// Stores the low W (4 or 8) bytes of v.
template <int W>
inline void Put(uint8_t* p, __m128i v) {
  if constexpr (W == 4) {
    const int32_t x = _mm_cvtsi128_si32(v);
    std::memcpy(p, &x, 4);
  } else {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p), v);
  }
}

// a - 5b + 20c + 20d - 5e + f on 16-bit lanes (no overflow for 8-bit inputs).
inline __m128i Tap6(__m128i a, __m128i b, __m128i c, __m128i d, __m128i e, __m128i f) {
  const __m128i t = _mm_sub_epi16(_mm_slli_epi16(_mm_add_epi16(c, d), 2), _mm_add_epi16(b, e));  // 4cd - be
  return _mm_add_epi16(_mm_add_epi16(a, f), _mm_add_epi16(t, _mm_slli_epi16(t, 2)));            // af + 5 (4cd - be)
}

// A half sample from its 6-tap sum: (v + 16) >> 5, clipped by the pack.
inline __m128i Half(__m128i v) { return Pack(_mm_srai_epi16(_mm_add_epi16(v, _mm_set1_epi16(16)), 5)); }

// The unrounded horizontal 6-tap sums of samples p[0..7] (reads p[-2] .. p[13] with SSSE3).
inline __m128i HTap8(const uint8_t* p) {
#if defined(__SSSE3__)
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p - 2));
  const __m128i ab = _mm_shuffle_epi8(v, _mm_setr_epi8(0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8));
  const __m128i cd = _mm_shuffle_epi8(v, _mm_setr_epi8(2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10));
  const __m128i ef = _mm_shuffle_epi8(v, _mm_setr_epi8(4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12));
  const __m128i k1m5 = _mm_set1_epi16(static_cast<int16_t>(0xFB01)), km51 = _mm_set1_epi16(0x01FB);  // (1, -5), (-5, 1)
  const __m128i s = _mm_add_epi16(_mm_maddubs_epi16(ab, k1m5), _mm_maddubs_epi16(ef, km51));
  return _mm_add_epi16(s, _mm_maddubs_epi16(cd, _mm_set1_epi8(20)));
#else
  return Tap6(Widen8(p - 2), Widen8(p - 1), Widen8(p), Widen8(p + 1), Widen8(p + 2), Widen8(p + 3));
#endif
}

// The centre sample j from six rows of horizontal sums: the vertical 6-tap in 32-bit lanes,
// (v + 512) >> 10, as bytes.
inline __m128i Centre(__m128i a, __m128i b, __m128i c, __m128i d, __m128i e, __m128i f) {
  const __m128i k1m5 = _mm_set1_epi32(static_cast<int32_t>(0xFFFB0001u));  // (1, -5) pairs
  const __m128i k20 = _mm_set1_epi16(20);
  const __m128i km51 = _mm_set1_epi32(0x0001FFFB);  // (-5, 1) pairs
  const __m128i round = _mm_set1_epi32(512);
  __m128i lo = _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(a, b), k1m5), _mm_madd_epi16(_mm_unpacklo_epi16(c, d), k20));
  lo = _mm_add_epi32(lo, _mm_madd_epi16(_mm_unpacklo_epi16(e, f), km51));
  __m128i hi = _mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(a, b), k1m5), _mm_madd_epi16(_mm_unpackhi_epi16(c, d), k20));
  hi = _mm_add_epi32(hi, _mm_madd_epi16(_mm_unpackhi_epi16(e, f), km51));
  lo = _mm_srai_epi32(_mm_add_epi32(lo, round), 10);
  hi = _mm_srai_epi32(_mm_add_epi32(hi, round), 10);
  return Pack(_mm_packs_epi32(lo, hi));
}

// Six consecutive rows of 16-bit values, moved down one row at a time.
struct Window {
  __m128i r[6];
  void Shift() {
    r[0] = r[1];
    r[1] = r[2];
    r[2] = r[3];
    r[3] = r[4];
    r[4] = r[5];
  }
  __m128i VTap() const { return Tap6(r[0], r[1], r[2], r[3], r[4], r[5]); }
};

// Rows y - 2 .. y + 2 of 8 widened samples from column p.
inline void StartColumn(Window& w, const uint8_t* p, int ss) {
  for (int k = 0; k < 5; ++k) w.r[k] = Widen8(p + (k - 2) * ss);
}

// Full samples (copy), W in {4, 8, 16}.
template <int W>
void QpelCopy(uint8_t* d, int ds, const uint8_t* s, int ss, int h) {
  for (int y = 0; y < h; y += 4) {  // h is a multiple of 4
    std::memcpy(d, s, W);
    std::memcpy(d + ds, s + ss, W);
    std::memcpy(d + 2 * ds, s + 2 * ss, W);
    std::memcpy(d + 3 * ds, s + 3 * ss, W);
    d += 4 * ds;
    s += 4 * ss;
  }
}

// a, b, c: the horizontal half sample b, averaged with G (FX 1) or the sample right of it (3).
template <int W, int FX>
void QpelH(uint8_t* d, int ds, const uint8_t* s, int ss, int h) {
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < W; x += 8) {
      const uint8_t* p = s + y * ss + x;
      __m128i v = Half(HTap8(p));
      if constexpr (FX != 2) v = _mm_avg_epu8(v, Bytes8(p + (FX == 3 ? 1 : 0)));
      Put<(W < 8 ? W : 8)>(d + y * ds + x, v);
    }
}

// d, h, n: the vertical half sample h, averaged with G (FY 1) or the sample below it (3).
template <int W, int FY>
void QpelV(uint8_t* d, int ds, const uint8_t* s, int ss, int h) {
  for (int x = 0; x < W; x += 8) {
    const uint8_t* p = s + x;
    Window win;
    StartColumn(win, p, ss);
    for (int y = 0; y < h; ++y) {
      win.r[5] = Widen8(p + (y + 3) * ss);
      __m128i v = Half(win.VTap());
      if constexpr (FY != 2) v = _mm_avg_epu8(v, Pack(win.r[FY == 3 ? 3 : 2]));
      Put<(W < 8 ? W : 8)>(d + y * ds + x, v);
      win.Shift();
    }
  }
}

// j, and j averaged with the horizontal half sample of its row (f: b, FY 1) or of the row
// below (q: s, FY 3), or with the vertical one of its column (i: h, FX 1) or the column right
// of it (k: m, FX 3).
template <int W, int FX, int FY>
void QpelCentre(uint8_t* d, int ds, const uint8_t* s, int ss, int h) {
  constexpr bool kWithH = FX == 2 && FY != 2, kWithV = FY == 2 && FX != 2;
  for (int x = 0; x < W; x += 8) {
    const uint8_t* p = s + x;
    const uint8_t* pv = p + (FX == 3 ? 1 : 0);
    Window t, v;
    for (int k = 0; k < 5; ++k) t.r[k] = HTap8(p + (k - 2) * ss);
    if constexpr (kWithV) StartColumn(v, pv, ss);
    for (int y = 0; y < h; ++y) {
      t.r[5] = HTap8(p + (y + 3) * ss);
      __m128i j = Centre(t.r[0], t.r[1], t.r[2], t.r[3], t.r[4], t.r[5]);
      if constexpr (kWithH) j = _mm_avg_epu8(j, Half(t.r[FY == 3 ? 3 : 2]));
      if constexpr (kWithV) {
        v.r[5] = Widen8(pv + (y + 3) * ss);
        j = _mm_avg_epu8(j, Half(v.VTap()));
        v.Shift();
      }
      Put<(W < 8 ? W : 8)>(d + y * ds + x, j);
      t.Shift();
    }
  }
}

// e, g, p, r: the horizontal half sample of the row (FY 1) or the row below (3) averaged with
// the vertical one of the column (FX 1) or the column right (3).
template <int W, int FX, int FY>
void QpelDiagonal(uint8_t* d, int ds, const uint8_t* s, int ss, int h) {
  for (int x = 0; x < W; x += 8) {
    const uint8_t* ph = s + x + (FY == 3 ? ss : 0);
    const uint8_t* pv = s + x + (FX == 3 ? 1 : 0);
    Window v;
    StartColumn(v, pv, ss);
    for (int y = 0; y < h; ++y) {
      v.r[5] = Widen8(pv + (y + 3) * ss);
      Put<(W < 8 ? W : 8)>(d + y * ds + x, _mm_avg_epu8(Half(HTap8(ph + y * ss)), Half(v.VTap())));
      v.Shift();
    }
  }
}

using QpelFn = void (*)(uint8_t*, int, const uint8_t*, int, int);

// The 16 positions of one block width, indexed by fy * 4 + fx.
template <int W>
constexpr QpelFn kQpel[16] = {
    QpelCopy<W>,             QpelH<W, 1>,             QpelH<W, 2>,             QpelH<W, 3>,
    QpelV<W, 1>,             QpelDiagonal<W, 1, 1>,   QpelCentre<W, 2, 1>,     QpelDiagonal<W, 3, 1>,
    QpelV<W, 2>,             QpelCentre<W, 1, 2>,     QpelCentre<W, 2, 2>,     QpelCentre<W, 3, 2>,
    QpelV<W, 3>,             QpelDiagonal<W, 1, 3>,   QpelCentre<W, 2, 3>,     QpelDiagonal<W, 3, 3>,
};

void LumaQpel(uint8_t* dst, int ds, const uint8_t* s, int ss, int fx, int fy, int w, int h) {
  const int pos = fy * 4 + fx;
  if (w == 16) kQpel<16>[pos](dst, ds, s, ss, h);
  else if (w == 8) kQpel<8>[pos](dst, ds, s, ss, h);
  else kQpel<4>[pos](dst, ds, s, ss, h);
}

// Chroma: (wa A + wb B + wc C + wd D + 32) >> 6 per sample (8-266).

// Full-sample chroma vectors: copies of w (2, 4 or 8) samples per row.
void ChromaCopy(uint8_t* dcb, uint8_t* dcr, int ds, const uint8_t* scb, const uint8_t* scr, int ss, int w, int h) {
  for (int y = 0; y < h; ++y) {
    uint8_t* b = dcb + y * ds;
    uint8_t* r = dcr + y * ds;
    if (w == 8) {
      std::memcpy(b, scb + y * ss, 8);
      std::memcpy(r, scr + y * ss, 8);
    } else if (w == 4) {
      std::memcpy(b, scb + y * ss, 4);
      std::memcpy(r, scr + y * ss, 4);
    } else {
      std::memcpy(b, scb + y * ss, 2);
      std::memcpy(r, scr + y * ss, 2);
    }
  }
}

// Widths other than 2, 4 and 8 (the scalar version), and full samples (copies): whether
// the blocks were done here.
bool ChromaCopied(uint8_t* dcb, uint8_t* dcr, int ds, const uint8_t* scb, const uint8_t* scr, int ss, int fx, int fy,
                  int w, int h) {
  if (w != 8 && w != 4 && w != 2) {
    ScalarKernels().chroma(dcb, ds, scb, ss, fx, fy, w, h);
    ScalarKernels().chroma(dcr, ds, scr, ss, fx, fy, w, h);
    return true;
  }
  if ((fx | fy) != 0) return false;
  ChromaCopy(dcb, dcr, ds, scb, scr, ss, w, h);
  return true;
}

// The row loop of the interpolation: row8(p) prepares a source row of one plane (width 8),
// row4(cb, cr) one of both planes side by side (widths 2 and 4); mix(top, bottom) gives the
// output bytes of a row (widths 2 and 4: Cb in bytes 0-3, Cr in 4-7). Each source row is
// prepared once.
template <typename Row8, typename Row4, typename Mix>
void ChromaRows(uint8_t* dcb, uint8_t* dcr, int ds, const uint8_t* scb, const uint8_t* scr, int ss, int w, int h,
                Row8 row8, Row4 row4, Mix mix) {
  if (w == 8) {
    auto cb = row8(scb), cr = row8(scr);
    for (int y = 0; y < h; ++y) {
      const auto nb = row8(scb + (y + 1) * ss), nr = row8(scr + (y + 1) * ss);
      Put<8>(dcb + y * ds, mix(cb, nb));
      Put<8>(dcr + y * ds, mix(cr, nr));
      cb = nb;
      cr = nr;
    }
    return;
  }
  auto cur = row4(scb, scr);
  for (int y = 0; y < h; ++y) {
    const auto next = row4(scb + (y + 1) * ss, scr + (y + 1) * ss);
    const __m128i v = mix(cur, next);
    const int32_t b = _mm_cvtsi128_si32(v), r = _mm_cvtsi128_si32(_mm_srli_si128(v, 4));
    if (w == 4) {
      std::memcpy(dcb + y * ds, &b, 4);
      std::memcpy(dcr + y * ds, &r, 4);
    } else {
      std::memcpy(dcb + y * ds, &b, 2);
      std::memcpy(dcr + y * ds, &r, 2);
    }
    cur = next;
  }
}

#if defined(__AVX2__)
// Width 8 with AVX2: the Cb row in the low half of a register, the Cr row in the high half.
void ChromaPair8(uint8_t* dcb, uint8_t* dcr, int ds, const uint8_t* scb, const uint8_t* scr, int ss, int fx, int fy,
                 int h) {
  const __m256i wab = _mm256_set1_epi16(static_cast<int16_t>(((fx * (8 - fy)) << 8) | ((8 - fx) * (8 - fy))));
  const __m256i wcd = _mm256_set1_epi16(static_cast<int16_t>(((fx * fy) << 8) | ((8 - fx) * fy)));
  const __m256i round = _mm256_set1_epi16(32);
  const __m256i pairs = _mm256_setr_epi8(0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5,
                                         6, 6, 7, 7, 8);
  auto row = [&](int y) {
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(scb + y * ss));
    const __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i*>(scr + y * ss));
    return _mm256_shuffle_epi8(_mm256_inserti128_si256(_mm256_castsi128_si256(b), r, 1), pairs);
  };
  __m256i cur = row(0);
  for (int y = 0; y < h; ++y) {
    const __m256i next = row(y + 1);
    const __m256i v = _mm256_add_epi16(_mm256_maddubs_epi16(cur, wab), _mm256_maddubs_epi16(next, wcd));
    const __m256i p = _mm256_srli_epi16(_mm256_add_epi16(v, round), 6);
    const __m256i bytes = _mm256_packus_epi16(p, p);
    Put<8>(dcb + y * ds, _mm256_castsi256_si128(bytes));
    Put<8>(dcr + y * ds, _mm256_extracti128_si256(bytes, 1));
    cur = next;
  }
}
#endif

#if defined(__SSSE3__)
// Byte pairs (A, B) of each row times (wa, wb), of the next row times (wc, wd), with
// pmaddubsw (weights <= 64, sums <= 64 * 255: no saturation).
void ChromaPair(uint8_t* dcb, uint8_t* dcr, int ds, const uint8_t* scb, const uint8_t* scr, int ss, int fx, int fy,
                int w, int h) {
  if (ChromaCopied(dcb, dcr, ds, scb, scr, ss, fx, fy, w, h)) return;
#if defined(__AVX2__)
  if (w == 8) return ChromaPair8(dcb, dcr, ds, scb, scr, ss, fx, fy, h);
#endif
  const __m128i wab = _mm_set1_epi16(static_cast<int16_t>(((fx * (8 - fy)) << 8) | ((8 - fx) * (8 - fy))));
  const __m128i wcd = _mm_set1_epi16(static_cast<int16_t>(((fx * fy) << 8) | ((8 - fx) * fy)));
  const __m128i round = _mm_set1_epi16(32);
  const __m128i pairs8 = _mm_setr_epi8(0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8);
  const __m128i pairs4 = _mm_setr_epi8(0, 1, 1, 2, 2, 3, 3, 4, 8, 9, 9, 10, 10, 11, 11, 12);
  ChromaRows(
      dcb, dcr, ds, scb, scr, ss, w, h,
      [&](const uint8_t* p) { return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), pairs8); },
      [&](const uint8_t* b, const uint8_t* r) {
        return _mm_shuffle_epi8(_mm_unpacklo_epi64(Bytes8(b), Bytes8(r)), pairs4);
      },
      [&](__m128i top, __m128i bottom) {
        const __m128i v = _mm_add_epi16(_mm_maddubs_epi16(top, wab), _mm_maddubs_epi16(bottom, wcd));
        return Pack(_mm_srli_epi16(_mm_add_epi16(v, round), 6));
      });
}
#else
// 16-bit products of the samples (A, C) and their right neighbours (B, D).
void ChromaPair(uint8_t* dcb, uint8_t* dcr, int ds, const uint8_t* scb, const uint8_t* scr, int ss, int fx, int fy,
                int w, int h) {
  if (ChromaCopied(dcb, dcr, ds, scb, scr, ss, fx, fy, w, h)) return;
  const __m128i wa = _mm_set1_epi16(static_cast<int16_t>((8 - fx) * (8 - fy)));
  const __m128i wb = _mm_set1_epi16(static_cast<int16_t>(fx * (8 - fy)));
  const __m128i wc = _mm_set1_epi16(static_cast<int16_t>((8 - fx) * fy));
  const __m128i wd = _mm_set1_epi16(static_cast<int16_t>(fx * fy));
  const __m128i round = _mm_set1_epi16(32);
  struct Row {  // samples 0..7 and 1..8 widened
    __m128i a, b;
  };
  auto both = [](const uint8_t* b, const uint8_t* r) {  // Cb samples 0..3 and Cr samples 0..3
    return _mm_unpacklo_epi8(_mm_unpacklo_epi32(Bytes8(b), Bytes8(r)), _mm_setzero_si128());
  };
  ChromaRows(
      dcb, dcr, ds, scb, scr, ss, w, h, [](const uint8_t* p) { return Row{Widen8(p), Widen8(p + 1)}; },
      [&](const uint8_t* b, const uint8_t* r) { return Row{both(b, r), both(b + 1, r + 1)}; },
      [&](const Row& top, const Row& bottom) {
        __m128i v = _mm_add_epi16(_mm_mullo_epi16(top.a, wa), _mm_mullo_epi16(top.b, wb));
        v = _mm_add_epi16(v, _mm_add_epi16(_mm_mullo_epi16(bottom.a, wc), _mm_mullo_epi16(bottom.b, wd)));
        return Pack(_mm_srli_epi16(_mm_add_epi16(v, round), 6));
      });
}
#endif

#if defined(__SSSE3__)
// Weighted bi-prediction (8-272) with byte multiply-adds of the (a, b) sample pairs by
// (w0, w1): 16-bit sums, exact while the positive weights add up to at most 127 and the
// negative ones to at least -128 (implicit weights always do). Other weights take the SSE2
// version.
void WeightBiBytes(uint8_t* dst, int ds, const uint8_t* a, const uint8_t* b, int ss, int w, int h, int log_wd, int w0,
                   int w1, int offset) {
  const int positive = (w0 > 0 ? w0 : 0) + (w1 > 0 ? w1 : 0), negative = (w0 < 0 ? w0 : 0) + (w1 < 0 ? w1 : 0);
  if (w < 4 || log_wd < 0 || log_wd > 7 || positive > 127 || negative < -128 || offset < -256 || offset > 256) {
    static const H264Kernels lower = KernelsFor(SimdLevel::kSse2);
    return lower.weight_bi(dst, ds, a, b, ss, w, h, log_wd, w0, w1, offset);
  }
  const __m128i weights = _mm_set1_epi16(static_cast<int16_t>((w1 << 8) | (w0 & 0xFF)));
  const __m128i round = _mm_set1_epi16(static_cast<int16_t>(1 << log_wd));
  const __m128i off = _mm_set1_epi16(static_cast<int16_t>(offset));
  const __m128i shift = _mm_cvtsi32_si128(log_wd + 1);
  auto eight = [&](__m128i pairs) {
    return _mm_adds_epi16(_mm_sra_epi16(_mm_add_epi16(_mm_maddubs_epi16(pairs, weights), round), shift), off);
  };
  const intptr_t step = ss;
  if (w == 16) {
#if defined(__AVX2__)
    // Two rows per step, one in each half of a 256-bit register.
    const __m256i weights2 = _mm256_broadcastsi128_si256(weights), round2 = _mm256_broadcastsi128_si256(round);
    const __m256i off2 = _mm256_broadcastsi128_si256(off);
    auto rows = [&](const uint8_t* p) {
      return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))),
                                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + step)), 1);
    };
    auto sixteen = [&](__m256i pairs) {
      return _mm256_adds_epi16(
          _mm256_sra_epi16(_mm256_add_epi16(_mm256_maddubs_epi16(pairs, weights2), round2), shift), off2);
    };
    for (; h >= 2; h -= 2, dst += 2 * static_cast<intptr_t>(ds), a += 2 * step, b += 2 * step) {
      const __m256i va = rows(a), vb = rows(b);
      const __m256i v = _mm256_packus_epi16(sixteen(_mm256_unpacklo_epi8(va, vb)), sixteen(_mm256_unpackhi_epi8(va, vb)));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm256_castsi256_si128(v));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + ds), _mm256_extracti128_si256(v, 1));
    }
#endif
    for (; h > 0; --h, dst += ds, a += step, b += step) {
      const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a));
      const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dst),
                       _mm_packus_epi16(eight(_mm_unpacklo_epi8(va, vb)), eight(_mm_unpackhi_epi8(va, vb))));
    }
  } else if (w == 8) {
    for (; h > 0; --h, dst += ds, a += step, b += step) Put<8>(dst, Pack(eight(_mm_unpacklo_epi8(Bytes8(a), Bytes8(b)))));
  } else {
    for (; h > 0; --h, dst += ds, a += step, b += step) {
      int32_t va, vb;
      std::memcpy(&va, a, 4);
      std::memcpy(&vb, b, 4);
      Put<4>(dst, Pack(eight(_mm_unpacklo_epi8(_mm_cvtsi32_si128(va), _mm_cvtsi32_si128(vb)))));
    }
  }
}
#endif

// Default bi-prediction (a + b + 1) >> 1 of two w x h blocks (w in {2, 4, 8, 16}), two rows
// per step.
template <int W>
inline void AverageRow(uint8_t* d, const uint8_t* x, const uint8_t* y) {
  if constexpr (W == 16) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm_avg_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(x)),
                                                                 _mm_loadu_si128(reinterpret_cast<const __m128i*>(y))));
  } else if constexpr (W == 8) {
    Put<8>(d, _mm_avg_epu8(Bytes8(x), Bytes8(y)));
  } else {
    int32_t u = 0, v = 0;
    std::memcpy(&u, x, W);
    std::memcpy(&v, y, W);
    const int32_t r = _mm_cvtsi128_si32(_mm_avg_epu8(_mm_cvtsi32_si128(u), _mm_cvtsi32_si128(v)));
    std::memcpy(d, &r, W);
  }
}

template <int W>
void AverageBlock(uint8_t* dst, int ds, const uint8_t* a, int as, const uint8_t* b, int bs, int h) {
  if (h & 1) {  // an odd row first: the loop then needs no tail
    AverageRow<W>(dst, a, b);
    dst += ds;
    a += as;
    b += bs;
  }
  const intptr_t ds2 = 2 * static_cast<intptr_t>(ds), as2 = 2 * static_cast<intptr_t>(as);
  const intptr_t bs2 = 2 * static_cast<intptr_t>(bs);
  for (h >>= 1; h > 0; --h, dst += ds2, a += as2, b += bs2) {
    AverageRow<W>(dst, a, b);
    AverageRow<W>(dst + ds, a + as, b + bs);
  }
}

// Other widths: the scalar version (kept out of line, so the common widths need no saved
// registers).
[[gnu::noinline]] void AverageOtherWidth(uint8_t* dst, int ds, const uint8_t* a, int as, const uint8_t* b, int bs, int w,
                                         int h) {
  ScalarKernels().average(dst, ds, a, as, b, bs, w, h);
}

void AverageRows(uint8_t* dst, int ds, const uint8_t* a, int as, const uint8_t* b, int bs, int w, int h) {
  switch (w) {
    case 16: return AverageBlock<16>(dst, ds, a, as, b, bs, h);
    case 8: return AverageBlock<8>(dst, ds, a, as, b, bs, h);
    case 4: return AverageBlock<4>(dst, ds, a, as, b, bs, h);
    case 2: return AverageBlock<2>(dst, ds, a, as, b, bs, h);
    default: return AverageOtherWidth(dst, ds, a, as, b, bs, w, h);
  }
}

// The table entries of this instruction set.
void FillMc(H264Kernels* k) {
  k->average = AverageRows;
  k->luma_qpel = LumaQpel;
  k->chroma_pair = ChromaPair;
#if defined(__SSSE3__)
  k->weight_bi = WeightBiBytes;
#endif
}
