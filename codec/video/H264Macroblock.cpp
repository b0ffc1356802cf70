// Slice data and macroblock layer parsing with CAVLC (H.264 7.3.4, 7.3.5, 9.2), and the
// syntax shared with CABAC: intra prediction modes (8.3.1.1) and inter prediction syntax.
#include <algorithm>
#include <cstring>
#include <cstdlib>

#include "base/DebugPrint.h"
#include "codec/video/H264Cavlc.h"
#include "codec/video/H264DecodeInternal.h"
#include "codec/video/h264_tables.h"

namespace fennik {

const uint8_t kBMbPartPred[22][2] = {
    {0, 0}, {1, 0}, {2, 0}, {3, 0}, {1, 1}, {1, 1}, {2, 2}, {2, 2}, {1, 2}, {1, 2}, {2, 1},
    {2, 1}, {1, 3}, {1, 3}, {2, 3}, {2, 3}, {3, 1}, {3, 1}, {3, 2}, {3, 2}, {3, 3}, {3, 3}};
const uint8_t kBSubPred[13] = {4, 1, 2, 3, 1, 1, 2, 2, 3, 3, 1, 2, 3};
const uint8_t kBSubShape[13] = {0, 0, 0, 0, 1, 2, 1, 2, 1, 2, 3, 3, 3};

namespace {

// Geometry of a sub-macroblock partition: offset and size in 4x4 blocks.
void SubPartGeometry(int shape, int part, int& x, int& y, int& w, int& h) {
  switch (shape) {
    case 0: x = 0; y = 0; w = 2; h = 2; return;
    case 1: x = 0; y = part; w = 2; h = 1; return;
    case 2: x = part; y = 0; w = 1; h = 2; return;
    default: x = part & 1; y = part >> 1; w = 1; h = 1; return;
  }
}
int SubPartCount(int shape) { return shape == 0 ? 1 : (shape == 3 ? 4 : 2); }

// |mvd| (capped at 127) of a partition's w x h 4x4 blocks at (x, y), for the CABAC contexts
// of later vectors: each row one fixed-size copy.
inline void StoreMvdMagnitude(uint8_t (*mvd)[2], int x, int y, int w, int h, int dx, int dy) {
  const auto ax = static_cast<uint8_t>(std::min(std::abs(dx), 127));
  const auto ay = static_cast<uint8_t>(std::min(std::abs(dy), 127));
  const uint8_t row[8] = {ax, ay, ax, ay, ax, ay, ax, ay};
  for (int j = 0; j < h; ++j) {
    uint8_t* dst = mvd[(y + j) * 4 + x];
    if (w == 4) std::memcpy(dst, row, 8);
    else if (w == 2) std::memcpy(dst, row, 4);
    else std::memcpy(dst, row, 2);
  }
}

class CavlcSource : public C264_Decode::SyntaxSource {
 public:
  explicit CavlcSource(BitReader& br) : br_(br) {}
  void IntraMode(int& prev_flag, int& rem) override {
    prev_flag = static_cast<int>(br_.ReadBit());
    rem = prev_flag ? 0 : static_cast<int>(br_.Read(3));
  }
  int ChromaPredMode(int) override { return static_cast<int>(br_.ReadUe()); }
  int SubMbType(bool) override { return static_cast<int>(br_.ReadUe()); }
  int RefIdx(int, int, int, int, int max) override {
    // te(v): one inverted bit when the range is 1, else ue(v).
    if (max == 1) return 1 - static_cast<int>(br_.ReadBit());
    return static_cast<int>(br_.ReadUe());
  }
  void Mvd(int, int, int, int, int& x, int& y) override {
    x = br_.ReadSe();
    y = br_.ReadSe();
  }
  bool Ok() const override { return br_.Ok(); }

 private:
  BitReader& br_;
};

}  // namespace

bool C264_Decode::FieldMb(int a) const { return mbaff_ && mbs_[a].field; }

uint8_t* C264_Decode::MbaffPixels(int plane, int a, int& stride) {
  const int s = plane_stride_[plane];
  if (mbs_[a].field) {
    // Every other row of the pair, from the pair's first row (top) or second (bottom).
    stride = 2 * s;
    return plane_base_[plane] + mb_origin_[a & ~1][plane != 0] + (a & 1) * s;
  }
  stride = s;
  return plane_base_[plane] + mb_origin_[a][plane != 0];
}

void C264_Decode::SetPictureLayout() {
  for (int plane = 0; plane < 3; ++plane) {
    const int frame_stride = FrameStride(plane);
    uint8_t* base = plane == 0 ? cur_->frame.Y() : (plane == 1 ? cur_->frame.Cb() : cur_->frame.Cr());
    plane_base_[plane] = field_ == 2 ? base + frame_stride : base;
    plane_stride_[plane] = field_ ? 2 * frame_stride : frame_stride;
  }
  const std::array<int, 6> key = {mb_width_, mb_count_, mbaff_, plane_stride_[0], plane_stride_[1], mb_ch_ * 16 + mb_cw_};
  if (key == mb_origin_key_ && mb_origin_.size() == static_cast<size_t>(mb_count_)) return;
  mb_origin_key_ = key;
  mb_origin_.resize(static_cast<size_t>(mb_count_));
  for (int a = 0; a < mb_count_; ++a) {
    const int x = MbX(a), y = MbY(a);
    mb_origin_[a] = {static_cast<uint32_t>(y * 16 * plane_stride_[0] + x * 16),
                     static_cast<uint32_t>(y * mb_ch_ * plane_stride_[1] + x * mb_cw_)};
  }
}

int C264_Decode::NeighbourLocation(int a, int xN, int yN, int w, int h, int& xW, int& yW) const {
  // Also for an unavailable location, so that callers get a valid block (macroblock sizes
  // are powers of two: a mask instead of a division).
  xW = (w & (w - 1)) == 0 ? (xN + w) & (w - 1) : (xN + w) % w;
  yW = (h & (h - 1)) == 0 ? (yN + h) & (h - 1) : (yN + h) % h;
  if (xN >= 0 && xN < w && yN >= 0 && yN < h) {
    yW = yN;
    return a;
  }
  if (!mbaff_) {
    if (xN >= w && yN >= 0) return -1;
    int which;
    if (yN < 0) which = xN < 0 ? 3 : (xN >= w ? 2 : 1);
    else which = 0;
    return NeighbourMb(a, which);
  }
  // MBAFF frames (Table 6-4): the location's row in the frame, counted from the top of the
  // current pair, gives the pair and, by that pair's coding, the macroblock holding it.
  const bool top = (a & 1) == 0;
  int r = mbs_[a].field ? 2 * yN + (top ? 0 : 1) : yN + (top ? 0 : h);
  const int px = xN < 0 ? -1 : (xN >= w ? 1 : 0);
  int py = 0;
  if (r < 0) {
    py = -1;
    r += 2 * h;
  }
  int pair = a >> 1;
  if (px != 0 || py != 0) {
    if (px == 1 && py == 0) return -1;  // the pair to the right is not decoded yet
    const int col = pair % mb_width_ + px, row = pair / mb_width_ + py;
    if (col < 0 || col >= mb_width_ || row < 0) return -1;
    pair = row * mb_width_ + col;
    if (mbs_[2 * pair].slice != slice_num_) return -1;
  }
  const bool field = mbs_[2 * pair].field;
  const int n = 2 * pair + (field ? (r & 1) : (r >= h ? 1 : 0));
  yW = field ? r >> 1 : r % h;
  if (n == a + 1) return -1;  // the bottom macroblock of the current pair comes later
  return n;
}

const H264Picture* C264_Decode::RefOf(int a, int list, int r, int& parity) const {
  if (mbaff_ && mbs_[a].field) {
    const int own = (a & 1) ? 2 : 1;
    parity = (r & 1) ? 3 - own : own;
    return r >> 1 < refs_.count[list] ? refs_.pic[list][r >> 1] : nullptr;
  }
  parity = refs_.parity[list][r];
  return r < refs_.count[list] ? refs_.pic[list][r] : nullptr;
}

void C264_Decode::FindNeighbours(int mb_addr) {
  const bool same_slice = nb_slice_ == slice_num_;
  if (mb_addr == nb_addr_ && same_slice) return;  // found for the skip flag
  const bool next = nb_addr_ >= 0 && mb_addr == nb_addr_ + 1;
  if (next && same_slice && nb_x_ + 1 < mb_width_) {
    // One step right along a row of the same slice: the previous macroblock is A, its B is
    // D and its C is B; only C is new.
    const int x = nb_x_ + 1, c = mb_addr - mb_width_ + 1;
    nb_[3] = nb_[1];
    nb_[1] = nb_[2];
    nb_[0] = mb_addr - 1;
    nb_[2] = nb_y_ > 0 && x + 1 < mb_width_ && mbs_[c].slice == slice_num_ ? c : -1;
    nb_base_ += 4;
    nb_x_ = x;
    nb_addr_ = mb_addr;
    return;
  }
  nb_addr_ = -1;
  if (mbaff_) return;
  // The position follows from the previous macroblock's without a division.
  int x = next ? nb_x_ + 1 : mb_addr % mb_width_;
  int y = next ? nb_y_ : mb_addr / mb_width_;
  if (x == mb_width_) {
    x = 0;
    ++y;
  }
  auto in_slice = [&](bool inside, int n) { return inside && mbs_[n].slice == slice_num_ ? n : -1; };
  nb_[0] = in_slice(x > 0, mb_addr - 1);
  nb_[1] = in_slice(y > 0, mb_addr - mb_width_);
  nb_[2] = in_slice(y > 0 && x + 1 < mb_width_, mb_addr - mb_width_ + 1);
  nb_[3] = in_slice(x > 0 && y > 0, mb_addr - mb_width_ - 1);
  nb_base_ = y * 16 * mb_width_ + x * 4;
  nb_x_ = x;
  nb_y_ = y;
  nb_addr_ = mb_addr;
  nb_slice_ = slice_num_;
}

int C264_Decode::OuterNeighbourMb(int mb_addr, int which) const {
  if (mbaff_) {
    // The macroblock holding the luma location left of (A), above (B), above right of (C)
    // or above left of (D) the macroblock's first sample.
    static const int kLoc[4][2] = {{-1, 0}, {0, -1}, {16, -1}, {-1, -1}};
    int xw, yw;
    return NeighbourLocation(mb_addr, kLoc[which][0], kLoc[which][1], 16, 16, xw, yw);
  }
  const int x = mb_addr % mb_width_, y = mb_addr / mb_width_;
  int n = -1;
  switch (which) {
    case 0: if (x > 0) n = mb_addr - 1; break;
    case 1: if (y > 0) n = mb_addr - mb_width_; break;
    case 2: if (y > 0 && x + 1 < mb_width_) n = mb_addr - mb_width_ + 1; break;
    default: if (x > 0 && y > 0) n = mb_addr - mb_width_ - 1; break;
  }
  if (n < 0 || mbs_[n].slice != slice_num_) return -1;
  return n;
}

int C264_Decode::OuterLumaNeighbour(int mb_addr, int bx, int by, int& blk) const {
  if (mbaff_) {
    int xw, yw;
    const int n = NeighbourLocation(mb_addr, bx < 0 ? -1 : bx * 4, by < 0 ? -1 : by * 4, 16, 16, xw, yw);
    blk = (yw >> 2) * 4 + (xw >> 2);
    return n;
  }
  int n;
  if (bx < 0 && by < 0) n = NeighbourMb(mb_addr, 3);
  else if (bx < 0) n = NeighbourMb(mb_addr, 0);
  else n = NeighbourMb(mb_addr, 1);
  blk = ((by + 4) & 3) * 4 + ((bx + 4) & 3);
  return n;
}

int C264_Decode::OuterChromaNeighbour(int mb_addr, int bx, int by, int& blk) const {
  const int cols = mb_cw_ / 4, rows = mb_ch_ / 4;
  if (mbaff_) {
    int xw, yw;
    const int n = NeighbourLocation(mb_addr, bx < 0 ? -1 : bx * 4, by < 0 ? -1 : by * 4, mb_cw_, mb_ch_, xw, yw);
    blk = (yw >> 2) * cols + (xw >> 2);
    return n;
  }
  const int n = NeighbourMb(mb_addr, bx < 0 ? 0 : 1);
  blk = ((by + rows) % rows) * cols + ((bx + cols) % cols);
  return n;
}

bool C264_Decode::ParseIntraModes(int mb_addr, MbParse& mb, SyntaxSource& src) {
  MbInfo& info = mbs_[mb_addr];
  if (mb.kind == kMbI4x4) {
    // Intra4x4PredMode per 4x4 block, or Intra8x8PredMode per 8x8 block (stored in each of
    // its 4x4 blocks), predicted from the blocks left (A) and above (B) (8.3.1.1, 8.3.2.1).
    const int count = mb.transform_8x8 ? 4 : 16;
    for (int k = 0; k < count; ++k) {
      const int blk = mb.transform_8x8 ? k * 4 : k;
      const int bx = kBlock4x4X[blk], by = kBlock4x4Y[blk];
      int prev_flag, rem;
      src.IntraMode(prev_flag, rem);
      int ba, bb;
      const int na = LumaNeighbour(mb_addr, bx - 1, by, ba);
      const int nb = LumaNeighbour(mb_addr, bx, by - 1, bb);
      bool dc_pred = na < 0 || nb < 0;
      if (!dc_pred && pps_cur_->constrained_intra_pred_flag &&
          (!IsIntraKind(mbs_[na].kind) || !IsIntraKind(mbs_[nb].kind)))
        dc_pred = true;
      int pred = 2;
      if (!dc_pred) {
        const int ma = mbs_[na].kind == kMbI4x4 ? mbs_[na].intra_modes[ba] : 2;
        const int mbm = mbs_[nb].kind == kMbI4x4 ? mbs_[nb].intra_modes[bb] : 2;
        pred = std::min(ma, mbm);
      }
      const uint8_t mode = static_cast<uint8_t>(prev_flag ? pred : (rem < pred ? rem : rem + 1));
      if (mb.transform_8x8) {
        for (int j = 0; j < 2; ++j)
          for (int i = 0; i < 2; ++i) info.intra_modes[(by + j) * 4 + bx + i] = mode;
      } else {
        info.intra_modes[by * 4 + bx] = mode;
      }
    }
  } else {
    std::memset(info.intra_modes, 2, sizeof(info.intra_modes));
  }
  // Monochrome and 4:4:4 macroblocks have no chroma prediction mode of their own.
  mb.chroma_mode = chroma_format_ == 1 || chroma_format_ == 2 ? src.ChromaPredMode(mb_addr) : 0;
  if (mb.chroma_mode > 3 || !src.Ok()) {
    DebugPrint("[H.264] intra_chroma_pred_mode out of range: %d\n", mb.chroma_mode);
    return false;
  }
  info.chroma_mode = static_cast<uint8_t>(mb.chroma_mode);
  return true;
}

bool C264_Decode::ParseInterPred(int mb_addr, MbParse& mb, SyntaxSource& src) {
  MbInfo& info = mbs_[mb_addr];
  const bool b_slice = slice_kind_ == kSliceB;
  // mvd values beyond the 16-bit vector range only come from damaged streams.
  auto read_mvd = [&](int list, int x, int y, int& dx, int& dy) {
    src.Mvd(mb_addr, list, x, y, dx, dy);
    dx = std::clamp(dx, -32768, 32767);
    dy = std::clamp(dy, -32768, 32767);
  };
  // Direct motion covers both lists of every block; other kinds mark the lists a block does
  // not use.
  if (mb.kind == kMbBDirect) {
    std::memset(blk_order_, 0, sizeof(blk_order_));
    DirectMotion(mb_addr, 0xF);
    return true;
  }
  if (mb.kind == kMbP8x8 || mb.kind == kMbP8x8Ref0 || mb.kind == kMbB8x8) {
    for (int list = 0; list < 2; ++list) StoreMotion(mb_addr, list, 0, 0, 4, 4, -1, H264Mv());
    for (int s = 0; s < 4; ++s) {
      mb.sub_type[s] = src.SubMbType(b_slice);
      if (mb.sub_type[s] > (b_slice ? 12 : 3) || !src.Ok()) {
        if (pps_cur_->entropy_coding_mode_flag) DebugPrint("[H.264] CABAC error (sub_mb_type) = %x\n", mb.sub_type[s]);
        else DebugPrint("[H.264] sub_mb_type out of range: %d\n", mb.sub_type[s]);
        return false;
      }
      mb.part_pred[s] = b_slice ? kBSubPred[mb.sub_type[s]] : 1;
      const int shape = b_slice ? kBSubShape[mb.sub_type[s]] : mb.sub_type[s];
      for (int p = 0; p < SubPartCount(shape); ++p) {
        int x, y, w, h;
        SubPartGeometry(shape, p, x, y, w, h);
        for (int j = 0; j < h; ++j)
          for (int i = 0; i < w; ++i)
            blk_order_[((s >> 1) * 2 + y + j) * 4 + (s & 1) * 2 + x + i] = static_cast<uint8_t>(s * 4 + p);
      }
    }
    // Direct sub-macroblocks take their motion first; availability follows decoding order.
    unsigned direct = 0;
    for (int s = 0; s < 4; ++s)
      if (mb.part_pred[s] == 4) direct |= 1u << s;
    if (direct != 0) DirectMotion(mb_addr, direct);
    for (int list = 0; list < 2; ++list) {
      const int count = RefCount(mb_addr, list);
      for (int s = 0; s < 4; ++s) {
        mb.ref[list][s] = -1;
        if (mb.part_pred[s] == 4 || !(mb.part_pred[s] & (1 << list))) continue;
        int r = 0;
        if (count > 1 && mb.kind != kMbP8x8Ref0) r = src.RefIdx(mb_addr, list, (s & 1) * 2, (s >> 1) * 2, count - 1);
        if (r < 0 || r >= count || !src.Ok()) {
          DebugPrint("[H.264] ref_idx_l%d out of range: %d\n", list, r);
          return false;
        }
        mb.ref[list][s] = r;
        // The reference index is known before the vectors: later sub-macroblocks' ref_idx
        // contexts (CABAC) look at it.
        StoreRefIdx(mb_addr, list, (s & 1) * 2, (s >> 1) * 2, 2, 2, r);
      }
    }
    for (int list = 0; list < 2; ++list) {
      for (int s = 0; s < 4; ++s) {
        if (mb.part_pred[s] == 4 || !(mb.part_pred[s] & (1 << list))) continue;
        const int shape = b_slice ? kBSubShape[mb.sub_type[s]] : mb.sub_type[s];
        for (int p = 0; p < SubPartCount(shape); ++p) {
          int x, y, w, h;
          SubPartGeometry(shape, p, x, y, w, h);
          x += (s & 1) * 2;
          y += (s >> 1) * 2;
          int dx, dy;
          read_mvd(list, x, y, dx, dy);
          H264Mv mvp;
          PredictMv(mb_addr, list, x, y, w, mb.ref[list][s], 0, mvp);
          H264Mv mv;
          mv.x = static_cast<int16_t>(mvp.x + dx);
          mv.y = static_cast<int16_t>(mvp.y + dy);
          StoreMotion(mb_addr, list, x, y, w, h, mb.ref[list][s], mv);
          StoreMvdMagnitude(info.mvd[list], x, y, w, h, dx, dy);
        }
      }
    }
    return src.Ok();
  }
  // 16x16, 16x8 and 8x16 partitions.
  int parts = 1, pw = 4, ph = 4;
  if (mb.kind == kMbP16x8 || mb.kind == kMbB16x8) { parts = 2; ph = 2; }
  if (mb.kind == kMbP8x16 || mb.kind == kMbB8x16) { parts = 2; pw = 2; }
  // Decoding order of the 4x4 blocks: one partition, or the upper / left one first.
  static const uint8_t kPartOrder[3][16] = {{}, {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1},
                                            {0, 0, 1, 1, 0, 0, 1, 1, 0, 0, 1, 1, 0, 0, 1, 1}};
  std::memcpy(blk_order_, kPartOrder[parts == 1 ? 0 : (ph == 2 ? 1 : 2)], sizeof(blk_order_));
  for (int list = 0; list < 2; ++list) {
    const int count = RefCount(mb_addr, list);
    for (int p = 0; p < parts; ++p) {
      mb.ref[list][p] = -1;
      const int x = pw == 2 ? p * 2 : 0, y = ph == 2 ? p * 2 : 0;
      if (!(mb.part_pred[p] & (1 << list))) {
        StoreMotion(mb_addr, list, x, y, pw, ph, -1, H264Mv());
        continue;
      }
      int r = 0;
      if (count > 1) r = src.RefIdx(mb_addr, list, x, y, count - 1);
      if (r < 0 || r >= count || !src.Ok()) {
        DebugPrint("[H.264] ref_idx_l%d out of range: %d\n", list, r);
        return false;
      }
      mb.ref[list][p] = r;
      if (parts > 1) StoreRefIdx(mb_addr, list, x, y, pw, ph, r);
    }
  }
  for (int list = 0; list < 2; ++list) {
    for (int p = 0; p < parts; ++p) {
      if (!(mb.part_pred[p] & (1 << list))) continue;
      const int x = pw == 2 ? p * 2 : 0, y = ph == 2 ? p * 2 : 0;
      int dx, dy;
      read_mvd(list, x, y, dx, dy);
      int shape = 0;
      if (parts == 2) shape = (ph == 2 ? 1 : 3) + p;  // 1/2: 16x8 upper/lower, 3/4: 8x16 left/right
      H264Mv mvp;
      PredictMv(mb_addr, list, x, y, pw, mb.ref[list][p], shape, mvp);
      H264Mv mv;
      mv.x = static_cast<int16_t>(mvp.x + dx);
      mv.y = static_cast<int16_t>(mvp.y + dy);
      StoreMotion(mb_addr, list, x, y, pw, ph, mb.ref[list][p], mv);
      StoreMvdMagnitude(info.mvd[list], x, y, pw, ph, dx, dy);
    }
  }
  return src.Ok();
}

bool ClassifyMbType(int slice_kind, int mb_type, int& kind, int& i16_mode, int& cbp, int part_pred[4]) {
  if (slice_kind == kSliceP || slice_kind == kSliceSP) {
    if (mb_type < 5) {
      static const uint8_t kinds[5] = {kMbP16x16, kMbP16x8, kMbP8x16, kMbP8x8, kMbP8x8Ref0};
      kind = kinds[mb_type];
      part_pred[0] = part_pred[1] = 1;
      return true;
    }
    mb_type -= 5;
  } else if (slice_kind == kSliceB) {
    if (mb_type < 23) {
      if (mb_type == 0) kind = kMbBDirect;
      else if (mb_type == 22) kind = kMbB8x8;
      else if (mb_type <= 3) kind = kMbB16x16;
      else kind = (mb_type & 1) ? kMbB8x16 : kMbB16x8;
      if (mb_type >= 1 && mb_type <= 21) {
        part_pred[0] = kBMbPartPred[mb_type][0];
        part_pred[1] = kBMbPartPred[mb_type][1];
      }
      return true;
    }
    mb_type -= 23;
  }
  if (mb_type < 0 || mb_type > 25) return false;
  if (mb_type == 0) {
    kind = kMbI4x4;
  } else if (mb_type == 25) {
    kind = kMbIPCM;
  } else {
    // Table 7-11: I_16x16_<pred mode>_<cbp chroma>_<cbp luma>.
    kind = kMbI16x16;
    i16_mode = (mb_type - 1) % 4;
    cbp = (((mb_type - 1) / 4) % 3) << 4 | (mb_type >= 13 ? 15 : 0);
  }
  return true;
}

bool C264_Decode::ParseMacroblockCavlc(BitReader& br, int mb_addr, MbParse& mb) {
  MbInfo& info = mbs_[mb_addr];
  const uint32_t mb_type = br.ReadUe();
  if (!ClassifyMbType(slice_kind_, static_cast<int>(std::min<uint32_t>(mb_type, 1000)), mb.kind, mb.i16_mode, mb.cbp,
                      mb.part_pred) ||
      !br.Ok()) {
    DebugPrint("[H.264] mb_type out of range: %u\n", mb_type);
    return false;
  }
  info.kind = static_cast<uint8_t>(mb.kind);
  if (mb.kind == kMbIPCM) {
    br.AlignToByte();  // pcm_alignment_zero_bit
    const int samples = 256 + 2 * mb_cw_ * mb_ch_;
    for (int i = 0; i < samples; ++i) mb.pcm[i] = static_cast<uint8_t>(br.Read(8));
    return br.Ok();
  }
  CavlcSource src(br);
  if (mb.kind == kMbI4x4 && pps_cur_->transform_8x8_mode_flag) mb.transform_8x8 = br.ReadBit();
  if (IsIntraKind(mb.kind)) {
    if (!ParseIntraModes(mb_addr, mb, src)) return false;
  } else {
    if (!ParseInterPred(mb_addr, mb, src)) return false;
  }
  if (mb.kind != kMbI16x16) {
    // Monochrome and 4:4:4 macroblocks code only the luma part (16 code numbers).
    const bool luma_only = chroma_format_ == 0 || chroma_format_ == 3;
    const uint32_t code = br.ReadUe();
    if (code > (luma_only ? 15u : 47u) || !br.Ok()) {
      DebugPrint("[H.264] coded_block_pattern out of range: %u\n", code);
      return false;
    }
    if (luma_only) mb.cbp = IsIntraKind(mb.kind) ? kCbpLumaFromCodeNumIntra[code] : kCbpLumaFromCodeNumInter[code];
    else mb.cbp = IsIntraKind(mb.kind) ? kCbpFromCodeNumIntra[code] : kCbpFromCodeNumInter[code];
    if (Transform8x8Allowed(mb)) mb.transform_8x8 = br.ReadBit();
  }
  info.cbp = static_cast<uint8_t>(mb.cbp);
  info.transform_8x8 = mb.transform_8x8;
  if (mb.cbp == 0 && mb.kind != kMbI16x16) return true;
  const int32_t delta = br.ReadSe();
  if (delta < -26 || delta > 25) {
    DebugPrint("[H.264] mb_qp_delta out of range: %d\n", delta);
    return false;
  }
  qp_ = (qp_ + delta + 52) % 52;
  info.qp_delta_nonzero = delta != 0;
  return ParseResidualCavlc(br, mb_addr, mb);
}

bool C264_Decode::Transform8x8Allowed(const MbParse& mb) const {
  // transform_size_8x8_flag of an inter macroblock (7.3.5): residual in luma, no partition
  // smaller than 8x8 (direct ones count as 8x8 only with direct_8x8_inference_flag).
  if (!pps_cur_->transform_8x8_mode_flag || (mb.cbp & 15) == 0 || IsIntraKind(mb.kind)) return false;
  const bool inference = cur_sps_.direct_8x8_inference_flag;
  if (mb.kind == kMbBDirect) return inference;
  if (mb.kind == kMbP8x8 || mb.kind == kMbP8x8Ref0) {
    for (int s = 0; s < 4; ++s)
      if (mb.sub_type[s] != 0) return false;
  }
  if (mb.kind == kMbB8x8) {
    for (int s = 0; s < 4; ++s) {
      if (mb.sub_type[s] == 0 && !inference) return false;
      if (mb.sub_type[s] != 0 && kBSubShape[mb.sub_type[s]] != 0) return false;
    }
  }
  return true;
}

bool C264_Decode::ReadCavlcBlock(BitReader& br, int nc, int max_coeff, int32_t* levels, int& total) {
  int total_coeff, trailing_ones;
  if (!ReadCoeffToken(br, nc, total_coeff, trailing_ones) || total_coeff > max_coeff) {
    DebugPrint("[H.264] invalid coeff_token at bit %zu\n", br.BitPosition());
    return false;
  }
  total = total_coeff;
  for (int i = 0; i < max_coeff; ++i) levels[i] = 0;
  if (total_coeff == 0) return true;
  int32_t level[16];
  int suffix_length = total_coeff > 10 && trailing_ones < 3 ? 1 : 0;
  for (int i = 0; i < total_coeff; ++i) {
    if (i < trailing_ones) {
      level[i] = br.ReadBit() ? -1 : 1;
      continue;
    }
    int prefix = 0;
    while (br.ReadBit() == 0) {
      if (++prefix > 25 || !br.Ok()) {
        DebugPrint("[ERROR:H264] level_prefix all 0 : R(%d) W(%d) \n", static_cast<int>(br.BitPosition()),
                   static_cast<int>(br.BitPosition() + br.BitsLeft()));
        return false;
      }
    }
    int32_t code = std::min(15, prefix) << suffix_length;
    if (suffix_length > 0 || prefix >= 14) {
      int size = suffix_length;
      if (prefix == 14 && suffix_length == 0) size = 4;
      if (prefix >= 15) size = prefix - 3;
      if (size > 0) code += static_cast<int32_t>(br.Read(size));
    }
    if (prefix >= 15 && suffix_length == 0) code += 15;
    if (prefix >= 16) code += (1 << (prefix - 3)) - 4096;
    if (i == trailing_ones && trailing_ones < 3) code += 2;
    level[i] = (code % 2 == 0) ? (code + 2) >> 1 : (-code - 1) >> 1;
    if (suffix_length == 0) suffix_length = 1;
    if (std::abs(level[i]) > (3 << (suffix_length - 1)) && suffix_length < 6) ++suffix_length;
  }
  int zeros_left = 0;
  if (total_coeff < max_coeff) {
    if (!ReadTotalZeros(br, total_coeff, nc < 0 ? max_coeff : 0, zeros_left) || total_coeff + zeros_left > max_coeff) {
      DebugPrint("[H.264] invalid total_zeros at bit %zu\n", br.BitPosition());
      return false;
    }
  }
  int coeff_num = -1;
  int run[16];
  for (int i = 0; i < total_coeff - 1; ++i) {
    run[i] = 0;
    if (zeros_left > 0) {
      if (!ReadRunBefore(br, zeros_left, run[i]) || run[i] > zeros_left) {
        DebugPrint("[H.264] invalid run_before at bit %zu\n", br.BitPosition());
        return false;
      }
    }
    zeros_left -= run[i];
  }
  run[total_coeff - 1] = zeros_left;
  for (int i = total_coeff - 1; i >= 0; --i) {
    coeff_num += run[i] + 1;
    levels[coeff_num] = level[i];
  }
  return br.Ok();
}

bool C264_Decode::ParseResidualCavlc(BitReader& br, int mb_addr, MbParse& mb) {
  for (int plane = 0; plane < luma_planes_; ++plane)
    if (!ParseLumaLikeCavlc(br, mb_addr, mb, plane)) return false;
  if (chroma_format_ == 1 || chroma_format_ == 2) return ParseChromaCavlc(br, mb_addr, mb);
  return true;
}

// residual_luma() of one component coded like luma (luma; Cb and Cr of 4:4:4 pictures).
bool C264_Decode::ParseLumaLikeCavlc(BitReader& br, int mb_addr, MbParse& mb, int plane) {
  MbInfo& info = mbs_[mb_addr];
  const int tc_base = plane * 16;
  auto nc_luma = [&](int bx, int by) {
    int ba, bb;
    const int na = LumaNeighbour(mb_addr, bx - 1, by, ba);
    const int nb = LumaNeighbour(mb_addr, bx, by - 1, bb);
    const int ca = na >= 0 ? mbs_[na].total_coeff[tc_base + ba] : 0;
    const int cb = nb >= 0 ? mbs_[nb].total_coeff[tc_base + bb] : 0;
    if (na >= 0 && nb >= 0) return (ca + cb + 1) >> 1;
    return na >= 0 ? ca : (nb >= 0 ? cb : 0);
  };
  int32_t levels[16];
  int total;
  if (mb.kind == kMbI16x16) {
    if (!ReadCavlcBlock(br, nc_luma(0, 0), 16, levels, total)) return false;
    for (int i = 0; i < 16; ++i) mb.luma_dc[plane][scan4x4_[i]] = levels[i];
    mb.luma_dc_coded[plane] = total > 0;
  }
  for (int blk = 0; blk < 16; ++blk) {
    const int bx = kBlock4x4X[blk], by = kBlock4x4Y[blk];
    int32_t* out = mb.luma[plane][blk];
    std::memset(out, 0, sizeof(mb.luma[plane][blk]));
    if (!(mb.cbp & (1 << (blk >> 2)))) {
      info.total_coeff[tc_base + by * 4 + bx] = 0;
      continue;
    }
    const int nc = nc_luma(bx, by);
    if (mb.transform_8x8) {
      // An 8x8 block is sent as four interleaved 4x4 blocks (7.3.5.3.2).
      if (!ReadCavlcBlock(br, nc, 16, levels, total)) return false;
      const int b8 = blk >> 2, i4 = blk & 3;
      if (i4 == 0) std::memset(mb.luma8x8[plane][b8], 0, sizeof(mb.luma8x8[plane][b8]));
      for (int i = 0; i < 16; ++i) mb.luma8x8[plane][b8][scan8x8_[4 * i + i4]] = levels[i];
      info.total_coeff[tc_base + by * 4 + bx] = static_cast<uint8_t>(total);
      if (total > 0) {
        mb.luma8x8_coded[plane] |= static_cast<uint8_t>(1 << b8);
        const int x0 = (b8 & 1) * 2, y0 = (b8 >> 1) * 2;
        if (plane == 0) info.nonzero |= static_cast<uint16_t>(0x33 << (y0 * 4 + x0));
      }
      continue;
    }
    if (mb.kind == kMbI16x16) {
      if (!ReadCavlcBlock(br, nc, 15, levels, total)) return false;
      for (int i = 0; i < 15; ++i) out[scan4x4_[i + 1]] = levels[i];
    } else {
      if (!ReadCavlcBlock(br, nc, 16, levels, total)) return false;
      for (int i = 0; i < 16; ++i) out[scan4x4_[i]] = levels[i];
    }
    info.total_coeff[tc_base + by * 4 + bx] = static_cast<uint8_t>(total);
    if (total > 0) {
      mb.luma_coded[plane] |= static_cast<uint16_t>(1 << blk);
      if (plane == 0) info.nonzero |= static_cast<uint16_t>(1 << (by * 4 + bx));
    }
  }
  return true;
}

// Chroma DC and AC blocks of 4:2:0 and 4:2:2 macroblocks.
bool C264_Decode::ParseChromaCavlc(BitReader& br, int mb_addr, MbParse& mb) {
  MbInfo& info = mbs_[mb_addr];
  const int blocks = mb_ch_ / 4 * 2;   // 4x4 blocks per component: 4 or 8
  const int dc_nc = blocks == 4 ? -1 : -2;
  int32_t levels[16];
  int total;
  const int cbp_chroma = mb.cbp >> 4;
  for (int comp = 0; comp < 2; ++comp) {
    std::memset(mb.chroma_dc[comp], 0, sizeof(mb.chroma_dc[comp]));
    if (cbp_chroma & 3) {
      if (!ReadCavlcBlock(br, dc_nc, blocks, levels, total)) return false;
      for (int i = 0; i < blocks; ++i) mb.chroma_dc[comp][i] = levels[i];
      mb.chroma_dc_coded[comp] = total > 0;
    }
  }
  for (int comp = 0; comp < 2; ++comp) {
    for (int blk = 0; blk < blocks; ++blk) {
      int32_t* out = mb.chroma_ac[comp][blk];
      std::memset(out, 0, sizeof(mb.chroma_ac[comp][blk]));
      uint8_t& tc = info.total_coeff[16 + comp * 16 + blk];
      tc = 0;
      if (!(cbp_chroma & 2)) continue;
      const int bx = blk & 1, by = blk >> 1;
      int ba, bb;
      const int na = ChromaNeighbour(mb_addr, bx - 1, by, ba);
      const int nb = ChromaNeighbour(mb_addr, bx, by - 1, bb);
      const int ca = na >= 0 ? mbs_[na].total_coeff[16 + comp * 16 + ba] : 0;
      const int cb = nb >= 0 ? mbs_[nb].total_coeff[16 + comp * 16 + bb] : 0;
      const int nc = (na >= 0 && nb >= 0) ? (ca + cb + 1) >> 1 : (na >= 0 ? ca : (nb >= 0 ? cb : 0));
      if (!ReadCavlcBlock(br, nc, 15, levels, total)) return false;
      for (int i = 0; i < 15; ++i) out[scan4x4_[i + 1]] = levels[i];
      tc = static_cast<uint8_t>(total);
      if (total > 0) mb.chroma_coded |= static_cast<uint16_t>(1 << (comp * 8 + blk));
    }
  }
  return true;
}

void C264_Decode::SetupSkip(int mb_addr, MbParse& mb) {
  MbInfo& info = mbs_[mb_addr];
  mb.Reset();
  mb.kind = slice_kind_ == kSliceB ? kMbBSkip : kMbPSkip;
  info.kind = static_cast<uint8_t>(mb.kind);
  std::memset(blk_order_, 0, sizeof(blk_order_));
  if (mb.kind == kMbPSkip) {
    PSkipMotion(mb_addr);
  } else {
    DirectMotion(mb_addr, 0xF);
  }
}

void C264_Decode::SetPairField(int mb_addr, bool field) {
  // mb_field_decoding_flag belongs to the pair; the scans follow it.
  const int top = mb_addr & ~1;
  mbs_[top].field = mbs_[top + 1].field = field ? 1 : 0;
  mb_field_ = field;
  scan4x4_ = field ? kFieldScan4x4 : kZigzag4x4;
  scan8x8_ = field ? kFieldScan8x8 : kZigzag8x8;
}

bool C264_Decode::InferredPairField(int mb_addr) const {
  // 7.4.4: a pair without mb_field_decoding_flag of its own is coded like the pair to the
  // left, else like the pair above, else as frame macroblocks.
  const int pair = mb_addr >> 1, col = pair % mb_width_;
  if (col > 0 && mbs_[2 * (pair - 1)].slice == slice_num_) return mbs_[2 * (pair - 1)].field;
  if (pair >= mb_width_ && mbs_[2 * (pair - mb_width_)].slice == slice_num_) return mbs_[2 * (pair - mb_width_)].field;
  return false;
}

// Starts macroblock mb_addr: its record is cleared, and in MBAFF frames the top macroblock
// of a pair takes the inferred field decoding flag until the pair codes its own.
void C264_Decode::BeginMacroblock(int mb_addr) {
  direct_cache_mb_ = -1;
  FindNeighbours(mb_addr);
  MbInfo& info = mbs_[mb_addr];
  const uint8_t pair_field = mbaff_ && (mb_addr & 1) ? mbs_[mb_addr - 1].field : 0;
  // Copied from a constant: a temporary built on the stack and read back at once stalls.
  static const MbInfo kCleared{};
  mbs_decoded_ += info.slice < 0;
  info = kCleared;
  info.slice = static_cast<int16_t>(slice_num_);
  if (!mbaff_) return;
  if (mb_addr & 1) {
    info.field = pair_field;
    SetPairField(mb_addr, pair_field);
  } else {
    mbs_decoded_ -= mbs_[mb_addr + 1].slice >= 0;
    mbs_[mb_addr + 1] = kCleared;
    SetPairField(mb_addr, InferredPairField(mb_addr));
  }
}

bool C264_Decode::DecodeSliceData(BitReader& br, const uint8_t* rbsp, size_t size) {
  const bool cabac = pps_cur_->entropy_coding_mode_flag;
  int mb_addr = static_cast<int>(sh_.first_mb_in_slice) * (mbaff_ ? 2 : 1);
  MbParse mb;
  prev_qp_delta_nonzero_ = false;
  next_skip_ = -1;
  if (cabac) {
    // cabac_alignment_one_bit, then the engine starts on the byte boundary.
    br.AlignToByte();
    cabac_.InitContexts(slice_kind_ == kSliceI || slice_kind_ == kSliceSI, static_cast<int>(sh_.cabac_init_idc), qp_);
    cabac_.InitEngine(&br);
  }
  for (;;) {
    if (mb_addr >= mb_count_) {
      DebugPrint("[H.264] slice runs past the last macroblock\n");
      return false;
    }
    if (!cabac && slice_kind_ != kSliceI && slice_kind_ != kSliceSI) {
      uint32_t run = br.ReadUe();
      if (!br.Ok() || run > static_cast<uint32_t>(mb_count_ - mb_addr)) {
        DebugPrint("[H.264] mb_skip_run out of range: %u\n", run);
        return false;
      }
      for (; run > 0; --run) {
        BeginMacroblock(mb_addr);
        // MBAFF: a skipped top macroblock whose bottom one is coded takes the pair's
        // mb_field_decoding_flag, which comes next.
        if (mbaff_ && !(mb_addr & 1) && run == 1) SetPairField(mb_addr, br.ReadBit() != 0);
        mbs_[mb_addr].qp = static_cast<int8_t>(qp_);
        SetupSkip(mb_addr, mb);
        ReconstructMacroblock(mb_addr, mb);
        DeblockRowAbove(mb_addr);
        ++mb_addr;
      }
      if (!MoreRbspData(br, rbsp, size)) return true;
      if (mb_addr >= mb_count_) {
        DebugPrint("[H.264] slice runs past the last macroblock\n");
        return false;
      }
      BeginMacroblock(mb_addr);
      if (mbaff_ && !(mb_addr & 1)) SetPairField(mb_addr, br.ReadBit() != 0);
    } else {
      BeginMacroblock(mb_addr);
      if (!cabac && mbaff_ && !(mb_addr & 1)) SetPairField(mb_addr, br.ReadBit() != 0);
    }
    MbInfo& info = mbs_[mb_addr];
    mb.Reset();
    bool ok;
    if (cabac) ok = ParseMacroblockCabac(mb_addr, mb);
    else ok = ParseMacroblockCavlc(br, mb_addr, mb);
    if (!ok || !br.Ok() || (cabac && cabac_.Overrun())) {
      // Keep what was decoded so far; this macroblock is left as it was.
      info.slice = -1;
      --mbs_decoded_;
      return false;
    }
    if (!IsSkipKind(mb.kind)) info.qp = static_cast<int8_t>(mb.kind == kMbIPCM ? 0 : qp_);
    ReconstructMacroblock(mb_addr, mb);
    DeblockRowAbove(mb_addr);
    if (cabac) {
      if (mb.kind == kMbIPCM) cabac_.InitEngine(&br);
      // MBAFF: no end_of_slice_flag after a top macroblock; a slice holds whole pairs.
      const int end = mbaff_ && !(mb_addr & 1) ? 0 : cabac_.DecodeTerminate();
      if (cabac_.Overrun()) {
        DebugPrint("[H.264] CABAC slice data truncated\n");
        return false;
      }
      ++mb_addr;
      if (end) return true;
    } else {
      ++mb_addr;
      if (!MoreRbspData(br, rbsp, size)) return true;
    }
  }
}

}  // namespace fennik
