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

// Keys and vectors of 4 blocks per list, one block per 32-bit lane.
struct Motion4 {
  __m128i key[2];
  __m128i mv[2];
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

// The motion of the 4 blocks from idx on.
template <int kLists>
inline Motion4 LoadMotion(const H264MotionField& f, int idx) {
  Motion4 m;
  for (int l = 0; l < 2; ++l) {
    if (l >= kLists) {
      m.key[l] = _mm_set1_epi32(kUnusedKey);
      m.mv[l] = _mm_setzero_si128();
      continue;
    }
    const __m128i serial = _mm_loadu_si128(reinterpret_cast<const __m128i*>(f.serial[l] + idx));
    const __m128i mv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(f.mv[l] + idx));
    const __m128i used = UsedMask(f.ref[l] + idx);
    m.key[l] = _mm_or_si128(_mm_and_si128(used, serial), _mm_andnot_si128(used, _mm_set1_epi32(kUnusedKey)));
    m.mv[l] = _mm_and_si128(used, mv);
  }
  return m;
}

// The motion of one block in lane 0, the other lanes zero.
template <int kLists>
inline Motion4 LoadBlock(const H264MotionField& f, int idx) {
  const __m128i lane0 = _mm_cvtsi32_si128(-1);
  Motion4 m;
  for (int l = 0; l < 2; ++l) {
    int32_t mv;
    std::memcpy(&mv, f.mv[l] + idx, 4);
    const bool used = l < kLists && f.ref[l][idx] >= 0;
    m.key[l] = _mm_and_si128(_mm_cvtsi32_si128(used ? f.serial[l][idx] : kUnusedKey), lane0);
    m.mv[l] = _mm_cvtsi32_si128(used ? mv : 0);
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
    same = _mm_and_si128(_mm_cmpeq_epi32(p.key[0], q.key[0]), _mm_cmpeq_epi32(Far(p.mv[0], q.mv[0], limit), zero));
  } else {
    const __m128i far_s = _mm_or_si128(Far(p.mv[0], q.mv[0], limit), Far(p.mv[1], q.mv[1], limit));
    const __m128i far_c = _mm_or_si128(Far(p.mv[0], q.mv[1], limit), Far(p.mv[1], q.mv[0], limit));
    const __m128i straight = _mm_and_si128(_mm_cmpeq_epi32(p.key[0], q.key[0]), _mm_cmpeq_epi32(p.key[1], q.key[1]));
    const __m128i crossed = _mm_and_si128(_mm_cmpeq_epi32(p.key[0], q.key[1]), _mm_cmpeq_epi32(p.key[1], q.key[0]));
    same = _mm_or_si128(_mm_and_si128(straight, _mm_cmpeq_epi32(far_s, zero)),
                        _mm_and_si128(crossed, _mm_cmpeq_epi32(far_c, zero)));
  }
  return ~static_cast<uint32_t>(_mm_movemask_ps(_mm_castsi128_ps(same))) & 15;
}

// The blocks left of a row's 4: lanes 1..3 from the row, lane 0 from `first` (lanes 1..3
// zero).
inline Motion4 ShiftIn(const Motion4& row, const Motion4& first) {
  Motion4 m;
  for (int l = 0; l < 2; ++l) {
    m.key[l] = _mm_or_si128(_mm_slli_si128(row.key[l], 4), first.key[l]);
    m.mv[l] = _mm_or_si128(_mm_slli_si128(row.mv[l], 4), first.mv[l]);
  }
  return m;
}

// Lane 0 of 4 rows as one vector (rows: a column of blocks).
inline __m128i Column(__m128i r0, __m128i r1, __m128i r2, __m128i r3) {
  return _mm_unpacklo_epi64(_mm_unpacklo_epi32(r0, r1), _mm_unpacklo_epi32(r2, r3));
}
inline Motion4 Column(const Motion4 r[4]) {
  Motion4 m;
  for (int l = 0; l < 2; ++l) {
    m.key[l] = Column(r[0].key[l], r[1].key[l], r[2].key[l], r[3].key[l]);
    m.mv[l] = Column(r[0].mv[l], r[1].mv[l], r[2].mv[l], r[3].mv[l]);
  }
  return m;
}

// Bits 0..3 to bits 0, 4, 8, 12.
inline uint32_t ToColumn(uint32_t b) { return (b & 1) | (b & 2) << 3 | (b & 4) << 6 | (b & 8) << 9; }

template <int kLists>
uint32_t DeblockMotionSse2(const H264MotionField& f, int base, int left, int top, int inner, int lim) {
  const __m128i limit = _mm_set1_epi32(static_cast<int32_t>((static_cast<uint32_t>(lim - 1) << 16) | 3u));
  Motion4 q[4];
  for (int r = 0; r < 4; ++r) q[r] = LoadMotion<kLists>(f, base + r * f.stride);
  uint32_t bits = 0;
  if (inner & kInnerVertical) {
    for (int r = 0; r < 4; ++r) {
      const int idx = base + r * f.stride;
      Motion4 p;
      if (left == -1) p = LoadMotion<kLists>(f, idx - 1);  // the blocks left of each
      else p = ShiftIn(q[r], left != 0 ? LoadBlock<kLists>(f, idx + left) : Motion4{});
      bits |= Differ4<kLists>(p, q[r], limit) << (4 * r);
    }
    if (left == 0) bits &= ~0x1111u;
  } else if (left != 0) {
    Motion4 p[4];
    for (int r = 0; r < 4; ++r) p[r] = LoadBlock<kLists>(f, base + r * f.stride + left);
    bits |= ToColumn(Differ4<kLists>(Column(p), Column(q), limit));
  }
  if (top != 0) bits |= Differ4<kLists>(LoadMotion<kLists>(f, base + top), q[0], limit) << 16;
  if (inner & kInnerHorizontal)
    for (int r = 1; r < 4; ++r) bits |= Differ4<kLists>(q[r - 1], q[r], limit) << (16 + 4 * r);
  return bits;
}

uint32_t DeblockMotionSse2(const H264MotionField& f, int base, int left, int top, int lists, int inner, int lim) {
  return lists == 1 ? DeblockMotionSse2<1>(f, base, left, top, inner, lim)
                    : DeblockMotionSse2<2>(f, base, left, top, inner, lim);
}

#endif

}  // namespace

void FillScalarDeblockKernels(H264Kernels* k) { k->deblock_motion = DeblockMotionScalar; }

void FillSse2DeblockKernels(H264Kernels* k) {
#if defined(__x86_64__)
  k->deblock_motion = DeblockMotionSse2;
#else
  (void)k;
#endif
}

}  // namespace fennik
