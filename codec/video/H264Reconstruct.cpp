// Macroblock reconstruction: intra prediction (8.3), inter prediction with weighted sample
// prediction (8.4.2), scaling and inverse transforms (8.5), and the picture's deblocking
// filter pass (8.7).
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "codec/video/H264Deblock.h"
#include "codec/video/H264DecodeInternal.h"
#include "codec/video/H264InterPred.h"
#include "codec/video/H264IntraPred.h"
#include "codec/video/H264Transform.h"
#include "codec/video/h264_tables.h"

namespace fennik {
namespace {

// LevelScale4x4(m, i, j) = weightScale4x4(i, j) * normAdjust4x4(m, i, j) (8.5.9), from a
// scaling list in zig-zag order, as a raster 4x4 table.
void LevelScale(const uint8_t* list_zigzag, int m, int32_t out[16]) {
  for (int k = 0; k < 16; ++k) {
    const int pos = kZigzag4x4[k];
    const int i = pos >> 2, j = pos & 3;
    const int cls = ((i & 1) == 0 && (j & 1) == 0) ? 0 : (((i & 1) == 1 && (j & 1) == 1) ? 1 : 2);
    out[pos] = list_zigzag[k] * kNormAdjust4x4[m][cls];
  }
}

// Scaled coefficients of a conforming stream lie in -2^15 .. 2^15 - 1 (8.5.12.1); damaged
// streams are held to that range so that the transforms cannot overflow.
inline int32_t ClampCoeff(int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, -32768, 32767)); }

// Scales the levels of a 4x4 block (8.5.12.1); position 0 is skipped when it carries a DC
// value already scaled.
void ScaleBlock(const int32_t levels[16], int qp, const uint8_t* list, bool skip_dc, int32_t d[16]) {
  int32_t ls[16];
  LevelScale(list, qp % 6, ls);
  const int shift = qp / 6;
  for (int k = skip_dc ? 1 : 0; k < 16; ++k) {
    d[k] = ClampCoeff((static_cast<int64_t>(levels[k]) * (static_cast<int64_t>(ls[k]) << shift) + 8) >> 4);
  }
}

// Scales the levels of an 8x8 block (8.5.12.1 with LevelScale8x8).
void ScaleBlock8x8(const int32_t levels[64], int qp, const uint8_t* list_zigzag, int32_t d[64]) {
  const int m = qp % 6, shift = qp / 6;
  for (int k = 0; k < 64; ++k) {
    const int pos = kZigzag8x8[k];
    if (levels[pos] == 0) {
      d[pos] = 0;
      continue;
    }
    const int i = pos >> 3, j = pos & 7;
    int cls;
    if ((i & 3) == 0 && (j & 3) == 0) cls = 0;
    else if ((i & 1) == 1 && (j & 1) == 1) cls = 1;
    else if ((i & 3) == 2 && (j & 3) == 2) cls = 2;
    else if (((i & 3) == 0 && (j & 1) == 1) || ((i & 1) == 1 && (j & 3) == 0)) cls = 3;
    else if (((i & 3) == 0 && (j & 3) == 2) || ((i & 3) == 2 && (j & 3) == 0)) cls = 4;
    else cls = 5;
    const int64_t ls = int64_t{list_zigzag[k]} * kNormAdjust8x8[m][cls];
    d[pos] = ClampCoeff((levels[pos] * (ls << shift) + 32) >> 6);
  }
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
  const int mb_x = mb_addr % mb_width_, mb_y = mb_addr / mb_width_;
  const uint8_t* base = PlaneBase(plane);
  const int stride = PlaneStride(plane);
  const int px = mb_x * mb_w + x, py = mb_y * mb_h + y;
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
    for (int i = 0; i < h; ++i) n.left[i] = base[(py + i) * stride + px - 1];
  if (n.has_top) std::memcpy(n.top, base + (py - 1) * stride + px, w);
  if (n.has_top_left) n.top_left = base[(py - 1) * stride + px - 1];
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
    if (tr) std::memcpy(n.top + w, base + (py - 1) * stride + px + w, blk_w);
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
  // Lossless blocks predicted vertically (mode 0) or horizontally (mode 1) accumulate their
  // residual in that direction.
  auto bypass_dir = [](int mode) { return mode < 2 ? mode : -1; };
  IntraNeighbours n;
  if (mb.kind == kMbI4x4 && mb.transform_8x8) {
    const uint8_t* list8 = pps_cur_->scaling_8x8[plane * 2];
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
        ScaleBlock8x8(mb.luma8x8[plane][b8], qp, list8, d);
        InverseTransform8x8Add(dst, ls, d);
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
        ScaleBlock(mb.luma[plane][blk], qp, list_y, false, d);
        InverseTransform4x4Add(dst, ls, d);
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
        for (int k = 0; k < 16; ++k)
          r[(by * 4 + k / 4) * 16 + bx * 4 + k % 4] = k == 0 ? mb.luma_dc[plane][by * 4 + bx] : mb.luma[plane][blk][k];
      }
      AddBypassResidual(luma, ls, r, 16, 16, bypass_dir(mb.i16_mode));
      return;
    }
    // Luma DC: inverse Hadamard then scaling (8.5.10).
    int32_t dc[16];
    std::memcpy(dc, mb.luma_dc[plane], sizeof(dc));
    InverseHadamard4x4(dc);
    int32_t ls00[16];
    LevelScale(list_y, qp % 6, ls00);
    for (int k = 0; k < 16; ++k)
      dc[k] = ClampCoeff((static_cast<int64_t>(dc[k]) * (static_cast<int64_t>(ls00[0]) << (qp / 6)) + 32) >> 6);
    for (int blk = 0; blk < 16; ++blk) {
      const int bx = kBlock4x4X[blk], by = kBlock4x4Y[blk];
      uint8_t* dst = luma + by * 4 * ls + bx * 4;
      const int32_t dcv = dc[by * 4 + bx];
      if (mb.luma_coded[plane] & (1 << blk)) {
        int32_t d[16];
        ScaleBlock(mb.luma[plane][blk], qp, list_y, true, d);
        d[0] = dcv;
        InverseTransform4x4Add(dst, ls, d);
      } else if (dcv != 0) {
        InverseTransformDcAdd(dst, ls, dcv);
      }
    }
  }
}

void C264_Decode::AddResidual(int mb_addr, MbParse& mb) {
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
    ScaleBlock8x8(mb.luma8x8[plane][b8], qp, pps_cur_->scaling_8x8[plane * 2 + 1], d);
    InverseTransform8x8Add(dst, ls, d);
  }
  const uint8_t* list = pps_cur_->scaling_4x4[3 + plane];
  for (int blk = 0; blk < 16; ++blk) {
    if (!(mb.luma_coded[plane] & (1 << blk))) continue;
    uint8_t* dst = luma + kBlock4x4Y[blk] * 4 * ls + kBlock4x4X[blk] * 4;
    if (bypass) {
      AddBypassResidual(dst, ls, mb.luma[plane][blk], 4, 4, -1);
      continue;
    }
    int32_t d[16];
    ScaleBlock(mb.luma[plane][blk], qp, list, false, d);
    InverseTransform4x4Add(dst, ls, d);
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
    const uint8_t* list = pps_cur_->scaling_4x4[(intra ? 1 : 4) + c];
    int32_t dc[8];
    int32_t ls00[16];
    if (blocks == 4) {
      std::memcpy(dc, mb.chroma_dc[c], 4 * sizeof(int32_t));
      if (!bypass) {
        InverseHadamard2x2(dc);
        LevelScale(list, qpc % 6, ls00);
        for (int k = 0; k < 4; ++k)
          dc[k] = ClampCoeff((static_cast<int64_t>(dc[k]) * ls00[0] * (int64_t{1} << (qpc / 6))) >> 5);
      }
    } else {
      for (int k = 0; k < 8; ++k) dc[kDc422Pos[k]] = mb.chroma_dc[c][k];
      if (!bypass) {
        InverseHadamard2x4(dc);
        const int qp_dc = qpc + 3;  // QP'c,DC of 4:2:2
        LevelScale(list, qp_dc % 6, ls00);
        for (int k = 0; k < 8; ++k) {
          const int64_t v = static_cast<int64_t>(dc[k]) * ls00[0];
          dc[k] = ClampCoeff(qp_dc >= 36 ? v * (int64_t{1} << (qp_dc / 6 - 6))
                                         : (v + (int64_t{1} << (5 - qp_dc / 6))) >> (6 - qp_dc / 6));
        }
      }
    }
    int cs;
    uint8_t* base = MbPixels(c + 1, mb_addr, cs);
    if (bypass) {
      int32_t r[8 * 16];
      for (int blk = 0; blk < blocks; ++blk)
        for (int k = 0; k < 16; ++k)
          r[((blk >> 1) * 4 + k / 4) * 8 + (blk & 1) * 4 + k % 4] = k == 0 ? dc[blk] : mb.chroma_ac[c][blk][k];
      // Horizontal (1) and vertical (2) chroma prediction accumulate the residual.
      const int dir = !intra ? -1 : (mb.chroma_mode == 1 ? 1 : (mb.chroma_mode == 2 ? 0 : -1));
      AddBypassResidual(base, cs, r, 8, mb_ch_, dir);
      continue;
    }
    for (int blk = 0; blk < blocks; ++blk) {
      uint8_t* dst = base + (blk >> 1) * 4 * cs + (blk & 1) * 4;
      if (mb.chroma_coded & (1 << (c * 8 + blk))) {
        int32_t d[16];
        ScaleBlock(mb.chroma_ac[c][blk], qpc, list, true, d);
        d[0] = dc[blk];
        InverseTransform4x4Add(dst, cs, d);
      } else if (dc[blk] != 0) {
        InverseTransformDcAdd(dst, cs, dc[blk]);
      }
    }
  }
}

// An inter macroblock being predicted: where its samples go and how it reads its references
// (a field macroblock of an MBAFF frame predicts from fields, at its position in its field).
struct C264_Decode::InterMb {
  int mb_addr = 0;
  int base4 = 0;    // first 4x4 block in the motion data
  int stride4 = 0;  // 4x4 blocks per row
  bool field_mb = false;
  int own_parity = 0;  // 1 top, 2 bottom field (macroblock or picture); 0 frame
  int mb_x = 0, mb_y = 0;
  uint8_t* dst[3] = {};  // first sample per plane (null chroma for monochrome pictures)
  int ls = 0, cs = 0;    // luma and chroma row steps
  int pic_w = 0, pic_h = 0;
};

// One block of an inter macroblock: its luma and chroma position and size in samples, where
// its prediction goes, and the prediction from each list (16-sample rows) when both are
// averaged. A single prediction goes straight into the picture (out, out_ls, out_cs). Of
// two predictions that are plainly averaged, full-sample ones are read from the reference
// picture where they lie (borrow); src has where each list's prediction is.
struct C264_Decode::InterBlock {
  int idx = 0;  // 4x4 block in the motion data
  int px = 0, py = 0, w = 0, h = 0;
  int cpx = 0, cpy = 0, cw = 0, ch = 0;
  uint8_t* dst[3] = {};
  uint8_t* out[3] = {};
  int out_ls = 0, out_cs = 0;
  bool borrow = false;
  PredBlock src[2][3] = {};
  uint8_t pred[2][3][256];  // per list: Y, Cb, Cr
};

bool C264_Decode::SameMotion(int a, int b) const {
  for (int l = 0; l < 2; ++l) {
    if (ref_idx_[l][a] != ref_idx_[l][b]) return false;
    if (ref_idx_[l][a] >= 0 && (mv_[l][a].x != mv_[l][b].x || mv_[l][a].y != mv_[l][b].y)) return false;
  }
  return true;
}

namespace {

// Whether the N x N 4x4 blocks from i0 (rows stride4 apart) share one motion in both lists,
// as SameMotion of each with the first: a list's ref_idx equal everywhere and, where it is
// used, its vectors too. Compares whole rows at once.
template <int N>
bool UniformMotion(int8_t* const ref_idx[2], H264Mv* const mv[2], int i0, int stride4) {
  for (int l = 0; l < 2; ++l) {
    const int8_t* r = ref_idx[l] + i0;
    if (std::memcmp(r + 1, r, N - 1) != 0) return false;  // r[k] == r[k - 1] along the first row
    for (int j = 1; j < N; ++j)
      if (std::memcmp(r + j * stride4, r, N) != 0) return false;
    if (r[0] < 0) continue;
    const H264Mv* v = mv[l] + i0;
    if (std::memcmp(v + 1, v, (N - 1) * sizeof(H264Mv)) != 0) return false;
    for (int j = 1; j < N; ++j)
      if (std::memcmp(v + j * stride4, v, N * sizeof(H264Mv)) != 0) return false;
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
  m.mb_x = MbX(mb_addr);
  m.mb_y = m.field_mb ? MbY(mb_addr) >> 1 : MbY(mb_addr);
  m.dst[0] = MbPixels(0, mb_addr, m.ls);
  m.dst[1] = chroma_format_ ? MbPixels(1, mb_addr, m.cs) : nullptr;
  // Cr lies where Cb does in its plane.
  m.dst[2] = chroma_format_ ? m.dst[1] + (cur_->frame.Cr() - cur_->frame.Cb()) : nullptr;
  if (!chroma_format_) m.cs = PlaneStride(1);
  m.pic_w = mb_width_ * 16;
  m.pic_h = mb_height_ * 16 / (m.field_mb ? 2 : 1);
  // Predict the largest blocks of uniform motion: the whole macroblock, 8x8 or 4x4 blocks.
  const int base4 = m.base4, stride4 = m.stride4;
  if (UniformMotion<4>(ref_idx_, mv_, base4, stride4)) {
    PredictInterBlock(m, 0, 0, 4, 4);
    return;
  }
  for (int s = 0; s < 4; ++s) {
    const int sx = (s & 1) * 2, sy = (s >> 1) * 2;
    if (UniformMotion<2>(ref_idx_, mv_, base4 + sy * stride4 + sx, stride4)) {
      PredictInterBlock(m, sx, sy, 2, 2);
    } else {
      for (int k = 0; k < 4; ++k) PredictInterBlock(m, sx + (k & 1), sy + (k >> 1), 1, 1);
    }
  }
}

void C264_Decode::PredictInterBlock(const InterMb& m, int bx, int by, int bw, int bh) {  // in 4x4 units
  InterBlock b;
  b.idx = m.base4 + by * m.stride4 + bx;
  const int refs[2] = {ref_idx_[0][b.idx], ref_idx_[1][b.idx]};
  if (refs[0] < 0 && refs[1] < 0) return;
  b.px = m.mb_x * 16 + bx * 4;
  b.py = m.mb_y * 16 + by * 4;
  b.w = bw * 4;
  b.h = bh * 4;
  // Chroma block position and size (none for monochrome pictures).
  b.cpx = b.px * mb_cw_ / 16;
  b.cpy = b.py * mb_ch_ / 16;
  b.cw = b.w * mb_cw_ / 16;
  b.ch = b.h * mb_ch_ / 16;
  b.dst[0] = m.dst[0] + by * 4 * m.ls + bx * 4;
  if (chroma_format_) {
    const int offset = (b.cpy - m.mb_y * mb_ch_) * m.cs + b.cpx - m.mb_x * mb_cw_;
    b.dst[1] = m.dst[1] + offset;
    b.dst[2] = m.dst[2] + offset;
  }
  if (refs[0] >= 0 && refs[1] >= 0) {
    b.borrow = weight_mode_ == 0 || (weight_mode_ == 2 && ImplicitBiWeight(m, refs) == 32);
    for (int l = 0; l < 2; ++l) {
      for (int p = 0; p < 3; ++p) b.out[p] = b.pred[l][p];
      b.out_ls = b.out_cs = 16;
      PredictFromList(m, l, refs[l], b);
    }
    WriteBiPrediction(m, refs, b);
    return;
  }
  const int l = refs[0] >= 0 ? 0 : 1;
  for (int p = 0; p < 3; ++p) b.out[p] = b.dst[p];
  b.out_ls = m.ls;
  b.out_cs = m.cs;
  PredictFromList(m, l, refs[l], b);
  WriteUniPrediction(m, l, refs[l], b);
}

void C264_Decode::PredictFromList(const InterMb& m, int l, int r, InterBlock& b) {
  uint8_t* pl = b.out[0];
  uint8_t* pcb = b.out[1];
  uint8_t* pcr = b.out[2];
  const int ols = b.out_ls, ocs = b.out_cs;
  int parity = 0;
  const H264Picture* ref = r < RefCount(m.mb_addr, l) ? RefOf(m.mb_addr, l, r, parity) : nullptr;
  for (int p = 0; p < 3; ++p) b.src[l][p] = {b.out[p], p == 0 ? ols : ocs};
  if (ref == nullptr || !ref->frame.IsAllocated()) {
    FillMissing(pl, ols, b.w, b.h);
    if (chroma_format_ != 0) {
      FillMissing(pcb, ocs, b.cw, b.ch);
      FillMissing(pcr, ocs, b.cw, b.ch);
    }
    return;
  }
  const H264Mv mv = mv_[l][b.idx];
  const int px = b.px, py = b.py, w = b.w, h = b.h, ls = m.ls, cs = m.cs;
  // A reference field is every other row of its frame.
  const int ly = parity == 2 ? FrameStride(0) : 0, cy0 = parity == 2 ? FrameStride(1) : 0;
  RefPlane y{ref->frame.Y() + ly, ls, m.pic_w, m.pic_h};
  const int qx = px + (mv.x >> 2), qy = py + (mv.y >> 2);  // full-sample position
  if (b.borrow) b.src[l][0] = PredictLumaOrBorrow(pl, ols, y, qx, qy, mv.x & 3, mv.y & 3, w, h);
  else PredictLuma(pl, ols, y, qx, qy, mv.x & 3, mv.y & 3, w, h);
  if (chroma_format_ == 0) return;
  RefPlane cb{ref->frame.Cb() + cy0, cs, m.pic_w * mb_cw_ / 16, m.pic_h * mb_ch_ / 16};
  RefPlane cr{ref->frame.Cr() + cy0, cs, cb.width, cb.height};
  if (chroma_format_ == 3) {  // 4:4:4: chroma interpolated as luma
    PredictLuma(pcb, ocs, cb, px + (mv.x >> 2), py + (mv.y >> 2), mv.x & 3, mv.y & 3, w, h);
    PredictLuma(pcr, ocs, cr, px + (mv.x >> 2), py + (mv.y >> 2), mv.x & 3, mv.y & 3, w, h);
    return;
  }
  // Eighth-sample chroma vectors: 4:2:0 halves both components, 4:2:2 only the
  // horizontal one (the vertical quarter-sample vector is given in eighths).
  // 4:2:0 fields: a vector into the field of the other parity points a quarter chroma
  // sample further up (bottom reference of a top field) or down (top of a bottom field).
  int mvcy = mv.y;
  if (chroma_format_ == 1 && m.own_parity != 0 && parity != m.own_parity) mvcy += parity == 2 ? -2 : 2;
  const int cx = b.cpx + (mv.x >> 3), fx = mv.x & 7;
  const int cy = chroma_format_ == 1 ? b.cpy + (mvcy >> 3) : b.cpy + (mv.y >> 2);
  const int fy = chroma_format_ == 1 ? mvcy & 7 : (mv.y & 3) << 1;
  if (b.borrow) PredictChromaPairOrBorrow(pcb, pcr, ocs, cb, cr, cx, cy, fx, fy, b.cw, b.ch, &b.src[l][1]);
  else PredictChromaPair(pcb, pcr, ocs, cb, cr, cx, cy, fx, fy, b.cw, b.ch);
}

int C264_Decode::ImplicitBiWeight(const InterMb& m, const int refs[2]) const {
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
  const int w = b.w, h = b.h, cw = b.cw, ch = b.ch, ls = m.ls, cs = m.cs;
  uint8_t* dy = b.dst[0];
  uint8_t* dcb = b.dst[1];
  uint8_t* dcr = b.dst[2];
  const uint8_t(&pl)[2][3][256] = b.pred;
  const bool chroma = chroma_format_ != 0;
  if (b.borrow) {  // the default average, also of equal implicit weights
    AverageBlocks(dy, ls, b.src[0][0], b.src[1][0], w, h);
    if (chroma) {
      AverageBlocks(dcb, cs, b.src[0][1], b.src[1][1], cw, ch);
      AverageBlocks(dcr, cs, b.src[0][2], b.src[1][2], cw, ch);
    }
  } else if (weight_mode_ == 2) {
    const int w1 = ImplicitBiWeight(m, refs), w0 = 64 - w1;
    WeightBlocksBi(dy, ls, pl[0][0], pl[1][0], 16, w, h, 5, w0, w1, 0, 0);
    if (chroma) {
      WeightBlocksBi(dcb, cs, pl[0][1], pl[1][1], 16, cw, ch, 5, w0, w1, 0, 0);
      WeightBlocksBi(dcr, cs, pl[0][2], pl[1][2], 16, cw, ch, 5, w0, w1, 0, 0);
    }
  } else {
    // Field macroblocks of MBAFF frames take explicit weights by the frame's index.
    const int r0 = m.field_mb ? refs[0] >> 1 : refs[0], r1 = m.field_mb ? refs[1] >> 1 : refs[1];
    const H264PredWeights& wt = sh_.weights;
    WeightBlocksBi(dy, ls, pl[0][0], pl[1][0], 16, w, h, static_cast<int>(wt.luma_log2_weight_denom),
                   wt.luma_weight[0][r0], wt.luma_weight[1][r1], wt.luma_offset[0][r0], wt.luma_offset[1][r1]);
    if (chroma) {
      const int cd = static_cast<int>(wt.chroma_log2_weight_denom);
      WeightBlocksBi(dcb, cs, pl[0][1], pl[1][1], 16, cw, ch, cd, wt.chroma_weight[0][r0][0],
                     wt.chroma_weight[1][r1][0], wt.chroma_offset[0][r0][0], wt.chroma_offset[1][r1][0]);
      WeightBlocksBi(dcr, cs, pl[0][2], pl[1][2], 16, cw, ch, cd, wt.chroma_weight[0][r0][1],
                     wt.chroma_weight[1][r1][1], wt.chroma_offset[0][r0][1], wt.chroma_offset[1][r1][1]);
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

void C264_Decode::DeblockPicture() {
  for (int mb = 0; mb < mb_count_; ++mb) {
    // Rows filtered during decoding are whole rows: their last macroblock tells.
    if (!mbaff_ && mb % mb_width_ == 0 && mbs_[mb + mb_width_ - 1].deblocked) {
      mb += mb_width_ - 1;
      continue;
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
  for (int a = first; a <= mb_addr; ++a)
    if (mbs_[a].slice < 0 || mbs_[a].deblocked) return;
  for (int a = first; a < first + mb_width_; ++a) {
    mbs_[a].deblocked = 1;
    if (slices_[mbs_[a].slice].disable_deblocking_filter_idc != 1) DeblockMacroblock(a);
  }
}

void C264_Decode::DeblockMacroblock(int mb_addr) {
  const MbInfo& q = mbs_[mb_addr];
  const SliceInfo& s = slices_[q.slice];
  const int stride4 = mb_width_ * 4;
  const int base4 = BlockBase(mb_addr);
  int ls, cs = 0;
  uint8_t* luma = MbPixels(0, mb_addr, ls);
  uint8_t* cb = chroma_format_ ? MbPixels(1, mb_addr, cs) : nullptr;
  uint8_t* cr = chroma_format_ ? MbPixels(2, mb_addr, cs) : nullptr;
  // A field macroblock: of a field picture, or of a field pair in an MBAFF frame.
  const bool q_field = field_ != 0 || FieldMb(mb_addr);
  auto is_field = [&](int a) { return field_ != 0 || FieldMb(a); };

  auto edge_allowed = [&](int nb) {
    return nb >= 0 && mbs_[nb].slice >= 0 && (s.disable_deblocking_filter_idc != 2 || mbs_[nb].slice == q.slice);
  };
  // The macroblocks across the left and top edges. In MBAFF frames: the left pair's
  // macroblock of the same position (a left pair of the other coding is handled below, row
  // by row), and above a field macroblock the pair above's macroblock of its parity (the
  // bottom one of a frame pair); a top frame macroblock under a field pair has its top edge
  // filtered once per field.
  int left = -1, top = -1;
  bool left_mixed = false, top_per_field = false;
  if (!mbaff_) {
    const int mb_x = MbX(mb_addr), mb_y = MbY(mb_addr);
    left = mb_x > 0 ? mb_addr - 1 : -1;
    top = mb_y > 0 ? mb_addr - mb_width_ : -1;
  } else {
    const int pair = mb_addr >> 1, bottom = mb_addr & 1;
    if (pair % mb_width_ > 0) {
      left = 2 * (pair - 1) + bottom;
      left_mixed = mbs_[left].field != q.field;
    }
    if (!q.field && bottom) {
      top = mb_addr - 1;
    } else if (pair >= mb_width_) {
      const int above = 2 * (pair - mb_width_);
      top = q.field && mbs_[above].field ? above + bottom : above + 1;
      top_per_field = !q.field && mbs_[above].field;
    }
  }
  const bool filter_left = edge_allowed(left);
  const bool filter_top = edge_allowed(top);

  // Boundary strength between 4x4 blocks p (in macroblock pm) and q (in this one), 8.7.2.1.
  // Next to an intra macroblock a horizontal macroblock edge gets strength 4 only between
  // frame macroblocks; vertical vectors of field macroblocks differ from 2 quarter field
  // samples on (4 quarter frame samples); an edge between a frame and a field macroblock has
  // at least strength 1.
  const int mvy_limit = q_field ? 2 : 4;
  const int8_t* const refs[2] = {ref_idx_[0], ref_idx_[1]};
  const int32_t* const serials[2] = {ref_serial_[0], ref_serial_[1]};
  const H264Mv* const mvs[2] = {mv_[0], mv_[1]};
  auto strength = [&](int pm, int pidx, int qidx, int pblk, int qblk, bool mb_edge, bool horizontal) -> uint8_t {
    const MbInfo& p = mbs_[pm];
    if (IsIntraKind(p.kind) || IsIntraKind(q.kind)) {
      if (!mb_edge) return 3;
      return horizontal && (q_field || is_field(pm)) ? 3 : 4;
    }
    if ((p.nonzero >> pblk) & 1 || (q.nonzero >> qblk) & 1) return 2;
    if (mbaff_ && mb_edge && is_field(pm) != q_field) return 1;
    // The common case first: the same reference pictures with the same vectors in both lists,
    // tested without branches (their outcome is hard to predict).
    int differ = 0;
    for (int l = 0; l < 2; ++l) {
      const int pu = refs[l][pidx] >= 0, qu = refs[l][qidx] >= 0;
      uint32_t pmv, qmv;
      std::memcpy(&pmv, &mvs[l][pidx], 4);
      std::memcpy(&qmv, &mvs[l][qidx], 4);
      differ |= (pu ^ qu) | (pu & qu & ((serials[l][pidx] != serials[l][qidx]) | (pmv != qmv)));
    }
    if (!differ) return 0;
    int32_t pp[2], qq[2];
    H264Mv pmv[2], qmv[2];
    int pc = 0, qc = 0;
    for (int l = 0; l < 2; ++l) {
      if (ref_idx_[l][pidx] >= 0) { pp[pc] = ref_serial_[l][pidx]; pmv[pc++] = mv_[l][pidx]; }
      if (ref_idx_[l][qidx] >= 0) { qq[qc] = ref_serial_[l][qidx]; qmv[qc++] = mv_[l][qidx]; }
    }
    if (pc != qc) return 1;
    auto far = [&](H264Mv a, H264Mv b) { return std::abs(a.x - b.x) >= 4 || std::abs(a.y - b.y) >= mvy_limit; };
    if (pc == 1) return (pp[0] != qq[0] || far(pmv[0], qmv[0])) ? 1 : 0;
    if (pc == 0) return 0;
    if (!((pp[0] == qq[0] && pp[1] == qq[1]) || (pp[0] == qq[1] && pp[1] == qq[0]))) return 1;
    if (pp[0] != pp[1]) {
      if (pp[0] == qq[0]) return (far(pmv[0], qmv[0]) || far(pmv[1], qmv[1])) ? 1 : 0;
      return (far(pmv[0], qmv[1]) || far(pmv[1], qmv[0])) ? 1 : 0;
    }
    const bool straight = far(pmv[0], qmv[0]) || far(pmv[1], qmv[1]);
    const bool crossed = far(pmv[0], qmv[1]) || far(pmv[1], qmv[0]);
    return (straight && crossed) ? 1 : 0;
  };
  // The motion of this macroblock's 4x4 blocks (raster) as one key per list: equal keys mean
  // the same reference picture and vector, or both unused.
  const bool q_intra = IsIntraKind(q.kind);
  auto key = [&](int l, int idx) {
    uint32_t mv;
    std::memcpy(&mv, &mvs[l][idx], 4);
    const uint64_t used = uint64_t{0} - (refs[l][idx] >= 0 ? 1u : 0u);  // all ones when used
    return ((uint64_t{static_cast<uint32_t>(serials[l][idx])} << 32 | mv) & used) | (uint64_t{0xFFFFFFFE} << 32 & ~used);
  };
  uint64_t keys[2][16];
  if (!q_intra)
    for (int l = 0; l < 2; ++l)
      for (int row = 0; row < 4; ++row)
        for (int col = 0; col < 4; ++col) keys[l][row * 4 + col] = key(l, base4 + row * stride4 + col);
  auto thresholds = [&](int qp_p, int qp_q) {
    const int qpav = (qp_p + qp_q + 1) >> 1;
    EdgeThresholds t;
    t.index_a = std::clamp(qpav + s.filter_offset_a, 0, 51);
    t.alpha = kDeblockAlpha[t.index_a];
    t.beta = kDeblockBeta[std::clamp(qpav + s.filter_offset_b, 0, 51)];
    return t;
  };
  auto nonzero = [&](int a, int row, int col) { return (mbs_[a].nonzero >> (row * 4 + col)) & 1; };
  if (filter_left && left_mixed) {
    // MBAFF, left pair of the other coding: eight strengths, each for two lines of the edge;
    // a field macroblock meets the top frame macroblock of the pair in its upper half and the
    // bottom one in its lower half, a frame macroblock meets the top field macroblock in its
    // even lines and the bottom one in its odd lines.
    const int pair_top = left & ~1;
    uint8_t bs[8];
    for (int i = 0; i < 8; ++i) {
      const int pm = pair_top + (q.field ? i >> 2 : i & 1);
      if (IsIntraKind(q.kind) || IsIntraKind(mbs_[pm].kind)) {
        bs[i] = 4;
        continue;
      }
      const int prow = q.field ? (i & 3) : ((mb_addr & 1) ? 2 : 0) + (i >> 2);
      bs[i] = static_cast<uint8_t>(1 + (nonzero(mb_addr, i >> 1, 0) || nonzero(pm, prow, 3)));
    }
    const MbInfo& p0 = mbs_[pair_top];
    const MbInfo& p1 = mbs_[pair_top + 1];
    const EdgeThresholds t[2] = {thresholds(p0.qp, q.qp), thresholds(p1.qp, q.qp)};
    const uint8_t half[2][4] = {{bs[0], bs[2], bs[4], bs[6]}, {bs[1], bs[3], bs[5], bs[7]}};
    for (int k = 0; k < 2; ++k) {
      // q.field: upper / lower half of the lines; frame: even / odd lines.
      const uint8_t* kbs = q.field ? bs + 4 * k : half[k];
      uint8_t* y0 = q.field ? luma + 8 * k * ls : luma + k * ls;
      const int ystep = q.field ? ls : 2 * ls;
      if (t[k].alpha > 0 && t[k].beta > 0) FilterLumaLines(y0, 1, ystep, 8, kbs, 2, t[k]);
      if (chroma_format_ == 0) continue;
      const MbInfo& pk = k == 0 ? p0 : p1;
      // Chroma lines as luma's where chroma has as many rows (4:2:2, 4:4:4), else half.
      const int rows = mb_ch_ / 2, per_bs = mb_ch_ / 8;
      for (int c = 0; c < 2; ++c) {
        const EdgeThresholds tc = thresholds(pk.qpc[c], q.qpc[c]);
        if (tc.alpha == 0 || tc.beta == 0) continue;
        uint8_t* plane = c == 0 ? cb : cr;
        uint8_t* c0 = q.field ? plane + rows * k * cs : plane + k * cs;
        if (chroma_format_ == 3) FilterLumaLines(c0, 1, q.field ? cs : 2 * cs, rows, kbs, per_bs, tc);
        else FilterChromaLines(c0, 1, q.field ? cs : 2 * cs, rows, kbs, per_bs, tc);
      }
    }
  }
  auto filter_top_per_field = [&]() {
    // MBAFF, top frame macroblock under a field pair: the edge is filtered in the top field
    // lines against the top field macroblock, then in the bottom field lines against the
    // bottom one (strength 3 next to intra macroblocks).
    const int pair_top = top & ~1;
    for (int k = 0; k < 2; ++k) {
      const int pm = pair_top + k;
      uint8_t bs[4];
      for (int i = 0; i < 4; ++i)
        bs[i] = IsIntraKind(q.kind) || IsIntraKind(mbs_[pm].kind)
                    ? 3
                    : static_cast<uint8_t>(1 + (nonzero(mb_addr, 0, i) || nonzero(pm, 3, i)));
      const MbInfo& p = mbs_[pm];
      const EdgeThresholds t = thresholds(p.qp, q.qp);
      if (t.alpha > 0 && t.beta > 0) FilterLumaLines(luma + k * ls, 2 * ls, 1, 16, bs, 4, t);
      if (chroma_format_ == 0) continue;
      for (int c = 0; c < 2; ++c) {
        const EdgeThresholds tc = thresholds(p.qpc[c], q.qpc[c]);
        if (tc.alpha == 0 || tc.beta == 0) continue;
        uint8_t* c0 = (c == 0 ? cb : cr) + k * cs;
        if (chroma_format_ == 3) FilterLumaLines(c0, 2 * cs, 1, 16, bs, 4, tc);
        else FilterChromaLines(c0, 2 * cs, 1, 8, bs, 2, tc);
      }
    }
  };
  for (int dir = 0; dir < 2; ++dir) {  // 0: vertical edges, 1: horizontal edges
    const int across_l = dir == 0 ? 1 : ls, along_l = dir == 0 ? ls : 1;
    const int across_c = dir == 0 ? 1 : cs, along_c = dir == 0 ? cs : 1;
    for (int e = 0; e < 4; ++e) {
      const bool mb_edge = e == 0;
      if (mb_edge && dir == 0 && left_mixed) continue;  // done above
      if (mb_edge && dir == 1 && top_per_field) {
        if (filter_top) filter_top_per_field();
        continue;
      }
      // No 4x4 edges inside 8x8 transform blocks. Chroma edges lie on the chroma 4x4 blocks:
      // every other luma edge in 4:2:0 and across 4:2:2 columns, every luma edge along 4:2:2
      // rows; 4:4:4 chroma follows luma. Their strengths are those of the luma edge there.
      const bool luma_edge = !((e & 1) && q.transform_8x8);
      bool chroma_edge;
      switch (chroma_format_) {
        case 0: chroma_edge = false; break;
        case 2: chroma_edge = dir == 1 || (e & 1) == 0; break;
        case 3: chroma_edge = luma_edge; break;
        default: chroma_edge = (e & 1) == 0; break;
      }
      if (!luma_edge && !chroma_edge) continue;
      if (mb_edge && !(dir == 0 ? filter_left : filter_top)) continue;
      const int pm = mb_edge ? (dir == 0 ? left : top) : mb_addr;
      uint8_t bs[4];
      bool any = false;
      const int pbase = mb_edge ? BlockBase(pm) : 0;
      for (int k = 0; k < 4; ++k) {
        const int qx = dir == 0 ? e : k, qy = dir == 0 ? k : e;
        const int qblk = qy * 4 + qx;
        const int qidx = base4 + qy * stride4 + qx;
        int pblk, pidx;
        if (dir == 0) {
          pblk = qy * 4 + ((qx + 3) & 3);
          pidx = mb_edge ? pbase + qy * stride4 + 3 : qidx - 1;
        } else {
          pblk = ((qy + 3) & 3) * 4 + qx;
          pidx = mb_edge ? pbase + 3 * stride4 + qx : qidx - stride4;
        }
        if (!mb_edge && !q_intra) {
          // Inside an inter macroblock: strength 2 from the coefficients, else 0 unless the
          // motion of the two blocks differs.
          if ((q.nonzero >> pblk | q.nonzero >> qblk) & 1) bs[k] = 2;
          else bs[k] = keys[0][pblk] == keys[0][qblk] && keys[1][pblk] == keys[1][qblk] ? 0 : strength(pm, pidx, qidx, pblk, qblk, false, dir == 1);
        } else if (!q_intra && !mbaff_ && !IsIntraKind(mbs_[pm].kind)) {
          // A macroblock edge between inter macroblocks of a frame or field picture: likewise.
          if ((mbs_[pm].nonzero >> pblk | q.nonzero >> qblk) & 1) bs[k] = 2;
          else bs[k] = keys[0][qblk] == key(0, pidx) && keys[1][qblk] == key(1, pidx) ? 0 : strength(pm, pidx, qidx, pblk, qblk, true, dir == 1);
        } else {
          bs[k] = strength(pm, pidx, qidx, pblk, qblk, mb_edge, dir == 1);
        }
        any |= bs[k] != 0;
      }
      if (!any) continue;
      const MbInfo& p = mbs_[pm];
      if (luma_edge) {
        EdgeThresholds t = thresholds(p.qp, q.qp);
        uint8_t* q0 = dir == 0 ? luma + e * 4 : luma + e * 4 * ls;
        if (t.alpha > 0 && t.beta > 0) FilterLumaEdge(q0, across_l, along_l, bs, t);
      }
      if (!chroma_edge) continue;
      // Offset of the chroma edge in chroma samples and the samples along it.
      const int ce = chroma_format_ == 3 || (chroma_format_ == 2 && dir == 1) ? e * 4 : e / 2 * 4;
      const int along_n = dir == 0 ? mb_ch_ : mb_cw_;
      for (int c = 0; c < 2; ++c) {
        EdgeThresholds tc = thresholds(p.qpc[c], q.qpc[c]);
        if (tc.alpha == 0 || tc.beta == 0) continue;
        uint8_t* plane = c == 0 ? cb : cr;
        uint8_t* cq0 = dir == 0 ? plane + ce : plane + ce * cs;
        if (chroma_format_ == 3) FilterLumaEdge(cq0, across_c, along_c, bs, tc);
        else FilterChromaEdge(cq0, across_c, along_c, along_n, bs, tc);
      }
    }
  }
}

}  // namespace fennik
