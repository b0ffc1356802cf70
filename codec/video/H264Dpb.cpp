// Decoded-picture buffer of the H.264 decoder: records, marking, reference lists and output
// order (H.264 8.2.4, 8.2.5, C.4.5.3).
#include "codec/video/H264Dpb.h"

#include <algorithm>

#include "base/DebugPrint.h"

namespace fennik {
namespace {

constexpr int kMinPoolPictures = 33;

// Maximum DPB size in bytes by level_idc (Table A-1), 0 when the level is not listed.
uint32_t MaxDpbBytes(uint32_t level_idc, uint32_t profile_idc) {
  switch (level_idc) {
    case 10: return 152064;
    case 11: return 345600;
    case 12: case 13: case 20: return 912384;
    case 21: return 1824768;
    case 22: case 30: return 3110400;
    case 31: return 6912000;
    case 32: return 7864320;
    case 40: case 41: return 12582912;
    case 42: return profile_idc < 100 ? 12582912 : 13369344;
    case 50: return 42393600;
    case 51: return 70778880;
    default: return 0;
  }
}

bool HasBitstreamRestriction(const H264Sps* sps) {
  return sps != nullptr && sps->vui_parameters_present_flag && sps->vui.bitstream_restriction_flag;
}

using RefEntries = std::vector<std::pair<H264Picture*, uint8_t>>;

}  // namespace

void H264Picture::ClearMotion(size_t blocks, size_t macroblocks) {
  for (int l = 0; l < 2; ++l) {
    mv[l].assign(blocks, H264Mv());
    ref_idx[l].assign(blocks, -1);
    ref_serial[l].assign(blocks, -1);
  }
  mb_intra.assign(macroblocks, 1);
}

void H264Picture::PrepareMotion(size_t blocks, size_t macroblocks) {
  for (int l = 0; l < 2; ++l) {
    mv[l].resize(blocks);
    ref_idx[l].resize(blocks, -1);
    ref_serial[l].resize(blocks, -1);
  }
  mb_intra.assign(macroblocks, 1);
}

int H264Dpb::PicturesFor(const H264Sps* sps, uint32_t frame_mbs) {
  const uint32_t frame_bytes = frame_mbs * 384;
  const uint32_t max_bytes = sps ? MaxDpbBytes(sps->level_idc, sps->profile_idc) : 0;
  int dpb = frame_bytes == 0 ? 0 : static_cast<int>(std::min<uint32_t>(max_bytes / frame_bytes, 32));
  if (HasBitstreamRestriction(sps)) {
    const int mdfb = static_cast<int>(std::min<uint32_t>(sps->vui.max_dec_frame_buffering, 32));
    if (mdfb > dpb) DebugPrint("[H.264] error max_dec_frame_buffering > max DPB size\n");
    dpb = mdfb == 0 ? 1 : mdfb;
  }
  if (dpb == 0) dpb = static_cast<int>(std::clamp<uint32_t>(sps ? sps->num_ref_frames + 1 : 16, 2, 16));
  return dpb;
}

void H264Dpb::Configure(const H264Sps* sps, uint32_t frame_mbs) {
  const int dpb = PicturesFor(sps, frame_mbs);
  DebugPrint("[H.264] max DPB pictures = %d\n", dpb);
  uint32_t num_reorder = static_cast<uint32_t>(dpb);
  if (HasBitstreamRestriction(sps)) num_reorder = std::min<uint32_t>(sps->vui.num_reorder_frames, 32);
  Resize(dpb, sps ? std::max<uint32_t>(sps->num_ref_frames, 1) : 1, num_reorder);
}

void H264Dpb::Resize(int dpb_pictures, uint32_t num_ref_frames, uint32_t num_reorder) {
  RetireAll();
  dpb_pictures_ = dpb_pictures;
  num_ref_frames_ = num_ref_frames;
  num_reorder_ = num_reorder;
  const int count = std::max(dpb_pictures + 1, kMinPoolPictures);
  for (int i = 0; i < count; ++i) pool_.push_back(std::make_unique<H264Picture>());
}

void H264Dpb::RetireAll() {
  for (auto& p : pool_)
    if (p->queued_for_output) retired_.push_back(std::move(p));
  pool_.clear();
  current_ = nullptr;
  pending_field_ = nullptr;
  last_ref_ = nullptr;
}

void H264Dpb::Reset() {
  retired_.clear();
  last_ref_ = nullptr;
  for (auto& p : pool_) {
    p->used = p->short_ref = p->long_ref = p->needed_for_output = p->queued_for_output = false;
    p->frame.picture_index = -1;
  }
  output_queue_.clear();
  current_ = nullptr;
  pending_field_ = nullptr;
}

bool H264Dpb::IsSecondField(int field, uint32_t frame_num, bool idr) const {
  return field != 0 && pending_field_ != nullptr && pending_field_->used && pending_field_->fields == 3 - field &&
         pending_field_->frame_num == frame_num && !idr;
}

bool H264Dpb::ReleasePendingField() {
  if (pending_field_ == nullptr) return false;
  H264Picture* pic = pending_field_;
  pending_field_ = nullptr;
  if (!pic->used) return false;
  pic->needed_for_output = true;
  pic->queued_for_output = false;
  BumpOutput(false);
  return true;
}

H264Picture* H264Dpb::FindFreePicture() {
  for (auto& p : pool_) {
    if (p.get() == pending_field_) continue;
    if (!p->used) return p.get();
    if (!p->IsRef() && !p->needed_for_output) {
      p->used = false;
      return p.get();
    }
  }
  // Every record is held: give up the oldest picture waiting to be taken.
  while (!output_queue_.empty()) {
    H264Picture* p = output_queue_.front();
    output_queue_.erase(output_queue_.begin());
    DebugPrint("[H.264] output picture POC %d dropped: no free picture buffer\n", p->poc);
    p->needed_for_output = p->queued_for_output = false;
    auto retired = std::find_if(retired_.begin(), retired_.end(), [p](const auto& r) { return r.get() == p; });
    if (retired != retired_.end()) {  // a picture of an earlier size: released, not reused
      retired_.erase(retired);
      continue;
    }
    if (!p->IsRef()) {
      p->used = false;
      return p;
    }
    break;
  }
  // Then output pictures not yet queued.
  BumpOutput(true);
  for (auto& p : pool_)
    if (!p->IsRef() && p.get() != pending_field_) {
      p->used = p->needed_for_output = p->queued_for_output = false;
      output_queue_.erase(std::remove(output_queue_.begin(), output_queue_.end(), p.get()), output_queue_.end());
      return p.get();
    }
  return nullptr;
}

void H264Dpb::SetFrameNumWraps(uint32_t frame_num) {
  const int32_t max_frame_num = static_cast<int32_t>(max_frame_num_);
  for (auto& p : pool_)
    if (p->used && p->short_ref && p.get() != current_)
      p->frame_num_wrap = static_cast<int32_t>(p->frame_num) > static_cast<int32_t>(frame_num)
                              ? static_cast<int32_t>(p->frame_num) - max_frame_num
                              : static_cast<int32_t>(p->frame_num);
}

void H264Dpb::FillFrameNumGap(uint32_t frame_num, uint32_t max_frame_num) {
  if (frame_num == prev_ref_frame_num_ || frame_num == (prev_ref_frame_num_ + 1) % max_frame_num) return;
  DebugPrint("[H.264] gap in frame_num: %u after %u\n", frame_num, prev_ref_frame_num_);
  // Samples of the missing frames repeat the last reference picture, so that later pictures
  // predicting from them show the nearest picture there is.
  if (last_ref_ == nullptr || !last_ref_->used || !last_ref_->IsRef()) return;
  max_frame_num_ = max_frame_num;
  uint32_t gap = (frame_num + max_frame_num - prev_ref_frame_num_ - 1) % max_frame_num;
  uint32_t unused = (prev_ref_frame_num_ + 1) % max_frame_num;
  // Only the last num_ref_frames missing frames can still be referenced.
  if (gap > num_ref_frames_) {
    unused = (frame_num + max_frame_num - num_ref_frames_) % max_frame_num;
    gap = num_ref_frames_;
  }
  for (uint32_t k = 0; k < gap; ++k, unused = (unused + 1) % max_frame_num) {
    H264Picture* pic = FindFreePicture();
    if (pic == nullptr) return;
    if (!pic->frame.CopyFrom(last_ref_->frame)) return;
    pic->used = true;
    pic->short_ref = pic->long_ref = false;
    pic->needed_for_output = pic->queued_for_output = false;
    pic->frame_num = unused;
    pic->poc = last_ref_->poc;
    pic->serial = next_serial_++;
    pic->crop = last_ref_->crop;
    pic->ClearMotion(last_ref_->mv[0].size(), last_ref_->mb_intra.size());
    pic->mb_field.clear();
    pic->fields = pic->ref_fields = 3;  // a frame with both fields references
    pic->field_coded = false;
    pic->poc_top = last_ref_->poc_top;
    pic->poc_bottom = last_ref_->poc_bottom;
    SetFrameNumWraps(unused);
    SlidingWindow(pic);
    pic->short_ref = true;
    prev_ref_frame_num_ = unused;
    last_ref_ = pic;
  }
}

H264Picture* H264Dpb::TakePicture(bool second_field) {
  H264Picture* pic = second_field ? pending_field_ : FindFreePicture();
  pending_field_ = nullptr;
  return pic;
}

void H264Dpb::StartPicture(H264Picture* pic, int field, uint32_t frame_num, int32_t poc_top, int32_t poc_bottom,
                           bool second_field, uint32_t max_frame_num) {
  current_ = pic;
  field_ = field;
  max_frame_num_ = max_frame_num;
  if (second_field) {
    // The frame keeps its first field's samples, marking and motion data.
    if (field == 1) pic->poc_top = poc_top;
    else pic->poc_bottom = poc_bottom;
    pic->poc = std::min(pic->poc_top, pic->poc_bottom);
    pic->fields = 3;
    return;
  }
  pic->used = true;
  pic->short_ref = pic->long_ref = false;
  pic->ref_fields = 0;
  pic->needed_for_output = pic->queued_for_output = false;
  // A lone field counts with its own order count for both.
  pic->poc_top = field == 2 ? poc_bottom : poc_top;
  pic->poc_bottom = field == 1 ? poc_top : poc_bottom;
  pic->poc = std::min(pic->poc_top, pic->poc_bottom);
  pic->fields = static_cast<uint8_t>(field ? field : 3);
  pic->field_coded = field != 0;
  pic->frame_num = frame_num;
  pic->serial = next_serial_++;
}

// The short-term references (with their FrameNumWrap set) and the long-term ones ordered
// by LongTermFrameIdx. Frame lists take every other reference frame; field lists every
// frame with a reference field, the current frame's first field included.
void H264Dpb::GatherReferences(bool for_fields, uint32_t frame_num, std::vector<H264Picture*>& shorts,
                               std::vector<H264Picture*>& longs) {
  const int32_t max_frame_num = static_cast<int32_t>(max_frame_num_);
  const int32_t cur_frame_num = static_cast<int32_t>(frame_num);
  for (auto& p : pool_) {
    if (!p->used) continue;
    if (for_fields ? !(p->ref_fields & p->fields) : p.get() == current_) continue;
    if (p->short_ref) {
      p->frame_num_wrap = static_cast<int32_t>(p->frame_num) > cur_frame_num
                              ? static_cast<int32_t>(p->frame_num) - max_frame_num
                              : static_cast<int32_t>(p->frame_num);
      shorts.push_back(p.get());
    } else if (p->long_ref) {
      longs.push_back(p.get());
    }
  }
  std::sort(longs.begin(), longs.end(),
            [](const H264Picture* a, const H264Picture* b) { return a->long_term_frame_idx < b->long_term_frame_idx; });
}

void H264Dpb::OrderShortTerm(int slice_kind, int32_t cur_poc, std::vector<H264Picture*>& shorts,
                             std::vector<H264Picture*> order[2]) const {
  if (slice_kind == kSliceP) {
    std::sort(shorts.begin(), shorts.end(),
              [](const H264Picture* a, const H264Picture* b) { return a->frame_num_wrap > b->frame_num_wrap; });
    order[0] = shorts;
    return;
  }
  // A frame entry counts with its order count; a field entry (8.2.4.2.4) with the lower order
  // count of its reference fields, and an equal count falls before the current field.
  const bool fields = field_ != 0;
  auto key = [fields](const H264Picture* p) {
    if (!fields) return p->poc;
    const uint8_t f = p->ref_fields & p->fields;
    if (f == 1) return p->poc_top;
    if (f == 2) return p->poc_bottom;
    return std::min(p->poc_top, p->poc_bottom);
  };
  std::vector<H264Picture*> before, after;
  for (H264Picture* p : shorts) (key(p) < cur_poc || (fields && key(p) == cur_poc) ? before : after).push_back(p);
  std::sort(before.begin(), before.end(), [&](const H264Picture* a, const H264Picture* b) { return key(a) > key(b); });
  std::sort(after.begin(), after.end(), [&](const H264Picture* a, const H264Picture* b) { return key(a) < key(b); });
  order[0] = before;
  order[0].insert(order[0].end(), after.begin(), after.end());
  order[1] = after;
  order[1].insert(order[1].end(), before.begin(), before.end());
}

namespace {

// 8.2.4.2.5: the fields of the frames in `frames`, alternating in parity starting with
// `same`; a frame without a reference field of the parity due is passed over for it.
void AlternateFields(const std::vector<H264Picture*>& frames, uint8_t same, RefEntries& out) {
  const uint8_t other = static_cast<uint8_t>(3 - same);
  auto has = [](const H264Picture* p, uint8_t parity) { return (p->ref_fields & p->fields & parity) != 0; };
  size_t i = 0, j = 0;
  while (i < frames.size() || j < frames.size()) {
    while (i < frames.size() && !has(frames[i], same)) ++i;
    if (i < frames.size()) out.emplace_back(frames[i++], same);
    while (j < frames.size() && !has(frames[j], other)) ++j;
    if (j < frames.size()) out.emplace_back(frames[j++], other);
  }
}

}  // namespace

bool H264Dpb::BuildRefLists(const H264SliceHeader& sh, int slice_kind, int32_t cur_poc, H264RefLists& out) {
  // 8.2.4.2.1 to 8.2.4.2.5: short-term references ordered by FrameNumWrap (P) or by order
  // count around the current picture's (B), then the long-term ones by LongTermFrameIdx;
  // field lists take the fields of those frames alternating in parity.
  std::vector<H264Picture*> shorts, longs;
  GatherReferences(field_ != 0, sh.frame_num, shorts, longs);
  std::vector<H264Picture*> order[2];
  OrderShortTerm(slice_kind, cur_poc, shorts, order);
  const int list_count = slice_kind == kSliceB ? 2 : 1;
  RefEntries lists[2];
  for (int l = 0; l < list_count; ++l) {
    if (field_) {
      AlternateFields(order[l], static_cast<uint8_t>(field_), lists[l]);
      AlternateFields(longs, static_cast<uint8_t>(field_), lists[l]);
      continue;
    }
    for (H264Picture* p : order[l]) lists[l].emplace_back(p, 0);
    for (H264Picture* p : longs) lists[l].emplace_back(p, 0);
  }
  // A list 1 equal to list 0 of more than one entry starts with its second entry.
  if (lists[1].size() > 1 && lists[1] == lists[0]) std::swap(lists[1][0], lists[1][1]);
  out = H264RefLists();
  for (int l = 0; l < list_count; ++l) {
    const uint32_t active = (l == 0 ? sh.num_ref_idx_l0_active_minus1 : sh.num_ref_idx_l1_active_minus1) + 1;
    const int n = static_cast<int>(std::min<uint32_t>(active, kMaxRefIdx));
    out.count[l] = n;
    for (int i = 0; i < n && i < static_cast<int>(lists[l].size()); ++i) {
      out.pic[l][i] = lists[l][static_cast<size_t>(i)].first;
      out.parity[l][i] = lists[l][static_cast<size_t>(i)].second;
    }
    if (sh.ref_pic_list_reordering_flag[l] && !ReorderList(sh, l, out)) return false;
    if (out.pic[l][0] == nullptr) {
      DebugPrint("[H.264] reference picture list %d is empty\n", l);
      return false;
    }
    // Entries the stream leaves without a picture repeat the first one, so that a damaged
    // stream still predicts from a real picture.
    for (int i = 1; i < n; ++i)
      if (out.pic[l][i] == nullptr) {
        out.pic[l][i] = out.pic[l][0];
        out.parity[l][i] = out.parity[l][0];
      }
  }
  return true;
}

bool H264Dpb::ReorderList(const H264SliceHeader& sh, int list, H264RefLists& out) const {
  // Picture numbers (8.2.4.1): frames count by FrameNumWrap; fields by 2 * FrameNumWrap + 1
  // for the current parity and 2 * FrameNumWrap for the other.
  const int32_t max_pic_num = static_cast<int32_t>(max_frame_num_) * (field_ ? 2 : 1);
  const int32_t curr_pic_num = field_ ? 2 * static_cast<int32_t>(sh.frame_num) + 1 : static_cast<int32_t>(sh.frame_num);
  const int n = out.count[list];
  int32_t pred = curr_pic_num;
  int ref_idx = 0;
  H264Picture* tmp[kMaxRefIdx + 1];
  uint8_t tmp_parity[kMaxRefIdx + 1];
  for (int i = 0; i < n; ++i) {
    tmp[i] = out.pic[list][i];
    tmp_parity[i] = out.parity[list][i];
  }
  tmp[n] = nullptr;
  tmp_parity[n] = 0;
  for (const H264ReorderingOp& op : sh.reordering[list]) {
    if (ref_idx >= n) break;
    bool long_term = false;
    int32_t target = 0;
    if (op.reordering_of_pic_nums_idc < 2) {
      const int32_t abs_diff = static_cast<int32_t>(std::min<uint32_t>(op.value, 1u << 20)) + 1;
      int32_t no_wrap;
      if (op.reordering_of_pic_nums_idc == 0) {
        no_wrap = pred - abs_diff;
        if (no_wrap < 0) no_wrap += max_pic_num;
      } else {
        no_wrap = pred + abs_diff;
        if (no_wrap >= max_pic_num) no_wrap -= max_pic_num;
      }
      pred = no_wrap;
      target = no_wrap > curr_pic_num ? no_wrap - max_pic_num : no_wrap;
    } else {
      long_term = true;
      target = static_cast<int32_t>(op.value);
    }
    const uint8_t parity = field_ ? FieldOf(target) : 0;
    H264Picture* pic = FindForReordering(long_term, target);
    if (pic == nullptr) {
      DebugPrint("[H.264] reordering names a picture not in the buffer (%d)\n", target);
      continue;
    }
    for (int c = n; c > ref_idx; --c) {
      tmp[c] = tmp[c - 1];
      tmp_parity[c] = tmp_parity[c - 1];
    }
    tmp[ref_idx] = pic;
    tmp_parity[ref_idx++] = parity;
    int m = ref_idx;
    for (int c = ref_idx; c <= n; ++c) {
      if (tmp[c] == pic && tmp_parity[c] == parity) continue;
      tmp[m] = tmp[c];
      tmp_parity[m++] = tmp_parity[c];
    }
  }
  for (int i = 0; i < n; ++i) {
    out.pic[list][i] = tmp[i];
    out.parity[list][i] = tmp_parity[i];
  }
  return true;
}

H264Picture* H264Dpb::FindForReordering(bool long_term, int32_t pic_num) const {
  const uint8_t parity = field_ ? FieldOf(pic_num) : 0;
  const int32_t frame_key = FrameKey(pic_num);  // FrameNumWrap or LongTermFrameIdx of the picture
  H264Picture* pic = nullptr;
  for (auto& p : pool_) {
    if (!p->used || (p.get() == current_ && !field_)) continue;
    if (field_ && !(p->ref_fields & p->fields & parity)) continue;
    if (long_term ? (p->long_ref && p->long_term_frame_idx == frame_key)
                  : (p->short_ref && p->frame_num_wrap == frame_key))
      pic = p.get();
  }
  return pic;
}

void H264Dpb::SlidingWindow(const H264Picture* exclude) {
  int count = 0;
  H264Picture* oldest = nullptr;
  for (auto& p : pool_) {
    if (!p->used || p.get() == exclude) continue;
    if (p->IsRef()) ++count;
    if (p->short_ref && (oldest == nullptr || p->frame_num_wrap < oldest->frame_num_wrap)) oldest = p.get();
  }
  if (count >= static_cast<int>(num_ref_frames_) && oldest != nullptr) oldest->short_ref = false;
}

H264Picture* H264Dpb::FindShortTerm(int32_t pic_num) const {
  const uint8_t parity = FieldOf(pic_num);
  for (auto& p : pool_)
    if (p->used && p->short_ref && (p.get() != current_ || field_) && p->frame_num_wrap == FrameKey(pic_num) &&
        (!field_ || (p->ref_fields & p->fields & parity)))
      return p.get();
  return nullptr;
}

void H264Dpb::ApplyMmco(const H264SliceHeader& sh) {
  // Picture numbers of field pictures count fields: 2 * FrameNumWrap + 1 for the current
  // parity, 2 * FrameNumWrap for the other; a field operation names one field of a frame.
  const int32_t curr_pic_num = field_ ? 2 * static_cast<int32_t>(sh.frame_num) + 1 : static_cast<int32_t>(sh.frame_num);
  for (int i = 0; i < sh.mmco_count; ++i) ApplyMmcoOp(sh.mmco[i], curr_pic_num);
}

void H264Dpb::ApplyMmcoOp(const H264MmcoOp& op, int32_t curr_pic_num) {
  const int32_t pic_num_x =
      curr_pic_num - static_cast<int32_t>(std::min<uint32_t>(op.difference_of_pic_nums_minus1, 1u << 20) + 1);
  const int32_t long_term_frame_idx = static_cast<int32_t>(op.long_term_frame_idx);
  switch (op.memory_management_control_operation) {
    case 1: {
      H264Picture* p = FindShortTerm(pic_num_x);
      if (p == nullptr) {
        DebugPrint("unmark ERROR : %d %d\n", 1, pic_num_x);
      } else if (field_) {
        // One field; the frame stays a reference while its other field is one.
        p->ref_fields &= static_cast<uint8_t>(~FieldOf(pic_num_x));
        if (!(p->ref_fields & p->fields)) p->short_ref = false;
      } else {
        p->short_ref = false;
      }
      return;
    }
    case 2: {
      const int32_t num = static_cast<int32_t>(op.long_term_pic_num);
      const uint8_t parity = FieldOf(num);
      bool found = false;
      for (auto& p : pool_)
        if (p->used && p->long_ref && p->long_term_frame_idx == FrameKey(num) &&
            (!field_ || (p->ref_fields & p->fields & parity))) {
          if (field_) p->ref_fields &= static_cast<uint8_t>(~parity);
          if (!field_ || !(p->ref_fields & p->fields)) p->long_ref = false;
          found = true;
        }
      if (!found) DebugPrint("unmark ERROR : %d %d\n", 2, num);
      return;
    }
    case 3: {
      // On a field this makes its whole frame long-term (the other field, when a short-term
      // reference, goes along).
      H264Picture* p = FindShortTerm(pic_num_x);
      if (p == nullptr) {
        DebugPrint("unmark ERROR : %d %d\n", 3, pic_num_x);
        return;
      }
      for (auto& q : pool_)
        if (q->used && q->long_ref && q->long_term_frame_idx == long_term_frame_idx) q->long_ref = false;
      p->short_ref = false;
      p->long_ref = true;
      p->long_term_frame_idx = long_term_frame_idx;
      return;
    }
    case 4:
      for (auto& p : pool_)
        if (p->used && p->long_ref && p->long_term_frame_idx >= static_cast<int32_t>(op.max_long_term_frame_idx_plus1))
          p->long_ref = false;
      return;
    case 5:
      for (auto& p : pool_)
        if (p.get() != current_) p->short_ref = p->long_ref = false;
      return;
    case 6:
      for (auto& p : pool_)
        if (p->used && p->long_ref && p.get() != current_ && p->long_term_frame_idx == long_term_frame_idx)
          p->long_ref = false;
      current_->long_ref = true;
      current_->long_term_frame_idx = long_term_frame_idx;
      return;
    default:
      return;
  }
}

void H264Dpb::MarkCurrent(const H264SliceHeader& sh) {
  SetFrameNumWraps(current_->frame_num);
  if (sh.nal_ref_idc == 0) return;
  const uint8_t own_fields = static_cast<uint8_t>(field_ ? field_ : 3);
  if (field_ && current_->fields == 3 && current_->IsRef()) {
    // Second field of a reference frame: it joins its first field; no sliding window.
    if (sh.adaptive_ref_pic_marking_mode_flag) ApplyMmco(sh);
    current_->ref_fields |= own_fields;
    return;
  }
  if (sh.IsIdr()) {
    for (auto& p : pool_)
      if (p.get() != current_) p->short_ref = p->long_ref = false;
    if (sh.long_term_reference_flag) {
      current_->long_ref = true;
      current_->long_term_frame_idx = 0;
    } else {
      current_->short_ref = true;
    }
    current_->ref_fields = own_fields;
    return;
  }
  if (sh.adaptive_ref_pic_marking_mode_flag) ApplyMmco(sh);
  else SlidingWindow(current_);
  if (!current_->long_ref) current_->short_ref = true;
  current_->ref_fields = own_fields;
  int refs = 0;
  H264Picture* oldest = nullptr;
  for (auto& p : pool_) {
    if (!p->used || !p->IsRef() || p.get() == current_) continue;
    ++refs;
    if (p->short_ref && (oldest == nullptr || p->frame_num_wrap < oldest->frame_num_wrap)) oldest = p.get();
  }
  if (refs >= dpb_pictures_) {
    DebugPrint("[H.264/AVC] refarence buffer overflow (%d >= %d)\n", refs, dpb_pictures_);
    if (oldest != nullptr) oldest->short_ref = false;
  }
}

bool H264Dpb::FinishPicture(const H264SliceHeader& sh, bool mmco5, int32_t mmco5_poc) {
  H264Picture* pic = current_;
  if (pic == nullptr) return false;
  MarkCurrent(sh);
  // A picture with memory_management_control_operation 5 counts as POC 0 from now on, and
  // like an IDR picture it closes the previous output sequence.
  if (sh.IsIdr() || mmco5) {
    BumpOutput(true);
    if (mmco5) pic->poc -= mmco5_poc;
  }
  if (sh.nal_ref_idc != 0) {
    prev_ref_frame_num_ = mmco5 ? 0 : sh.frame_num;
    last_ref_ = pic;
    if (mmco5) pic->frame_num = 0;
  }
  current_ = nullptr;
  if (field_ && pic->fields != 3) {
    // A first field: the frame goes to output once its second field is decoded.
    pending_field_ = pic;
    return false;
  }
  pic->needed_for_output = true;
  pic->queued_for_output = false;
  BumpOutput(false);
  return true;
}

void H264Dpb::BumpOutput(bool flush_all) {
  for (;;) {
    std::vector<H264Picture*> waiting;
    for (auto& p : pool_)
      if (p->used && p->needed_for_output && !p->queued_for_output) waiting.push_back(p.get());
    if (waiting.empty() || (!flush_all && waiting.size() <= num_reorder_)) return;
    H264Picture* first = *std::min_element(waiting.begin(), waiting.end(),
                                           [](const H264Picture* a, const H264Picture* b) { return a->poc < b->poc; });
    first->queued_for_output = true;
    output_queue_.push_back(first);
  }
}

void H264Dpb::PopOutput() {
  if (output_queue_.empty()) return;
  H264Picture* pic = output_queue_.front();
  output_queue_.erase(output_queue_.begin());
  pic->needed_for_output = false;
  pic->queued_for_output = false;
  if (!pic->IsRef()) pic->used = false;
  for (auto it = retired_.begin(); it != retired_.end(); ++it)
    if (it->get() == pic) {
      retired_.erase(it);
      break;
    }
}

}  // namespace fennik
