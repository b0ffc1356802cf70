// NAL unit dispatch, parameter-set stores, picture start and end (H.264 7.4.1.2.4) and the
// slice set-up of the H.264 decoder; the decoded-picture buffer is H264Dpb.
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

const H264Sps* LookupSps(const void* ctx, uint32_t id) {
  return static_cast<const C264_DecodeHeader*>(ctx)->FindSps(id);
}
const H264Pps* LookupPps(const void* ctx, uint32_t id) {
  return static_cast<const C264_DecodeHeader*>(ctx)->FindPps(id);
}

}  // namespace

C264_DecodeHeader::C264_DecodeHeader() = default;
C264_DecodeHeader::~C264_DecodeHeader() = default;

void C264_DecodeHeader::ClearParameterSets() {
  for (auto& sps : sps_)
    if (sps) sps->valid = false;
  for (auto& pps : pps_)
    if (pps) pps->valid = false;
  current_sps_ = -1;
}

const H264Sps* C264_DecodeHeader::FindSps(uint32_t id) const {
  return id < 32 && sps_[id] && sps_[id]->valid ? sps_[id].get() : nullptr;
}

const H264Pps* C264_DecodeHeader::FindPps(uint32_t id) const {
  return id < 256 && pps_[id] && pps_[id]->valid ? pps_[id].get() : nullptr;
}

bool C264_DecodeHeader::StoreSps(const uint8_t* rbsp, size_t size) {
  if (size < 3) {
    DebugPrint("SPS not enough memory : %d\n", static_cast<int>(size));
    return false;
  }
  auto sps = std::make_unique<H264Sps>();
  if (!ParseSps(rbsp, size, *sps)) return false;
  const uint32_t id = sps->seq_parameter_set_id;
  if (!sps_[id]) sps_[id] = std::make_unique<H264Sps>();
  *sps_[id] = *sps;
  current_sps_ = static_cast<int>(id);
  OnSpsParsed(*sps_[id]);
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
  std::unique_ptr<H264Pps>& slot = pps_[pps->pic_parameter_set_id];
  if (!slot) slot = std::make_unique<H264Pps>();
  *slot = *pps;
  OnPpsParsed(*slot);
  return true;
}

C264_Decode::C264_Decode() = default;
C264_Decode::~C264_Decode() = default;

bool C264_Decode::InitPictureBuffers(uint32_t width, uint32_t height, uint32_t format) {
  DebugPrint("[H.264] init : width=%d, height=%d\n", static_cast<int>(width), static_cast<int>(height));
  buffers_ready_ = false;
  // Pictures already queued for output stay available until they are taken.
  dpb_.RetireAll();
  cur_ = nullptr;
  last_picture_ = nullptr;
  const uint32_t w_mbs = (width + 15) / 16, h_mbs = (height + 15) / 16;
  if (w_mbs == 0 || h_mbs == 0) return false;
  // The records are created here; each record's picture memory is allocated when the record
  // is first used, so memory follows the pictures a stream really keeps.
  dpb_.Configure(CurrentSps(), w_mbs * h_mbs);
  if (!CVideoFrame::ValidGeometry(w_mbs * 16, h_mbs * 16, format)) {
    dpb_.RetireAll();
    return false;
  }
  buf_format_ = format;
  buf_width_mbs_ = w_mbs;
  buf_height_mbs_ = h_mbs;
  buffers_ready_ = true;
  return true;
}

void C264_Decode::ResetDecoder() {
  dpb_.Reset();
  cur_ = nullptr;
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
  const bool second_field = dpb_.IsSecondField(field, sh.frame_num, sh.IsIdr());
  if (!second_field && dpb_.ReleasePendingField()) ++pictures_decoded_;
  if (!EnsureBuffers(sps)) return false;
  if (!second_field && !sh.IsIdr()) dpb_.FillFrameNumGap(sh.frame_num, sps.MaxFrameNum());
  H264Picture* pic = dpb_.TakePicture(second_field);
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
  nb_addr_ = -1;  // the neighbours found for the last macroblock belong to the previous picture
  SetPictureLayout();
  picture_refs_.clear();
  dpb_.StartPicture(pic, field, sh.frame_num, cur_poc_.top, cur_poc_.bottom, second_field, sps.MaxFrameNum());
  if (!second_field) {
    pic->stream_frame_number = frame_number_;
    pic->crop = H264Crop{sps.CropLeft(), sps.CropTop(), sps.VisibleWidth(), sps.VisibleHeight()};
    // Frame pictures of frame macroblocks with chroma fill the macroblocks no slice reached
    // when they finish (FillMissingMacroblocks); the rest start from a black picture.
    if (field || mbaff_ || chroma_format_ == 0) pic->frame.Clear();
    else pic->frame.picture_index = -1;
    // Motion data of the whole frame; a field picture uses its half (top field first).
    const size_t mbs = static_cast<size_t>(mb_width_) * frame_mb_height_;
    pic->PrepareMotion(mbs * 16, mbs);
    if (mbaff_) pic->mb_field.assign(static_cast<size_t>(mb_count_), 0);
    else pic->mb_field.clear();
  }
  const size_t mb_offset = field == 2 ? static_cast<size_t>(mb_count_) : 0;
  for (int l = 0; l < 2; ++l) {
    mv_[l] = pic->mv[l].data() + mb_offset * 16;
    ref_idx_[l] = pic->ref_idx[l].data() + mb_offset * 16;
    ref_serial_[l] = pic->ref_serial[l].data() + mb_offset * 16;
  }
  mb_intra_ = pic->mb_intra.data() + mb_offset;
  // Every macroblock starts as not decoded; BeginMacroblock clears the rest of a record as
  // it reaches it, and nothing reads more than `slice` of a record not reached.
  if (mbs_.size() != static_cast<size_t>(mb_count_)) mbs_.assign(static_cast<size_t>(mb_count_), MbInfo());
  for (MbInfo& info : mbs_) info.slice = -1;
  mbs_decoded_ = 0;
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
  level_scales_.Bind(pps->scaling_4x4, pps->scaling_8x8);
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
  refs_.count[0] = refs_.count[1] = 0;
  if (slice_kind_ == kSliceP || slice_kind_ == kSliceB) {
    if (!dpb_.BuildRefLists(sh_, slice_kind_, CurPoc(), refs_)) {
      ++slice_errors_;
      return;
    }
  }
  FillRefEntries();
  FillInterRefs();
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
  for (int i = 0; i < refs_.count[0]; ++i)
    for (int j = 0; j < refs_.count[1]; ++j) {
      const H264Picture* p0 = refs_.pic[0][i];
      const H264Picture* p1 = refs_.pic[1][j];
      implicit_w_[i][j] = p0 != nullptr && p1 != nullptr && !p0->long_ref && !p1->long_ref
                              ? ImplicitWeight(CurPoc(), RefPoc(0, i), RefPoc(1, j))
                              : 32;
    }
}

void C264_Decode::FinishPicture() {
  if (cur_ == nullptr) return;
  if (field_ == 0 && !mbaff_ && chroma_format_ != 0 && mbs_decoded_ < mb_count_) FillMissingMacroblocks();
  DeblockPicture();
  H264Picture* pic = cur_;
  cur_ = nullptr;
  if (cur_has_mmco5_) cur_sh_.has_mmco5 = true;
  poc_state_.Commit(cur_sps_, cur_sh_, cur_poc_);
  if (dpb_.FinishPicture(cur_sh_, cur_has_mmco5_, std::min(cur_poc_.top, cur_poc_.bottom))) ++pictures_decoded_;
  last_picture_ = pic;
}

void C264_Decode::FillMissingMacroblocks() {
  for (int a = 0; a < mb_count_; ++a) {
    if (mbs_[a].slice >= 0) continue;
    for (int plane = 0; plane < 3; ++plane) {
      const int w = plane == 0 ? 16 : mb_cw_, h = plane == 0 ? 16 : mb_ch_;
      if (w == 0) continue;
      int stride;
      uint8_t* p = MbPixels(plane, a, stride);
      for (int y = 0; y < h; ++y) std::memset(p + y * stride, plane == 0 ? 16 : 128, static_cast<size_t>(w));
    }
  }
}

void C264_Decode::Flush() {
  FinishPicture();
  if (dpb_.ReleasePendingField()) ++pictures_decoded_;
  dpb_.BumpOutput(true);
}

namespace {

// The field order of a picture for field display: 0 for a frame picture; for one decoded as
// fields 1 when its top field comes first (or is the only one), 2 when the bottom field does.
uint32_t FieldOrder(const H264Picture& pic) {
  if (!pic.field_coded) return 0;
  if (pic.fields != 3) return pic.fields == 2 ? 2 : 1;
  return pic.poc_bottom < pic.poc_top ? 2 : 1;
}

// Fills the attributes of a picture's frame that callers read: order count, serial, stream
// frame and field order.
void LabelFrame(H264Picture& pic) {
  pic.frame.value64 = static_cast<uint64_t>(static_cast<int64_t>(pic.poc));
  pic.frame.picture_index = pic.serial;
  pic.frame.frame_number = pic.stream_frame_number;
  pic.frame.field_type = FieldOrder(pic);
}

}  // namespace

bool C264_Decode::GetCurrentPicture(CVideoFrame& out, H264Crop* crop) {
  H264Picture* pic = last_picture_;
  if (pic == nullptr || !pic->used) return false;
  LabelFrame(*pic);
  if (crop != nullptr) *crop = pic->crop;
  return out.CopyFrom(pic->frame);
}

const CVideoFrame* C264_Decode::PeekNextPicture(H264Crop* crop) {
  H264Picture* pic = dpb_.NextOutput();
  if (pic == nullptr) return nullptr;
  LabelFrame(*pic);
  if (crop != nullptr) *crop = pic->crop;
  return &pic->frame;
}

void C264_Decode::PopNextPicture() { dpb_.PopOutput(); }

bool C264_Decode::GetNextPicture(CVideoFrame& out, H264Crop* crop) {
  H264Picture* pic = dpb_.NextOutput();
  if (PeekNextPicture(crop) == nullptr) return false;
  // A picture no longer referenced is handed out whole: the record takes the caller's
  // buffer of the same geometry (or none, and allocates when next used).
  const CVideoFrame& f = pic->frame;
  const bool same = !out.IsAllocated() ||
                    (out.Width() == f.Width() && out.Height() == f.Height() && out.Format() == f.Format());
  bool ok = true;
  if (!pic->IsRef() && same) out.Swap(pic->frame);
  else ok = out.CopyFrom(pic->frame);
  dpb_.PopOutput();
  return ok;
}

}  // namespace fennik
