// NAL unit dispatch, parameter-set stores, picture management, reference picture lists and
// marking, and output ordering of the H.264 decoder (H.264 7.4.1.2.4, 8.2).
#include "codec/video/C264_Decode.h"

#include <algorithm>
#include <cstring>

#include "base/DebugPrint.h"
#include "codec/video/H264DecodeInternal.h"
#include "h264/H264Nal.h"
#include "codec/video/h264_tables.h"

namespace fennik {
namespace {

constexpr size_t kWorkBufferSize = 0x400000;
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

const H264Sps* LookupSps(const void* ctx, uint32_t id) {
  return static_cast<const C264_DecodeHeader*>(ctx)->FindSps(id);
}
const H264Pps* LookupPps(const void* ctx, uint32_t id) {
  return static_cast<const C264_DecodeHeader*>(ctx)->FindPps(id);
}

// Motion data of `blocks` 4x4 blocks with no motion and no references, and `macroblocks`
// intra macroblocks.
void ClearMotion(H264Picture& pic, size_t blocks, size_t macroblocks) {
  for (int l = 0; l < 2; ++l) {
    pic.mv[l].assign(blocks, H264Mv());
    pic.ref_idx[l].assign(blocks, -1);
    pic.ref_serial[l].assign(blocks, -1);
    pic.ref_poc[l].assign(blocks, 0);
    pic.ref_long[l].assign(blocks, 0);
  }
  pic.mb_intra.assign(macroblocks, 1);
}

}  // namespace

C264_DecodeHeader::C264_DecodeHeader() : sps_(new H264Sps[32]), pps_(new H264Pps[256]) {}
C264_DecodeHeader::~C264_DecodeHeader() = default;

void C264_DecodeHeader::ClearParameterSets() {
  for (int i = 0; i < 32; ++i) sps_[i].valid = false;
  for (int i = 0; i < 256; ++i) pps_[i].valid = false;
  current_sps_ = -1;
}

const H264Sps* C264_DecodeHeader::FindSps(uint32_t id) const {
  return id < 32 && sps_[id].valid ? &sps_[id] : nullptr;
}

const H264Pps* C264_DecodeHeader::FindPps(uint32_t id) const {
  return id < 256 && pps_[id].valid ? &pps_[id] : nullptr;
}

bool C264_DecodeHeader::StoreSps(const uint8_t* rbsp, size_t size) {
  if (size < 3) {
    DebugPrint("SPS not enough memory : %d\n", static_cast<int>(size));
    return false;
  }
  auto sps = std::make_unique<H264Sps>();
  if (!ParseSps(rbsp, size, *sps)) return false;
  const uint32_t id = sps->seq_parameter_set_id;
  sps_[id] = *sps;
  current_sps_ = static_cast<int>(id);
  OnSpsParsed(sps_[id]);
  return true;
}

bool C264_DecodeHeader::StorePps(const uint8_t* rbsp, size_t size) {
  if (size < 1) {
    DebugPrint("PPS not enough memory : %d\n", static_cast<int>(size));
    return false;
  }
  // The SPS a PPS names decides how its scaling lists fall back; peek at the two ids.
  BitReader br(rbsp, size);
  br.ReadUe();
  const uint32_t sps_id = br.ReadUe();
  auto pps = std::make_unique<H264Pps>();
  if (!ParsePps(rbsp, size, FindSps(sps_id), *pps)) return false;
  pps_[pps->pic_parameter_set_id] = *pps;
  OnPpsParsed(pps_[pps->pic_parameter_set_id]);
  return true;
}

C264_Decode::C264_Decode() = default;
C264_Decode::~C264_Decode() = default;

bool C264_Decode::InitPictureBuffers(uint32_t width, uint32_t height, uint32_t format) {
  DebugPrint("[H.264] init : width=%d, height=%d\n", static_cast<int>(width), static_cast<int>(height));
  buffers_ready_ = false;
  // Pictures already queued for output stay available until they are taken.
  for (auto& p : pool_)
    if (p->queued_for_output) retired_.push_back(std::move(p));
  pool_.clear();
  cur_ = nullptr;
  pending_field_ = nullptr;
  last_ref_ = nullptr;
  last_picture_ = nullptr;
  const uint32_t w_mbs = (width + 15) / 16, h_mbs = (height + 15) / 16;
  if (w_mbs == 0 || h_mbs == 0) return false;
  const H264Sps* sps = CurrentSps();
  const uint32_t frame_bytes = w_mbs * h_mbs * 384;
  const uint32_t max_bytes = sps ? MaxDpbBytes(sps->level_idc, sps->profile_idc) : 0;
  int dpb = static_cast<int>(std::min<uint32_t>(max_bytes / frame_bytes, 32));
  if (sps != nullptr && sps->vui_parameters_present_flag && sps->vui.bitstream_restriction_flag) {
    const int mdfb = static_cast<int>(std::min<uint32_t>(sps->vui.max_dec_frame_buffering, 32));
    if (mdfb > dpb) DebugPrint("[H.264] error max_dec_frame_buffering > max DPB size\n");
    dpb = mdfb == 0 ? 1 : mdfb;
  }
  if (dpb == 0) {
    // Unlisted level or a picture beyond the level's buffer: room for every reference frame
    // plus the picture being output.
    dpb = static_cast<int>(std::clamp<uint32_t>(sps ? sps->num_ref_frames + 1 : 16, 2, 16));
  }
  dpb_pictures_ = dpb;
  DebugPrint("[H.264] max DPB pictures = %d\n", dpb);
  num_ref_frames_ = sps ? std::max<uint32_t>(sps->num_ref_frames, 1) : 1;
  num_reorder_ = static_cast<uint32_t>(dpb);
  if (sps != nullptr && sps->vui_parameters_present_flag && sps->vui.bitstream_restriction_flag)
    num_reorder_ = std::min<uint32_t>(sps->vui.num_reorder_frames, 32);
  // The records are created here; each record's picture memory is allocated when the record
  // is first used, so memory follows the pictures a stream really keeps.
  const int count = std::max(dpb + 1, kMinPoolPictures);
  for (int i = 0; i < count; ++i) pool_.push_back(std::make_unique<H264Picture>());
  CVideoFrame probe;
  if (!probe.Allocate(w_mbs * 16, h_mbs * 16, format)) {
    pool_.clear();
    return false;
  }
  buf_format_ = format;
  buf_width_mbs_ = w_mbs;
  buf_height_mbs_ = h_mbs;
  buffers_ready_ = true;
  return true;
}

void C264_Decode::ResetDecoder() {
  retired_.clear();
  last_ref_ = nullptr;
  for (auto& p : pool_) {
    p->used = p->short_ref = p->long_ref = p->needed_for_output = p->queued_for_output = false;
    p->frame.picture_index = -1;
  }
  output_queue_.clear();
  cur_ = nullptr;
  pending_field_ = nullptr;
  poc_state_.Reset();
  depacketizer_.Reset();
  continuous_ = true;
  last_picture_ = nullptr;
}

bool C264_Decode::EnsureBuffers(const H264Sps& sps) {
  // Monochrome pictures are held as 4:2:0 with grey chroma.
  const uint32_t format = sps.chroma_format_idc == 2 ? kPictureYuv422 : (sps.chroma_format_idc == 3 ? kPictureYuv444 : kPictureYuv420);
  if (buffers_ready_ && buf_width_mbs_ == sps.PicWidthInMbs() && buf_height_mbs_ == sps.FrameHeightInMbs() &&
      buf_format_ == format)
    return true;
  if (max_picture_mbs_ != 0 && uint64_t{sps.PicWidthInMbs()} * sps.FrameHeightInMbs() > max_picture_mbs_) {
    DebugPrint("[H.264] %ux%u macroblocks: above the limit of %u\n", sps.PicWidthInMbs(), sps.FrameHeightInMbs(),
               max_picture_mbs_);
    return false;
  }
  // A new picture size or format starts a new sequence: waiting pictures are output first
  // (they are kept until taken).
  Flush();
  return InitPictureBuffers(sps.PicWidthInMbs() * 16, sps.FrameHeightInMbs() * 16, format);
}

uint32_t C264_Decode::Decode(const uint8_t* data, uint32_t length, uint32_t frame_number) {
  frame_number_ = frame_number;
  OnFrameStart(frame_number);
  if (data == nullptr || length == 0) return 0;
  const std::vector<NalSpan> units = length_prefixed_ ? SplitLengthPrefixed(data, length) : SplitAnnexB(data, length);
  for (const NalSpan& u : units) {
    if (u.size == 0) {
      // In RTP frames a zero length marks packets lost before the next payload.
      if (length_prefixed_) continuous_ = false;
      continue;
    }
    if (NalTypeOf(data[u.offset]) == kNalEndOfStream) {
      FinishPicture();
      return static_cast<uint32_t>(u.offset + u.size);
    }
    DecodeNalUnit(data + u.offset, u.size);
  }
  FinishPicture();
  if (CurrentSps() == nullptr) return length;  // nothing can be decoded yet
  return 0;
}

void C264_Decode::DecodeNalUnit(const uint8_t* nal, size_t size) {
  if (nal == nullptr || size == 0) return;
  const int type = NalTypeOf(nal[0]);
  // RTP payloads (RFC 6184): FU-A fragments are joined and STAP-A packets unpacked; in
  // length-prefixed input every payload passes the depacketizer so that a single NAL unit
  // packet closes a fragmented unit left open.
  if (length_prefixed_ || type == kNalFuA || type == kNalStapA) {
    const bool continuous = continuous_;
    continuous_ = true;
    depacketizer_.Feed(nal, size, continuous, [this](const uint8_t* unit, size_t n) { DecodeSingleNalUnit(unit, n); });
    return;
  }
  DecodeSingleNalUnit(nal, size);
}

void C264_Decode::DecodeSingleNalUnit(const uint8_t* nal, size_t size) {
  const int type = NalTypeOf(nal[0]);
  // The RBSP buffer grows to the largest unit seen, up to the 4 MiB work-buffer size;
  // bytes of a longer unit are not copied.
  const size_t need = std::min(size - 1, kWorkBufferSize);
  if (rbsp_.size() < need + 1) rbsp_.resize(need + 1);
  const size_t rbsp_size = UnescapeRbsp(nal + 1, size - 1, rbsp_.data(), need);
  const uint8_t* rbsp = rbsp_.data();
  switch (type) {
    case kNalSlice:
    case kNalIdrSlice: {
      H264SliceHeader sh;
      H264ParamLookup lookup{&LookupSps, &LookupPps, this};
      if (!ParseSliceHeader(rbsp, rbsp_size, nal[0], lookup, sh)) {
        ++slice_errors_;
        return;
      }
      OnSliceHeaderParsed(sh);
      DecodeSlice(sh, rbsp, rbsp_size);
      return;
    }
    case kNalSliceDpa:
    case kNalSliceDpb:
    case kNalSliceDpc:
    case kNalEndOfSequence:
    case kNalFiller:
      return;
    case kNalSei: {
      std::vector<H264SeiMessage> messages;
      ParseSei(nal[0], rbsp, rbsp_size, messages);
      for (const auto& m : messages) OnSeiParsed(m);
      return;
    }
    case kNalSps:
      StoreSps(rbsp, rbsp_size);
      return;
    case kNalPps:
      StorePps(rbsp, rbsp_size);
      return;
    case kNalAud: {
      FinishPicture();
      H264Aud aud;
      if (ParseAud(rbsp, rbsp_size, aud)) OnAudParsed(aud);
      return;
    }
    case kNalEndOfStream:
      FinishPicture();
      return;
    default:
      DebugPrint("[H264] unknown NAL unit : %02X\n", nal[0]);
      return;
  }
}

H264Picture* C264_Decode::FindFreePicture() {
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

void C264_Decode::FillFrameNumGap(const H264SliceHeader& sh, const H264Sps& sps) {
  // 8.2.5.2: each missing frame_num becomes a short-term reference frame marked by the
  // sliding window. Its samples repeat the last reference picture, so that later pictures
  // predicting from it show the nearest picture there is.
  if (last_ref_ == nullptr || !last_ref_->used || !last_ref_->IsRef()) return;
  const uint32_t max_frame_num = sps.MaxFrameNum();
  uint32_t gap = (sh.frame_num + max_frame_num - prev_ref_frame_num_ - 1) % max_frame_num;
  uint32_t unused = (prev_ref_frame_num_ + 1) % max_frame_num;
  // Only the last num_ref_frames missing frames can still be referenced.
  if (gap > num_ref_frames_) {
    unused = (sh.frame_num + max_frame_num - num_ref_frames_) % max_frame_num;
    gap = num_ref_frames_;
  }
  for (uint32_t k = 0; k < gap; ++k, unused = (unused + 1) % max_frame_num) {
    H264Picture* pic = FindFreePicture();
    if (pic == nullptr) return;
    if (!pic->frame.CopyFrom(last_ref_->frame)) return;
    pic->used = true;
    pic->short_ref = false;
    pic->long_ref = false;
    pic->needed_for_output = pic->queued_for_output = false;
    pic->frame_num = unused;
    pic->poc = last_ref_->poc;
    pic->serial = next_serial_++;
    pic->crop = last_ref_->crop;
    ClearMotion(*pic, last_ref_->mv[0].size(), last_ref_->mb_intra.size());
    pic->mb_field.clear();
    pic->fields = pic->ref_fields = 3;  // a frame with both fields references
    pic->field_coded = false;
    pic->poc_top = last_ref_->poc_top;
    pic->poc_bottom = last_ref_->poc_bottom;
    for (auto& p : pool_)
      if (p->used && p->short_ref)
        p->frame_num_wrap = p->frame_num > unused ? static_cast<int32_t>(p->frame_num) - static_cast<int32_t>(max_frame_num)
                                                  : static_cast<int32_t>(p->frame_num);
    H264Picture* saved = cur_;
    cur_ = pic;
    SlidingWindow();
    cur_ = saved;
    pic->short_ref = true;
    prev_ref_frame_num_ = unused;
    last_ref_ = pic;
  }
}

bool C264_Decode::StartPicture(const H264SliceHeader& sh, const H264Sps& sps, const H264Pps& pps) {
  if (sps.bit_depth_luma_minus8 != 0 || sps.bit_depth_chroma_minus8 != 0 || pps.num_slice_groups_minus1 > 0 ||
      sps.residual_colour_transform_flag) {
    DebugPrint("[H.264] stream not supported (bit depth %u/%u, slice groups %u, separate colour planes %d)\n",
               sps.bit_depth_luma_minus8 + 8, sps.bit_depth_chroma_minus8 + 8, pps.num_slice_groups_minus1 + 1,
               sps.residual_colour_transform_flag ? 1 : 0);
    return false;
  }
  const int field = sh.field_pic_flag ? (sh.bottom_field_flag ? 2 : 1) : 0;
  // The second field of a frame: the opposite parity of the waiting first field, with its
  // frame_num, and not an IDR picture of its own.
  const bool second_field = field != 0 && pending_field_ != nullptr && pending_field_->used &&
                            pending_field_->fields == 3 - field && pending_field_->frame_num == sh.frame_num &&
                            !sh.IsIdr();
  if (!second_field) ReleasePendingField();
  if (!EnsureBuffers(sps)) return false;
  if (!second_field && !sh.IsIdr() && sh.frame_num != prev_ref_frame_num_ &&
      sh.frame_num != (prev_ref_frame_num_ + 1) % sps.MaxFrameNum()) {
    DebugPrint("[H.264] gap in frame_num: %u after %u\n", sh.frame_num, prev_ref_frame_num_);
    FillFrameNumGap(sh, sps);
  }
  H264Picture* pic = second_field ? pending_field_ : FindFreePicture();
  pending_field_ = nullptr;
  if (pic == nullptr) {
    DebugPrint("[H.264] no free picture buffer\n");
    return false;
  }
  if (!pic->frame.IsAllocated() && !pic->frame.Allocate(buf_width_mbs_ * 16, buf_height_mbs_ * 16, buf_format_)) {
    DebugPrint("[H.264] picture buffer allocation failed\n");
    return false;
  }
  cur_sps_ = sps;
  cur_sh_ = sh;
  poc_state_.Compute(sps, sh, cur_poc_);
  field_ = field;
  mb_width_ = static_cast<int>(sps.PicWidthInMbs());
  frame_mb_height_ = static_cast<int>(sps.FrameHeightInMbs());
  mb_height_ = field ? frame_mb_height_ / 2 : frame_mb_height_;
  mb_count_ = mb_width_ * mb_height_;
  scan4x4_ = field ? kFieldScan4x4 : kZigzag4x4;
  scan8x8_ = field ? kFieldScan8x8 : kZigzag8x8;
  mb_field_ = field != 0;
  mbaff_ = sps.mb_adaptive_frame_field_flag && !sh.field_pic_flag;
  chroma_format_ = static_cast<int>(sps.chroma_format_idc);
  mb_cw_ = chroma_format_ == 0 ? 0 : (chroma_format_ == 3 ? 16 : 8);
  mb_ch_ = chroma_format_ == 0 ? 0 : (chroma_format_ == 1 ? 8 : 16);
  luma_planes_ = chroma_format_ == 3 ? 3 : 1;
  bypass_allowed_ = sps.qpprime_y_zero_transform_bypass_flag;
  cur_ = pic;
  if (second_field) {
    // The frame keeps its first field's samples, marking and motion data.
    if (field == 1) pic->poc_top = cur_poc_.top;
    else pic->poc_bottom = cur_poc_.bottom;
    pic->poc = std::min(pic->poc_top, pic->poc_bottom);
    pic->fields = 3;
  } else {
    pic->used = true;
    pic->short_ref = pic->long_ref = false;
    pic->ref_fields = 0;
    pic->needed_for_output = pic->queued_for_output = false;
    // A lone field counts with its own order count for both.
    pic->poc_top = field == 2 ? cur_poc_.bottom : cur_poc_.top;
    pic->poc_bottom = field == 1 ? cur_poc_.top : cur_poc_.bottom;
    pic->poc = std::min(pic->poc_top, pic->poc_bottom);
    pic->fields = static_cast<uint8_t>(field ? field : 3);
    pic->field_coded = field != 0;
    pic->frame_num = sh.frame_num;
    pic->serial = next_serial_++;
    pic->stream_frame_number = frame_number_;
    pic->crop = H264Crop{sps.CropLeft(), sps.CropTop(), sps.VisibleWidth(), sps.VisibleHeight()};
    pic->frame.Clear();
    // Motion data of the whole frame; a field picture uses its half (top field first).
    const size_t mbs = static_cast<size_t>(mb_width_) * frame_mb_height_;
    ClearMotion(*pic, mbs * 16, mbs);
    if (mbaff_) pic->mb_field.assign(static_cast<size_t>(mb_count_), 0);
    else pic->mb_field.clear();
  }
  const size_t mb_offset = field == 2 ? static_cast<size_t>(mb_count_) : 0;
  for (int l = 0; l < 2; ++l) {
    mv_[l] = pic->mv[l].data() + mb_offset * 16;
    ref_idx_[l] = pic->ref_idx[l].data() + mb_offset * 16;
    ref_serial_[l] = pic->ref_serial[l].data() + mb_offset * 16;
    ref_poc_[l] = pic->ref_poc[l].data() + mb_offset * 16;
    ref_long_[l] = pic->ref_long[l].data() + mb_offset * 16;
  }
  mb_intra_ = pic->mb_intra.data() + mb_offset;
  mbs_.assign(static_cast<size_t>(mb_count_), MbInfo());
  slices_.clear();
  cur_has_mmco5_ = false;
  return true;
}

void C264_Decode::DecodeSlice(const H264SliceHeader& sh, const uint8_t* rbsp, size_t size) {
  const H264Pps* pps = FindPps(sh.pic_parameter_set_id);
  const H264Sps* sps = pps ? FindSps(pps->seq_parameter_set_id) : nullptr;
  if (pps == nullptr || sps == nullptr) return;
  // First slice of a new picture (7.4.1.2.4).
  if (cur_ != nullptr &&
      (sh.first_mb_in_slice == 0 || sh.frame_num != cur_sh_.frame_num ||
       sh.pic_parameter_set_id != cur_sh_.pic_parameter_set_id || sh.IsIdr() != cur_sh_.IsIdr() ||
       (sh.nal_ref_idc == 0) != (cur_sh_.nal_ref_idc == 0) || sh.pic_order_cnt_lsb != cur_sh_.pic_order_cnt_lsb ||
       sh.delta_pic_order_cnt_bottom != cur_sh_.delta_pic_order_cnt_bottom ||
       sh.delta_pic_order_cnt[0] != cur_sh_.delta_pic_order_cnt[0] || sh.idr_pic_id != cur_sh_.idr_pic_id ||
       sh.field_pic_flag != cur_sh_.field_pic_flag || sh.bottom_field_flag != cur_sh_.bottom_field_flag))
    FinishPicture();
  if (cur_ == nullptr && !StartPicture(sh, *sps, *pps)) {
    ++slice_errors_;
    return;
  }
  if (sps->PicWidthInMbs() != static_cast<uint32_t>(mb_width_) ||
      sps->FrameHeightInMbs() != static_cast<uint32_t>(frame_mb_height_) ||
      sps->chroma_format_idc != static_cast<uint32_t>(chroma_format_)) {
    DebugPrint("[H.264] slice refers to an SPS of another picture size or format\n");
    ++slice_errors_;
    return;
  }
  sh_ = sh;
  pps_cur_ = pps;
  slice_kind_ = sh.Kind();
  if (slice_kind_ == kSliceSP || slice_kind_ == kSliceSI) {
    DebugPrint("[H.264] SP/SI slices not supported\n");
    ++slice_errors_;
    return;
  }
  if (sh.has_mmco5) cur_has_mmco5_ = true;
  if (sh.nal_ref_idc != 0 && sh.adaptive_ref_pic_marking_mode_flag) cur_sh_ = sh;  // marking of the picture
  if (slices_.size() >= 0x7FFF) return;
  slice_num_ = static_cast<int>(slices_.size());
  SliceInfo info;
  info.disable_deblocking_filter_idc = static_cast<int>(sh.disable_deblocking_filter_idc);
  info.filter_offset_a = sh.slice_alpha_c0_offset_div2 * 2;
  info.filter_offset_b = sh.slice_beta_offset_div2 * 2;
  info.kind = slice_kind_;
  slices_.push_back(info);
  qp_ = 26 + pps->pic_init_qp_minus26 + sh.slice_qp_delta;
  ref_count_[0] = ref_count_[1] = 0;
  if (slice_kind_ == kSliceP || slice_kind_ == kSliceB) {
    if (!BuildRefLists()) {
      ++slice_errors_;
      return;
    }
  }
  weight_mode_ = 0;
  if ((slice_kind_ == kSliceP && pps->weighted_pred_flag) || (slice_kind_ == kSliceB && pps->weighted_bipred_idc == 1))
    weight_mode_ = 1;
  else if (slice_kind_ == kSliceB && pps->weighted_bipred_idc == 2)
    weight_mode_ = 2;
  if (weight_mode_ == 2) ComputeWeights();
  BitReader br(rbsp, size);
  br.Skip(sh.header_bits);
  if (!DecodeSliceData(br, rbsp, size)) {
    ++slice_errors_;
    DebugPrint("[H.264] slice at macroblock %u ended early; the picture keeps what was decoded\n",
               sh.first_mb_in_slice);
  }
}

// The short-term references (with their FrameNumWrap set) and the long-term ones ordered
// by LongTermFrameIdx. Frame lists take every other reference frame; field lists every
// frame with a reference field, the current frame's first field included.
void C264_Decode::GatherReferences(bool forFields, std::vector<H264Picture*>& shorts,
                                   std::vector<H264Picture*>& longs) {
  const int32_t max_frame_num = static_cast<int32_t>(cur_sps_.MaxFrameNum());
  const int32_t cur_frame_num = static_cast<int32_t>(sh_.frame_num);
  for (auto& p : pool_) {
    if (!p->used) continue;
    if (forFields ? !(p->ref_fields & p->fields) : p.get() == cur_) continue;
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

bool C264_Decode::BuildRefLists() {
  std::memset(ref_parity_, 0, sizeof(ref_parity_));
  if (field_) return BuildFieldRefLists();
  std::vector<H264Picture*> shorts, longs;
  GatherReferences(false, shorts, longs);
  std::vector<H264Picture*> init[2];
  if (slice_kind_ == kSliceP) {
    std::sort(shorts.begin(), shorts.end(),
              [](const H264Picture* a, const H264Picture* b) { return a->frame_num_wrap > b->frame_num_wrap; });
    init[0] = shorts;
    init[0].insert(init[0].end(), longs.begin(), longs.end());
  } else {
    std::vector<H264Picture*> before, after;
    for (H264Picture* p : shorts) (p->poc < cur_->poc ? before : after).push_back(p);
    std::sort(before.begin(), before.end(), [](const H264Picture* a, const H264Picture* b) { return a->poc > b->poc; });
    std::sort(after.begin(), after.end(), [](const H264Picture* a, const H264Picture* b) { return a->poc < b->poc; });
    init[0] = before;
    init[0].insert(init[0].end(), after.begin(), after.end());
    init[0].insert(init[0].end(), longs.begin(), longs.end());
    init[1] = after;
    init[1].insert(init[1].end(), before.begin(), before.end());
    init[1].insert(init[1].end(), longs.begin(), longs.end());
    if (init[1].size() > 1 && init[1] == init[0]) std::swap(init[1][0], init[1][1]);
  }
  const int lists = slice_kind_ == kSliceB ? 2 : 1;
  for (int l = 0; l < lists; ++l) {
    const int n = static_cast<int>(l == 0 ? sh_.num_ref_idx_l0_active_minus1 : sh_.num_ref_idx_l1_active_minus1) + 1;
    ref_count_[l] = n;
    for (int i = 0; i < kMaxRefIdx; ++i) ref_list_[l][i] = i < n && i < static_cast<int>(init[l].size()) ? init[l][i] : nullptr;
    if (sh_.ref_pic_list_reordering_flag[l] && !ReorderList(l)) return false;
    if (ref_list_[l][0] == nullptr) {
      DebugPrint("[H.264] reference picture list %d is empty\n", l);
      return false;
    }
    // Entries the stream leaves without a picture repeat the first one, so that a damaged
    // stream still predicts from a real picture.
    for (int i = 1; i < n; ++i)
      if (ref_list_[l][i] == nullptr) ref_list_[l][i] = ref_list_[l][0];
  }
  return true;
}

bool C264_Decode::ReorderList(int list) {
  // Picture numbers (8.2.4.1): frames count by FrameNumWrap; fields by 2 * FrameNumWrap + 1
  // for the current parity and 2 * FrameNumWrap for the other.
  const int32_t max_pic_num = static_cast<int32_t>(cur_sps_.MaxFrameNum()) * (field_ ? 2 : 1);
  const int32_t curr_pic_num = field_ ? 2 * static_cast<int32_t>(sh_.frame_num) + 1 : static_cast<int32_t>(sh_.frame_num);
  const int n = ref_count_[list];
  int32_t pred = curr_pic_num;
  int ref_idx = 0;
  H264Picture* tmp[kMaxRefIdx + 1];
  uint8_t tmp_parity[kMaxRefIdx + 1];
  for (int i = 0; i < n; ++i) {
    tmp[i] = ref_list_[list][i];
    tmp_parity[i] = ref_parity_[list][i];
  }
  tmp[n] = nullptr;
  tmp_parity[n] = 0;
  for (const H264ReorderingOp& op : sh_.reordering[list]) {
    if (ref_idx >= n) break;
    H264Picture* pic = nullptr;
    bool long_term = false;
    int32_t target = 0;
    uint8_t parity = 0;
    int32_t frame_key = 0;  // FrameNumWrap or LongTermFrameIdx of the picture
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
    if (field_) {
      parity = static_cast<uint8_t>((target & 1) ? field_ : 3 - field_);
      frame_key = target >> 1;
    } else {
      frame_key = target;
    }
    for (auto& p : pool_) {
      if (!p->used || (p.get() == cur_ && !field_)) continue;
      if (field_ && !(p->ref_fields & p->fields & parity)) continue;
      if (long_term ? (p->long_ref && p->long_term_frame_idx == frame_key)
                    : (p->short_ref && p->frame_num_wrap == frame_key))
        pic = p.get();
    }
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
    ref_list_[list][i] = tmp[i];
    ref_parity_[list][i] = tmp_parity[i];
  }
  return true;
}

bool C264_Decode::BuildFieldRefLists() {
  // 8.2.4.2.2, 8.2.4.2.4 and 8.2.4.2.5: the frames holding reference fields (the current
  // frame's first field included) ordered by FrameNumWrap (P) or by order count around the
  // current field's (B), and by LongTermFrameIdx; then their fields alternating in parity,
  // starting with the current one.
  std::vector<H264Picture*> shorts, longs;
  GatherReferences(true, shorts, longs);
  std::vector<std::pair<H264Picture*, uint8_t>> init;
  auto alternate = [&](const std::vector<H264Picture*>& frames) {
    const uint8_t same = static_cast<uint8_t>(field_), other = static_cast<uint8_t>(3 - field_);
    size_t i = 0, j = 0;
    auto has = [](const H264Picture* p, uint8_t parity) { return (p->ref_fields & p->fields & parity) != 0; };
    while (i < frames.size() || j < frames.size()) {
      while (i < frames.size() && !has(frames[i], same)) ++i;
      if (i < frames.size()) init.emplace_back(frames[i++], same);
      while (j < frames.size() && !has(frames[j], other)) ++j;
      if (j < frames.size()) init.emplace_back(frames[j++], other);
    }
  };
  std::vector<std::pair<H264Picture*, uint8_t>> lists[2];
  if (slice_kind_ == kSliceP) {
    std::sort(shorts.begin(), shorts.end(),
              [](const H264Picture* a, const H264Picture* b) { return a->frame_num_wrap > b->frame_num_wrap; });
    alternate(shorts);
    alternate(longs);
    lists[0] = std::move(init);
  } else {
    // The order count of an entry: of its reference fields, the lower one.
    auto entry_poc = [](const H264Picture* p) {
      const uint8_t f = p->ref_fields & p->fields;
      if (f == 1) return p->poc_top;
      if (f == 2) return p->poc_bottom;
      return std::min(p->poc_top, p->poc_bottom);
    };
    const int32_t cur_poc = CurPoc();
    std::vector<H264Picture*> before, after;
    for (H264Picture* p : shorts) (entry_poc(p) <= cur_poc ? before : after).push_back(p);
    std::sort(before.begin(), before.end(),
              [&](const H264Picture* a, const H264Picture* b) { return entry_poc(a) > entry_poc(b); });
    std::sort(after.begin(), after.end(),
              [&](const H264Picture* a, const H264Picture* b) { return entry_poc(a) < entry_poc(b); });
    std::vector<H264Picture*> order0 = before, order1 = after;
    order0.insert(order0.end(), after.begin(), after.end());
    order1.insert(order1.end(), before.begin(), before.end());
    alternate(order0);
    alternate(longs);
    lists[0] = std::move(init);
    init.clear();
    alternate(order1);
    alternate(longs);
    lists[1] = std::move(init);
    if (lists[1].size() > 1 && lists[1] == lists[0]) std::swap(lists[1][0], lists[1][1]);
  }
  const int list_count = slice_kind_ == kSliceB ? 2 : 1;
  for (int l = 0; l < list_count; ++l) {
    const int n = static_cast<int>(l == 0 ? sh_.num_ref_idx_l0_active_minus1 : sh_.num_ref_idx_l1_active_minus1) + 1;
    ref_count_[l] = n;
    for (int i = 0; i < kMaxRefIdx; ++i) {
      const bool set = i < n && i < static_cast<int>(lists[l].size());
      ref_list_[l][i] = set ? lists[l][i].first : nullptr;
      ref_parity_[l][i] = set ? lists[l][i].second : 0;
    }
    if (sh_.ref_pic_list_reordering_flag[l] && !ReorderList(l)) return false;
    if (ref_list_[l][0] == nullptr) {
      DebugPrint("[H.264] reference picture list %d is empty\n", l);
      return false;
    }
    for (int i = 1; i < n; ++i)
      if (ref_list_[l][i] == nullptr) {
        ref_list_[l][i] = ref_list_[l][0];
        ref_parity_[l][i] = ref_parity_[l][0];
      }
  }
  return true;
}

int ImplicitWeight(int32_t cur_poc, int32_t poc0, int32_t poc1) {
  // 8.4.2.3.1: w1 from the order count distances; 32 (equal weights) when they give none.
  const int tb = static_cast<int>(std::clamp<int64_t>(int64_t{cur_poc} - poc0, -128, 127));
  const int td = static_cast<int>(std::clamp<int64_t>(int64_t{poc1} - poc0, -128, 127));
  if (td == 0) return 32;
  const int tx = (16384 + std::abs(td / 2)) / td;
  const int dsf = std::clamp((tb * tx + 32) >> 6, -1024, 1023);
  return (dsf >> 2) >= -64 && (dsf >> 2) <= 128 ? dsf >> 2 : 32;
}

void C264_Decode::ComputeWeights() {
  // Implicit weights (8.4.2.3.1): from the POC distances of each reference pair.
  for (int i = 0; i < ref_count_[0]; ++i)
    for (int j = 0; j < ref_count_[1]; ++j) {
      const H264Picture* p0 = ref_list_[0][i];
      const H264Picture* p1 = ref_list_[1][j];
      implicit_w_[i][j] = p0 != nullptr && p1 != nullptr && !p0->long_ref && !p1->long_ref
                              ? ImplicitWeight(CurPoc(), RefPoc(0, i), RefPoc(1, j))
                              : 32;
    }
}

void C264_Decode::SlidingWindow() {
  int count = 0;
  H264Picture* oldest = nullptr;
  for (auto& p : pool_) {
    if (!p->used || p.get() == cur_) continue;
    if (p->IsRef()) ++count;
    if (p->short_ref && (oldest == nullptr || p->frame_num_wrap < oldest->frame_num_wrap)) oldest = p.get();
  }
  if (count >= static_cast<int>(num_ref_frames_) && oldest != nullptr) oldest->short_ref = false;
}

void C264_Decode::ApplyMmco() {
  // Picture numbers of field pictures count fields: 2 * FrameNumWrap + 1 for the current
  // parity, 2 * FrameNumWrap for the other; a field operation names one field of a frame.
  const int32_t curr_pic_num =
      field_ ? 2 * static_cast<int32_t>(cur_sh_.frame_num) + 1 : static_cast<int32_t>(cur_sh_.frame_num);
  auto field_of = [&](int32_t pic_num) -> uint8_t {
    return static_cast<uint8_t>(!field_ ? 3 : ((pic_num & 1) ? field_ : 3 - field_));
  };
  auto frame_key = [&](int32_t pic_num) { return field_ ? pic_num >> 1 : pic_num; };
  for (int i = 0; i < cur_sh_.mmco_count; ++i) {
    const H264MmcoOp& op = cur_sh_.mmco[i];
    const int32_t pic_num_x = curr_pic_num - static_cast<int32_t>(std::min<uint32_t>(op.difference_of_pic_nums_minus1, 1u << 20) + 1);
    auto find_short = [&](int32_t pic_num) -> H264Picture* {
      const uint8_t parity = field_of(pic_num);
      for (auto& p : pool_)
        if (p->used && p->short_ref && (p.get() != cur_ || field_) && p->frame_num_wrap == frame_key(pic_num) &&
            (!field_ || (p->ref_fields & p->fields & parity)))
          return p.get();
      return nullptr;
    };
    switch (op.memory_management_control_operation) {
      case 1: {
        H264Picture* p = find_short(pic_num_x);
        if (p == nullptr) {
          DebugPrint("unmark ERROR : %d %d\n", 1, pic_num_x);
        } else if (field_) {
          // One field; the frame stays a reference while its other field is one.
          p->ref_fields &= static_cast<uint8_t>(~field_of(pic_num_x));
          if (!(p->ref_fields & p->fields)) p->short_ref = false;
        } else {
          p->short_ref = false;
        }
        break;
      }
      case 2: {
        const int32_t num = static_cast<int32_t>(op.long_term_pic_num);
        const uint8_t parity = field_of(num);
        bool found = false;
        for (auto& p : pool_)
          if (p->used && p->long_ref && p->long_term_frame_idx == frame_key(num) &&
              (!field_ || (p->ref_fields & p->fields & parity))) {
            if (field_) p->ref_fields &= static_cast<uint8_t>(~parity);
            if (!field_ || !(p->ref_fields & p->fields)) p->long_ref = false;
            found = true;
          }
        if (!found) DebugPrint("unmark ERROR : %d %d\n", 2, num);
        break;
      }
      case 3: {
        // On a field this makes its whole frame long-term (the other field, when a short-term
        // reference, goes along).
        H264Picture* p = find_short(pic_num_x);
        if (p == nullptr) {
          DebugPrint("unmark ERROR : %d %d\n", 3, pic_num_x);
          break;
        }
        for (auto& q : pool_)
          if (q->used && q->long_ref && q->long_term_frame_idx == static_cast<int32_t>(op.long_term_frame_idx))
            q->long_ref = false;
        p->short_ref = false;
        p->long_ref = true;
        p->long_term_frame_idx = static_cast<int32_t>(op.long_term_frame_idx);
        break;
      }
      case 4:
        for (auto& p : pool_)
          if (p->used && p->long_ref && p->long_term_frame_idx >= static_cast<int32_t>(op.max_long_term_frame_idx_plus1))
            p->long_ref = false;
        break;
      case 5:
        for (auto& p : pool_)
          if (p.get() != cur_) p->short_ref = p->long_ref = false;
        break;
      case 6:
        for (auto& p : pool_)
          if (p->used && p->long_ref && p.get() != cur_ &&
              p->long_term_frame_idx == static_cast<int32_t>(op.long_term_frame_idx))
            p->long_ref = false;
        cur_->long_ref = true;
        cur_->long_term_frame_idx = static_cast<int32_t>(op.long_term_frame_idx);
        break;
      default:
        break;
    }
  }
}

void C264_Decode::MarkReferences() {
  // FrameNumWrap of the short-term references relative to the current picture (8.2.4.1).
  const int32_t max_frame_num = static_cast<int32_t>(cur_sps_.MaxFrameNum());
  for (auto& p : pool_)
    if (p->used && p->short_ref && p.get() != cur_)
      p->frame_num_wrap = static_cast<int32_t>(p->frame_num) > static_cast<int32_t>(cur_->frame_num)
                              ? static_cast<int32_t>(p->frame_num) - max_frame_num
                              : static_cast<int32_t>(p->frame_num);
  if (cur_sh_.nal_ref_idc == 0) return;
  const uint8_t own_fields = static_cast<uint8_t>(field_ ? field_ : 3);
  if (field_ && cur_->fields == 3 && cur_->IsRef()) {
    // Second field of a reference frame: it joins its first field; no sliding window.
    if (cur_sh_.adaptive_ref_pic_marking_mode_flag) ApplyMmco();
    cur_->ref_fields |= own_fields;
    return;
  }
  if (cur_sh_.IsIdr()) {
    for (auto& p : pool_)
      if (p.get() != cur_) p->short_ref = p->long_ref = false;
    if (cur_sh_.long_term_reference_flag) {
      cur_->long_ref = true;
      cur_->long_term_frame_idx = 0;
    } else {
      cur_->short_ref = true;
    }
    cur_->ref_fields = own_fields;
    return;
  }
  if (cur_sh_.adaptive_ref_pic_marking_mode_flag) ApplyMmco();
  else SlidingWindow();
  if (!cur_->long_ref) cur_->short_ref = true;
  cur_->ref_fields = own_fields;
  int refs = 0;
  H264Picture* oldest = nullptr;
  for (auto& p : pool_) {
    if (!p->used || !p->IsRef() || p.get() == cur_) continue;
    ++refs;
    if (p->short_ref && (oldest == nullptr || p->frame_num_wrap < oldest->frame_num_wrap)) oldest = p.get();
  }
  if (refs >= dpb_pictures_) {
    DebugPrint("[H.264/AVC] refarence buffer overflow (%d >= %d)\n", refs, dpb_pictures_);
    if (oldest != nullptr) oldest->short_ref = false;
  }
}

void C264_Decode::BumpOutput(bool flush_all) {
  for (;;) {
    std::vector<H264Picture*> waiting;
    for (auto& p : pool_)
      if (p->used && p->needed_for_output && !p->queued_for_output && p.get() != cur_) waiting.push_back(p.get());
    if (waiting.empty() || (!flush_all && waiting.size() <= num_reorder_)) return;
    H264Picture* first = *std::min_element(waiting.begin(), waiting.end(),
                                           [](const H264Picture* a, const H264Picture* b) { return a->poc < b->poc; });
    first->queued_for_output = true;
    output_queue_.push_back(first);
  }
}

void C264_Decode::FinishPicture() {
  if (cur_ == nullptr) return;
  DeblockPicture();
  H264Picture* pic = cur_;
  const bool idr = cur_sh_.IsIdr();
  MarkReferences();
  if (cur_has_mmco5_) cur_sh_.has_mmco5 = true;
  poc_state_.Commit(cur_sps_, cur_sh_, cur_poc_);
  // A picture with memory_management_control_operation 5 counts as POC 0 from now on, and
  // like an IDR picture it closes the previous output sequence.
  if (idr || cur_has_mmco5_) {
    cur_ = nullptr;
    BumpOutput(true);
    cur_ = pic;
    if (cur_has_mmco5_) pic->poc -= std::min(cur_poc_.top, cur_poc_.bottom);
  }
  prev_ref_frame_num_ = cur_sh_.nal_ref_idc != 0 ? (cur_has_mmco5_ ? 0 : cur_sh_.frame_num) : prev_ref_frame_num_;
  if (cur_sh_.nal_ref_idc != 0) last_ref_ = pic;
  if (cur_sh_.nal_ref_idc != 0 && cur_has_mmco5_) pic->frame_num = 0;
  last_picture_ = pic;
  if (field_ && pic->fields != 3) {
    // A first field: the frame goes to output once its second field is decoded.
    pending_field_ = pic;
    cur_ = nullptr;
    return;
  }
  pic->needed_for_output = true;
  pic->queued_for_output = false;
  cur_ = nullptr;
  ++pictures_decoded_;
  BumpOutput(false);
}

void C264_Decode::ReleasePendingField() {
  // A first field without a second one is output as it is.
  if (pending_field_ == nullptr) return;
  H264Picture* pic = pending_field_;
  pending_field_ = nullptr;
  if (!pic->used) return;
  pic->needed_for_output = true;
  pic->queued_for_output = false;
  ++pictures_decoded_;
  BumpOutput(false);
}

void C264_Decode::Flush() {
  FinishPicture();
  ReleasePendingField();
  BumpOutput(true);
}

namespace {

// The field order of a picture for field display: 0 for a frame picture; for one decoded as
// fields 1 when its top field comes first (or is the only one), 2 when the bottom field does.
uint32_t FieldOrder(const H264Picture& pic) {
  if (!pic.field_coded) return 0;
  if (pic.fields != 3) return pic.fields == 2 ? 2 : 1;
  return pic.poc_bottom < pic.poc_top ? 2 : 1;
}

}  // namespace

bool C264_Decode::GetCurrentPicture(CVideoFrame& out, H264Crop* crop) {
  H264Picture* pic = last_picture_;
  if (pic == nullptr || !pic->used) return false;
  pic->frame.value64 = static_cast<uint64_t>(static_cast<int64_t>(pic->poc));
  pic->frame.picture_index = pic->serial;
  pic->frame.frame_number = pic->stream_frame_number;
  pic->frame.field_type = FieldOrder(*pic);
  if (crop != nullptr) *crop = pic->crop;
  return out.CopyFrom(pic->frame);
}

bool C264_Decode::GetNextPicture(CVideoFrame& out, H264Crop* crop) {
  if (output_queue_.empty()) return false;
  H264Picture* pic = output_queue_.front();
  output_queue_.erase(output_queue_.begin());
  pic->frame.value64 = static_cast<uint64_t>(static_cast<int64_t>(pic->poc));
  pic->frame.picture_index = pic->serial;
  pic->frame.frame_number = pic->stream_frame_number;
  pic->frame.field_type = FieldOrder(*pic);
  const bool ok = out.CopyFrom(pic->frame);
  if (crop != nullptr) *crop = pic->crop;
  pic->needed_for_output = false;
  pic->queued_for_output = false;
  if (!pic->IsRef()) pic->used = false;
  for (auto it = retired_.begin(); it != retired_.end(); ++it)
    if (it->get() == pic) {
      retired_.erase(it);
      break;
    }
  return ok;
}

}  // namespace fennik
