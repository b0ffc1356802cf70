// Motion vector prediction (H.264 8.4.1.3), P_Skip motion (8.4.1.1) and the spatial and
// temporal direct modes of B slices (8.4.1.2).
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "base/DebugPrint.h"
#include "codec/video/H264DecodeInternal.h"
#include "codec/video/h264_tables.h"

namespace fennik {
namespace {

// The motion of a partition's neighbours A, B and C (or D) in one list: reference index (-1
// when not available or not using the list) and vector (zero then).
struct Neighbours {
  int ref[3] = {-1, -1, -1};
  H264Mv mv[3];
  bool only_a = false;  // A available, B and C not: B and C take A's motion
};

int Median(int a, int b, int c) { return std::max(std::min(a, b), std::min(std::max(a, b), c)); }

// The lowest of the indices that are not negative, -1 when none is (-1 marks an unused list).
int MinPositive(int a, int b, int c) {
  return static_cast<int>(std::min({static_cast<unsigned>(a), static_cast<unsigned>(b), static_cast<unsigned>(c)}));
}

// The predictor from the neighbours of a partition of the given shape (1/2 16x8 upper/lower,
// 3/4 8x16 left/right, 0 any other).
[[gnu::always_inline]] inline H264Mv SelectMvp(const Neighbours& n, int ref_idx, int shape) {
  if (n.only_a) return n.mv[0];  // the median of A, A and A
  switch (shape) {
    case 1: if (n.ref[1] == ref_idx) return n.mv[1]; break;
    case 2: case 3: if (n.ref[0] == ref_idx) return n.mv[0]; break;
    case 4: if (n.ref[2] == ref_idx) return n.mv[2]; break;
    default: break;
  }
  const bool ma = n.ref[0] == ref_idx, mb = n.ref[1] == ref_idx, mc = n.ref[2] == ref_idx;
  if (ma + mb + mc == 1) return ma ? n.mv[0] : (mb ? n.mv[1] : n.mv[2]);
  H264Mv mvp;
  mvp.x = static_cast<int16_t>(Median(n.mv[0].x, n.mv[1].x, n.mv[2].x));
  mvp.y = static_cast<int16_t>(Median(n.mv[0].y, n.mv[1].y, n.mv[2].y));
  return mvp;
}

// The neighbours' motion in one list, given by ref_of(k, ref, mv) for the available ones.
template <typename RefOfNeighbour>
[[gnu::always_inline]] inline void GatherNeighbours(const int idx[3], Neighbours& n, RefOfNeighbour ref_of) {
  n.only_a = idx[0] >= 0 && idx[1] < 0 && idx[2] < 0;
  if (idx[0] >= 0) ref_of(0, n.ref[0], n.mv[0]);
  if (idx[1] >= 0) ref_of(1, n.ref[1], n.mv[1]);
  if (idx[2] >= 0) ref_of(2, n.ref[2], n.mv[2]);
}

}  // namespace

void C264_Decode::FillRefEntries() {
  for (int list = 0; list < 2; ++list)
    for (int kind = 0; kind < 3; ++kind) {
      // RefOf and RefCount answer by the macroblock's kind: a representative address of it.
      const int count = refs_.count[list] * (kind ? 2 : 1);
      for (int r = 0; r < 2 * kMaxRefIdx; ++r) {
        RefEntry& e = ref_entry_[list][kind][r];
        e = RefEntry();
        if (r >= count) continue;
        int parity = 0;
        const H264Picture* ref = nullptr;
        if (kind == 0) {
          parity = refs_.parity[list][r];
          ref = refs_.pic[list][r];
        } else {
          parity = (r & 1) ? 3 - kind : kind;
          ref = refs_.pic[list][r >> 1];
        }
        if (ref == nullptr) continue;
        e.serial = ref->serial * 4 + parity;
        e.poc = parity == 1 ? ref->poc_top : (parity == 2 ? ref->poc_bottom : ref->poc);
        const auto same = [&](const RefEntry& p) { return p.serial == e.serial; };
        if (std::none_of(picture_refs_.begin(), picture_refs_.end(), same)) picture_refs_.push_back(e);
      }
    }
}

namespace {

uint32_t MvBits(H264Mv mv) {
  uint32_t bits;
  std::memcpy(&bits, &mv, sizeof(bits));
  return bits;
}

// Rows of a block of W 4x4 blocks' motion data: the vector, index and id repeated in 64-bit
// (W 2, 4) or single stores.
template <int W>
void StoreRows(int rows, int stride, H264Mv* mvs, int8_t* refs, int32_t* serials, H264Mv mv, int8_t ref,
               int32_t serial) {
  const uint64_t mv2 = uint64_t{MvBits(mv)} * 0x100000001u;
  const uint64_t serial2 = uint64_t{static_cast<uint32_t>(serial)} * 0x100000001u;
  const uint32_t ref4 = uint32_t{static_cast<uint8_t>(ref)} * 0x01010101u;
  for (int j = 0; j < rows; ++j, mvs += stride, refs += stride, serials += stride) {
    if constexpr (W == 1) {
      *mvs = mv;
      *refs = ref;
      *serials = serial;
    } else {
      for (int i = 0; i < W; i += 2) {
        std::memcpy(static_cast<void*>(mvs + i), &mv2, sizeof(mv2));
        std::memcpy(serials + i, &serial2, sizeof(serial2));
      }
      std::memcpy(refs, &ref4, W);
    }
  }
}

}  // namespace

void C264_Decode::StoreMbMotion(int mb_addr, const int ref_idx[2], const H264Mv mv[2]) {
  const int stride = mb_width_ * 4;
  const int base = MotionBase(mb_addr);
  const int kind = mbaff_ && mbs_[mb_addr].field ? 1 + (mb_addr & 1) : 0;
  for (int list = 0; list < 2; ++list) {
    const int r = ref_idx[list];
    const int32_t serial = static_cast<unsigned>(r) < 2 * kMaxRefIdx ? ref_entry_[list][kind][r].serial : -1;
    const uint64_t mv2 = uint64_t{MvBits(mv[list])} * 0x100000001u;
    const uint64_t serial2 = uint64_t{static_cast<uint32_t>(serial)} * 0x100000001u;
    const uint32_t ref4 = uint32_t{static_cast<uint8_t>(r)} * 0x01010101u;
    auto* mvs = reinterpret_cast<uint8_t*>(mv_[list] + base);
    auto* serials = reinterpret_cast<uint8_t*>(ref_serial_[list] + base);
    int8_t* refs = ref_idx_[list] + base;
    const auto row = [&](int j) {
      const size_t wide = size_t(j) * size_t(stride) * 4;
      std::memcpy(mvs + wide, &mv2, 8);
      std::memcpy(mvs + wide + 8, &mv2, 8);
      std::memcpy(serials + wide, &serial2, 8);
      std::memcpy(serials + wide + 8, &serial2, 8);
      std::memcpy(refs + j * stride, &ref4, 4);
    };
    row(0);
    row(1);
    row(2);
    row(3);
  }
}

void C264_Decode::StoreMotion(int mb_addr, int list, int bx, int by, int bw, int bh, int ref_idx, H264Mv mv) {
  const int stride = mb_width_ * 4;
  const int base = MotionBase(mb_addr) + by * stride + bx;
  const int kind = mbaff_ && mbs_[mb_addr].field ? 1 + (mb_addr & 1) : 0;
  const int32_t serial = static_cast<unsigned>(ref_idx) < 2 * kMaxRefIdx ? ref_entry_[list][kind][ref_idx].serial : -1;
  const auto ref8 = static_cast<int8_t>(ref_idx);
  H264Mv* mvs = mv_[list] + base;
  int8_t* refs = ref_idx_[list] + base;
  int32_t* serials = ref_serial_[list] + base;
  switch (bw) {
    case 4: StoreRows<4>(bh, stride, mvs, refs, serials, mv, ref8, serial); break;
    case 2: StoreRows<2>(bh, stride, mvs, refs, serials, mv, ref8, serial); break;
    default: StoreRows<1>(bh, stride, mvs, refs, serials, mv, ref8, serial); break;
  }
}

void C264_Decode::StoreRefIdx(int mb_addr, int list, int bx, int by, int bw, int bh, int ref_idx) {
  const int stride = mb_width_ * 4;
  int8_t* refs = ref_idx_[list] + MotionBase(mb_addr) + by * stride + bx;
  const uint32_t ref4 = uint32_t{static_cast<uint8_t>(ref_idx)} * 0x01010101u;
  for (int j = 0; j < bh; ++j, refs += stride) {
    if (bw == 4) std::memcpy(refs, &ref4, 4);
    else if (bw == 2) std::memcpy(refs, &ref4, 2);
    else *refs = static_cast<int8_t>(ref_idx);
  }
}

int C264_Decode::MbaffNeighbourIndex(int mb_addr, int xn, int yn, int cur_order, int& nb_mb) const {
  int nb_blk;
  if (!NeighbourAvailable(mb_addr, xn, yn, cur_order, nb_mb, nb_blk)) return -1;
  return BlockBase(nb_mb) + (nb_blk >> 2) * mb_width_ * 4 + (nb_blk & 3);
}

bool C264_Decode::NeighbourAvailable(int mb_addr, int xn, int yn, int cur_order, int& nb_mb, int& nb_blk) const {
  if (xn >= 0 && xn < 16 && yn >= 0) {
    nb_mb = mb_addr;
    nb_blk = (yn >> 2) * 4 + (xn >> 2);
    return blk_order_[nb_blk] < cur_order;
  }
  if (xn >= 16 && yn >= 0) return false;  // the macroblock to the right is not decoded yet
  int xw, yw;
  nb_mb = NeighbourLocation(mb_addr, xn, yn, 16, 16, xw, yw);
  nb_blk = (yw >> 2) * 4 + (xw >> 2);
  return nb_mb >= 0;
}

void C264_Decode::ScaleNeighbourMotion(int mb_addr, int nb_mb, int& ref, H264Mv& mv) const {
  if (!mbaff_ || ref < 0 || mbs_[mb_addr].field == mbs_[nb_mb].field) return;
  if (mbs_[mb_addr].field) {
    mv.y = static_cast<int16_t>(mv.y / 2);
    ref *= 2;
  } else {
    mv.y = static_cast<int16_t>(mv.y * 2);
    ref >>= 1;
  }
}

void C264_Decode::PredictMv(int mb_addr, int list, int bx, int by, int bw, int ref_idx, int shape, H264Mv& mvp) {
  // The luma locations left of, above, above right of (else above left of) the partition;
  // those of a 16x16 partition all lie outside the macroblock.
  int nb[3], idx[3];
  if (bw == 4 && bx == 0 && by == 0) {
    MbNeighbourBlocks(mb_addr, idx, nb);
  } else {
    const int order = blk_order_[by * 4 + bx];
    const int x = bx * 4, y = by * 4;
    idx[0] = NeighbourIndex(mb_addr, x - 1, y, order, nb[0]);
    idx[1] = NeighbourIndex(mb_addr, x, y - 1, order, nb[1]);
    idx[2] = NeighbourIndex(mb_addr, x + bw * 4, y - 1, order, nb[2]);
    if (idx[2] < 0) idx[2] = NeighbourIndex(mb_addr, x - 1, y - 1, order, nb[2]);
  }
  Neighbours n;
  GatherNeighbours(idx, n, [&](int k, int& r, H264Mv& mv) { NeighbourRef(mb_addr, nb[k], list, idx[k], r, mv); });
  mvp = SelectMvp(n, ref_idx, shape);
}

void C264_Decode::MbaffMbNeighbourBlocks(int mb_addr, int idx[3], int nb[3]) const {
  idx[0] = MbaffNeighbourIndex(mb_addr, -1, 0, 0, nb[0]);
  idx[1] = MbaffNeighbourIndex(mb_addr, 0, -1, 0, nb[1]);
  idx[2] = MbaffNeighbourIndex(mb_addr, 16, -1, 0, nb[2]);
  if (idx[2] < 0) idx[2] = MbaffNeighbourIndex(mb_addr, -1, -1, 0, nb[2]);
}

void C264_Decode::PSkipMotion(int mb_addr) {
  // Zero motion when A or B is not available or either is a zero vector of reference 0; the
  // skipped macroblock's own blocks are not looked at.
  int nb[3], idx[3];
  MbNeighbourBlocks(mb_addr, idx, nb);
  Neighbours n;
  GatherNeighbours(idx, n, [&](int k, int& ref, H264Mv& mv) { NeighbourRef(mb_addr, nb[k], 0, idx[k], ref, mv); });
  H264Mv mv[2];
  const auto zero = [&](int k) { return idx[k] < 0 || (n.ref[k] == 0 && MvBits(n.mv[k]) == 0); };
  if (!zero(0) && !zero(1)) mv[0] = SelectMvp(n, 0, 0);
  static const int kRefs[2] = {0, -1};
  StoreMbMotion(mb_addr, kRefs, mv);
}

void C264_Decode::DirectSpatialRefs(int mb_addr, int ref[2], H264Mv mvp[2]) {
  // Neighbours A, B and C (or D) of the whole macroblock; per list the lowest index they use
  // and its predictor.
  int nb[3], idx[3];
  MbNeighbourBlocks(mb_addr, idx, nb);
#pragma GCC unroll 2
  for (int list = 0; list < 2; ++list) {
    Neighbours n;
    GatherNeighbours(idx, n, [&](int k, int& r, H264Mv& mv) { NeighbourRef(mb_addr, nb[k], list, idx[k], r, mv); });
    ref[list] = MinPositive(n.ref[0], n.ref[1], n.ref[2]);
    mvp[list] = ref[list] >= 0 ? SelectMvp(n, ref[list], 0) : H264Mv();
  }
  if (ref[0] < 0 && ref[1] < 0) ref[0] = ref[1] = 0;
}

// The co-located picture (RefPicList1[0]) of a direct macroblock and how its motion data
// lines up with the macroblock's (8.4.1.2.1).
struct C264_Decode::Colocated {
  const H264Picture* col = nullptr;
  bool cur_field = false;       // the current macroblock is a field macroblock
  bool col_mbaff = false;       // both MBAFF frames
  bool col_pair_field = false;  // ... and the co-located pair is field coded
  bool field_over_frame = false;
  bool over_mbaff = false;      // a field over an MBAFF frame
  int pair = 0;                 // that frame's pair at the field macroblock's place
  bool over_field_pair = false;
  bool frame_over_fields = false;
  bool col_bottom = false;      // the bottom field's half of a field-coded picture
  int col_parity = 0;           // the field nearer in order count (0 top, 1 bottom)
};

// The co-located block's motion: list 0 if it used it, else list 1 (none for intra).
struct C264_Decode::ColocatedMotion {
  int ref = -1;
  H264Mv mv;
  int32_t ref_serial = -1;
  int vertical_scale = 0;  // -1 halve, 1 double the vertical vector
};

C264_Decode::Colocated C264_Decode::ColocatedOf(int mb_addr) const {
  // A field picture takes the field RefPicList1[0]: its half of the motion data when it was
  // decoded as a field, else the frame macroblock at its row's top or bottom (vertical vector
  // halved). A frame picture over a frame decoded as two fields takes the field nearer in
  // order count (vertical vector doubled). In MBAFF frames a macroblock and its co-located
  // pair may differ in coding likewise: a field macroblock over a frame pair takes the pair's
  // top or bottom macroblock by the row, a frame macroblock over a field pair the field nearer
  // in order count.
  Colocated c;
  const H264Picture* col = refs_.pic[1][0];
  c.col = col;
  c.cur_field = field_ != 0 || FieldMb(mb_addr);
  c.col_mbaff = mbaff_ && col != nullptr && col->mb_field.size() == mbs_.size();
  c.col_pair_field = c.col_mbaff && col->mb_field[mb_addr & ~1];
  c.field_over_frame = field_ != 0 && col != nullptr && !col->field_coded;
  c.over_mbaff = c.field_over_frame && !col->mb_field.empty();
  c.pair = mb_addr / mb_width_ * mb_width_ + mb_addr % mb_width_;
  c.over_field_pair = c.over_mbaff && col->mb_field[2 * c.pair];
  c.frame_over_fields = field_ == 0 && col != nullptr && col->field_coded;
  c.col_bottom = field_ != 0 && refs_.parity[1][0] == 2 && col != nullptr && col->field_coded;
  if (col != nullptr && ((c.col_mbaff && c.col_pair_field && !c.cur_field) || (c.frame_over_fields && !c.cur_field))) {
    const int32_t cur = CurPoc();
    c.col_parity = std::abs(int64_t{col->poc_top} - cur) >= std::abs(int64_t{col->poc_bottom} - cur) ? 1 : 0;
  }
  return c;
}

C264_Decode::ColocatedMotion C264_Decode::ColocatedBlock(const Colocated& c, int mb_addr, int cx, int cy) const {
  // The co-located macroblock's index in the picture's per-macroblock data, the index of its
  // first 4x4 block in the motion data, and the 4x4 row inside it.
  ColocatedMotion m;
  int col_mb = (c.col_bottom ? mb_count_ : 0) + mb_addr;
  int col_base = (c.col_bottom ? mb_count_ * 16 : 0) + BlockBase(mb_addr);
  int row = cy;
  if (c.over_mbaff) {
    // Field macroblock of the current parity of a field pair, or the frame pair's top or
    // bottom macroblock by the row (frame rows 2r and 2r + 1 of the pair's slots).
    const int k = c.over_field_pair ? field_ - 1 : (cy >= 2 ? 1 : 0);
    col_mb = 2 * c.pair + k;
    col_base = (2 * (mb_addr / mb_width_) + k) * 16 * mb_width_ + mb_addr % mb_width_ * 4;
    if (!c.over_field_pair) {
      row = (2 * cy * 4) % 16 / 4;
      m.vertical_scale = -1;
    }
  } else if (c.field_over_frame) {
    const int frame_mb = (2 * (mb_addr / mb_width_) + (cy >= 2 ? 1 : 0)) * mb_width_ + mb_addr % mb_width_;
    col_mb = frame_mb;
    col_base = frame_mb / mb_width_ * 16 * mb_width_ + frame_mb % mb_width_ * 4;
    row = (2 * cy * 4) % 16 / 4;
    m.vertical_scale = -1;
  } else if (c.frame_over_fields) {
    // A frame macroblock takes the nearer field's macroblock at half its row; a field
    // macroblock of an MBAFF frame the one of its parity at its pair's row.
    const int field_mbs = mb_width_ * (frame_mb_height_ / 2);
    const int field_row = c.cur_field ? MbY(mb_addr) >> 1 : MbY(mb_addr) / 2;
    const int field_mb = field_row * mb_width_ + MbX(mb_addr);
    const int half = c.cur_field ? (mb_addr & 1) : c.col_parity;
    col_mb = half * field_mbs + field_mb;
    col_base = half * field_mbs * 16 + field_row * 16 * mb_width_ + MbX(mb_addr) * 4;
    if (!c.cur_field) {
      row = 2 * (MbY(mb_addr) % 2) + (cy >= 2 ? 1 : 0);
      m.vertical_scale = 1;
    }
  } else if (c.col_mbaff && c.col_pair_field != c.cur_field) {
    const int pair_top = mb_addr & ~1;
    col_mb = c.cur_field ? pair_top + (cy >= 2 ? 1 : 0) : pair_top + c.col_parity;
    col_base = BlockBase(col_mb);
    row = c.cur_field ? (2 * cy * 4) % 16 / 4 : 2 * (mb_addr & 1) + (cy >= 2 ? 1 : 0);
    m.vertical_scale = c.cur_field ? -1 : 1;
  }
  const H264Picture* col = c.col;
  const bool col_intra = col == nullptr || col->mb_intra.size() <= static_cast<size_t>(col_mb) || col->mb_intra[col_mb];
  if (col_intra) return m;
  const int cidx = col_base + row * mb_width_ * 4 + cx;
  const int l = col->ref_idx[0][cidx] >= 0 ? 0 : 1;
  m.ref = col->ref_idx[l][cidx];
  m.mv = col->mv[l][cidx];
  m.ref_serial = col->ref_serial[l][cidx];
  return m;
}

bool C264_Decode::ColZero(const Colocated& c, const ColocatedMotion& m) const {
  // A short-term reference's co-located block of (nearly) no motion.
  return c.col != nullptr && !c.col->long_ref && m.ref == 0 && std::abs(m.mv.x) <= 1 && std::abs(m.mv.y) <= 1;
}

void C264_Decode::DirectSpatialBlock(int mb_addr, int bx, int by, int size, bool col_zero) {
  // 8.4.1.2.2: the neighbours' predictors, zero where the co-located block does not move.
  for (int list = 0; list < 2; ++list) {
    H264Mv mv;
    const int r = direct_cache_ref_[list];
    if (r >= 0 && !(r == 0 && col_zero)) mv = direct_cache_mv_[list];
    StoreMotion(mb_addr, list, bx, by, size, size, r, mv);
  }
}

bool C264_Decode::DirectSpatialShared(int mb_addr, unsigned subs) {
  for (int list = 0; list < 2; ++list) {
    const H264Mv mv = direct_cache_mv_[list];
    if (direct_cache_ref_[list] == 0 && (mv.x != 0 || mv.y != 0)) return false;
  }
  for (int sub = 0; sub < 4; ++sub)
    if (subs & (1u << sub)) DirectSpatialBlock(mb_addr, (sub & 1) * 2, (sub >> 1) * 2, 2, false);
  return true;
}

int C264_Decode::DirectTemporalRef0(int mb_addr, bool cur_field, int32_t col_ref_serial) const {
  // refIdxL0 is the lowest index of list 0 holding the co-located block's reference picture.
  // In an MBAFF frame a frame macroblock looks for the frame holding the co-located block's
  // reference (field or frame), a field macroblock for that field, or for the field of its
  // own parity of a referenced frame.
  const int count = RefCount(mb_addr, 0);
  const int own = field_ ? field_ : ((mb_addr & 1) ? 2 : 1);
  for (int k = 0; k < count; ++k) {
    int parity;
    const H264Picture* p = RefOf(mb_addr, 0, k, parity);
    if (p == nullptr) continue;
    if (!cur_field) {
      if (p->serial == col_ref_serial >> 2) return k;
    } else if (col_ref_serial & 3) {
      if (p->serial * 4 + parity == col_ref_serial) return k;
    } else if (p->serial == col_ref_serial >> 2 && parity == own) {
      return k;
    }
  }
  DebugPrint("[H.264] direct: co-located reference not in list 0\n");
  return 0;
}

void C264_Decode::DirectTemporalBlock(int mb_addr, int bx, int by, int size, const Colocated& c, ColocatedMotion m) {
  // 8.4.1.2.3: the co-located vector scaled by the order count distances.
  const int ref0 = m.ref >= 0 ? DirectTemporalRef0(mb_addr, c.cur_field, m.ref_serial) : 0;
  H264Mv& mv_col = m.mv;
  if (m.vertical_scale < 0) mv_col.y = static_cast<int16_t>(mv_col.y / 2);
  if (m.vertical_scale > 0) mv_col.y = static_cast<int16_t>(mv_col.y * 2);
  H264Mv mv0 = mv_col, mv1;
  int parity0, parity1;
  const H264Picture* pic0 = RefOf(mb_addr, 0, ref0, parity0);
  const H264Picture* pic1 = RefOf(mb_addr, 1, 0, parity1);
  if (pic0 != nullptr && pic1 != nullptr && !pic0->long_ref) {
    // Order counts of the pictures, or of the fields for a field macroblock.
    auto poc_of = [](const H264Picture* p, int parity) {
      return parity == 1 ? p->poc_top : (parity == 2 ? p->poc_bottom : p->poc);
    };
    const int own = field_ ? field_ : (c.cur_field ? ((mb_addr & 1) ? 2 : 1) : 0);
    const int32_t cur_poc = own == 1 ? cur_poc_.top : (own == 2 ? cur_poc_.bottom : cur_->poc);
    const int tb = static_cast<int>(std::clamp<int64_t>(int64_t{cur_poc} - poc_of(pic0, parity0), -128, 127));
    const int td = static_cast<int>(std::clamp<int64_t>(int64_t{poc_of(pic1, parity1)} - poc_of(pic0, parity0), -128, 127));
    if (td != 0) {
      const int tx = (16384 + std::abs(td / 2)) / td;
      const int dsf = std::clamp((tb * tx + 32) >> 6, -1024, 1023);
      mv0.x = static_cast<int16_t>((dsf * mv_col.x + 128) >> 8);
      mv0.y = static_cast<int16_t>((dsf * mv_col.y + 128) >> 8);
      mv1.x = static_cast<int16_t>(mv0.x - mv_col.x);
      mv1.y = static_cast<int16_t>(mv0.y - mv_col.y);
    }
  }
  StoreMotion(mb_addr, 0, bx, by, size, size, ref0, mv0);
  StoreMotion(mb_addr, 1, bx, by, size, size, 0, mv1);
}

void C264_Decode::DirectSubsMotion(int mb_addr, unsigned subs) {
  const bool spatial = sh_.direct_spatial_mv_pred_flag;
  // Each sub-macroblock's bit s spread over its four 4x4 blocks (raster bits 0x0033, 0x00CC,
  // 0x3300 and 0xCC00).
  mbs_[mb_addr].direct |= static_cast<uint16_t>((subs & 1) * 0x33 | (subs & 2) * 0x66 | (subs & 4) * 0xCC0 | (subs & 8) * 0x1980);
  // The spatial predictors depend only on the macroblock's neighbours: derived once per
  // macroblock.
  if (spatial) {
    if (direct_cache_mb_ != mb_addr || direct_cache_serial_ != cur_->serial) {
      DirectSpatialRefs(mb_addr, direct_cache_ref_, direct_cache_mv_);
      direct_cache_mb_ = mb_addr;
      direct_cache_serial_ = cur_->serial;
    }
    if (DirectSpatialShared(mb_addr, subs)) return;
  }
  const Colocated c = ColocatedOf(mb_addr);
  for (int sub = 0; sub < 4; ++sub)
    if (subs & (1u << sub)) DirectSubMotion(mb_addr, sub, c, spatial);
}

bool C264_Decode::ColocatedCornersZero(int mb_addr, bool zero[4]) const {
  // A frame macroblock over a frame: the co-located blocks are the macroblock's own corner
  // blocks in the co-located picture's motion data.
  const H264Picture* col = refs_.pic[1][0];
  if (field_ != 0 || mbaff_ || mb_addr != nb_addr_ || col == nullptr || col->field_coded) return false;
  const bool intra = col->mb_intra.size() <= static_cast<size_t>(mb_addr) || col->mb_intra[mb_addr];
  zero[0] = zero[1] = zero[2] = zero[3] = false;
  if (intra || col->long_ref) return true;
  const int8_t* refs[2] = {col->ref_idx[0].data() + nb_base_, col->ref_idx[1].data() + nb_base_};
  const H264Mv* mvs[2] = {col->mv[0].data() + nb_base_, col->mv[1].data() + nb_base_};
  const int stride = mb_width_ * 4;
  for (int sub = 0; sub < 4; ++sub) {
    const int k = (sub >> 1) * 3 * stride + (sub & 1) * 3;
    const int l = refs[0][k] >= 0 ? 0 : 1;
    const H264Mv mv = mvs[l][k];
    zero[sub] = refs[l][k] == 0 && std::abs(mv.x) <= 1 && std::abs(mv.y) <= 1;
  }
  return true;
}

void C264_Decode::DirectSpatialMb(int mb_addr) {
  // B_Skip and B_Direct_16x16: the predictors, then the co-located blocks only when a list
  // predicts from reference 0 with a non-zero vector.
  mbs_[mb_addr].direct = 0xFFFF;
  DirectSpatialRefs(mb_addr, direct_cache_ref_, direct_cache_mv_);
  direct_cache_mb_ = mb_addr;
  direct_cache_serial_ = cur_->serial;
  const auto moving = [&](int list) { return direct_cache_ref_[list] == 0 && MvBits(direct_cache_mv_[list]) != 0; };
  if (!moving(0) && !moving(1)) {
    StoreMbMotion(mb_addr, direct_cache_ref_, direct_cache_mv_);
    return;
  }
  // With direct_8x8_inference_flag each 8x8 block's motion follows its co-located corner
  // block; one store when all agree.
  bool zero[4];
  const bool inference = cur_sps_.direct_8x8_inference_flag;
  if (!inference || !ColocatedCornersZero(mb_addr, zero)) {
    const Colocated c = ColocatedOf(mb_addr);
    for (int sub = 0; sub < 4; ++sub) {
      if (!inference) DirectSubMotion(mb_addr, sub, c, true);
      else zero[sub] = ColZero(c, ColocatedBlock(c, mb_addr, (sub & 1) * 3, (sub >> 1) * 3));
    }
    if (!inference) return;
  }
  if (zero[0] == zero[1] && zero[0] == zero[2] && zero[0] == zero[3]) {
    H264Mv mv[2] = {direct_cache_mv_[0], direct_cache_mv_[1]};
    for (int list = 0; list < 2; ++list)
      if (zero[0] && direct_cache_ref_[list] == 0) mv[list] = H264Mv();
    StoreMbMotion(mb_addr, direct_cache_ref_, mv);
    return;
  }
  for (int sub = 0; sub < 4; ++sub) DirectSpatialBlock(mb_addr, (sub & 1) * 2, (sub >> 1) * 2, 2, zero[sub]);
}

void C264_Decode::DirectSubMotion(int mb_addr, int sub, const Colocated& c, bool spatial) {
  const int sx = (sub & 1) * 2, sy = (sub >> 1) * 2;
  if (cur_sps_.direct_8x8_inference_flag) {
    // The four 4x4 blocks share the co-located corner block, hence their motion.
    const ColocatedMotion m = ColocatedBlock(c, mb_addr, sx ? 3 : 0, sy ? 3 : 0);
    if (spatial) DirectSpatialBlock(mb_addr, sx, sy, 2, ColZero(c, m));
    else DirectTemporalBlock(mb_addr, sx, sy, 2, c, m);
    return;
  }
  for (int j = 0; j < 2; ++j)
    for (int i = 0; i < 2; ++i) {
      const int bx = sx + i, by = sy + j;
      const ColocatedMotion m = ColocatedBlock(c, mb_addr, bx, by);
      if (spatial) DirectSpatialBlock(mb_addr, bx, by, 1, ColZero(c, m));
      else DirectTemporalBlock(mb_addr, bx, by, 1, c, m);
    }
}

}  // namespace fennik
