// Macroblock layer parsing with CABAC (H.264 7.3.5, 9.3): binarizations (9.3.2) and the
// context index increments derived from neighbouring macroblocks and blocks (9.3.3.1.1).
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "base/DebugPrint.h"
#include "codec/video/H264DecodeInternal.h"
#include "codec/video/h264_tables.h"

namespace fennik {
namespace {

// ctxIdxOffset of the syntax elements (Table 9-34).
constexpr int kCtxMbTypeI = 3;
constexpr int kCtxSkipP = 11;
constexpr int kCtxFieldDecoding = 70;
constexpr int kCtxMbTypeP = 14;
constexpr int kCtxMbTypePIntra = 17;
constexpr int kCtxSubMbTypeP = 21;
constexpr int kCtxSkipB = 24;
constexpr int kCtxMbTypeB = 27;
constexpr int kCtxMbTypeBIntra = 32;
constexpr int kCtxSubMbTypeB = 36;
constexpr int kCtxMvdX = 40;
constexpr int kCtxMvdY = 47;
constexpr int kCtxRefIdx = 54;
constexpr int kCtxQpDelta = 60;
constexpr int kCtxChromaPred = 64;
constexpr int kCtxPrevIntraFlag = 68;
constexpr int kCtxRemIntraMode = 69;
constexpr int kCtxCbpLuma = 73;
constexpr int kCtxCbpChroma = 77;
constexpr int kCtxCodedBlockFlag = 85;
constexpr int kCtxTransform8x8 = 399;

// ctxIdxOffset of the residual syntax elements by component (luma, and Cb and Cr of 4:4:4
// pictures): coded_block_flag, significant_coeff_flag, last_significant_coeff_flag and
// coeff_abs_level_minus1 of the 4x4-based categories, then the same of 8x8 blocks.
// The significance maps of field pictures and field macroblocks have contexts of their own
// ([1]).
constexpr int kCtxCbf[3] = {85, 460, 472};
constexpr int kCtxSignificant[2][3] = {{105, 484, 528}, {277, 776, 820}};
constexpr int kCtxLast[2][3] = {{166, 572, 616}, {338, 864, 908}};
constexpr int kCtxAbsLevel[3] = {227, 952, 982};
constexpr int kCtxCbf8x8[3] = {1012, 1016, 1020};
// The distance from the significant_coeff_flag to the last_significant_coeff_flag contexts of
// the 4x4-based blocks: of luma (and chroma) and of Cb and Cr of 4:4:4 pictures.
constexpr int kLastDelta[3] = {61, 88, 88};
static_assert(kCtxLast[0][0] - kCtxSignificant[0][0] == kLastDelta[0] &&
              kCtxLast[1][0] - kCtxSignificant[1][0] == kLastDelta[0]);
static_assert(kCtxLast[0][1] - kCtxSignificant[0][1] == kLastDelta[1] &&
              kCtxLast[1][1] - kCtxSignificant[1][1] == kLastDelta[1] &&
              kCtxLast[0][2] - kCtxSignificant[0][2] == kLastDelta[2] &&
              kCtxLast[1][2] - kCtxSignificant[1][2] == kLastDelta[2]);
constexpr int kCtxSignificant8x8[2][3] = {{402, 660, 718}, {436, 675, 733}};
constexpr int kCtxLast8x8[2][3] = {{417, 690, 748}, {451, 699, 757}};
constexpr int kCtxAbsLevel8x8[3] = {426, 708, 766};

// ctxBlockCatOffset by ctxBlockCat 0..4 (Table 9-40; categories 6..8 and 10..12 of Cb and
// Cr take those of 0..2).
constexpr int kCbfCatOffset[5] = {0, 4, 8, 12, 16};
constexpr int kSigCatOffset[5] = {0, 15, 29, 44, 47};
constexpr int kAbsCatOffset[5] = {0, 10, 20, 30, 39};

}  // namespace

struct C264_Decode::CabacSource : C264_Decode::SyntaxSource {
  explicit CabacSource(C264_Decode* decoder) : d(decoder) {}
  C264_Decode* d;

  int Bin(int ctx) { return d->cabac_.DecodeDecision(ctx); }
  int Bypass() { return d->cabac_.DecodeBypass(); }

  void IntraMode(int& prev_flag, int& rem) override {
    prev_flag = Bin(kCtxPrevIntraFlag);
    rem = 0;
    if (!prev_flag) {
      rem = Bin(kCtxRemIntraMode);
      rem |= Bin(kCtxRemIntraMode) << 1;
      rem |= Bin(kCtxRemIntraMode) << 2;
    }
  }
  int ChromaPredMode(int mb_addr) override {
    int inc = 0;
    for (int k = 0; k < 2; ++k) {
      const int n = d->NeighbourMb(mb_addr, k);
      if (n >= 0 && IsIntraKind(d->mbs_[n].kind) && d->mbs_[n].kind != kMbIPCM && d->mbs_[n].chroma_mode != 0) ++inc;
    }
    if (!Bin(kCtxChromaPred + inc)) return 0;
    if (!Bin(kCtxChromaPred + 3)) return 1;
    return Bin(kCtxChromaPred + 3) ? 3 : 2;
  }
  int SubMbType(bool b_slice) override {
    if (!b_slice) {  // Table 9-38, P
      if (Bin(kCtxSubMbTypeP)) return 0;
      if (!Bin(kCtxSubMbTypeP + 1)) return 1;
      return Bin(kCtxSubMbTypeP + 2) ? 2 : 3;
    }
    if (!Bin(kCtxSubMbTypeB)) return 0;
    if (!Bin(kCtxSubMbTypeB + 1)) return 1 + Bin(kCtxSubMbTypeB + 3);
    int type = 3;
    if (Bin(kCtxSubMbTypeB + 2)) {
      if (Bin(kCtxSubMbTypeB + 3)) return 11 + Bin(kCtxSubMbTypeB + 3);
      type += 4;
    }
    type += 2 * Bin(kCtxSubMbTypeB + 3);
    type += Bin(kCtxSubMbTypeB + 3);
    return type;
  }
  // Looks up the 4x4 block (bx, by) relative to the macroblock; false when unavailable.
  bool Block(int mb_addr, int bx, int by, int& nb_mb, int& idx, int& blk) {
    nb_mb = d->LumaNeighbour(mb_addr, bx, by, blk);
    if (nb_mb < 0) return false;
    idx = mb_addr == d->nb_addr_ ? d->nb_base_ + by * d->mb_width_ * 4 + bx
                                 : d->BlockBase(nb_mb) + (blk >> 2) * d->mb_width_ * 4 + (blk & 3);
    return true;
  }
  int RefIdx(int mb_addr, int list, int bx, int by, int) override {
    int inc = 0;
    const int pos[2][2] = {{bx - 1, by}, {bx, by - 1}};
    for (int k = 0; k < 2; ++k) {
      int nb, idx, blk;
      if (!Block(mb_addr, pos[k][0], pos[k][1], nb, idx, blk)) continue;
      const MbInfo& n = d->mbs_[nb];
      if (IsSkipKind(n.kind) || IsIntraKind(n.kind) || ((n.direct >> blk) & 1)) continue;
      // A frame macroblock of an MBAFF frame counts a field neighbour's index in frames.
      const int zero_max = d->mbaff_ && !d->mbs_[mb_addr].field && n.field ? 1 : 0;
      if (d->ref_idx_[list][idx] > zero_max) inc += k == 0 ? 1 : 2;
    }
    int value = 0;
    if (!Bin(kCtxRefIdx + inc)) return 0;
    value = 1;
    int ctx = kCtxRefIdx + 4;
    while (Bin(ctx)) {
      ctx = kCtxRefIdx + 5;
      if (++value > 32) return value;  // out of range; the caller rejects it
    }
    return value;
  }
  int MvdComponent(int base, int sum) {
    const int inc = sum < 3 ? 0 : (sum > 32 ? 2 : 1);
    if (!Bin(base + inc)) return 0;
    int prefix = 1;
    int ctx = base + 3;
    while (prefix < 9 && Bin(ctx)) {
      ++prefix;
      if (ctx < base + 6) ++ctx;
    }
    int value = prefix;
    if (prefix >= 9) {  // UEG3 suffix
      int k = 3;
      while (Bypass()) {
        value += 1 << k;
        if (++k > 24) return 0;
      }
      while (k-- > 0) value += Bypass() << k;
    }
    return Bypass() ? -value : value;
  }
  void Mvd(int mb_addr, int list, int bx, int by, int& x, int& y) override {
    int sum[2] = {0, 0};
    const int pos[2][2] = {{bx - 1, by}, {bx, by - 1}};
    for (int k = 0; k < 2; ++k) {
      int nb, idx, blk;
      if (!Block(mb_addr, pos[k][0], pos[k][1], nb, idx, blk)) continue;
      sum[0] += d->mbs_[nb].mvd[list][blk][0];
      int vertical = d->mbs_[nb].mvd[list][blk][1];
      // MBAFF: vertical differences of the other kind of macroblock in this one's units.
      if (d->mbaff_ && d->mbs_[mb_addr].field != d->mbs_[nb].field)
        vertical = d->mbs_[mb_addr].field ? vertical >> 1 : vertical << 1;
      sum[1] += vertical;
    }
    x = MvdComponent(kCtxMvdX, sum[0]);
    y = MvdComponent(kCtxMvdY, sum[1]);
  }
  bool Ok() const override { return !d->cabac_.Overrun(); }
};

int C264_Decode::DecodeSkipFlag(int mb_addr) {
  if (mb_addr != nb_addr_ || nb_slice_ != slice_num_) FindNeighbours(mb_addr);
  const int na = NeighbourMb(mb_addr, 0), nb = NeighbourMb(mb_addr, 1);
  const int inc = (na >= 0 && !IsSkipKind(mbs_[na].kind)) + (nb >= 0 && !IsSkipKind(mbs_[nb].kind));
  return cabac_.DecodeDecision((slice_kind_ == kSliceP ? kCtxSkipP : kCtxSkipB) + inc);
}

int C264_Decode::DecodeFieldFlag(int mb_addr) {
  // mb_field_decoding_flag: context from the field coding of the pairs left and above.
  const int pair = mb_addr >> 1, col = pair % mb_width_;
  int inc = 0;
  if (col > 0 && mbs_[2 * (pair - 1)].slice == slice_num_ && mbs_[2 * (pair - 1)].field) ++inc;
  if (pair >= mb_width_ && mbs_[2 * (pair - mb_width_)].slice == slice_num_ && mbs_[2 * (pair - mb_width_)].field) ++inc;
  return cabac_.DecodeDecision(kCtxFieldDecoding + inc);
}

bool C264_Decode::ParseMacroblockCabac(int mb_addr, MbParse& mb) {
  CabacSource src(this);
  MbInfo& info = mbs_[mb_addr];
  const bool top = mbaff_ && !(mb_addr & 1);
  if (slice_kind_ == kSliceP || slice_kind_ == kSliceB) {
    int skip;
    if (mbaff_ && !top && next_skip_ >= 0) skip = next_skip_;  // decoded with the top macroblock
    else skip = DecodeSkipFlag(mb_addr);
    next_skip_ = -1;
    if (skip) {
      info.qp = static_cast<int8_t>(qp_);
      if (top) {
        // A skipped top macroblock: the bottom one's mb_skip_flag, and when that one is
        // coded the pair's mb_field_decoding_flag, come first, as the top's motion depends
        // on the pair's coding.
        info.kind = slice_kind_ == kSliceB ? kMbBSkip : kMbPSkip;
        next_skip_ = DecodeSkipFlag(mb_addr + 1);
        if (!next_skip_) SetPairField(mb_addr, DecodeFieldFlag(mb_addr) != 0);
      }
      SetupSkip(mb_addr, mb);
      prev_qp_delta_nonzero_ = false;
      return !cabac_.Overrun();
    }
  }
  if (top) SetPairField(mb_addr, DecodeFieldFlag(mb_addr) != 0);
  const int na = NeighbourMb(mb_addr, 0), nb = NeighbourMb(mb_addr, 1);
  // mb_type (9.3.2.5, Tables 9-36 and 9-37).
  int mb_type = 0;
  int intra_offset = -1;  // ctxIdxOffset of the I macroblock type bins, -1 for an I slice
  if (slice_kind_ == kSliceI) {
    const int inc = (na >= 0 && mbs_[na].kind != kMbI4x4) + (nb >= 0 && mbs_[nb].kind != kMbI4x4);
    if (src.Bin(kCtxMbTypeI + inc)) mb_type = -1;  // I_16x16 or I_PCM, below
  } else if (slice_kind_ == kSliceP) {
    if (src.Bin(kCtxMbTypeP)) {
      intra_offset = kCtxMbTypePIntra;
    } else if (!src.Bin(kCtxMbTypeP + 1)) {
      mb_type = src.Bin(kCtxMbTypeP + 2) ? 3 : 0;
    } else {
      mb_type = src.Bin(kCtxMbTypeP + 3) ? 1 : 2;
    }
  } else {
    auto counts = [&](int n) { return n >= 0 && mbs_[n].kind != kMbBSkip && mbs_[n].kind != kMbBDirect; };
    const int inc = counts(na) + counts(nb);
    if (!src.Bin(kCtxMbTypeB + inc)) {
      mb_type = 0;
    } else if (!src.Bin(kCtxMbTypeB + 3)) {
      mb_type = 1 + src.Bin(kCtxMbTypeB + 5);
    } else {
      int bits = src.Bin(kCtxMbTypeB + 4) << 3;
      bits |= src.Bin(kCtxMbTypeB + 5) << 2;
      bits |= src.Bin(kCtxMbTypeB + 5) << 1;
      bits |= src.Bin(kCtxMbTypeB + 5);
      if (bits < 8) mb_type = bits + 3;
      else if (bits == 13) intra_offset = kCtxMbTypeBIntra;
      else if (bits == 14) mb_type = 11;
      else if (bits == 15) mb_type = 22;
      else mb_type = ((bits << 1) | src.Bin(kCtxMbTypeB + 5)) - 4;
    }
  }
  int i_type = -1;  // mb_type within the I types when the macroblock is intra
  if (slice_kind_ == kSliceI) {
    if (mb_type == 0) {
      i_type = 0;
    } else {
      i_type = 1;
      intra_offset = kCtxMbTypeI;
    }
  } else if (intra_offset >= 0) {
    i_type = src.Bin(intra_offset) ? 1 : 0;
  }
  if (i_type == 1) {
    // I_16x16 or I_PCM: the terminating bin tells them apart.
    if (cabac_.DecodeTerminate()) {
      i_type = 25;
    } else {
      const bool islice = slice_kind_ == kSliceI;
      const int o = intra_offset;
      i_type = 1 + 12 * src.Bin(o + (islice ? 3 : 1));
      if (src.Bin(o + (islice ? 4 : 2))) i_type += 4 + 4 * src.Bin(o + (islice ? 5 : 2));
      i_type += 2 * src.Bin(o + (islice ? 6 : 3));
      i_type += src.Bin(o + (islice ? 7 : 3));
    }
  }
  if (i_type >= 0) mb_type = i_type + (slice_kind_ == kSliceP ? 5 : (slice_kind_ == kSliceB ? 23 : 0));
  if (cabac_.Overrun()) {
    DebugPrint("[H.264] CABAC error (mb_type) = %x\n", mb_type);
    return false;
  }
  if (!ClassifyMbType(slice_kind_, mb_type, mb.kind, mb.i16_mode, mb.cbp, mb.part_pred)) {
    DebugPrint("[H.264] CABAC error (mb_type) = %x\n", mb_type);
    return false;
  }
  info.kind = static_cast<uint8_t>(mb.kind);
  if (mb.kind == kMbIPCM) {
    // pcm_alignment_zero_bit, then the samples; the engine restarts after them.
    BitReader* br = cabac_.Reader();
    br->AlignToByte();
    const int samples = 256 + 2 * mb_cw_ * mb_ch_;
    for (int i = 0; i < samples; ++i) mb.pcm[i] = static_cast<uint8_t>(br->Read(8));
    prev_qp_delta_nonzero_ = false;
    return br->Ok();
  }
  auto transform_flag = [&]() {
    const int inc = (na >= 0 && mbs_[na].transform_8x8) + (nb >= 0 && mbs_[nb].transform_8x8);
    return src.Bin(kCtxTransform8x8 + inc) != 0;
  };
  if (mb.kind == kMbI4x4 && pps_cur_->transform_8x8_mode_flag) mb.transform_8x8 = transform_flag();
  if (IsIntraKind(mb.kind)) {
    if (!ParseIntraModes(mb_addr, mb, src)) return false;
  } else {
    if (!ParseInterPred(mb_addr, mb, src)) return false;
  }
  if (mb.kind != kMbI16x16) {
    // coded_block_pattern: four luma bins and up to two chroma bins (9.3.3.1.1.4).
    auto cbp_of = [&](int n, int& cbp, bool& skip, bool& pcm) {
      cbp = mbs_[n].cbp;
      skip = IsSkipKind(mbs_[n].kind);
      pcm = mbs_[n].kind == kMbIPCM;
    };
    int cbp_a = 0, cbp_b = 0;
    bool skip_a = false, skip_b = false, pcm_a = false, pcm_b = false;
    if (na >= 0) cbp_of(na, cbp_a, skip_a, pcm_a);
    if (nb >= 0) cbp_of(nb, cbp_b, skip_b, pcm_b);
    auto luma_cond = [&](int n, int cbp, bool skip, bool pcm, int b8) {
      if (n < 0 || pcm) return 0;
      if (skip) return 1;
      return ((cbp >> b8) & 1) ? 0 : 1;
    };
    // The 8x8 block left of / above the 8x8 block at (bx, by) of this macroblock, in a
    // neighbouring macroblock (MBAFF frames map it through the pairs' coding).
    auto neighbour_cond = [&](int bx, int by) {
      int blk;
      const int n = LumaNeighbour(mb_addr, bx, by, blk);
      if (n < 0) return 0;
      const int b8 = (blk >> 3) * 2 + ((blk & 3) >> 1);
      return luma_cond(n, mbs_[n].cbp, IsSkipKind(mbs_[n].kind), mbs_[n].kind == kMbIPCM, b8);
    };
    int luma = 0;
    for (int b8 = 0; b8 < 4; ++b8) {
      const int bx = b8 & 1, by = b8 >> 1;
      int ca, cb;
      if (bx == 1) ca = ((luma >> (b8 - 1)) & 1) ? 0 : 1;
      else if (mbaff_) ca = neighbour_cond(-1, by * 2);
      else ca = luma_cond(na, cbp_a, skip_a, pcm_a, b8 + 1);
      if (by == 1) cb = ((luma >> (b8 - 2)) & 1) ? 0 : 1;
      else if (mbaff_) cb = neighbour_cond(bx * 2, -1);
      else cb = luma_cond(nb, cbp_b, skip_b, pcm_b, b8 + 2);
      luma |= src.Bin(kCtxCbpLuma + ca + 2 * cb) << b8;
    }
    auto chroma_cond = [&](int n, int cbp, bool skip, bool pcm, int bin) {
      if (n < 0) return 0;
      if (pcm) return 1;
      if (skip) return 0;
      return (bin == 0 ? ((cbp >> 4) != 0) : ((cbp >> 4) == 2)) ? 1 : 0;
    };
    int chroma = 0;
    // Monochrome and 4:4:4 macroblocks have no chroma bins.
    const int inc0 = chroma_format_ != 1 && chroma_format_ != 2 ? -1 : chroma_cond(na, cbp_a, skip_a, pcm_a, 0) + 2 * chroma_cond(nb, cbp_b, skip_b, pcm_b, 0);
    if (inc0 >= 0 && src.Bin(kCtxCbpChroma + inc0)) {
      const int inc1 = chroma_cond(na, cbp_a, skip_a, pcm_a, 1) + 2 * chroma_cond(nb, cbp_b, skip_b, pcm_b, 1);
      chroma = 1 + src.Bin(kCtxCbpChroma + 4 + inc1);
    }
    mb.cbp = luma | (chroma << 4);
    if (Transform8x8Allowed(mb)) mb.transform_8x8 = transform_flag();
  }
  info.cbp = static_cast<uint8_t>(mb.cbp);
  info.transform_8x8 = mb.transform_8x8;
  if (mb.cbp == 0 && mb.kind != kMbI16x16) {
    prev_qp_delta_nonzero_ = false;
    return !cabac_.Overrun();
  }
  // mb_qp_delta: unary code of the mapped value (9.3.2.7).
  int k = 0;
  if (src.Bin(kCtxQpDelta + (prev_qp_delta_nonzero_ ? 1 : 0))) {
    k = 1;
    int ctx = kCtxQpDelta + 2;
    while (src.Bin(ctx)) {
      ctx = kCtxQpDelta + 3;
      if (++k > 104) {
        DebugPrint("[H.264] mb_qp_delta out of range\n");
        return false;
      }
    }
  }
  const int delta = (k & 1) ? (k + 1) / 2 : -(k / 2);
  if (delta < -26 || delta > 25) {
    DebugPrint("[H.264] mb_qp_delta out of range: %d\n", delta);
    return false;
  }
  qp_ = (qp_ + delta + 52) % 52;
  prev_qp_delta_nonzero_ = delta != 0;
  info.qp_delta_nonzero = delta != 0;
  return ParseResidualCabac(mb_addr, mb);
}

namespace {

// The contexts of one kind of residual block: significant_coeff_flag,
// last_significant_coeff_flag and coeff_abs_level_minus1.
struct ResidualContexts {
  uint8_t* sig;
  uint8_t* last;
  uint8_t* abs;
};

// Chroma DC of 4:2:2 (9.3.3.1.1.3): NumC8x8 = 2 coefficients share a context, up to the third
// (4:2:0 has one a coefficient, as the 4x4-based blocks).
constexpr uint8_t kChromaDc422Inc[7] = {0, 0, 1, 1, 2, 2, 2};
constexpr uint8_t kIdentityScan[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};

// The significance map of a block of end + 1 scan positions, the context increments of
// position i at sig_inc[i] and last_inc[i]: the raster positions scan[i] of the significant
// coefficients go to pos, in scan order; returns their count. Counted up to 0 from -end, so
// that the count itself tells the end of the block.
[[gnu::always_inline]] inline int DecodeSignificance(CabacRegs& c, const ResidualContexts& k, int end,
                                                     const uint8_t* sig_inc, const uint8_t* last_inc,
                                                     const uint8_t* scan, uint8_t* pos) {
  sig_inc += end;
  last_inc += end;
  scan += end;
  uint8_t* p = pos;
  for (ptrdiff_t i = -end;;) {
    if (c.Flag(k.sig[sig_inc[i]])) {
      *p++ = scan[i];
      if (c.Flag(k.last[last_inc[i]])) break;
    }
    if (++i == 0) {
      *p++ = scan[0];
      break;
    }
  }
  return static_cast<int>(p - pos);
}

// The same for the 4x4-based blocks, whose contexts follow the position: counted up to 0 from
// -end, so that the count itself tells the end of the block. The last_significant_coeff_flag
// contexts lie kLastDelta after the significant_coeff_flag ones.
template <int kLastDelta>
[[gnu::always_inline]] inline int DecodeSignificance4x4(CabacRegs& c, const ResidualContexts& k, int end,
                                                        const uint8_t* scan, uint8_t* pos) {
  uint8_t* const sig = k.sig + end;
  const uint8_t* const at = scan + end;
  uint8_t* p = pos;
  for (ptrdiff_t i = -end;;) {
    if (c.Flag(sig[i])) {
      *p++ = at[i];
      if (c.Flag(sig[i + kLastDelta])) break;
    }
    if (++i == 0) {
      *p++ = at[0];
      break;
    }
  }
  return static_cast<int>(p - pos);
}

// The prefix bins of coeff_abs_level_minus1 after a first bin of 1 (TU, cMax 14, all with
// context ctx) and the UEG0 suffix: the absolute level, or -1 when the suffix is too long.
[[gnu::always_inline]] inline int LevelAbove1(CabacRegs& c, uint8_t& ctx) {
  int value = 2;
  while (c.Flag(ctx)) {
    if (++value < 15) continue;
    int k = 0, suffix = 0;
    while (c.Bypass()) {
      suffix += 1 << k;
      if (++k > 24) return -1;
    }
    while (k-- > 0) suffix += c.Bypass() << k;
    return value + suffix;
  }
  return value;
}

// Where the levels go: to out[r] as they are, or scaled to
// (level * scale[r] + 2^(kShift - 1)) >> kShift (the clamp out of line, as it is rare). Levels
// up to 15 in magnitude scale in 32 bits (the factors stay below 2^22), larger ones in 64.
struct RawLevels {
  int32_t* out;
  void operator()(int r, int level) const { out[r] = level; }
  void Large(int r, int level) const { out[r] = level; }
};
[[gnu::cold, gnu::noinline]] int32_t ClampCoeffCold(int64_t v) { return ClampCoeff(v); }
template <int kShift>
struct ScaledLevels {
  const int32_t* scale;
  int32_t* out;
  void operator()(int r, int level) const {
    const int32_t v = (level * scale[r] + (1 << (kShift - 1))) >> kShift;
    out[r] = static_cast<uint32_t>(v + 32768) <= 65535 ? v : ClampCoeffCold(v);
  }
  void Large(int r, int level) const {
    const int64_t v = (int64_t{level} * scale[r] + (1 << (kShift - 1))) >> kShift;
    out[r] = static_cast<uint64_t>(v + 32768) <= 65535 ? static_cast<int32_t>(v) : ClampCoeffCold(v);
  }
};
// coeff_abs_level_minus1 and the signs of the significant coefficients at raster positions
// pos[0..count), last to first. The first bin's context counts the levels of 1 decoded so far
// (9.3.3.1.3) until one above 1 comes; from then on it is fixed, and the further bins' context
// counts the levels above 1 (up to rest_cap). Returns false when an Exp-Golomb suffix is too
// long.
template <typename Store>
[[gnu::always_inline]] inline bool DecodeLevels(CabacRegs& c, uint8_t* abs_ctx, const uint8_t* pos, int count,
                                                int rest_cap, Store store) {
  const uint8_t* p = pos + count;
  int first = 1;  // context increment of the first bin
  for (;;) {
    --p;
    if (!c.Flag(abs_ctx[first])) {
      store(*p, c.BypassSign(1));
      first = first < 4 ? first + 1 : 4;
      if (p == pos) return true;
      continue;
    }
    const int value = LevelAbove1(c, abs_ctx[5]);
    if (value < 0) return false;
    if (value > 15) store.Large(*p, c.BypassSign(value));
    else store(*p, c.BypassSign(value));
    break;
  }
  uint8_t* rest = abs_ctx + 6;
  uint8_t* const rest_last = abs_ctx + rest_cap;
  while (p != pos) {
    --p;
    int value = 1;
    if (c.Flag(abs_ctx[0])) {
      value = LevelAbove1(c, *rest);
      if (value < 0) return false;
      if (rest != rest_last) ++rest;
      if (value > 15) {
        store.Large(*p, c.BypassSign(value));
        continue;
      }
    }
    store(*p, c.BypassSign(value));
  }
  return true;
}

// A block after a coded_block_flag of 1: out (kSize levels) is cleared, then takes the
// significance map and the levels, scaled with kShift when scale is given. Returns the number
// of levels, or -1 on an error. The registers are copied in and out: context states are bytes,
// whose stores the compiler would otherwise take to change them.
template <int kShift, int kSize>
int DecodeCoefficients(CabacRegs& regs, ResidualContexts k, int end, const uint8_t* sig_inc, const uint8_t* last_inc,
                       int rest_cap, const uint8_t* scan, const int32_t* scale, int32_t* out) {
  std::memset(out, 0, kSize * sizeof(int32_t));
  CabacRegs c = regs;
  uint8_t pos[kSize];
  const int count = DecodeSignificance(c, k, end, sig_inc, last_inc, scan, pos);
  const bool ok = scale ? DecodeLevels(c, k.abs, pos, count, rest_cap, ScaledLevels<kShift>{scale, out})
                        : DecodeLevels(c, k.abs, pos, count, rest_cap, RawLevels{out});
  regs = c;
  return ok ? count : -1;
}

// The coded_block_flag context increment of the block at bit g of a CbfEdges grid with
// `stride` bits a row: the flags left of (A) and above (B) it.
int GridInc(uint32_t grid, int g, int stride) {
  return static_cast<int>(((grid >> (g - 1)) & 1) | ((grid >> (g - stride - 1)) & 2));
}

// Grid bits (CbfEdges) of the luma blocks by blkIdx and of the chroma AC blocks.
constexpr uint8_t kLumaGridBit[16] = {6, 7, 11, 12, 8, 9, 13, 14, 16, 17, 21, 22, 18, 19, 23, 24};
constexpr uint8_t kChromaGridBit[8] = {4, 5, 7, 8, 10, 11, 13, 14};

// The 4x4-based blocks of a component with `end` + 1 coefficients each: coded_block_flag,
// significance map and levels of blocks 0..count-1 with their bit set in `present`, block b
// at bit grid_bit[b] of `grid` (CbfEdges, kStride bits a row). A coded block's levels go to
// out[b] (cleared first), scaled when scale is given. Returns the coded blocks (bit b), or -1
// on an error.
template <int kLastDelta, int kStride>
int DecodeBlocks4x4(CabacRegs& regs, uint8_t* cbf, ResidualContexts k, int end, const uint8_t* scan,
                    const int32_t* scale, int32_t (*out)[16], int count, unsigned present, uint32_t grid,
                    const uint8_t* grid_bit) {
  CabacRegs c = regs;
  int coded = 0;
  for (int b = 0; b < count; ++b) {
    if (!((present >> b) & 1)) continue;
    const int g = grid_bit[b];
    if (!c.Flag(cbf[GridInc(grid, g, kStride)])) continue;
    std::memset(out[b], 0, sizeof(out[b]));
    uint8_t pos[16];
    const int n = DecodeSignificance4x4<kLastDelta>(c, k, end, scan, pos);
    const bool ok = scale ? DecodeLevels(c, k.abs, pos, n, 9, ScaledLevels<4>{scale, out[b]})
                          : DecodeLevels(c, k.abs, pos, n, 9, RawLevels{out[b]});
    if (!ok) {
      regs = c;
      return -1;
    }
    grid |= 1u << g;
    coded |= 1 << b;
  }
  regs = c;
  return coded;
}

// The chroma DC blocks of both components (ctxBlockCat 3, `count` levels each: 4 or 8):
// coded_block_flag with the context increments inc[c], significance map and levels, unscaled
// and in parse order, to out[c] (left as it was when not coded). Returns the coded blocks
// (bit c), or -1 on an error.
int DecodeChromaDc(CabacRegs& regs, uint8_t* cbf, ResidualContexts k, int count, const int inc[2],
                   int32_t (*out)[8]) {
  CabacRegs c = regs;
  int coded = 0;
  for (int comp = 0; comp < 2; ++comp) {
    if (!c.Flag(cbf[inc[comp]])) continue;
    uint8_t pos[8];
    const int n = count == 4 ? DecodeSignificance4x4<kLastDelta[0]>(c, k, 3, kIdentityScan, pos)
                             : DecodeSignificance(c, k, 7, kChromaDc422Inc, kChromaDc422Inc, kIdentityScan, pos);
    if (!DecodeLevels(c, k.abs, pos, n, 8, RawLevels{out[comp]})) {
      regs = c;
      return -1;
    }
    coded |= 1 << comp;
  }
  regs = c;
  return coded;
}

}  // namespace

// residual_block_cabac (7.3.5.3.3) of a 4x4-based block other than chroma DC: coded_block_flag
// (context increment given), significance map and levels. Returns the number of non-zero coefficients, or -1
// on an error (running out of slice data is left to the caller).
int C264_Decode::CabacResidualBlock(int cat, int plane, int cbf_inc, int max_coeff, const uint8_t* scan,
                                    const int32_t* scale, int32_t* out) {
  uint8_t* const states = cabac_.States();
  CabacRegs c(cabac_.Core());
  const int fld = mb_field_ ? 1 : 0;
  const ResidualContexts k = {states + kCtxSignificant[fld][plane] + kSigCatOffset[cat],
                              states + kCtxLast[fld][plane] + kSigCatOffset[cat],
                              states + kCtxAbsLevel[plane] + kAbsCatOffset[cat]};
  int n = 0;
  if (c.Flag(states[kCtxCbf[plane] + kCbfCatOffset[cat] + cbf_inc]))
    n = DecodeCoefficients<4, 16>(c, k, max_coeff - 1, kIdentityScan, kIdentityScan, 9, scan, scale, out);
  c.Save();
  return n;
}

// residual_block_cabac of an 8x8 block (ctxBlockCat 5, 9, 13): significance contexts from
// Table 9-43. Returns the number of non-zero coefficients, or -1 on an error.
int C264_Decode::CabacResidualBlock8x8(int plane, int cbf_inc, const uint8_t* scan, const int32_t* scale,
                                       int32_t* out) {
  uint8_t* const states = cabac_.States();
  CabacRegs c(cabac_.Core());
  int n = 0;
  if (cbf_inc < 0 || c.Flag(states[kCtxCbf8x8[plane] + cbf_inc])) {
    const int fld = mb_field_ ? 1 : 0;
    const ResidualContexts k = {states + kCtxSignificant8x8[fld][plane], states + kCtxLast8x8[fld][plane],
                                states + kCtxAbsLevel8x8[plane]};
    n = DecodeCoefficients<6, 64>(c, k, 63, fld ? kSigCoeffCtx8x8Field : kSigCoeffCtx8x8, kLastCoeffCtx8x8, 9, scan,
                                  scale, out);
  }
  c.Save();
  return n;
}

bool C264_Decode::ParseResidualCabac(int mb_addr, MbParse& mb) {
  if (mb.kind == kMbIPCM) return false;  // handled by the caller's reader
  // The coefficients are scaled as they are parsed, except in lossless macroblocks.
  mb.scaled = !(bypass_allowed_ && qp_ == 0);
  for (int plane = 0; plane < luma_planes_; ++plane)
    if (!ParseLumaLikeCabac(mb_addr, mb, plane)) return false;
  if ((chroma_format_ == 1 || chroma_format_ == 2) && !ParseChromaCabac(mb_addr, mb)) return false;
  // Reads past the slice data (zeros, bounded per block) are caught once per macroblock.
  return !cabac_.Overrun();
}

int C264_Decode::ChromaQp(int c) const {
  const int offset = c == 0 ? pps_cur_->chroma_qp_index_offset : pps_cur_->second_chroma_qp_index_offset;
  return kChromaQp[std::clamp(qp_ + offset, 0, 51)];
}

int C264_Decode::NeighbourCbf(int n, uint64_t bit, bool intra) const {
  // condTermFlagN of coded_block_flag for a neighbouring macroblock n and the bit of its
  // block (9.3.3.1.1.9); a neighbour outside the slice counts as coded for intra macroblocks.
  if (n < 0) return intra ? 1 : 0;
  if (mbs_[n].kind == kMbIPCM) return 1;
  return (mbs_[n].cbf & bit) ? 1 : 0;
}

uint32_t C264_Decode::CbfEdges(int mb_addr, int plane, bool intra) const {
  const bool chroma = plane >= 3;
  const int cols = chroma ? 2 : 4, rows = chroma ? mb_ch_ / 4 : 4, stride = cols + 1;
  const int flag_plane = chroma ? plane - 2 : plane;  // the plane of CbfBlock
  uint32_t grid = 0;
  if (!mbaff_) {
    // The neighbours' last column and row of flags, straight from their words.
    auto word = [&](int n, uint32_t all) -> uint32_t {
      if (n < 0) return intra ? all : 0;
      if (mbs_[n].kind == kMbIPCM) return all;
      return static_cast<uint32_t>(mbs_[n].cbf >> (flag_plane * 16)) & 0xFFFF;
    };
    const uint32_t left = word(NeighbourMb(mb_addr, 0), 0xFFFF), above = word(NeighbourMb(mb_addr, 1), 0xFFFF);
    if (!chroma) {
      for (int y = 0; y < 4; ++y) grid |= ((left >> (y * 4 + 3)) & 1) << ((y + 1) * 5);
      return grid | ((above >> 12) << 1);
    }
    // Four rows even for 4:2:0, where the two below its blocks are never read.
    for (int y = 0; y < 4; ++y) grid |= ((left >> (y * 2 + 1)) & 1) << ((y + 1) * 3);
    return grid | (((above >> ((rows - 1) * 2)) & 3) << 1);
  }
  for (int y = 0; y < rows; ++y) {
    int blk;
    const int n = chroma ? ChromaNeighbour(mb_addr, -1, y, blk) : LumaNeighbour(mb_addr, -1, y, blk);
    grid |= static_cast<uint32_t>(NeighbourCbf(n, CbfBlock(flag_plane, blk), intra)) << ((y + 1) * stride);
  }
  for (int x = 0; x < cols; ++x) {
    int blk;
    const int n = chroma ? ChromaNeighbour(mb_addr, x, -1, blk) : LumaNeighbour(mb_addr, x, -1, blk);
    grid |= static_cast<uint32_t>(NeighbourCbf(n, CbfBlock(flag_plane, blk), intra)) << (x + 1);
  }
  return grid;
}

// residual_luma() of one component coded like luma (luma; Cb and Cr of 4:4:4 pictures).
bool C264_Decode::ParseLumaLikeCabac(int mb_addr, MbParse& mb, int plane) {
  MbInfo& info = mbs_[mb_addr];
  const bool intra = IsIntraKind(mb.kind);
  if (mb.kind == kMbI16x16) {
    const uint64_t bit = CbfDc(plane);
    const int inc = NeighbourCbf(NeighbourMb(mb_addr, 0), bit, intra) + 2 * NeighbourCbf(NeighbourMb(mb_addr, 1), bit, intra);
    std::memset(mb.luma_dc[plane], 0, sizeof(mb.luma_dc[plane]));
    const int n = CabacResidualBlock(0, plane, inc, 16, scan4x4_, nullptr, mb.luma_dc[plane]);
    if (n < 0) return false;
    mb.luma_dc_coded[plane] = n > 0;
    if (n > 0) info.cbf |= bit;
  }
  if ((mb.cbp & 15) == 0) return true;
  const int qp = plane == 0 ? qp_ : ChromaQp(plane - 1);
  if (mb.transform_8x8) {
    const int32_t* scale8 = mb.scaled ? level_scales_.Of8x8(plane * 2 + (intra ? 0 : 1), qp) : nullptr;
    for (int b8 = 0; b8 < 4; ++b8) {
      if (!(mb.cbp & (1 << b8))) continue;
      const int x0 = (b8 & 1) * 2, y0 = (b8 >> 1) * 2;
      int cbf_inc = -1;
      if (chroma_format_ == 3) {
        // 4:4:4: the 8x8 block has a coded_block_flag of its own; a neighbouring block
        // counts only when it is an 8x8 block itself.
        auto cond8 = [&](int bx, int by) -> int {
          int blk;
          const int n = LumaNeighbour(mb_addr, bx, by, blk);
          if (n < 0) return intra ? 1 : 0;
          const MbInfo& m = mbs_[n];
          if (m.kind == kMbIPCM) return 1;
          if (IsSkipKind(m.kind) || !m.transform_8x8) return 0;
          const int nb8 = (blk >> 3) * 2 + ((blk & 3) >> 1);
          if (!((m.cbp >> nb8) & 1)) return 0;
          return (m.cbf & CbfBlock(plane, blk)) ? 1 : 0;
        };
        cbf_inc = cond8(x0 - 1, y0) + 2 * cond8(x0, y0 - 1);
      }
      const int n = CabacResidualBlock8x8(plane, cbf_inc, scan8x8_, scale8, mb.luma8x8[plane][b8]);
      if (n < 0) return false;
      // Without a flag of its own (4:2:0, 4:2:2) the block's coded_block_flag is inferred to
      // be 1 for its neighbours' contexts.
      if (cbf_inc < 0 || n > 0) info.cbf |= uint64_t{0x33} << (plane * 16 + y0 * 4 + x0);
      if (n > 0) {
        mb.luma8x8_coded[plane] |= static_cast<uint8_t>(1 << b8);
        if (plane == 0) info.nonzero |= static_cast<uint16_t>(0x33 << (y0 * 4 + x0));
      }
    }
    return true;
  }
  // 4x4 blocks: the coded_block_flag contexts from the grid of flags.
  const bool ac = mb.kind == kMbI16x16;
  const int cat = ac ? 1 : 2;
  uint8_t* const states = cabac_.States();
  const int fld = mb_field_ ? 1 : 0;
  const ResidualContexts k = {states + kCtxSignificant[fld][plane] + kSigCatOffset[cat],
                              states + kCtxLast[fld][plane] + kSigCatOffset[cat],
                              states + kCtxAbsLevel[plane] + kAbsCatOffset[cat]};
  const int32_t* scale = mb.scaled ? level_scales_.Of4x4(intra ? plane : 3 + plane, qp) : nullptr;
  unsigned present = 0;
  for (int b8 = 0; b8 < 4; ++b8)
    if (mb.cbp & (1 << b8)) present |= 15u << (b8 * 4);
  CabacRegs c(cabac_.Core());
  const auto decode = plane == 0 ? DecodeBlocks4x4<kLastDelta[0], 5> : DecodeBlocks4x4<kLastDelta[1], 5>;
  const int coded = decode(c, states + kCtxCbf[plane] + kCbfCatOffset[cat], k, ac ? 14 : 15, scan4x4_ + (ac ? 1 : 0),
                           scale, mb.luma[plane], 16, present, CbfEdges(mb_addr, plane, intra), kLumaGridBit);
  c.Save();
  if (coded < 0) return false;
  mb.luma_coded[plane] = static_cast<uint16_t>(coded);
  // The coded blocks in raster order: blocks 2, 3 and 10, 11 trade places with 4, 5 and 12, 13.
  const auto raster = static_cast<uint16_t>((coded & 0xC3C3) | ((coded & 0x0C0C) << 2) | ((coded & 0x3030) >> 2));
  info.cbf |= uint64_t{raster} << (plane * 16);
  if (plane == 0) info.nonzero |= raster;
  return true;
}

// Chroma DC and AC blocks of 4:2:0 and 4:2:2 macroblocks.
bool C264_Decode::ParseChromaCabac(int mb_addr, MbParse& mb) {
  MbInfo& info = mbs_[mb_addr];
  const bool intra = IsIntraKind(mb.kind);
  const int blocks = mb_ch_ / 4 * 2;  // 4x4 blocks per component: 4 or 8 (2 per row)
  const int cbp_chroma = mb.cbp >> 4;
  std::memset(mb.chroma_dc, 0, sizeof(mb.chroma_dc));
  if (!(cbp_chroma & 3)) return true;
  uint8_t* const states = cabac_.States();
  const int fld = mb_field_ ? 1 : 0;
  CabacRegs regs(cabac_.Core());
  const int na = NeighbourMb(mb_addr, 0), nb = NeighbourMb(mb_addr, 1);
  int inc[2];
  for (int c = 0; c < 2; ++c)
    inc[c] = NeighbourCbf(na, CbfDc(c + 1), intra) + 2 * NeighbourCbf(nb, CbfDc(c + 1), intra);
  const ResidualContexts dc = {states + kCtxSignificant[fld][0] + kSigCatOffset[3],
                               states + kCtxLast[fld][0] + kSigCatOffset[3], states + kCtxAbsLevel[0] + kAbsCatOffset[3]};
  const int dc_coded = DecodeChromaDc(regs, states + kCtxCbf[0] + kCbfCatOffset[3], dc, blocks, inc, mb.chroma_dc);
  if (dc_coded < 0) {
    regs.Save();
    return false;
  }
  for (int c = 0; c < 2; ++c) {
    mb.chroma_dc_coded[c] = (dc_coded >> c) & 1;
    if ((dc_coded >> c) & 1) info.cbf |= CbfDc(c + 1);
  }
  if (!(cbp_chroma & 2)) {
    regs.Save();
    return true;
  }
  const ResidualContexts k = {states + kCtxSignificant[fld][0] + kSigCatOffset[4],
                              states + kCtxLast[fld][0] + kSigCatOffset[4], states + kCtxAbsLevel[0] + kAbsCatOffset[4]};
  uint8_t* const cbf = states + kCtxCbf[0] + kCbfCatOffset[4];
  for (int c = 0; c < 2; ++c) {
    const int32_t* scale = mb.scaled ? level_scales_.Of4x4((intra ? 1 : 4) + c, ChromaQp(c)) : nullptr;
    const int coded = DecodeBlocks4x4<kLastDelta[0], 3>(regs, cbf, k, 14, scan4x4_ + 1, scale, mb.chroma_ac[c], blocks,
                                                        0xFF, CbfEdges(mb_addr, 3 + c, intra), kChromaGridBit);
    if (coded < 0) {
      regs.Save();
      return false;
    }
    info.cbf |= uint64_t(coded) << ((c + 1) * 16);
    mb.chroma_coded |= static_cast<uint16_t>(coded << (c * 8));
  }
  regs.Save();
  return true;
}

}  // namespace fennik
