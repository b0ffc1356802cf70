// The deblocking filter pass of a picture (8.7): which macroblock edges are filtered, their
// boundary strengths (8.7.2.1) and the walk over the edges of each macroblock with the edge
// filters of H264Deblock.h.
//
// Strengths are derived for all 32 edge parts of a macroblock at once: the coefficient rule
// (bS 2) as bit masks of the coded 4x4 blocks, the motion rule (bS 1) by the deblock_motion
// kernel, the intra rule (bS 3 and 4) as constants. Each edge's 4 strengths are one 32-bit
// word (byte k: lines 4k..4k+3), so an edge whose word is 0 is skipped at once.
#include <algorithm>
#include <bit>
#include <cstring>

#include "codec/video/H264Deblock.h"
#include "codec/video/H264DecodeInternal.h"
#include "codec/video/h264_tables.h"
#include "codec/video/kernels/H264Kernels.h"

namespace fennik {

// The macroblocks across a macroblock's left and top edges whose edge is filtered (-1: none).
// In MBAFF frames the left one is the left pair's macroblock of the same position, filtered
// line by line when that pair is coded the other way (left_mixed); above a field macroblock
// is the pair above's macroblock of its parity (the bottom one of a frame pair), and a top
// frame macroblock under a field pair has its top edge filtered once per field
// (top_per_field).
struct C264_Decode::DeblockNeighbours {
  int left = -1, top = -1;
  bool left_mixed = false, top_per_field = false;
  bool q_field = false;  // of a field picture, or of a field pair in an MBAFF frame
};

// The samples of a macroblock in its three planes and the row steps inside it.
struct C264_Decode::DeblockSamples {
  uint8_t* luma = nullptr;
  uint8_t* chroma[2] = {};
  int ls = 0, cs = 0;
};

// A block's reference indices and vectors of both lists as raw values. Within a slice equal
// values mean the same motion (a reference index names one picture there).
struct DeblockRawMotion {
  uint64_t mv;   // list 0 | list 1 << 32
  uint32_t ref;  // list 0 | list 1 << 8, as bytes
  bool operator==(const DeblockRawMotion&) const = default;
};

namespace {

constexpr uint32_t kAllBs3 = 0x03030303, kAllBs4 = 0x04040404;

// The bits of a nibble as bytes 0 / 1 (bit k: byte k).
constexpr uint32_t Spread(unsigned n) {
  return (n & 1) | (n >> 1 & 1) << 8 | (n >> 2 & 1) << 16 | (n >> 3 & 1) << 24;
}
constexpr uint32_t kSpread[16] = {Spread(0),  Spread(1),  Spread(2),  Spread(3), Spread(4),  Spread(5),
                                  Spread(6),  Spread(7),  Spread(8),  Spread(9), Spread(10), Spread(11),
                                  Spread(12), Spread(13), Spread(14), Spread(15)};

// Strengths of the 4 edges of a direction from their nibbles of coefficient bits (bS 2) and
// of motion bits (bS 1).
inline void EdgeWords(uint32_t coded, uint32_t motion, uint32_t out[4]) {
  const uint32_t moving = motion & ~coded;
#pragma GCC unroll 4
  for (int e = 0; e < 4; ++e) out[e] = 2 * kSpread[coded >> (4 * e) & 15] | kSpread[moving >> (4 * e) & 15];
}

// Bit e set where nibble e of a 16-bit mask is not 0.
inline unsigned NonzeroNibbles(uint32_t x) {
  x |= x >> 1;
  x |= x >> 2;
  return (x & 1) | (x >> 3 & 2) | (x >> 6 & 4) | (x >> 9 & 8);
}

// The 4x4 bit matrix transposed (bit r * 4 + c to bit c * 4 + r): masks by block position
// become masks by vertical edge.
inline uint32_t Transpose4x4(uint32_t x) {
  uint32_t t = (x ^ (x >> 3)) & 0x0A0A;
  x ^= t ^ (t << 3);
  t = (x ^ (x >> 6)) & 0x00CC;
  return x ^ t ^ (t << 6);
}

// Rows (bit r) of a macroblock whose column-0 block is coded, from its nonzero mask shifted
// so that the column is bit 0.
inline unsigned ColumnRows(unsigned nz) { return (nz & 1) | (nz >> 3 & 2) | (nz >> 6 & 4) | (nz >> 9 & 8); }

// Strengths of the 4 parts of an edge from the parts whose blocks have coefficients (bS 2) and
// those whose motion differs (bS 1), bit k each.
inline uint32_t EdgeWord(unsigned coded, unsigned moving) { return 2 * kSpread[coded] | kSpread[moving & ~coded]; }

inline DeblockRawMotion RawMotionOf(const H264MotionField& f, int idx) {
  uint32_t mv0, mv1;
  std::memcpy(&mv0, f.mv[0] + idx, 4);
  std::memcpy(&mv1, f.mv[1] + idx, 4);
  const uint32_t ref0 = static_cast<uint8_t>(f.ref[0][idx]), ref1 = static_cast<uint8_t>(f.ref[1][idx]);
  return {mv0 | uint64_t{mv1} << 32, ref0 | ref1 << 8};
}

// Whether the 4 blocks from `row` on all have the raw motion m.
inline bool RowHasMotion(const H264MotionField& f, int row, const DeblockRawMotion& m) {
  uint64_t d = 0;
  for (int l = 0; l < 2; ++l) {
    const uint64_t mv2 = (m.mv >> (32 * l) & 0xFFFFFFFFu) * 0x100000001ull;
    uint64_t v[2];
    uint32_t refs;
    std::memcpy(v, f.mv[l] + row, 16);
    std::memcpy(&refs, f.ref[l] + row, 4);
    d |= (v[0] ^ mv2) | (v[1] ^ mv2) | (refs ^ (m.ref >> (8 * l) & 0xFF) * 0x01010101u);
  }
  return d == 0;
}

// Whether the 16 blocks of an inter macroblock (first block `base`, motion m) move alike:
// those of one partition do, and direct ones (B_Skip, B_Direct_16x16) when their corner blocks
// agree, each 8x8 quadrant moving as its corner (direct_8x8_inference).
inline bool UniformMotion(const H264MotionField& f, int kind, int base, const DeblockRawMotion& m, bool direct_8x8) {
  switch (kind) {
    case kMbPSkip:
    case kMbP16x16:
    case kMbB16x16: return true;
    case kMbBSkip:
    case kMbBDirect: {
      if (!direct_8x8) return false;
      const int last = base + 3 * f.stride;
      return RawMotionOf(f, base + 3) == m && RawMotionOf(f, last) == m && RawMotionOf(f, last + 3) == m;
    }
    default: return false;
  }
}

inline EdgeThresholds Thresholds(const C264_Decode::SliceInfo& s, int qp_p, int qp_q) {
  const int qpav = (qp_p + qp_q + 1) >> 1;
  EdgeThresholds t;
  t.index_a = std::clamp(qpav + s.filter_offset_a, 0, 51);
  t.alpha = kDeblockAlpha[t.index_a];
  t.beta = kDeblockBeta[std::clamp(qpav + s.filter_offset_b, 0, 51)];
  return t;
}

inline bool Filters(const EdgeThresholds& t) { return t.alpha > 0 && t.beta > 0; }

// The same 8-sample edge of Cb (q0[0]) and Cr (q0[1]) of a 4:2:0 picture, each with its
// thresholds (a plane whose alpha or beta is 0 stays as it is).
inline void FilterChromaEdgePair(const H264Kernels& k, uint8_t* const q0[2], int across, int along, const uint8_t bs[4],
                                 const EdgeThresholds t[2]) {
  if (k.deblock_chroma_pair == nullptr) {
    for (int c = 0; c < 2; ++c)
      if (Filters(t[c])) FilterChromaEdge(q0[c], across, along, 8, bs, t[c]);
    return;
  }
  const int alpha[2] = {t[0].alpha, t[1].alpha}, beta[2] = {t[0].beta, t[1].beta};
  const uint8_t* const tc0s[2] = {kDeblockTc0[t[0].index_a], kDeblockTc0[t[1].index_a]};
  k.deblock_chroma_pair(q0, across, along, bs, alpha, beta, tc0s);
}

// Whether a macroblock's 4x4 block (row, col) has coefficients.
inline bool Coded(const C264_Decode::MbInfo& m, int row, int col) { return (m.nonzero >> (row * 4 + col)) & 1; }

// The edges inside an inter macroblock across which its motion may change.
int InnerMotionEdges(int kind) {
  switch (kind) {
    case kMbPSkip:
    case kMbP16x16:
    case kMbB16x16: return 0;
    case kMbP16x8:
    case kMbB16x8: return kInnerHorizontal;
    case kMbP8x16:
    case kMbB8x16: return kInnerVertical;
    default: return kInnerVertical | kInnerHorizontal;
  }
}

// Whether macroblocks from..to are all decoded and none of them deblocked yet.
bool DecodedNotDeblocked(const C264_Decode::MbInfo* mbs, int from, int to) {
  for (int a = from; a <= to; ++a)
    if (mbs[a].slice < 0 || mbs[a].deblocked) return false;
  return true;
}

}  // namespace

void C264_Decode::DeblockPicture() {
  for (int mb = 0; mb < mb_count_; ++mb) {
    // Rows filtered during decoding are whole rows: their last macroblock tells. A whole row
    // still to filter is walked as during decoding.
    if (!mbaff_ && mb % mb_width_ == 0) {
      const int last = mb + mb_width_ - 1;
      if (mbs_[last].deblocked || DecodedNotDeblocked(mbs_.data(), mb, last)) {
        if (!mbs_[last].deblocked) DeblockFrameRow(mb);
        mb = last;
        continue;
      }
    }
    MbInfo& info = mbs_[mb];
    if (info.slice < 0 || info.deblocked) continue;
    info.deblocked = 1;
    if (slices_[info.slice].disable_deblocking_filter_idc != 1) DeblockMacroblock(mb);
  }
}

// The filter of a macroblock changes only its own samples and those of its left and top
// neighbours, and intra prediction reads only the row above: once row r is decoded, row r - 1
// can be filtered as the picture-wide pass would, provided every row before it was.
void C264_Decode::DeblockRowAbove(int mb_addr) {
  if (mbaff_ || (mb_addr + 1) % mb_width_ != 0 || mb_addr < mb_width_) return;
  const int first = mb_addr + 1 - 2 * mb_width_;  // the row above's first macroblock
  if (first > 0 && !mbs_[first - 1].deblocked) return;
  if (DecodedNotDeblocked(mbs_.data(), first, mb_addr)) DeblockFrameRow(first);
}

inline bool C264_Decode::DeblockAcross(const MbInfo& q, int nb) const {
  if (nb < 0) return false;
  const int slice = mbs_[nb].slice;
  return slice == q.slice || (slice >= 0 && slices_[q.slice].disable_deblocking_filter_idc != 2);
}

inline C264_Decode::DeblockNeighbours C264_Decode::FrameDeblockNeighbours(int mb_addr, int x) const {
  const MbInfo& q = mbs_[mb_addr];
  DeblockNeighbours n;
  n.q_field = field_ != 0;
  if (x > 0 && DeblockAcross(q, mb_addr - 1)) n.left = mb_addr - 1;
  if (mb_addr >= mb_width_ && DeblockAcross(q, mb_addr - mb_width_)) n.top = mb_addr - mb_width_;
  return n;
}

[[gnu::always_inline]] inline unsigned C264_Decode::OuterEdgeStrengths(const H264MotionField& f, int mb_addr, int base,
                                                                       const DeblockNeighbours& n, const DeblockRawMotion& m,
                                                                       bool left_alike, uint32_t bs[2][4]) const {
  const MbInfo& q = mbs_[mb_addr];
  const MbInfo* pl = n.left >= 0 ? &mbs_[n.left] : nullptr;
  const MbInfo* pt = n.top >= 0 ? &mbs_[n.top] : nullptr;
  const bool left_inter = pl && !IsIntraKind(pl->kind), top_inter = pt && !IsIntraKind(pt->kind);
  // Neighbouring blocks of this slice with this macroblock's motion need no more; the motion
  // rule decides for the others.
  const bool left_same = !left_inter || (pl->slice == q.slice && left_alike);
  const bool top_same = !top_inter || (pt->slice == q.slice && RowHasMotion(f, base - f.stride, m));
  unsigned left_moving = 0, top_moving = 0;
  if (!left_same || !top_same) {
    const auto b_slice = [&](const MbInfo* p) { return p->slice != q.slice && slices_[p->slice].kind == kSliceB; };
    const bool b_slices = slices_[q.slice].kind == kSliceB || (left_inter && b_slice(pl)) || (top_inter && b_slice(pt));
    const uint32_t motion = Kernels().deblock_motion(f, base, left_same ? 0 : -1, top_same ? 0 : -f.stride, b_slices ? 2 : 1,
                                                     0, n.q_field ? 2 : 4);
    left_moving = ColumnRows(motion);
    top_moving = motion >> 16 & 15;
  }
  // Most edges have neither coefficients nor motion across them.
  const unsigned left_coded = left_inter ? pl->nonzero & 0x8888u : 0, top_coded = top_inter ? pt->nonzero & 0xF000u : 0;
  if ((left_inter || !pl) && (top_inter || !pt) && (left_coded | top_coded | left_moving | top_moving) == 0) return 0;
  bs[0][0] = !pl ? 0 : (left_inter ? EdgeWord(ColumnRows(left_coded >> 3), left_moving) : kAllBs4);
  bs[1][0] = !pt ? 0 : (top_inter ? EdgeWord(top_coded >> 12, top_moving) : (n.q_field ? kAllBs3 : kAllBs4));
  return (bs[0][0] != 0 ? 1u : 0u) | (bs[1][0] != 0 ? 0x10u : 0u);
}

// Most macroblocks of inter pictures are skipped or have no coefficients, and their blocks
// move alike: their strengths come from a few comparisons across the left and top edges
// (OuterEdgeStrengths). Whether the left macroblock's blocks move alike is known from its
// turn.
void C264_Decode::DeblockFrameRow(int first) {
  DeblockSamples px = DeblockSamplesOf(first);
  const int row_base = BlockBase(first);
  const H264MotionField field{{mv_[0], mv_[1]}, {ref_idx_[0], ref_idx_[1]}, {ref_serial_[0], ref_serial_[1]}, mb_width_ * 4};
  const bool direct_8x8 = cur_sps_.direct_8x8_inference_flag;
  bool left_uniform = false;
  DeblockRawMotion left_motion{};
  for (int x = 0; x < mb_width_; ++x, px.luma += 16) {
    const int a = first + x, base = row_base + 4 * x;
    MbInfo& q = mbs_[a];
    q.deblocked = 1;
    const DeblockRawMotion m = RawMotionOf(field, base);
    const bool uniform = !IsIntraKind(q.kind) && UniformMotion(field, q.kind, base, m, direct_8x8);
    const bool left_alike = left_uniform && left_motion == m;
    left_uniform = uniform;
    left_motion = m;
    if (slices_[q.slice].disable_deblocking_filter_idc == 1) continue;
    const DeblockNeighbours n = FrameDeblockNeighbours(a, x);
    uint32_t bs[2][4];
    const unsigned edges =
        uniform && q.nonzero == 0 ? OuterEdgeStrengths(field, a, base, n, m, left_alike, bs) : EdgeStrengths(a, n, bs);
    if (edges == 0) continue;
    DeblockSamples at = px;
    if (chroma_format_ != 0)
      for (uint8_t*& c : at.chroma) c += x * mb_cw_;
    DeblockEdges(a, n, edges, bs, at);
  }
}

C264_Decode::DeblockSamples C264_Decode::DeblockSamplesOf(int mb_addr) {
  DeblockSamples px;
  px.luma = MbPixels(0, mb_addr, px.ls);
  if (chroma_format_ == 0) return px;
  px.chroma[0] = MbPixels(1, mb_addr, px.cs);
  px.chroma[1] = MbPixels(2, mb_addr, px.cs);
  return px;
}

void C264_Decode::DeblockMacroblock(int mb_addr) { DeblockMacroblock(mb_addr, DeblockSamplesOf(mb_addr)); }

C264_Decode::DeblockNeighbours C264_Decode::DeblockNeighboursOf(int mb_addr) const {
  if (!mbaff_) return FrameDeblockNeighbours(mb_addr, mb_addr % mb_width_);
  const MbInfo& q = mbs_[mb_addr];
  DeblockNeighbours n;
  n.q_field = field_ != 0 || q.field;
  int left = -1, top = -1;
  const int pair = mb_addr >> 1, bottom = mb_addr & 1;
  if (pair % mb_width_ > 0) {
    left = 2 * (pair - 1) + bottom;
    n.left_mixed = mbs_[left].field != q.field;
  }
  if (!q.field && bottom) {
    top = mb_addr - 1;
  } else if (pair >= mb_width_) {
    const int above = 2 * (pair - mb_width_);
    top = q.field && mbs_[above].field ? above + bottom : above + 1;
    n.top_per_field = !q.field && mbs_[above].field;
  }
  n.left = DeblockAcross(q, left) ? left : -1;
  n.top = DeblockAcross(q, top) ? top : -1;
  return n;
}

// Next to an intra macroblock: 3 inside a macroblock, 4 on a macroblock edge except a
// horizontal one of or next to a field macroblock (3). Otherwise 2 where either block has
// coefficients, 1 where the motion differs or between a frame and a field macroblock, else 0.
unsigned C264_Decode::EdgeStrengths(int mb_addr, const DeblockNeighbours& n, uint32_t bs[2][4]) const {
  const MbInfo& q = mbs_[mb_addr];
  const int left = n.left_mixed ? -1 : n.left, top = n.top_per_field ? -1 : n.top;
  const bool top_field = mbaff_ && top >= 0 && mbs_[top].field;  // q's own field coding is in q_field
  const uint32_t top_intra = n.q_field || top_field ? kAllBs3 : kAllBs4;
  if (IsIntraKind(q.kind)) {
    for (int e = 1; e < 4; ++e) bs[0][e] = bs[1][e] = kAllBs3;
    bs[0][0] = kAllBs4;
    bs[1][0] = top_intra;
    return 0xFF;
  }
  const MbInfo* pl = left >= 0 ? &mbs_[left] : nullptr;
  const MbInfo* pt = top >= 0 ? &mbs_[top] : nullptr;
  const bool left_inter = pl && !IsIntraKind(pl->kind), top_inter = pt && !IsIntraKind(pt->kind);
  // Coded blocks by the block right of (below) each edge part, raster order.
  const uint32_t nz = q.nonzero;
  uint32_t coded_v = nz | (nz << 1 & 0xEEEE), coded_h = (nz | nz << 4) & 0xFFFF;
  if (pl) coded_v |= pl->nonzero >> 3 & 0x1111;
  if (pt) coded_h |= static_cast<uint32_t>(pt->nonzero) >> 12;
  // The neighbours' blocks relative to this macroblock's first one: the left macroblock's
  // rows are this one's (also in MBAFF frames, where only a left pair of the same coding gets
  // here); the top one's last row lies a row above unless MBAFF pairs are in between.
  const int stride4 = mb_width_ * 4, base4 = BlockBase(mb_addr);
  const int left_off = left_inter ? -1 : 0;
  const int top_off = !top_inter ? 0 : (mbaff_ ? BlockBase(top) + 3 * stride4 - base4 : -stride4);
  const auto b_slice = [&](const MbInfo* m) { return m->slice != q.slice && slices_[m->slice].kind == kSliceB; };
  const bool b_slices = slices_[q.slice].kind == kSliceB || (left_inter && b_slice(pl)) || (top_inter && b_slice(pt));
  const H264MotionField field{{mv_[0], mv_[1]}, {ref_idx_[0], ref_idx_[1]}, {ref_serial_[0], ref_serial_[1]}, stride4};
  uint32_t motion = Kernels().deblock_motion(field, base4, left_off, top_off, b_slices ? 2 : 1, InnerMotionEdges(q.kind),
                                             n.q_field ? 2 : 4);
  if (top_off != 0 && mbaff_ && top_field != n.q_field) motion |= 0xF0000;  // frame against field
  const bool left_intra = pl && !left_inter, top_intra_mb = pt && !top_inter;
  const unsigned edges = NonzeroNibbles(Transpose4x4(coded_v | (motion & 0xFFFF))) |
                         NonzeroNibbles(coded_h | motion >> 16) << 4 | (left_intra ? 1u : 0u) | (top_intra_mb ? 0x10u : 0u);
  if (edges == 0) return 0;  // the words are not needed
  EdgeWords(Transpose4x4(coded_v), Transpose4x4(motion & 0xFFFF), bs[0]);
  EdgeWords(coded_h, motion >> 16, bs[1]);
  if (left_intra) bs[0][0] = kAllBs4;
  if (top_intra_mb) bs[1][0] = top_intra;
  return edges;
}

// The edges of a macroblock a plane has, as bits dir * 4 + e. No 4x4 edges inside 8x8
// transform blocks. Chroma edges lie on the chroma 4x4 blocks: every other luma edge in
// 4:2:0 and across 4:2:2 columns, every luma edge along 4:2:2 rows; 4:4:4 chroma follows luma.
// Their strengths are those of the luma edge there.
unsigned C264_Decode::DeblockLumaEdges(bool transform_8x8) { return transform_8x8 ? 0x55 : 0xFF; }
unsigned C264_Decode::DeblockChromaEdges(bool transform_8x8) const {
  switch (chroma_format_) {
    case 0: return 0;
    case 2: return 0xF5;
    case 3: return DeblockLumaEdges(transform_8x8);
    default: return 0x55;
  }
}

void C264_Decode::DeblockMacroblock(int mb_addr, const DeblockSamples& px) {
  const DeblockNeighbours n = DeblockNeighboursOf(mb_addr);
  uint32_t bs[2][4];
  const unsigned edges = EdgeStrengths(mb_addr, n, bs);  // with a strength above 0 somewhere
  if (n.left >= 0 && n.left_mixed) DeblockMixedLeft(mb_addr, n.left, px);
  DeblockEdges(mb_addr, n, edges, bs, px);
}

void C264_Decode::DeblockEdges(int mb_addr, const DeblockNeighbours& n, unsigned edges, const uint32_t bs[2][4],
                               const DeblockSamples& px) {
  const MbInfo& q = mbs_[mb_addr];
  const unsigned luma_edges = DeblockLumaEdges(q.transform_8x8), chroma_edges = DeblockChromaEdges(q.transform_8x8);
  if (n.left < 0 || n.left_mixed) edges &= ~1u;
  if (n.top < 0 || n.top_per_field) edges &= ~0x10u;
  edges &= luma_edges | chroma_edges;
  const bool top_per_field = n.top >= 0 && n.top_per_field;
  if (edges == 0 && !top_per_field) return;
  const SliceInfo& s = slices_[q.slice];
  const H264Kernels& k = Kernels();
  // Thresholds of the planes (Y, Cb, Cr) against the macroblock across the edge.
  auto thresholds = [&](int pm, EdgeThresholds t[3]) {
    const MbInfo& p = mbs_[pm];
    t[0] = Thresholds(s, p.qp, q.qp);
    if (chroma_format_ == 0) return;
    t[1] = Thresholds(s, p.qpc[0], q.qpc[0]);
    t[2] = Thresholds(s, p.qpc[1], q.qpc[1]);
  };
  EdgeThresholds inner[3], outer[3];
  if (edges & 0xEE) thresholds(mb_addr, inner);
  // The edges of one direction (dir 0: vertical, 1: horizontal) in order, bit e: edge e.
  auto filter = [&](int dir, unsigned dir_edges) {
    const int across_l = dir == 0 ? 1 : px.ls, along_l = dir == 0 ? px.ls : 1;
    const int across_c = dir == 0 ? 1 : px.cs, along_c = dir == 0 ? px.cs : 1;
    if (dir_edges & 1) thresholds(dir == 0 ? n.left : n.top, outer);
    for (; dir_edges != 0; dir_edges &= dir_edges - 1) {
      const int e = std::countr_zero(dir_edges);
      const unsigned bit = 1u << (dir * 4 + e);
      const EdgeThresholds* t = e == 0 ? outer : inner;
      uint8_t edge_bs[4];
      std::memcpy(edge_bs, &bs[dir][e], 4);
      if ((luma_edges & bit) && Filters(t[0]))
        k.deblock_luma(px.luma + e * 4 * across_l, across_l, along_l, edge_bs, t[0].alpha, t[0].beta,
                       kDeblockTc0[t[0].index_a]);
      if (!(chroma_edges & bit)) continue;
      // Offset of the chroma edge in chroma samples and the samples along it.
      const int ce = chroma_format_ == 3 || (chroma_format_ == 2 && dir == 1) ? e * 4 : e / 2 * 4;
      uint8_t* const cq0[2] = {px.chroma[0] + ce * across_c, px.chroma[1] + ce * across_c};
      if (chroma_format_ == 1) {
        if (Filters(t[1]) || Filters(t[2])) FilterChromaEdgePair(k, cq0, across_c, along_c, edge_bs, t + 1);
        continue;
      }
      for (int c = 0; c < 2; ++c) {
        if (!Filters(t[1 + c])) continue;
        if (chroma_format_ == 3) FilterLumaEdge(cq0[c], across_c, along_c, edge_bs, t[1 + c]);
        else FilterChromaEdge(cq0[c], across_c, along_c, dir == 0 ? mb_ch_ : mb_cw_, edge_bs, t[1 + c]);
      }
    }
  };
  filter(0, edges & 15);
  if (top_per_field) DeblockTopPerField(mb_addr, n.top, px);
  filter(1, edges >> 4);
}

// MBAFF, left pair of the other coding: eight strengths, each for two lines of the edge; a
// field macroblock meets the top frame macroblock of the pair in its upper half and the
// bottom one in its lower half, a frame macroblock meets the top field macroblock in its even
// lines and the bottom one in its odd lines. At least strength 1 (frame against field).
void C264_Decode::DeblockMixedLeft(int mb_addr, int left, const DeblockSamples& px) {
  const MbInfo& q = mbs_[mb_addr];
  const SliceInfo& s = slices_[q.slice];
  const int ls = px.ls, cs = px.cs;
  const int pair_top = left & ~1;
  uint8_t bs[8];
  for (int i = 0; i < 8; ++i) {
    const int pm = pair_top + (q.field ? i >> 2 : i & 1);
    if (IsIntraKind(q.kind) || IsIntraKind(mbs_[pm].kind)) {
      bs[i] = 4;
      continue;
    }
    const int prow = q.field ? (i & 3) : ((mb_addr & 1) ? 2 : 0) + (i >> 2);
    bs[i] = static_cast<uint8_t>(1 + (Coded(q, i >> 1, 0) || Coded(mbs_[pm], prow, 3)));
  }
  const MbInfo& p0 = mbs_[pair_top];
  const MbInfo& p1 = mbs_[pair_top + 1];
  const EdgeThresholds t[2] = {Thresholds(s, p0.qp, q.qp), Thresholds(s, p1.qp, q.qp)};
  const uint8_t half[2][4] = {{bs[0], bs[2], bs[4], bs[6]}, {bs[1], bs[3], bs[5], bs[7]}};
  for (int k = 0; k < 2; ++k) {
    // q.field: upper / lower half of the lines; frame: even / odd lines.
    const uint8_t* kbs = q.field ? bs + 4 * k : half[k];
    uint8_t* y0 = q.field ? px.luma + 8 * k * ls : px.luma + k * ls;
    const int ystep = q.field ? ls : 2 * ls;
    if (Filters(t[k])) FilterLumaLines(y0, 1, ystep, 8, kbs, 2, t[k]);
    if (chroma_format_ == 0) continue;
    const MbInfo& pk = k == 0 ? p0 : p1;
    // Chroma lines as luma's where chroma has as many rows (4:2:2, 4:4:4), else half.
    const int rows = mb_ch_ / 2, per_bs = mb_ch_ / 8;
    for (int c = 0; c < 2; ++c) {
      const EdgeThresholds tc = Thresholds(s, pk.qpc[c], q.qpc[c]);
      if (!Filters(tc)) continue;
      uint8_t* c0 = q.field ? px.chroma[c] + rows * k * cs : px.chroma[c] + k * cs;
      if (chroma_format_ == 3) FilterLumaLines(c0, 1, q.field ? cs : 2 * cs, rows, kbs, per_bs, tc);
      else FilterChromaLines(c0, 1, q.field ? cs : 2 * cs, rows, kbs, per_bs, tc);
    }
  }
}

// MBAFF, top frame macroblock under a field pair: the edge is filtered in the top field lines
// against the top field macroblock, then in the bottom field lines against the bottom one
// (strength 3 next to intra macroblocks, at least 1 otherwise).
void C264_Decode::DeblockTopPerField(int mb_addr, int top, const DeblockSamples& px) {
  const MbInfo& q = mbs_[mb_addr];
  const SliceInfo& s = slices_[q.slice];
  const int ls = px.ls, cs = px.cs;
  const int pair_top = top & ~1;
  for (int k = 0; k < 2; ++k) {
    const int pm = pair_top + k;
    uint8_t bs[4];
    for (int i = 0; i < 4; ++i)
      bs[i] = IsIntraKind(q.kind) || IsIntraKind(mbs_[pm].kind)
                  ? 3
                  : static_cast<uint8_t>(1 + (Coded(q, 0, i) || Coded(mbs_[pm], 3, i)));
    const MbInfo& p = mbs_[pm];
    const EdgeThresholds t = Thresholds(s, p.qp, q.qp);
    if (Filters(t)) FilterLumaLines(px.luma + k * ls, 2 * ls, 1, 16, bs, 4, t);
    if (chroma_format_ == 0) continue;
    for (int c = 0; c < 2; ++c) {
      const EdgeThresholds tc = Thresholds(s, p.qpc[c], q.qpc[c]);
      if (!Filters(tc)) continue;
      uint8_t* c0 = px.chroma[c] + k * cs;
      if (chroma_format_ == 3) FilterLumaLines(c0, 2 * cs, 1, 16, bs, 4, tc);
      else FilterChromaLines(c0, 2 * cs, 1, 8, bs, 2, tc);
    }
  }
}

}  // namespace fennik
