// The motion rule of the deblocking boundary strength for a whole macroblock: the scalar
// reference and an SSE2 version (intrinsics) that compares four pairs of blocks at a time.
//
// Each block's motion per list is reduced to a key (the reference picture identity, or a value
// no picture has when the list is unused) and its vector (zero when unused). Two blocks then
// have strength 0 when their lists match straight (key 0 with key 0, key 1 with key 1) with
// near vectors, or crossed (key 0 with key 1 and the reverse) with near vectors: this covers
// one vector each from either list, two vectors of different pictures, and two of the same
// picture, where either pairing may match.
#include <cstdlib>
#include <cstring>

#include "codec/video/H264Dpb.h"
#include "codec/video/kernels/H264Kernels.h"

#if defined(__x86_64__)
#include <emmintrin.h>
#endif

namespace fennik {
namespace {

constexpr int32_t kUnusedKey = INT32_MIN;  // no reference picture identity takes this value

struct BlockMotion {
  int32_t key[2] = {kUnusedKey, kUnusedKey};
  H264Mv mv[2];
};

BlockMotion MotionOf(const H264MotionField& f, int idx, int lists) {
  BlockMotion b;
  for (int l = 0; l < lists; ++l) {
    if (f.ref[l][idx] < 0) continue;
    b.key[l] = f.serial[l][idx];
    b.mv[l] = f.mv[l][idx];
  }
  return b;
}

bool Near(H264Mv a, H264Mv b, int mvy_limit) { return std::abs(a.x - b.x) < 4 && std::abs(a.y - b.y) < mvy_limit; }

bool Differ(const BlockMotion& p, const BlockMotion& q, int lim) {
  const bool straight = p.key[0] == q.key[0] && p.key[1] == q.key[1] && Near(p.mv[0], q.mv[0], lim) &&
                        Near(p.mv[1], q.mv[1], lim);
  const bool crossed = p.key[0] == q.key[1] && p.key[1] == q.key[0] && Near(p.mv[0], q.mv[1], lim) &&
                       Near(p.mv[1], q.mv[0], lim);
  return !straight && !crossed;
}

uint32_t DeblockMotionScalar(const H264MotionField& f, int base, int left, int top, int lists, int inner, int lim) {
  BlockMotion q[16];
  for (int i = 0; i < 16; ++i) q[i] = MotionOf(f, base + (i >> 2) * f.stride + (i & 3), lists);
  uint32_t bits = 0;
  for (int i = 0; i < 16; ++i) {
    const int r = i >> 2, c = i & 3;
    if (c > 0) bits |= uint32_t{(inner & kInnerVertical) && Differ(q[i - 1], q[i], lim)} << i;
    else if (left != 0) bits |= uint32_t{Differ(MotionOf(f, base + left + r * f.stride, lists), q[i], lim)} << i;
    if (r > 0) bits |= uint32_t{(inner & kInnerHorizontal) && Differ(q[i - 4], q[i], lim)} << (16 + i);
    else if (top != 0) bits |= uint32_t{Differ(MotionOf(f, base + top + c, lists), q[i], lim)} << (16 + i);
  }
  return bits;
}

#if defined(__x86_64__)

// Keys and vectors of 4 blocks per list, one block per 32-bit lane (named members rather
// than arrays, so that they stay in registers).
struct Motion4 {
  __m128i key0, key1, mv0, mv1;
};

// Lanes of all ones where the list is used, from 4 reference indices.
inline __m128i UsedMask(const int8_t* ref) {
  int32_t v;
  std::memcpy(&v, ref, 4);
  __m128i r = _mm_cvtsi32_si128(v);
  r = _mm_unpacklo_epi8(r, r);
  r = _mm_srai_epi32(_mm_unpacklo_epi16(r, r), 24);  // sign-extended indices
  return _mm_cmpgt_epi32(r, _mm_set1_epi32(-1));
}

inline void LoadList(const H264MotionField& f, int l, int idx, __m128i& key, __m128i& mv) {
  const __m128i used = UsedMask(f.ref[l] + idx);
  const __m128i serial = _mm_loadu_si128(reinterpret_cast<const __m128i*>(f.serial[l] + idx));
  key = _mm_or_si128(_mm_and_si128(used, serial), _mm_andnot_si128(used, _mm_set1_epi32(kUnusedKey)));
  mv = _mm_and_si128(used, _mm_loadu_si128(reinterpret_cast<const __m128i*>(f.mv[l] + idx)));
}

// The motion of one block in lane 0, the other lanes zero.
inline void LoadBlockList(const H264MotionField& f, int l, int idx, __m128i& key, __m128i& mv) {
  int32_t v;
  std::memcpy(&v, f.mv[l] + idx, 4);
  const bool used = f.ref[l][idx] >= 0;
  key = _mm_cvtsi32_si128(used ? f.serial[l][idx] : kUnusedKey);
  mv = _mm_cvtsi32_si128(used ? v : 0);
}

// The motion of the 4 blocks from idx on (kRow), or of the one at idx in lane 0 (the other
// lanes zero but for an unused list 1).
template <int kLists, bool kRow = true>
inline Motion4 LoadMotion(const H264MotionField& f, int idx) {
  Motion4 m;
  const auto load = kRow ? LoadList : LoadBlockList;
  load(f, 0, idx, m.key0, m.mv0);
  if (kLists == 2) {
    load(f, 1, idx, m.key1, m.mv1);
  } else {
    m.key1 = _mm_set1_epi32(kUnusedKey);
    m.mv1 = _mm_setzero_si128();
  }
  return m;
}

// Lanes where |a - b| reaches the limit in either component (16-bit lanes: x, y).
inline __m128i Far(__m128i a, __m128i b, __m128i limit) {
  const __m128i d = _mm_max_epi16(_mm_subs_epi16(a, b), _mm_subs_epi16(b, a));
  return _mm_cmpgt_epi16(d, limit);
}

template <int kLists>
inline uint32_t Differ4(const Motion4& p, const Motion4& q, __m128i limit) {
  const __m128i zero = _mm_setzero_si128();
  __m128i same;
  if (kLists == 1) {
    same = _mm_and_si128(_mm_cmpeq_epi32(p.key0, q.key0), _mm_cmpeq_epi32(Far(p.mv0, q.mv0, limit), zero));
  } else {
    const __m128i far_s = _mm_or_si128(Far(p.mv0, q.mv0, limit), Far(p.mv1, q.mv1, limit));
    const __m128i far_c = _mm_or_si128(Far(p.mv0, q.mv1, limit), Far(p.mv1, q.mv0, limit));
    const __m128i straight = _mm_and_si128(_mm_cmpeq_epi32(p.key0, q.key0), _mm_cmpeq_epi32(p.key1, q.key1));
    const __m128i crossed = _mm_and_si128(_mm_cmpeq_epi32(p.key0, q.key1), _mm_cmpeq_epi32(p.key1, q.key0));
    same = _mm_or_si128(_mm_and_si128(straight, _mm_cmpeq_epi32(far_s, zero)),
                        _mm_and_si128(crossed, _mm_cmpeq_epi32(far_c, zero)));
  }
  return ~static_cast<uint32_t>(_mm_movemask_ps(_mm_castsi128_ps(same))) & 15;
}

// The blocks left of a row's 4: lanes 1..3 from the row, lane 0 from `first` (lanes 1..3
// zero).
inline Motion4 ShiftIn(const Motion4& row, const Motion4& first) {
  return Motion4{_mm_or_si128(_mm_slli_si128(row.key0, 4), first.key0),
                 _mm_or_si128(_mm_slli_si128(row.key1, 4), first.key1),
                 _mm_or_si128(_mm_slli_si128(row.mv0, 4), first.mv0), _mm_or_si128(_mm_slli_si128(row.mv1, 4), first.mv1)};
}

// Row by row (the motion of two rows in registers): each row against the blocks left of it
// (loaded one block further left when the left macroblock's blocks come right before) and
// against the row above.
template <int kLists>
uint32_t DeblockMotionSse2(const H264MotionField& f, int base, int left, int top, int inner, int lim) {
  const __m128i limit = _mm_set1_epi32(static_cast<int32_t>((static_cast<uint32_t>(lim - 1) << 16) | 3u));
  const bool vertical = left != 0 || (inner & kInnerVertical);
  const __m128i zero = _mm_setzero_si128();
  const Motion4 kNone{zero, zero, zero, zero};
  uint32_t bits = 0;
  Motion4 above = top != 0 ? LoadMotion<kLists>(f, base + top) : kNone;
  for (int r = 0; r < 4; ++r) {
    const int idx = base + r * f.stride;
    const Motion4 q = LoadMotion<kLists>(f, idx);
    if (left == -1) bits |= Differ4<kLists>(LoadMotion<kLists>(f, idx - 1), q, limit) << (4 * r);
    else if (vertical)
      bits |= Differ4<kLists>(ShiftIn(q, left != 0 ? LoadMotion<kLists, false>(f, idx + left) : kNone), q, limit) << (4 * r);
    if (r == 0 ? top != 0 : (inner & kInnerHorizontal) != 0) bits |= Differ4<kLists>(above, q, limit) << (16 + 4 * r);
    above = q;
  }
  const uint32_t v = (inner & kInnerVertical ? 0xEEEEu : 0) | (left != 0 ? 0x1111u : 0);
  const uint32_t h = (inner & kInnerHorizontal ? 0xFFF0u : 0) | (top != 0 ? 0xFu : 0);
  return bits & (v | h << 16);
}

uint32_t DeblockMotionSse2(const H264MotionField& f, int base, int left, int top, int lists, int inner, int lim) {
  return lists == 1 ? DeblockMotionSse2<1>(f, base, left, top, inner, lim)
                    : DeblockMotionSse2<2>(f, base, left, top, inner, lim);
}

#endif

}  // namespace

void FillScalarDeblockKernels(H264Kernels* k) {
  k->deblock_motion = DeblockMotionScalar;
}

void FillSse2DeblockKernels(H264Kernels* k) {
#if defined(__x86_64__)
  k->deblock_motion = DeblockMotionSse2;
#else
  (void)k;
#endif
}

}  // namespace fennik
