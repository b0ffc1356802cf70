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

void C264_Decode::GatherIntraNeighbours(int mb_addr, int plane, int x, int y, int size, int blk_w,
                                        IntraNeighbours& n) {
  // (x, y): block position inside the macroblock in samples of the plane; size: block size;
  // blk_w: width of the top-right part to fetch (0 for none).
  const int mb_x = mb_addr % mb_width_, mb_y = mb_addr / mb_width_;
  const int mb_size = plane == 0 ? 16 : 8;
  uint8_t* base = plane == 0 ? cur_->frame.Y() : (plane == 1 ? cur_->frame.Cb() : cur_->frame.Cr());
  const int stride = plane == 0 ? cur_->frame.LumaStride() : cur_->frame.ChromaStride();
  const int px = mb_x * mb_size + x, py = mb_y * mb_size + y;
  const bool constrained = pps_cur_->constrained_intra_pred_flag;
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
    for (int i = 0; i < size; ++i) n.left[i] = base[(py + i) * stride + px - 1];
  if (n.has_top) std::memcpy(n.top, base + (py - 1) * stride + px, size);
  if (n.has_top_left) n.top_left = base[(py - 1) * stride + px - 1];
  if (blk_w > 0) {
    bool tr;
    if (y > 0) {
      // Inside the macroblock: the block up and to the right must already be decoded.
      if (x + size >= mb_size) {
        tr = false;
      } else {
        const int cur_blk = kBlock4x4Index[(y / 4) * 4 + x / 4];
        const int tr_blk = kBlock4x4Index[(y / 4 - 1) * 4 + x / 4 + 1];
        tr = tr_blk < cur_blk;
      }
    } else {
      tr = x + size < mb_size ? usable(1) : usable(2);
    }
    if (tr) std::memcpy(n.top + size, base + (py - 1) * stride + px + size, blk_w);
    else if (n.has_top) std::memset(n.top + size, n.top[size - 1], blk_w);
  }
}

void C264_Decode::ReconstructMacroblock(int mb_addr, MbParse& mb) {
  MbInfo& info = mbs_[mb_addr];
  info.kind = static_cast<uint8_t>(mb.kind);
  info.cbp = static_cast<uint8_t>(mb.cbp);
  for (int c = 0; c < 2; ++c) {
    const int offset = c == 0 ? pps_cur_->chroma_qp_index_offset : pps_cur_->second_chroma_qp_index_offset;
    info.qpc[c] = static_cast<int8_t>(kChromaQp[std::clamp(info.qp + offset, 0, 51)]);
  }
  const int mb_x = mb_addr % mb_width_, mb_y = mb_addr / mb_width_;
  if (IsIntraKind(mb.kind)) {
    cur_->mb_intra[mb_addr] = 1;
    for (int list = 0; list < 2; ++list) StoreMotion(mb_addr, list, 0, 0, 4, 4, -1, H264Mv());
    if (mb.kind == kMbIPCM) {
      const int ls = cur_->frame.LumaStride(), cs = cur_->frame.ChromaStride();
      for (int y = 0; y < 16; ++y)
        std::memcpy(cur_->frame.Y() + (mb_y * 16 + y) * ls + mb_x * 16, mb.pcm + y * 16, 16);
      for (int y = 0; y < 8; ++y) {
        std::memcpy(cur_->frame.Cb() + (mb_y * 8 + y) * cs + mb_x * 8, mb.pcm + 256 + y * 8, 8);
        std::memcpy(cur_->frame.Cr() + (mb_y * 8 + y) * cs + mb_x * 8, mb.pcm + 320 + y * 8, 8);
      }
      std::memset(info.total_coeff, 16, sizeof(info.total_coeff));
      info.cbf = 0x7FFFFFF;
      info.nonzero = 0xFFFF;
      return;
    }
    PredictIntraMb(mb_addr, mb);
    return;
  }
  cur_->mb_intra[mb_addr] = 0;
  PredictInterMb(mb_addr);
  AddResidual(mb_addr, mb);
}

void C264_Decode::PredictIntraMb(int mb_addr, MbParse& mb) {
  const int mb_x = mb_addr % mb_width_, mb_y = mb_addr / mb_width_;
  const int ls = cur_->frame.LumaStride();
  uint8_t* luma = cur_->frame.Y() + mb_y * 16 * ls + mb_x * 16;
  const MbInfo& info = mbs_[mb_addr];
  const uint8_t* list_y = pps_cur_->scaling_4x4[0];
  IntraNeighbours n;
  if (mb.kind == kMbI4x4 && mb.transform_8x8) {
    const uint8_t* list8 = pps_cur_->scaling_8x8[0];
    for (int b8 = 0; b8 < 4; ++b8) {
      const int x = (b8 & 1) * 8, y = (b8 >> 1) * 8;
      GatherIntraNeighbours(mb_addr, 0, x, y, 8, 8, n);
      uint8_t* dst = luma + y * ls + x;
      PredictIntra8x8(dst, ls, info.intra_modes[(y / 4) * 4 + x / 4], n);
      if (mb.luma8x8_coded & (1 << b8)) {
        int32_t d[64];
        ScaleBlock8x8(mb.luma8x8[b8], qp_, list8, d);
        InverseTransform8x8Add(dst, ls, d);
      }
    }
  } else if (mb.kind == kMbI4x4) {
    for (int blk = 0; blk < 16; ++blk) {
      const int bx = kBlock4x4X[blk], by = kBlock4x4Y[blk];
      GatherIntraNeighbours(mb_addr, 0, bx * 4, by * 4, 4, 4, n);
      uint8_t* dst = luma + by * 4 * ls + bx * 4;
      PredictIntra4x4(dst, ls, info.intra_modes[by * 4 + bx], n);
      if (mb.luma_coded & (1 << blk)) {
        int32_t d[16];
        ScaleBlock(mb.luma[blk], qp_, list_y, false, d);
        InverseTransform4x4Add(dst, ls, d);
      }
    }
  } else {
    GatherIntraNeighbours(mb_addr, 0, 0, 0, 16, 0, n);
    PredictIntra16x16(luma, ls, mb.i16_mode, n);
    // Luma DC: inverse Hadamard then scaling (8.5.10).
    int32_t dc[16];
    std::memcpy(dc, mb.luma_dc, sizeof(dc));
    InverseHadamard4x4(dc);
    int32_t ls00[16];
    LevelScale(list_y, qp_ % 6, ls00);
    for (int k = 0; k < 16; ++k)
      dc[k] = ClampCoeff((static_cast<int64_t>(dc[k]) * (static_cast<int64_t>(ls00[0]) << (qp_ / 6)) + 32) >> 6);
    for (int blk = 0; blk < 16; ++blk) {
      const int bx = kBlock4x4X[blk], by = kBlock4x4Y[blk];
      uint8_t* dst = luma + by * 4 * ls + bx * 4;
      const int32_t dcv = dc[by * 4 + bx];
      if (mb.luma_coded & (1 << blk)) {
        int32_t d[16];
        ScaleBlock(mb.luma[blk], qp_, list_y, true, d);
        d[0] = dcv;
        InverseTransform4x4Add(dst, ls, d);
      } else if (dcv != 0) {
        InverseTransformDcAdd(dst, ls, dcv);
      }
    }
  }
  // Chroma prediction, then the chroma residual shared with inter macroblocks.
  const int cs = cur_->frame.ChromaStride();
  for (int c = 0; c < 2; ++c) {
    GatherIntraNeighbours(mb_addr, c + 1, 0, 0, 8, 0, n);
    uint8_t* dst = (c == 0 ? cur_->frame.Cb() : cur_->frame.Cr()) + mb_y * 8 * cs + mb_x * 8;
    PredictIntraChroma8x8(dst, cs, mb.chroma_mode, n);
  }
  MbParse& m = mb;
  const uint16_t saved = m.luma_coded;
  m.luma_coded = 0;  // luma already done
  AddResidual(mb_addr, m);
  m.luma_coded = saved;
}

void C264_Decode::AddResidual(int mb_addr, MbParse& mb) {
  const int mb_x = mb_addr % mb_width_, mb_y = mb_addr / mb_width_;
  const MbInfo& info = mbs_[mb_addr];
  const bool intra = IsIntraKind(mb.kind);
  if (mb.luma8x8_coded && !intra) {
    const int ls = cur_->frame.LumaStride();
    uint8_t* luma = cur_->frame.Y() + mb_y * 16 * ls + mb_x * 16;
    for (int b8 = 0; b8 < 4; ++b8) {
      if (!(mb.luma8x8_coded & (1 << b8))) continue;
      int32_t d[64];
      ScaleBlock8x8(mb.luma8x8[b8], qp_, pps_cur_->scaling_8x8[1], d);
      InverseTransform8x8Add(luma + (b8 >> 1) * 8 * ls + (b8 & 1) * 8, ls, d);
    }
  }
  if (mb.luma_coded) {
    const int ls = cur_->frame.LumaStride();
    uint8_t* luma = cur_->frame.Y() + mb_y * 16 * ls + mb_x * 16;
    const uint8_t* list = pps_cur_->scaling_4x4[intra ? 0 : 3];
    for (int blk = 0; blk < 16; ++blk) {
      if (!(mb.luma_coded & (1 << blk))) continue;
      int32_t d[16];
      ScaleBlock(mb.luma[blk], qp_, list, false, d);
      InverseTransform4x4Add(luma + kBlock4x4Y[blk] * 4 * ls + kBlock4x4X[blk] * 4, ls, d);
    }
  }
  if ((mb.cbp >> 4) == 0) return;
  const int cs = cur_->frame.ChromaStride();
  for (int c = 0; c < 2; ++c) {
    const int qpc = info.qpc[c];
    const uint8_t* list = pps_cur_->scaling_4x4[(intra ? 1 : 4) + c];
    int32_t dc[4];
    std::memcpy(dc, mb.chroma_dc[c], sizeof(dc));
    InverseHadamard2x2(dc);
    int32_t ls00[16];
    LevelScale(list, qpc % 6, ls00);
    for (int k = 0; k < 4; ++k)
      dc[k] = ClampCoeff((static_cast<int64_t>(dc[k]) * ls00[0] * (int64_t{1} << (qpc / 6))) >> 5);
    uint8_t* base = (c == 0 ? cur_->frame.Cb() : cur_->frame.Cr()) + mb_y * 8 * cs + mb_x * 8;
    for (int blk = 0; blk < 4; ++blk) {
      uint8_t* dst = base + (blk >> 1) * 4 * cs + (blk & 1) * 4;
      if (mb.chroma_coded & (1 << (c * 4 + blk))) {
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

void C264_Decode::PredictInterMb(int mb_addr) {
  const int mb_x = mb_addr % mb_width_, mb_y = mb_addr / mb_width_;
  const int stride4 = mb_width_ * 4;
  const int base4 = mb_y * 4 * stride4 + mb_x * 4;
  const int ls = cur_->frame.LumaStride(), cs = cur_->frame.ChromaStride();
  const int pic_w = mb_width_ * 16, pic_h = mb_height_ * 16;
  auto same = [&](int a, int b) {
    for (int l = 0; l < 2; ++l) {
      if (cur_->ref_idx[l][a] != cur_->ref_idx[l][b]) return false;
      if (cur_->ref_idx[l][a] >= 0 && (cur_->mv[l][a].x != cur_->mv[l][b].x || cur_->mv[l][a].y != cur_->mv[l][b].y))
        return false;
    }
    return true;
  };
  auto predict = [&](int bx, int by, int bw, int bh) {  // in 4x4 units
    const int idx = base4 + by * stride4 + bx;
    uint8_t pl[2][256], pcb[2][64], pcr[2][64];
    int used = 0;
    int refs[2] = {-1, -1};
    const int px = mb_x * 16 + bx * 4, py = mb_y * 16 + by * 4;
    const int w = bw * 4, h = bh * 4;
    for (int l = 0; l < 2; ++l) {
      const int r = cur_->ref_idx[l][idx];
      if (r < 0) continue;
      refs[l] = r;
      used |= 1 << l;
      const H264Picture* ref = r < ref_count_[l] ? ref_list_[l][r] : nullptr;
      if (ref == nullptr || !ref->frame.IsAllocated()) {
        std::memset(pl[l], 128, sizeof(pl[l]));
        std::memset(pcb[l], 128, sizeof(pcb[l]));
        std::memset(pcr[l], 128, sizeof(pcr[l]));
        continue;
      }
      const H264Mv mv = cur_->mv[l][idx];
      RefPlane y{ref->frame.Y(), ls, pic_w, pic_h};
      PredictLuma(pl[l], 16, y, px + (mv.x >> 2), py + (mv.y >> 2), mv.x & 3, mv.y & 3, w, h);
      RefPlane cb{ref->frame.Cb(), cs, pic_w / 2, pic_h / 2};
      RefPlane cr{ref->frame.Cr(), cs, pic_w / 2, pic_h / 2};
      const int cx = px / 2 + (mv.x >> 3), cy = py / 2 + (mv.y >> 3);
      PredictChroma(pcb[l], 8, cb, cx, cy, mv.x & 7, mv.y & 7, w / 2, h / 2);
      PredictChroma(pcr[l], 8, cr, cx, cy, mv.x & 7, mv.y & 7, w / 2, h / 2);
    }
    uint8_t* dy = cur_->frame.Y() + py * ls + px;
    uint8_t* dcb = cur_->frame.Cb() + (py / 2) * cs + px / 2;
    uint8_t* dcr = cur_->frame.Cr() + (py / 2) * cs + px / 2;
    const H264PredWeights& wt = sh_.weights;
    if (used == 3) {
      if (weight_mode_ == 0) {
        AverageBlocks(dy, ls, pl[0], pl[1], 16, w, h);
        AverageBlocks(dcb, cs, pcb[0], pcb[1], 8, w / 2, h / 2);
        AverageBlocks(dcr, cs, pcr[0], pcr[1], 8, w / 2, h / 2);
      } else if (weight_mode_ == 2) {
        const int w1 = implicit_w_[refs[0]][refs[1]], w0 = 64 - w1;
        WeightBlocksBi(dy, ls, pl[0], pl[1], 16, w, h, 5, w0, w1, 0, 0);
        WeightBlocksBi(dcb, cs, pcb[0], pcb[1], 8, w / 2, h / 2, 5, w0, w1, 0, 0);
        WeightBlocksBi(dcr, cs, pcr[0], pcr[1], 8, w / 2, h / 2, 5, w0, w1, 0, 0);
      } else {
        const int r0 = refs[0], r1 = refs[1];
        WeightBlocksBi(dy, ls, pl[0], pl[1], 16, w, h, static_cast<int>(wt.luma_log2_weight_denom),
                       wt.luma_weight[0][r0], wt.luma_weight[1][r1], wt.luma_offset[0][r0], wt.luma_offset[1][r1]);
        const int cd = static_cast<int>(wt.chroma_log2_weight_denom);
        WeightBlocksBi(dcb, cs, pcb[0], pcb[1], 8, w / 2, h / 2, cd, wt.chroma_weight[0][r0][0],
                       wt.chroma_weight[1][r1][0], wt.chroma_offset[0][r0][0], wt.chroma_offset[1][r1][0]);
        WeightBlocksBi(dcr, cs, pcr[0], pcr[1], 8, w / 2, h / 2, cd, wt.chroma_weight[0][r0][1],
                       wt.chroma_weight[1][r1][1], wt.chroma_offset[0][r0][1], wt.chroma_offset[1][r1][1]);
      }
      return;
    }
    if (used == 0) return;
    const int l = used == 1 ? 0 : 1;
    if (weight_mode_ == 1) {
      const int r = refs[l];
      WeightBlock(pl[l], 16, w, h, static_cast<int>(wt.luma_log2_weight_denom), wt.luma_weight[l][r],
                  wt.luma_offset[l][r]);
      const int cd = static_cast<int>(wt.chroma_log2_weight_denom);
      WeightBlock(pcb[l], 8, w / 2, h / 2, cd, wt.chroma_weight[l][r][0], wt.chroma_offset[l][r][0]);
      WeightBlock(pcr[l], 8, w / 2, h / 2, cd, wt.chroma_weight[l][r][1], wt.chroma_offset[l][r][1]);
    }
    for (int j = 0; j < h; ++j) std::memcpy(dy + j * ls, pl[l] + j * 16, w);
    for (int j = 0; j < h / 2; ++j) {
      std::memcpy(dcb + j * cs, pcb[l] + j * 8, w / 2);
      std::memcpy(dcr + j * cs, pcr[l] + j * 8, w / 2);
    }
  };
  // Predict the largest blocks of uniform motion: the whole macroblock, 8x8 or 4x4 blocks.
  bool uniform = true;
  for (int k = 1; k < 16 && uniform; ++k) uniform = same(base4, base4 + (k >> 2) * stride4 + (k & 3));
  if (uniform) {
    predict(0, 0, 4, 4);
    return;
  }
  for (int s = 0; s < 4; ++s) {
    const int sx = (s & 1) * 2, sy = (s >> 1) * 2;
    const int i0 = base4 + sy * stride4 + sx;
    if (same(i0, i0 + 1) && same(i0, i0 + stride4) && same(i0, i0 + stride4 + 1)) {
      predict(sx, sy, 2, 2);
    } else {
      for (int k = 0; k < 4; ++k) predict(sx + (k & 1), sy + (k >> 1), 1, 1);
    }
  }
}

void C264_Decode::DeblockPicture() {
  for (int mb = 0; mb < mb_count_; ++mb) {
    if (mbs_[mb].slice < 0) continue;
    const SliceInfo& s = slices_[mbs_[mb].slice];
    if (s.disable_deblocking_filter_idc == 1) continue;
    DeblockMacroblock(mb);
  }
}

void C264_Decode::DeblockMacroblock(int mb_addr) {
  const MbInfo& q = mbs_[mb_addr];
  const SliceInfo& s = slices_[q.slice];
  const int mb_x = mb_addr % mb_width_, mb_y = mb_addr / mb_width_;
  const int stride4 = mb_width_ * 4;
  const int base4 = mb_y * 4 * stride4 + mb_x * 4;
  const int ls = cur_->frame.LumaStride(), cs = cur_->frame.ChromaStride();
  uint8_t* luma = cur_->frame.Y() + mb_y * 16 * ls + mb_x * 16;
  uint8_t* cb = cur_->frame.Cb() + mb_y * 8 * cs + mb_x * 8;
  uint8_t* cr = cur_->frame.Cr() + mb_y * 8 * cs + mb_x * 8;

  auto edge_allowed = [&](int nb) {
    return nb >= 0 && mbs_[nb].slice >= 0 && (s.disable_deblocking_filter_idc != 2 || mbs_[nb].slice == q.slice);
  };
  const int left = mb_x > 0 ? mb_addr - 1 : -1;
  const int top = mb_y > 0 ? mb_addr - mb_width_ : -1;
  const bool filter_left = edge_allowed(left);
  const bool filter_top = edge_allowed(top);

  // Boundary strength between 4x4 blocks p (in macroblock pm) and q (in this one), 8.7.2.1.
  auto strength = [&](int pm, int pidx, int qidx, int pblk, int qblk, bool mb_edge) -> uint8_t {
    const MbInfo& p = mbs_[pm];
    if (IsIntraKind(p.kind) || IsIntraKind(q.kind)) return mb_edge ? 4 : 3;
    if ((p.nonzero >> pblk) & 1 || (q.nonzero >> qblk) & 1) return 2;
    int32_t pp[2], qq[2];
    H264Mv pmv[2], qmv[2];
    int pc = 0, qc = 0;
    for (int l = 0; l < 2; ++l) {
      if (cur_->ref_idx[l][pidx] >= 0) { pp[pc] = cur_->ref_serial[l][pidx]; pmv[pc++] = cur_->mv[l][pidx]; }
      if (cur_->ref_idx[l][qidx] >= 0) { qq[qc] = cur_->ref_serial[l][qidx]; qmv[qc++] = cur_->mv[l][qidx]; }
    }
    if (pc != qc) return 1;
    auto far = [](H264Mv a, H264Mv b) { return std::abs(a.x - b.x) >= 4 || std::abs(a.y - b.y) >= 4; };
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
  auto thresholds = [&](int qp_p, int qp_q) {
    const int qpav = (qp_p + qp_q + 1) >> 1;
    EdgeThresholds t;
    t.index_a = std::clamp(qpav + s.filter_offset_a, 0, 51);
    t.alpha = kDeblockAlpha[t.index_a];
    t.beta = kDeblockBeta[std::clamp(qpav + s.filter_offset_b, 0, 51)];
    return t;
  };
  for (int dir = 0; dir < 2; ++dir) {  // 0: vertical edges, 1: horizontal edges
    const int across_l = dir == 0 ? 1 : ls, along_l = dir == 0 ? ls : 1;
    const int across_c = dir == 0 ? 1 : cs, along_c = dir == 0 ? cs : 1;
    for (int e = 0; e < 4; ++e) {
      const bool mb_edge = e == 0;
      if ((e & 1) && q.transform_8x8) continue;  // no 4x4 edges inside 8x8 transform blocks
      if (mb_edge && !(dir == 0 ? filter_left : filter_top)) continue;
      const int pm = mb_edge ? (dir == 0 ? left : top) : mb_addr;
      uint8_t bs[4];
      bool any = false;
      for (int k = 0; k < 4; ++k) {
        const int qx = dir == 0 ? e : k, qy = dir == 0 ? k : e;
        const int qblk = qy * 4 + qx;
        const int qidx = base4 + qy * stride4 + qx;
        int pblk, pidx;
        if (dir == 0) {
          pblk = qy * 4 + ((qx + 3) & 3);
          pidx = qidx - 1;
        } else {
          pblk = ((qy + 3) & 3) * 4 + qx;
          pidx = qidx - stride4;
        }
        bs[k] = strength(pm, pidx, qidx, pblk, qblk, mb_edge);
        any |= bs[k] != 0;
      }
      if (!any) continue;
      const MbInfo& p = mbs_[pm];
      EdgeThresholds t = thresholds(p.qp, q.qp);
      uint8_t* q0 = dir == 0 ? luma + e * 4 : luma + e * 4 * ls;
      if (t.alpha > 0 && t.beta > 0) FilterLumaEdge(q0, across_l, along_l, bs, t);
      if (e == 0 || e == 2) {
        const int ce = e / 2 * 4;
        for (int c = 0; c < 2; ++c) {
          EdgeThresholds tc = thresholds(p.qpc[c], q.qpc[c]);
          uint8_t* plane = c == 0 ? cb : cr;
          uint8_t* cq0 = dir == 0 ? plane + ce : plane + ce * cs;
          if (tc.alpha > 0 && tc.beta > 0) FilterChromaEdge(cq0, across_c, along_c, bs, tc);
        }
      }
    }
  }
}

}  // namespace fennik
