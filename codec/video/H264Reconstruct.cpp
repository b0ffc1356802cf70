// Macroblock reconstruction: intra prediction (8.3), inter prediction with weighted sample
// prediction (8.4.2), scaling and inverse transforms (8.5).
#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "codec/video/H264DecodeInternal.h"
#include "codec/video/H264InterPred.h"
#include "codec/video/H264IntraPred.h"
#include "codec/video/H264Transform.h"
#include "codec/video/h264_tables.h"

namespace fennik {
namespace {

// LevelScale4x4(m, 0, 0) of a scaling list (zig-zag order), the factor of the DC levels.
int32_t LevelScaleDc(const uint8_t* list_zigzag, int m) { return list_zigzag[0] * kNormAdjust4x4[m][0]; }

// Scales the levels of a 4x4 block with the factors of H264LevelScales (8.5.12.1); position 0
// is skipped when it carries a DC value already scaled.
void ScaleBlock(const int32_t levels[16], const int32_t* scale, bool skip_dc, int32_t d[16]) {
  for (int k = skip_dc ? 1 : 0; k < 16; ++k) d[k] = ClampCoeff((int64_t{levels[k]} * scale[k] + 8) >> 4);
}

void ScaleBlock8x8(const int32_t levels[64], const int32_t* scale, int32_t d[64]) {
  for (int k = 0; k < 64; ++k) d[k] = ClampCoeff((int64_t{levels[k]} * scale[k] + 32) >> 6);
}

// The coefficients of a block ready for the inverse transform: the block itself when the
// parser scaled its levels, otherwise its levels scaled into d.
int32_t* Scaled4x4(int32_t* levels, bool scaled, const int32_t* scale, bool skip_dc, int32_t* d) {
  if (scaled) return levels;
  ScaleBlock(levels, scale, skip_dc, d);
  return d;
}

int32_t* Scaled8x8(int32_t* levels, bool scaled, const int32_t* scale, int32_t* d) {
  if (scaled) return levels;
  ScaleBlock8x8(levels, scale, d);
  return d;
}

}  // namespace

bool C264_Decode::MbAvailable(int mb_addr, int which) const { return NeighbourMb(mb_addr, which) >= 0; }

void C264_Decode::GatherIntraNeighbours(int mb_addr, int plane, int x, int y, int w, int h, int blk_w,
                                        IntraNeighbours& n) {
  // (x, y): block position inside the macroblock in samples of the plane; w x h: block size;
  // blk_w: width of the top-right part to fetch (0 for none).
  const int mb_w = plane == 0 ? 16 : mb_cw_, mb_h = plane == 0 ? 16 : mb_ch_;
  const bool constrained = pps_cur_->constrained_intra_pred_flag;
  if (mbaff_) {
    // Each neighbouring sample through the macroblock holding it (pairs of either coding).
    auto fetch = [&](int xn, int yn, uint8_t& v) {
      int xw, yw;
      const int nb = NeighbourLocation(mb_addr, xn, yn, mb_w, mb_h, xw, yw);
      if (nb < 0 || (nb != mb_addr && constrained && !IsIntraKind(mbs_[nb].kind))) return false;
      int st;
      v = MbPixels(plane, nb, st)[yw * st + xw];
      return true;
    };
    n.has_left = true;
    for (int i = 0; i < h && n.has_left; ++i) n.has_left = fetch(x - 1, y + i, n.left[i]);
    n.has_top = true;
    for (int i = 0; i < w && n.has_top; ++i) n.has_top = fetch(x + i, y - 1, n.top[i]);
    n.has_top_left = fetch(x - 1, y - 1, n.top_left);
    if (blk_w == 0) return;
    bool tr = true;
    if (y > 0) {
      // Inside the macroblock: the block up and to the right must already be decoded.
      tr = x + w < mb_w && kBlock4x4Index[(y / 4 - 1) * 4 + x / 4 + 1] < kBlock4x4Index[(y / 4) * 4 + x / 4];
    }
    for (int i = 0; i < blk_w && tr; ++i) tr = fetch(x + w + i, y - 1, n.top[w + i]);
    if (!tr && n.has_top) std::memset(n.top + w, n.top[w - 1], blk_w);
    return;
  }
  int stride;
  const uint8_t* at = MbPixels(plane, mb_addr, stride) + y * stride + x;  // the block's first sample
  auto usable = [&](int which) {
    const int nb = NeighbourMb(mb_addr, which);
    return nb >= 0 && (!constrained || IsIntraKind(mbs_[nb].kind));
  };
  n.has_left = x > 0 || usable(0);
  n.has_top = y > 0 || usable(1);
  if (x > 0 && y > 0) n.has_top_left = true;
  else if (x > 0) n.has_top_left = usable(1);
  else if (y > 0) n.has_top_left = usable(0);
  else n.has_top_left = usable(3);
  if (n.has_left)
    for (int i = 0; i < h; ++i) n.left[i] = at[i * stride - 1];
  if (n.has_top) std::memcpy(n.top, at - stride, w);
  if (n.has_top_left) n.top_left = at[-stride - 1];
  if (blk_w > 0) {
    bool tr;
    if (y > 0) {
      // Inside the macroblock: the block up and to the right must already be decoded.
      if (x + w >= mb_w) {
        tr = false;
      } else {
        const int cur_blk = kBlock4x4Index[(y / 4) * 4 + x / 4];
        const int tr_blk = kBlock4x4Index[(y / 4 - 1) * 4 + x / 4 + 1];
        tr = tr_blk < cur_blk;
      }
    } else {
      tr = x + w < mb_w ? usable(1) : usable(2);
    }
    if (tr) std::memcpy(n.top + w, at - stride + w, blk_w);
    else if (n.has_top) std::memset(n.top + w, n.top[w - 1], blk_w);
  }
}

void C264_Decode::ReconstructMacroblock(int mb_addr, MbParse& mb) {
  MbInfo& info = mbs_[mb_addr];
  if (mbaff_) cur_->mb_field[mb_addr] = info.field;
  info.kind = static_cast<uint8_t>(mb.kind);
  info.cbp = static_cast<uint8_t>(mb.cbp);
  for (int c = 0; c < 2; ++c) {
    const int offset = c == 0 ? pps_cur_->chroma_qp_index_offset : pps_cur_->second_chroma_qp_index_offset;
    info.qpc[c] = static_cast<int8_t>(kChromaQp[std::clamp(info.qp + offset, 0, 51)]);
  }
  if (IsIntraKind(mb.kind)) {
    mb_intra_[mb_addr] = 1;
    for (int list = 0; list < 2; ++list) StoreMotion(mb_addr, list, 0, 0, 4, 4, -1, H264Mv());
    if (mb.kind == kMbIPCM) {
      int ls, cs;
      uint8_t* luma = MbPixels(0, mb_addr, ls);
      for (int y = 0; y < 16; ++y) std::memcpy(luma + y * ls, mb.pcm + y * 16, 16);
      const uint8_t* src = mb.pcm + 256;
      for (int c = 0; c < 2 && mb_cw_ > 0; ++c) {
        uint8_t* dst = MbPixels(c + 1, mb_addr, cs);
        for (int y = 0; y < mb_ch_; ++y, src += mb_cw_) std::memcpy(dst + y * cs, src, mb_cw_);
      }
      std::memset(info.total_coeff, 16, sizeof(info.total_coeff));
      info.cbf = kCbfAll;
      info.nonzero = 0xFFFF;
      return;
    }
    PredictIntraMb(mb_addr, mb);
    return;
  }
  mb_intra_[mb_addr] = 0;
  PredictInterMb(mb_addr);
  AddResidual(mb_addr, mb);
}

void C264_Decode::PredictIntraMb(int mb_addr, MbParse& mb) {
  for (int plane = 0; plane < luma_planes_; ++plane) PredictIntraPlane(mb_addr, mb, plane);
  if (chroma_format_ != 1 && chroma_format_ != 2) return;
  // Chroma prediction, then the chroma residual shared with inter macroblocks.
  int cs;
  IntraNeighbours n;
  for (int c = 0; c < 2; ++c) {
    GatherIntraNeighbours(mb_addr, c + 1, 0, 0, 8, mb_ch_, 0, n);
    uint8_t* dst = MbPixels(c + 1, mb_addr, cs);
    PredictIntraChroma(dst, cs, mb.chroma_mode, n, mb_ch_);
  }
  AddChromaResidual(mb_addr, mb);
}

// Intra prediction and residual of one component coded like luma (luma; Cb and Cr of 4:4:4
// pictures, predicted with the luma modes from their own samples).
void C264_Decode::PredictIntraPlane(int mb_addr, MbParse& mb, int plane) {
  int ls;
  uint8_t* luma = MbPixels(plane, mb_addr, ls);
  const MbInfo& info = mbs_[mb_addr];
  const int qp = plane == 0 ? qp_ : info.qpc[plane - 1];
  const bool bypass = bypass_allowed_ && qp_ == 0;
  const uint8_t* list_y = pps_cur_->scaling_4x4[plane];
  const int32_t* scale = level_scales_.Of4x4(plane, qp);
  // Lossless blocks predicted vertically (mode 0) or horizontally (mode 1) accumulate their
  // residual in that direction.
  auto bypass_dir = [](int mode) { return mode < 2 ? mode : -1; };
  IntraNeighbours n;
  if (mb.kind == kMbI4x4 && mb.transform_8x8) {
    const int32_t* scale8 = level_scales_.Of8x8(plane * 2, qp);
    for (int b8 = 0; b8 < 4; ++b8) {
      const int x = (b8 & 1) * 8, y = (b8 >> 1) * 8;
      GatherIntraNeighbours(mb_addr, plane, x, y, 8, 8, 8, n);
      uint8_t* dst = luma + y * ls + x;
      const int mode = info.intra_modes[(y / 4) * 4 + x / 4];
      PredictIntra8x8(dst, ls, mode, n);
      if (!(mb.luma8x8_coded[plane] & (1 << b8))) continue;
      if (bypass) {
        AddBypassResidual(dst, ls, mb.luma8x8[plane][b8], 8, 8, bypass_dir(mode));
      } else {
        int32_t d[64];
        InverseTransform8x8Add(dst, ls, Scaled8x8(mb.luma8x8[plane][b8], mb.scaled, scale8, d));
      }
    }
  } else if (mb.kind == kMbI4x4) {
    for (int blk = 0; blk < 16; ++blk) {
      const int bx = kBlock4x4X[blk], by = kBlock4x4Y[blk];
      GatherIntraNeighbours(mb_addr, plane, bx * 4, by * 4, 4, 4, 4, n);
      uint8_t* dst = luma + by * 4 * ls + bx * 4;
      const int mode = info.intra_modes[by * 4 + bx];
      PredictIntra4x4(dst, ls, mode, n);
      if (!(mb.luma_coded[plane] & (1 << blk))) continue;
      if (bypass) {
        AddBypassResidual(dst, ls, mb.luma[plane][blk], 4, 4, bypass_dir(mode));
      } else {
        int32_t d[16];
        InverseTransform4x4Add(dst, ls, Scaled4x4(mb.luma[plane][blk], mb.scaled, scale, false, d));
      }
    }
  } else {
    GatherIntraNeighbours(mb_addr, plane, 0, 0, 16, 16, 0, n);
    PredictIntra16x16(luma, ls, mb.i16_mode, n);
    if (bypass) {
      // The DC levels are the blocks' first samples as they are.
      int32_t r[256];
      for (int blk = 0; blk < 16; ++blk) {
        const int bx = kBlock4x4X[blk], by = kBlock4x4Y[blk];
        const bool coded = (mb.luma_coded[plane] >> blk) & 1;  // uncoded blocks hold stale levels
        for (int k = 0; k < 16; ++k)
          r[(by * 4 + k / 4) * 16 + bx * 4 + k % 4] =
              k == 0 ? mb.luma_dc[plane][by * 4 + bx] : (coded ? mb.luma[plane][blk][k] : 0);
      }
      AddBypassResidual(luma, ls, r, 16, 16, bypass_dir(mb.i16_mode));
      return;
    }
    // Luma DC: inverse Hadamard then scaling (8.5.10).
    int32_t dc[16];
    std::memcpy(dc, mb.luma_dc[plane], sizeof(dc));
    InverseHadamard4x4(dc);
    const int64_t dc_scale = int64_t{LevelScaleDc(list_y, qp % 6)} << (qp / 6);
    for (int k = 0; k < 16; ++k) dc[k] = ClampCoeff((dc[k] * dc_scale + 32) >> 6);
    for (int blk = 0; blk < 16; ++blk) {
      const int bx = kBlock4x4X[blk], by = kBlock4x4Y[blk];
      uint8_t* dst = luma + by * 4 * ls + bx * 4;
      const int32_t dcv = dc[by * 4 + bx];
      if (mb.luma_coded[plane] & (1 << blk)) {
        int32_t d[16];
        int32_t* coeffs = Scaled4x4(mb.luma[plane][blk], mb.scaled, scale, true, d);
        coeffs[0] = dcv;
        InverseTransform4x4Add(dst, ls, coeffs);
      } else if (dcv != 0) {
        InverseTransformDcAdd(dst, ls, dcv);
      }
    }
  }
}

void C264_Decode::AddResidual(int mb_addr, MbParse& mb) {
  if (mb.cbp == 0) return;  // skipped or without coded blocks: nothing to add
  for (int plane = 0; plane < luma_planes_; ++plane) AddLumaLikeResidual(mb_addr, mb, plane);
  if (chroma_format_ == 1 || chroma_format_ == 2) AddChromaResidual(mb_addr, mb);
}

// Residual of an inter macroblock's component coded like luma.
void C264_Decode::AddLumaLikeResidual(int mb_addr, MbParse& mb, int plane) {
  if (!mb.luma8x8_coded[plane] && !mb.luma_coded[plane]) return;
  int ls;
  uint8_t* luma = MbPixels(plane, mb_addr, ls);
  const int qp = plane == 0 ? qp_ : mbs_[mb_addr].qpc[plane - 1];
  const bool bypass = bypass_allowed_ && qp_ == 0;
  for (int b8 = 0; b8 < 4; ++b8) {
    if (!(mb.luma8x8_coded[plane] & (1 << b8))) continue;
    uint8_t* dst = luma + (b8 >> 1) * 8 * ls + (b8 & 1) * 8;
    if (bypass) {
      AddBypassResidual(dst, ls, mb.luma8x8[plane][b8], 8, 8, -1);
      continue;
    }
    int32_t d[64];
    InverseTransform8x8Add(dst, ls, Scaled8x8(mb.luma8x8[plane][b8], mb.scaled, level_scales_.Of8x8(plane * 2 + 1, qp), d));
  }
  const int32_t* scale = level_scales_.Of4x4(3 + plane, qp);
  for (unsigned left = mb.luma_coded[plane]; left != 0; left &= left - 1) {
    const int blk = std::countr_zero(left);
    uint8_t* dst = luma + kBlock4x4Y[blk] * 4 * ls + kBlock4x4X[blk] * 4;
    if (bypass) {
      AddBypassResidual(dst, ls, mb.luma[plane][blk], 4, 4, -1);
      continue;
    }
    int32_t d[16];
    InverseTransform4x4Add(dst, ls, Scaled4x4(mb.luma[plane][blk], mb.scaled, scale, false, d));
  }
}

// Chroma residual of 4:2:0 and 4:2:2 macroblocks: DC transform (2x2 or 2x4) and the 4x4 AC
// blocks.
void C264_Decode::AddChromaResidual(int mb_addr, MbParse& mb) {
  if ((mb.cbp >> 4) == 0) return;
  // Raster position in the 2x4 DC array of each 4:2:2 DC level in parse order (8.5.11.1).
  static const uint8_t kDc422Pos[8] = {0, 2, 1, 4, 6, 3, 5, 7};
  const MbInfo& info = mbs_[mb_addr];
  const bool intra = IsIntraKind(mb.kind);
  const bool bypass = bypass_allowed_ && qp_ == 0;
  const int blocks = mb_ch_ / 4 * 2;
  for (int c = 0; c < 2; ++c) {
    const int qpc = info.qpc[c];
    const int list_idx = (intra ? 1 : 4) + c;
    const uint8_t* list = pps_cur_->scaling_4x4[list_idx];
    int32_t dc[8];
    if (blocks == 4) {
      std::memcpy(dc, mb.chroma_dc[c], 4 * sizeof(int32_t));
      if (!bypass) {
        InverseHadamard2x2(dc);
        const int64_t dc_scale = int64_t{LevelScaleDc(list, qpc % 6)} << (qpc / 6);
        for (int k = 0; k < 4; ++k) dc[k] = ClampCoeff((dc[k] * dc_scale) >> 5);
      }
    } else {
      for (int k = 0; k < 8; ++k) dc[kDc422Pos[k]] = mb.chroma_dc[c][k];
      if (!bypass) {
        InverseHadamard2x4(dc);
        const int qp_dc = qpc + 3;  // QP'c,DC of 4:2:2
        const int32_t dc_scale = LevelScaleDc(list, qp_dc % 6);
        for (int k = 0; k < 8; ++k) {
          const int64_t v = int64_t{dc[k]} * dc_scale;
          dc[k] = ClampCoeff(qp_dc >= 36 ? v * (int64_t{1} << (qp_dc / 6 - 6))
                                         : (v + (int64_t{1} << (5 - qp_dc / 6))) >> (6 - qp_dc / 6));
        }
      }
    }
    int cs;
    uint8_t* base = MbPixels(c + 1, mb_addr, cs);
    if (bypass) {
      int32_t r[8 * 16];
      for (int blk = 0; blk < blocks; ++blk) {
        const bool coded = (mb.chroma_coded >> (c * 8 + blk)) & 1;
        for (int k = 0; k < 16; ++k)
          r[((blk >> 1) * 4 + k / 4) * 8 + (blk & 1) * 4 + k % 4] =
              k == 0 ? dc[blk] : (coded ? mb.chroma_ac[c][blk][k] : 0);
      }
      // Horizontal (1) and vertical (2) chroma prediction accumulate the residual.
      const int dir = !intra ? -1 : (mb.chroma_mode == 1 ? 1 : (mb.chroma_mode == 2 ? 0 : -1));
      AddBypassResidual(base, cs, r, 8, mb_ch_, dir);
      continue;
    }
    const int32_t* scale = level_scales_.Of4x4(list_idx, qpc);
    for (int blk = 0; blk < blocks; ++blk) {
      uint8_t* dst = base + (blk >> 1) * 4 * cs + (blk & 1) * 4;
      if (mb.chroma_coded & (1 << (c * 8 + blk))) {
        int32_t d[16];
        int32_t* coeffs = Scaled4x4(mb.chroma_ac[c][blk], mb.scaled, scale, true, d);
        coeffs[0] = dc[blk];
        InverseTransform4x4Add(dst, cs, coeffs);
      } else if (dc[blk] != 0) {
        InverseTransformDcAdd(dst, cs, dc[blk]);
      }
    }
  }
}

// An inter macroblock being predicted: where its samples go and how it reads its references
// (a field macroblock of an MBAFF frame predicts from fields, at its position in its field).
struct C264_Decode::InterMb {  // every member is set by PredictInterMb
  int mb_addr;
  int base4;    // first 4x4 block in the motion data
  int stride4;  // 4x4 blocks per row
  bool field_mb;
  int own_parity;  // 1 top, 2 bottom field (macroblock or picture); 0 frame
  int kind;        // of its reference entries: 0 frame (or field picture), 1 top, 2 bottom field macroblock
  int mb_x, mb_y;
  uint8_t* dst[3];  // first sample per plane (null chroma for monochrome pictures)
  int ls, cs;       // luma and chroma row steps
  int pic_w, pic_h;
  int cshift_x, cshift_y;          // a chroma position or size is the luma one shifted right by these
  RefPlane luma_plane, chroma_plane;  // the reference planes' row steps and sizes
};

// One block of an inter macroblock: its luma and chroma position and size in samples, where
// its prediction goes, and, when two predictions are combined, where each list's is: in the
// reference picture itself for a full-sample block inside it (borrowed), else in pred
// (16-sample rows). A single prediction goes straight into the picture.
struct C264_Decode::InterBlock {
  int idx;  // 4x4 block in the motion data
  int px, py, w, h;
  int cpx, cpy, cw, ch;
  uint8_t* dst[3];
  PredBlock src[2][3];
  uint8_t pred[2][3][256];  // per list: Y, Cb, Cr
};

namespace {

// Whether the N x N 4x4 blocks from i0 (rows stride4 apart) share one motion in both lists:
// a list's ref_idx equal everywhere and, where it is used, its vectors too. Compares whole rows as machine words.
template <int N>
bool UniformMotion(int8_t* const ref_idx[2], H264Mv* const mv[2], int i0, int stride4) {
  using RefRow = std::conditional_t<N == 4, uint32_t, uint16_t>;
  static_assert(sizeof(H264Mv) == 4 && N % 2 == 0);
  for (int l = 0; l < 2; ++l) {
    const int8_t* r = ref_idx[l] + i0;
    RefRow first;
    std::memcpy(&first, r, N);
    if (first != static_cast<RefRow>(static_cast<uint8_t>(r[0]) * (static_cast<RefRow>(~RefRow{0}) / 0xFF)))
      return false;  // the first row's indices differ
#pragma GCC unroll 4
    for (int j = 1; j < N; ++j) {
      RefRow row;
      std::memcpy(&row, r + j * stride4, N);
      if (row != first) return false;
    }
    if (r[0] < 0) continue;
    uint32_t v0;
    std::memcpy(&v0, mv[l] + i0, 4);
    const uint64_t two = v0 * 0x100000001ull;  // two equal vectors
    uint64_t diff = 0;
#pragma GCC unroll 4
    for (int j = 0; j < N; ++j) {
#pragma GCC unroll 2
      for (int k = 0; k < N; k += 2) {
        uint64_t pair;
        std::memcpy(&pair, mv[l] + i0 + j * stride4 + k, 8);
        diff |= pair ^ two;
      }
    }
    if (diff != 0) return false;
  }
  return true;
}

// Whether the first 4x4 blocks of the four 8x8 blocks from i0 share one motion, as
// UniformMotion.
bool SameQuadrantMotion(int8_t* const ref_idx[2], H264Mv* const mv[2], int i0, int stride4) {
  const int right = 2, down = 2 * stride4, across = down + 2;
  for (int l = 0; l < 2; ++l) {
    const int8_t* r = ref_idx[l] + i0;
    if (r[right] != r[0] || r[down] != r[0] || r[across] != r[0]) return false;
    if (r[0] < 0) continue;
    uint32_t v[4];
    const H264Mv* p = mv[l] + i0;
    std::memcpy(&v[0], p, 4);
    std::memcpy(&v[1], p + right, 4);
    std::memcpy(&v[2], p + down, 4);
    std::memcpy(&v[3], p + across, 4);
    if (((v[1] ^ v[0]) | (v[2] ^ v[0]) | (v[3] ^ v[0])) != 0) return false;
  }
  return true;
}

// Fills a w x h block with the value 128 (the prediction from a missing reference).
void FillMissing(uint8_t* dst, int stride, int w, int h) {
  for (int j = 0; j < h; ++j) std::memset(dst + j * stride, 128, static_cast<size_t>(w));
}

}  // namespace

void C264_Decode::PredictInterMb(int mb_addr) {
  InterMb m;
  m.mb_addr = mb_addr;
  m.stride4 = mb_width_ * 4;
  m.base4 = BlockBase(mb_addr);
  m.field_mb = FieldMb(mb_addr);
  m.own_parity = m.field_mb ? ((mb_addr & 1) ? 2 : 1) : field_;
  m.kind = m.field_mb ? m.own_parity : 0;
  m.mb_x = MbX(mb_addr);
  m.mb_y = m.field_mb ? MbY(mb_addr) >> 1 : MbY(mb_addr);
  m.dst[0] = MbPixels(0, mb_addr, m.ls);
  m.dst[1] = chroma_format_ ? MbPixels(1, mb_addr, m.cs) : nullptr;
  // Cr lies where Cb does in its plane.
  m.dst[2] = chroma_format_ ? m.dst[1] + (cur_->frame.Cr() - cur_->frame.Cb()) : nullptr;
  if (!chroma_format_) m.cs = PlaneStride(1);
  m.pic_w = mb_width_ * 16;
  m.pic_h = mb_height_ * 16 >> (m.field_mb ? 1 : 0);
  m.cshift_x = mb_cw_ == 8 ? 1 : 0;
  m.cshift_y = mb_ch_ == 8 ? 1 : 0;
  m.luma_plane = {nullptr, m.ls, m.pic_w, m.pic_h};
  m.chroma_plane = {nullptr, m.cs, m.pic_w >> m.cshift_x, m.pic_h >> m.cshift_y};
  // Predict the largest blocks of uniform motion: the whole macroblock, its two partitions,
  // 8x8 or 4x4 blocks. Direct macroblocks derive one motion per 8x8 block when the sequence
  // infers direct motion by 8x8 blocks: their four first 4x4 blocks tell.
  const int base4 = m.base4, stride4 = m.stride4, type = mbs_[mb_addr].kind;
  const bool direct8x8 = (type == kMbBSkip || type == kMbBDirect) && cur_sps_.direct_8x8_inference_flag;
  PrefetchReference(m, 0);
  const bool whole = type == kMbPSkip || type == kMbP16x16 || type == kMbB16x16 ||
                     (direct8x8 ? SameQuadrantMotion(ref_idx_, mv_, base4, stride4)
                                : UniformMotion<4>(ref_idx_, mv_, base4, stride4));
  if (whole) {
    PredictInterBlock(m, 0, 0, 4, 4);
  } else if (type == kMbP16x8 || type == kMbB16x8) {
    PredictInterBlock(m, 0, 0, 4, 2);
    PredictInterBlock(m, 0, 2, 4, 2);
  } else if (type == kMbP8x16 || type == kMbB8x16) {
    PredictInterBlock(m, 0, 0, 2, 4);
    PredictInterBlock(m, 2, 0, 2, 4);
  } else {
    for (int s = 0; s < 4; ++s) {
      const int sx = (s & 1) * 2, sy = (s >> 1) * 2;
      if (direct8x8 || UniformMotion<2>(ref_idx_, mv_, base4 + sy * stride4 + sx, stride4)) {
        PredictInterBlock(m, sx, sy, 2, 2);
      } else {
        for (int k = 0; k < 4; ++k) PredictInterBlock(m, sx + (k & 1), sy + (k >> 1), 1, 1);
      }
    }
  }
  PrefetchReference(m, 1);
}

void C264_Decode::FillInterRefs() {
  for (int l = 0; l < 2; ++l) {
    for (int kind = 0; kind < 3; ++kind) {
      // Field macroblocks count each frame of the list as two fields, their own parity first.
      const int count = refs_.count[l] * (kind ? 2 : 1), own = kind ? kind : field_;
      for (int r = 0; r < 2 * kMaxRefIdx; ++r) {
        InterRef& e = inter_ref_[l][kind][r];
        e = InterRef();
        if (r >= count) continue;
        e.weighted = !DefaultWeights(l, kind ? r >> 1 : r);
        const H264Picture* pic = refs_.pic[l][kind ? r >> 1 : r];
        const int parity = kind == 0 ? refs_.parity[l][r] : ((r & 1) ? 3 - kind : kind);
        if (pic == nullptr || !pic->frame.IsAllocated()) continue;
        const bool bottom = parity == 2;  // a field is every other row of its frame
        e.plane[0] = pic->frame.Y() + (bottom ? FrameStride(0) : 0);
        if (chroma_format_ == 0) continue;
        const int first_row = bottom ? FrameStride(1) : 0;
        e.plane[1] = pic->frame.Cb() + first_row;
        e.plane[2] = pic->frame.Cr() + first_row;
        // 4:2:0 fields: a vector into the field of the other parity points a quarter chroma
        // sample further up (bottom reference of a top field) or down (top of a bottom field).
        e.chroma_dy = chroma_format_ == 1 && own != 0 && parity != own ? (bottom ? -2 : 2) : 0;
      }
    }
  }
}

bool C264_Decode::DefaultWeights(int l, int r) const {
  const H264PredWeights& wt = sh_.weights;
  if (wt.luma_weight[l][r] != 1 << wt.luma_log2_weight_denom || wt.luma_offset[l][r] != 0) return false;
  if (chroma_format_ == 0) return true;
  for (int c = 0; c < 2; ++c)
    if (wt.chroma_weight[l][r][c] != 1 << wt.chroma_log2_weight_denom || wt.chroma_offset[l][r][c] != 0) return false;
  return true;
}

const C264_Decode::InterRef& C264_Decode::InterRefOf(const InterMb& m, int l, int r) const {
  static const InterRef kMissing;
  return r < 2 * kMaxRefIdx ? inter_ref_[l][m.kind][r] : kMissing;
}

// Reading reference samples is mostly waiting for memory. Neighbouring macroblocks tend to
// move alike, so the samples a few macroblocks to the right, displaced by this macroblock's
// first vector, are requested ahead: four luma rows and two rows of each chroma plane per
// macroblock, a different four rows for each of four macroblocks in a row, which together
// cover the next macroblocks' sample rows. Always inlined: out of line, the compiler finds
// the function without effect (prefetches do not count) and drops its calls.
[[gnu::always_inline]] inline void C264_Decode::PrefetchReference(const InterMb& m, int l) {
  const int r = ref_idx_[l][m.base4];
  if (r < 0) return;
  const InterRef& ref = InterRefOf(m, l, r);
  if (ref.plane[0] == nullptr) return;
  const H264Mv mv = mv_[l][m.base4];
  const int rows = (m.mb_x & 3) * 4;
  const int x = std::clamp(m.mb_x * 16 + (mv.x >> 2) + 64, 0, m.pic_w - 1);
  const int y = std::clamp(m.mb_y * 16 + (mv.y >> 2) + rows, 0, m.pic_h - 4);
  const uint8_t* luma = ref.plane[0] + y * m.ls + x;
  __builtin_prefetch(luma);
  __builtin_prefetch(luma + m.ls);
  __builtin_prefetch(luma + 2 * m.ls);
  __builtin_prefetch(luma + 3 * m.ls);
  if (chroma_format_ != 1) return;
  const int offset = (y >> 1) * m.cs + (x >> 1);  // y <= pic_h - 4: two chroma rows inside
  __builtin_prefetch(ref.plane[1] + offset);
  __builtin_prefetch(ref.plane[2] + offset);
  __builtin_prefetch(ref.plane[1] + offset + m.cs);
  __builtin_prefetch(ref.plane[2] + offset + m.cs);
}

void C264_Decode::PredictInterBlock(const InterMb& m, int bx, int by, int bw, int bh) {  // in 4x4 units
  const int idx = m.base4 + by * m.stride4 + bx;
  const int refs[2] = {ref_idx_[0][idx], ref_idx_[1][idx]};
  if (refs[0] < 0 && refs[1] < 0) return;
  InterBlock b;  // the prediction buffers are written before they are read
  b.idx = idx;
  b.px = m.mb_x * 16 + bx * 4;
  b.py = m.mb_y * 16 + by * 4;
  b.w = bw * 4;
  b.h = bh * 4;
  // Chroma block position and size (unused in monochrome pictures).
  b.cpx = b.px >> m.cshift_x;
  b.cpy = b.py >> m.cshift_y;
  b.cw = b.w >> m.cshift_x;
  b.ch = b.h >> m.cshift_y;
  b.dst[0] = m.dst[0] + by * 4 * m.ls + bx * 4;
  b.dst[1] = b.dst[2] = nullptr;
  if (chroma_format_) {
    const int offset = (by * 4 >> m.cshift_y) * m.cs + (bx * 4 >> m.cshift_x);
    b.dst[1] = m.dst[1] + offset;
    b.dst[2] = m.dst[2] + offset;
  }
  const bool bi = refs[0] >= 0 && refs[1] >= 0;
  const int l = refs[0] >= 0 ? 0 : 1;  // the list of a single prediction
  if (chroma_format_ == 1 && WholeSampleSources(m, refs, b)) {
    if (bi) return WriteBiPrediction(m, refs, b);
    CopyBlock(b.dst[0], m.ls, b.src[l][0].data, m.ls, b.w, b.h);
    CopyBlock(b.dst[1], m.cs, b.src[l][1].data, m.cs, b.cw, b.ch);
    CopyBlock(b.dst[2], m.cs, b.src[l][2].data, m.cs, b.cw, b.ch);
  } else if (bi) {
    PredictFromList<true>(m, 0, refs[0], b);
    PredictFromList<true>(m, 1, refs[1], b);
    return WriteBiPrediction(m, refs, b);
  } else {
    PredictFromList<false>(m, l, refs[l], b);
  }
  if (weight_mode_ == 1 && InterRefOf(m, l, refs[l]).weighted) WriteUniPrediction(m, l, refs[l], b);
}

// Most blocks of 4:2:0 pictures move by whole chroma samples (vectors of multiples of two
// luma samples) inside their references: their predictions need no interpolation and are
// read where they lie. Sets the block's sources of each list used, or returns false for any
// other block.
inline bool C264_Decode::WholeSampleSources(const InterMb& m, const int refs[2], InterBlock& b) const {
  for (int l = 0; l < 2; ++l) {
    if (refs[l] < 0) continue;
    const InterRef& ref = InterRefOf(m, l, refs[l]);
    const H264Mv mv = mv_[l][b.idx];
    if (((mv.x | mv.y) & 7) != 0 || ref.chroma_dy != 0 || ref.plane[0] == nullptr) return false;
    const int x = b.px + (mv.x >> 2), y = b.py + (mv.y >> 2);
    if (!InsidePlane(m.luma_plane, x, y, b.w, b.h)) return false;  // then the chroma block is inside too
    const int chroma = (y >> 1) * m.cs + (x >> 1);
    b.src[l][0] = {ref.plane[0] + y * m.ls + x, m.ls};
    b.src[l][1] = {ref.plane[1] + chroma, m.cs};
    b.src[l][2] = {ref.plane[2] + chroma, m.cs};
  }
  return true;
}

// One list's prediction of a block: a single one (kBi false) straight into the picture, one
// of two into the block's buffers or, for full samples inside the reference, borrowed.
template <bool kBi>
void C264_Decode::PredictFromList(const InterMb& m, int l, int r, InterBlock& b) {
  const InterRef& ref = InterRefOf(m, l, r);
  uint8_t* out[3];
  for (int p = 0; p < 3; ++p) out[p] = kBi ? b.pred[l][p] : b.dst[p];
  const int ols = kBi ? 16 : m.ls, ocs = kBi ? 16 : m.cs;
  PredBlock* src = b.src[l];
  const bool chroma = chroma_format_ != 0;
  if (ref.plane[0] == nullptr) {
    FillMissing(out[0], ols, b.w, b.h);
    if (chroma) {
      FillMissing(out[1], ocs, b.cw, b.ch);
      FillMissing(out[2], ocs, b.cw, b.ch);
    }
    for (int p = 0; p < 3; ++p) src[p] = {out[p], p == 0 ? ols : ocs};
    return;
  }
  const H264Mv mv = mv_[l][b.idx];
  const int qx = b.px + (mv.x >> 2), qy = b.py + (mv.y >> 2), fx = mv.x & 3, fy = mv.y & 3;
  RefPlane plane = m.luma_plane;
  plane.data = ref.plane[0];
  src[0] = PredictLumaOrBorrow(out[0], ols, plane, qx, qy, fx, fy, b.w, b.h, kBi);
  if (!chroma) return;
  plane = m.chroma_plane;
  if (chroma_format_ == 3) {  // 4:4:4: chroma interpolated as luma
    for (int p = 1; p < 3; ++p) {
      plane.data = ref.plane[p];
      src[p] = PredictLumaOrBorrow(out[p], ocs, plane, qx, qy, fx, fy, b.w, b.h, kBi);
    }
    return;
  }
  // Eighth-sample chroma vectors: 4:2:0 halves both components, 4:2:2 only the
  // horizontal one (the vertical quarter-sample vector is given in eighths).
  const int mvcy = mv.y + ref.chroma_dy;
  const int cx = b.cpx + (mv.x >> 3), cfx = mv.x & 7;
  const int cy = chroma_format_ == 1 ? b.cpy + (mvcy >> 3) : b.cpy + (mv.y >> 2);
  const int cfy = chroma_format_ == 1 ? mvcy & 7 : (mv.y & 3) << 1;
  plane.data = ref.plane[1];
  RefPlane cr = plane;
  cr.data = ref.plane[2];
  PredictChromaPairOrBorrow(out[1], out[2], ocs, plane, cr, cx, cy, cfx, cfy, b.cw, b.ch, kBi, &src[1]);
}

inline int C264_Decode::ImplicitBiWeight(const InterMb& m, const int refs[2]) const {
  // Field macroblocks of MBAFF frames: implicit weights from the order counts of the fields.
  if (!m.field_mb) return implicit_w_[refs[0]][refs[1]];
  int p0, p1;
  const H264Picture* r0 = RefOf(m.mb_addr, 0, refs[0], p0);
  const H264Picture* r1 = RefOf(m.mb_addr, 1, refs[1], p1);
  auto fpoc = [](const H264Picture* p, int parity) { return parity == 1 ? p->poc_top : p->poc_bottom; };
  const int32_t cur = m.own_parity == 1 ? cur_poc_.top : cur_poc_.bottom;
  if (r0 != nullptr && r1 != nullptr && !r0->long_ref && !r1->long_ref)
    return ImplicitWeight(cur, fpoc(r0, p0), fpoc(r1, p1));
  return 32;
}

void C264_Decode::WriteBiPrediction(const InterMb& m, const int refs[2], InterBlock& b) {
  const int planes = chroma_format_ != 0 ? 3 : 1;
  int implicit = 32;
  if (weight_mode_ == 0 || (weight_mode_ == 2 && (implicit = ImplicitBiWeight(m, refs)) == 32)) {
    // The default average, also of equal implicit weights.
    AverageBlocks(b.dst[0], m.ls, b.src[0][0], b.src[1][0], b.w, b.h);
    if (planes == 1) return;
    AverageBlocks(b.dst[1], m.cs, b.src[0][1], b.src[1][1], b.cw, b.ch);
    AverageBlocks(b.dst[2], m.cs, b.src[0][2], b.src[1][2], b.cw, b.ch);
    return;
  }
  // Field macroblocks of MBAFF frames take explicit weights by the frame's index.
  const int r0 = m.field_mb ? refs[0] >> 1 : refs[0], r1 = m.field_mb ? refs[1] >> 1 : refs[1];
  const H264PredWeights& wt = sh_.weights;
  for (int p = 0; p < planes; ++p) {
    const int w = p ? b.cw : b.w, h = p ? b.ch : b.h;
    // The weighting reads both predictions with one row step: of a borrowed and a computed
    // one, the borrowed is copied beside the other.
    PredBlock s[2] = {b.src[0][p], b.src[1][p]};
    if (s[0].stride != s[1].stride) {
      const int l = s[0].data == b.pred[0][p] ? 1 : 0;
      CopyBlock(b.pred[l][p], 16, s[l].data, s[l].stride, w, h);
      s[l] = {b.pred[l][p], 16};
    }
    uint8_t* dst = b.dst[p];
    const int ds = p ? m.cs : m.ls;
    if (weight_mode_ == 2) {
      WeightBlocksBi(dst, ds, s[0].data, s[1].data, s[0].stride, w, h, 5, 64 - implicit, implicit, 0, 0);
    } else if (p == 0) {
      WeightBlocksBi(dst, ds, s[0].data, s[1].data, s[0].stride, w, h, static_cast<int>(wt.luma_log2_weight_denom),
                     wt.luma_weight[0][r0], wt.luma_weight[1][r1], wt.luma_offset[0][r0], wt.luma_offset[1][r1]);
    } else {
      WeightBlocksBi(dst, ds, s[0].data, s[1].data, s[0].stride, w, h, static_cast<int>(wt.chroma_log2_weight_denom),
                     wt.chroma_weight[0][r0][p - 1], wt.chroma_weight[1][r1][p - 1], wt.chroma_offset[0][r0][p - 1],
                     wt.chroma_offset[1][r1][p - 1]);
    }
  }
}

void C264_Decode::WriteUniPrediction(const InterMb& m, int l, int ref_idx, InterBlock& b) {
  // The prediction is in the picture already; explicit weights apply in place.
  if (weight_mode_ != 1) return;
  const int r = m.field_mb ? ref_idx >> 1 : ref_idx;
  const H264PredWeights& wt = sh_.weights;
  WeightBlock(b.dst[0], m.ls, b.w, b.h, static_cast<int>(wt.luma_log2_weight_denom), wt.luma_weight[l][r],
              wt.luma_offset[l][r]);
  if (chroma_format_ == 0) return;
  const int cd = static_cast<int>(wt.chroma_log2_weight_denom);
  WeightBlock(b.dst[1], m.cs, b.cw, b.ch, cd, wt.chroma_weight[l][r][0], wt.chroma_offset[l][r][0]);
  WeightBlock(b.dst[2], m.cs, b.cw, b.ch, cd, wt.chroma_weight[l][r][1], wt.chroma_offset[l][r][1]);
}

}  // namespace fennik
