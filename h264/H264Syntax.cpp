#include "h264/H264Syntax.h"

#include <algorithm>
#include <cstring>

#include "base/DebugPrint.h"

namespace fennik {
namespace {

// Table 7-3 and Table 7-4: default scaling lists, in zig-zag scan order.
const uint8_t kDefault4x4Intra[16] = {6, 13, 13, 20, 20, 20, 28, 28, 28, 28, 32, 32, 32, 37, 37, 42};
const uint8_t kDefault4x4Inter[16] = {10, 14, 14, 20, 20, 20, 24, 24, 24, 24, 27, 27, 27, 30, 30, 34};
const uint8_t kDefault8x8Intra[64] = {
    6,  10, 10, 13, 11, 13, 16, 16, 16, 16, 18, 18, 18, 18, 18, 23, 23, 23, 23, 23, 23, 25,
    25, 25, 25, 25, 25, 25, 27, 27, 27, 27, 27, 27, 27, 27, 29, 29, 29, 29, 29, 29, 29, 31,
    31, 31, 31, 31, 31, 33, 33, 33, 33, 33, 36, 36, 36, 36, 38, 38, 38, 40, 40, 42};
const uint8_t kDefault8x8Inter[64] = {
    9,  13, 13, 15, 13, 15, 17, 17, 17, 17, 19, 19, 19, 19, 19, 21, 21, 21, 21, 21, 21, 22,
    22, 22, 22, 22, 22, 22, 24, 24, 24, 24, 24, 24, 24, 24, 25, 25, 25, 25, 25, 25, 25, 27,
    27, 27, 27, 27, 27, 28, 28, 28, 28, 28, 30, 30, 30, 30, 32, 32, 32, 33, 33, 35};

// Reads a ue(v) and checks it against [0, max]; names the element when it is out of range.
bool ReadUeChecked(BitReader& br, uint32_t max, const char* name, uint32_t& out) {
  out = br.ReadUe();
  if (out > max || !br.Ok()) {
    DebugPrint("[H.264] %s out of range: %u\n", name, out);
    return false;
  }
  return true;
}

bool ReadSeChecked(BitReader& br, int32_t min, int32_t max, const char* name, int32_t& out) {
  out = br.ReadSe();
  if (out < min || out > max || !br.Ok()) {
    DebugPrint("[H.264] %s out of range: %d\n", name, out);
    return false;
  }
  return true;
}

// scaling_list() of 7.3.2.1.1.1. Returns useDefaultScalingMatrixFlag.
bool ReadScalingList(BitReader& br, uint8_t* list, int size) {
  int last = 8, next = 8;
  bool use_default = false;
  for (int j = 0; j < size; ++j) {
    if (next != 0) {
      int32_t delta = br.ReadSe();
      next = ((last + delta) % 256 + 256) % 256;
      use_default = j == 0 && next == 0;
    }
    list[j] = static_cast<uint8_t>(next == 0 ? last : next);
    last = list[j];
  }
  return use_default;
}

// Reads the present lists of an SPS or PPS and applies the fall-back rules of Table 7-2.
// `fallback4x4` / `fallback8x8` hold the lists that rule A (SPS: defaults) or rule B (PPS: the
// sequence's lists) supplies for lists 0, 3, 6 and 7.
void ReadScalingMatrix(BitReader& br, int count, uint8_t* present, uint8_t out4[6][16], uint8_t out8[6][64],
                       const uint8_t fallback4[6][16], const uint8_t fallback8[6][64]) {
  for (int i = 0; i < count; ++i) {
    present[i] = static_cast<uint8_t>(br.ReadBit());
    if (i < 6) {
      if (present[i]) {
        if (ReadScalingList(br, out4[i], 16)) std::memcpy(out4[i], i < 3 ? kDefault4x4Intra : kDefault4x4Inter, 16);
      } else if (i == 0 || i == 3) {
        std::memcpy(out4[i], fallback4[i], 16);
      } else {
        std::memcpy(out4[i], out4[i - 1], 16);
      }
    } else {
      int k = i - 6;
      if (present[i]) {
        if (ReadScalingList(br, out8[k], 64)) std::memcpy(out8[k], (k % 2) == 0 ? kDefault8x8Intra : kDefault8x8Inter, 64);
      } else if (k < 2) {
        std::memcpy(out8[k], fallback8[k], 64);
      } else {
        std::memcpy(out8[k], out8[k - 2], 64);
      }
    }
  }
  for (int i = count; i < 12; ++i) {
    if (i >= 6 && i - 6 >= 2) std::memcpy(out8[i - 6], out8[i - 8], 64);
    else if (i >= 6) std::memcpy(out8[i - 6], fallback8[i - 6], 64);
  }
}

void FillFlat(uint8_t out4[6][16], uint8_t out8[6][64]) {
  std::memset(out4, 16, 6 * 16);
  std::memset(out8, 16, 6 * 64);
}

void DefaultLists(uint8_t out4[6][16], uint8_t out8[6][64]) {
  for (int i = 0; i < 6; ++i) std::memcpy(out4[i], i < 3 ? kDefault4x4Intra : kDefault4x4Inter, 16);
  for (int i = 0; i < 6; ++i) std::memcpy(out8[i], (i % 2) == 0 ? kDefault8x8Intra : kDefault8x8Inter, 64);
}

void ReadHrd(BitReader& br, H264Hrd& hrd) {
  hrd.cpb_cnt_minus1 = std::min<uint32_t>(br.ReadUe(), 31);
  hrd.bit_rate_scale = br.Read(4);
  hrd.cpb_size_scale = br.Read(4);
  for (uint32_t i = 0; i <= hrd.cpb_cnt_minus1; ++i) {
    hrd.bit_rate_value_minus1[i] = br.ReadUe();
    hrd.cpb_size_value_minus1[i] = br.ReadUe();
    hrd.cbr_flag[i] = static_cast<uint8_t>(br.ReadBit());
  }
  hrd.initial_cpb_removal_delay_length_minus1 = br.Read(5);
  hrd.cpb_removal_delay_length_minus1 = br.Read(5);
  hrd.dpb_output_delay_length_minus1 = br.Read(5);
  hrd.time_offset_length = br.Read(5);
}

void ReadVui(BitReader& br, H264Vui& vui) {
  vui.aspect_ratio_info_present_flag = br.ReadBit();
  if (vui.aspect_ratio_info_present_flag) {
    vui.aspect_ratio_idc = br.Read(8);
    if (vui.aspect_ratio_idc == 255) {  // Extended_SAR
      vui.sar_width = br.Read(16);
      vui.sar_height = br.Read(16);
    }
  }
  vui.overscan_info_present_flag = br.ReadBit();
  if (vui.overscan_info_present_flag) vui.overscan_appropriate_flag = br.ReadBit();
  vui.video_signal_type_present_flag = br.ReadBit();
  if (vui.video_signal_type_present_flag) {
    vui.video_format = br.Read(3);
    vui.video_full_range_flag = br.ReadBit();
    vui.colour_description_present_flag = br.ReadBit();
    if (vui.colour_description_present_flag) {
      vui.colour_primaries = br.Read(8);
      vui.transfer_characteristics = br.Read(8);
      vui.matrix_coefficients = br.Read(8);
    }
  }
  vui.chroma_loc_info_present_flag = br.ReadBit();
  if (vui.chroma_loc_info_present_flag) {
    vui.chroma_sample_loc_type_top_field = br.ReadUe();
    vui.chroma_sample_loc_type_bottom_field = br.ReadUe();
  }
  vui.timing_info_present_flag = br.ReadBit();
  if (vui.timing_info_present_flag) {
    vui.num_units_in_tick = br.Read(32);
    vui.time_scale = br.Read(32);
    vui.fixed_frame_rate_flag = br.ReadBit();
  }
  vui.nal_hrd_parameters_present_flag = br.ReadBit();
  if (vui.nal_hrd_parameters_present_flag) ReadHrd(br, vui.nal_hrd);
  vui.vcl_hrd_parameters_present_flag = br.ReadBit();
  if (vui.vcl_hrd_parameters_present_flag) ReadHrd(br, vui.vcl_hrd);
  if (vui.nal_hrd_parameters_present_flag || vui.vcl_hrd_parameters_present_flag) vui.low_delay_hrd_flag = br.ReadBit();
  vui.pic_struct_present_flag = br.ReadBit();
  vui.bitstream_restriction_flag = br.ReadBit();
  if (vui.bitstream_restriction_flag) {
    vui.motion_vectors_over_pic_boundaries_flag = br.ReadBit();
    vui.max_bytes_per_pic_denom = br.ReadUe();
    vui.max_bits_per_mb_denom = br.ReadUe();
    vui.log2_max_mv_length_horizontal = br.ReadUe();
    vui.log2_max_mv_length_vertical = br.ReadUe();
    vui.num_reorder_frames = br.ReadUe();
    vui.max_dec_frame_buffering = br.ReadUe();
  }
}

}  // namespace

// A cropping that leaves nothing of the picture (offsets of a damaged SPS) is ignored, in
// the offsets as in the visible size, so that the visible area always lies in the picture.
uint32_t H264Sps::CropLeft() const {
  uint32_t unit_x = (chroma_format_idc == 1 || chroma_format_idc == 2) ? 2 : 1;
  return VisibleWidth() < PicWidthInMbs() * 16 ? frame_crop_left_offset * unit_x : 0;
}

uint32_t H264Sps::CropTop() const {
  uint32_t unit_y = (chroma_format_idc == 1 ? 2 : 1) * (frame_mbs_only_flag ? 1 : 2);
  return VisibleHeight() < FrameHeightInMbs() * 16 ? frame_crop_top_offset * unit_y : 0;
}

uint32_t H264Sps::VisibleWidth() const {
  uint32_t unit_x = (chroma_format_idc == 1 || chroma_format_idc == 2) ? 2 : 1;
  uint32_t w = PicWidthInMbs() * 16;
  if (!frame_cropping_flag) return w;
  uint64_t crop = (uint64_t{frame_crop_left_offset} + frame_crop_right_offset) * unit_x;
  return crop < w ? static_cast<uint32_t>(w - crop) : w;
}

uint32_t H264Sps::VisibleHeight() const {
  uint32_t unit_y = (chroma_format_idc == 1 ? 2 : 1) * (frame_mbs_only_flag ? 1 : 2);
  uint32_t h = FrameHeightInMbs() * 16;
  if (!frame_cropping_flag) return h;
  uint64_t crop = (uint64_t{frame_crop_top_offset} + frame_crop_bottom_offset) * unit_y;
  return crop < h ? static_cast<uint32_t>(h - crop) : h;
}

bool MoreRbspData(const BitReader& br, const uint8_t* rbsp, size_t size) {
  // The rbsp_stop_one_bit is the last set bit of the RBSP (trailing zero bytes, such as
  // cabac_zero_words, are skipped).
  size_t last = size;
  while (last > 0 && rbsp[last - 1] == 0) --last;
  if (last == 0) return false;
  uint8_t b = rbsp[last - 1];
  int trailing = 0;
  while (((b >> trailing) & 1) == 0) ++trailing;
  size_t stop_bit = (last - 1) * 8 + (7 - trailing);
  return br.BitPosition() < stop_bit;
}

bool ParseSps(const uint8_t* rbsp, size_t size, H264Sps& sps) {
  sps = H264Sps();
  BitReader br(rbsp, size);
  sps.profile_idc = br.Read(8);
  sps.constraint_flags = br.Read(8);
  sps.level_idc = br.Read(8);
  if (!ReadUeChecked(br, 31, "seq_parameter_set_id", sps.seq_parameter_set_id)) return false;
  FillFlat(sps.scaling_4x4, sps.scaling_8x8);
  const uint32_t p = sps.profile_idc;
  if (p == 100 || p == 110 || p == 122 || p == 244 || p == 44 || p == 83 || p == 86 || p == 118 || p == 128 ||
      p == 138 || p == 139 || p == 134 || p == 135 || p == 144) {
    if (!ReadUeChecked(br, 3, "chroma_format_idc", sps.chroma_format_idc)) return false;
    if (sps.chroma_format_idc == 3) sps.residual_colour_transform_flag = br.ReadBit();
    if (!ReadUeChecked(br, 6, "bit_depth_luma_minus8", sps.bit_depth_luma_minus8)) return false;
    if (!ReadUeChecked(br, 6, "bit_depth_chroma_minus8", sps.bit_depth_chroma_minus8)) return false;
    sps.qpprime_y_zero_transform_bypass_flag = br.ReadBit();
    sps.seq_scaling_matrix_present_flag = br.ReadBit();
    if (sps.seq_scaling_matrix_present_flag) {
      uint8_t def4[6][16], def8[6][64];
      DefaultLists(def4, def8);
      ReadScalingMatrix(br, sps.chroma_format_idc != 3 ? 8 : 12, sps.seq_scaling_list_present_flag, sps.scaling_4x4,
                        sps.scaling_8x8, def4, def8);
    }
  }
  if (!ReadUeChecked(br, 12, "log2_max_frame_num_minus4", sps.log2_max_frame_num_minus4)) return false;
  if (!ReadUeChecked(br, 2, "pic_order_cnt_type", sps.pic_order_cnt_type)) return false;  // 7.4.2.1.1
  if (sps.pic_order_cnt_type == 0) {
    if (!ReadUeChecked(br, 12, "log2_max_pic_order_cnt_lsb_minus4", sps.log2_max_pic_order_cnt_lsb_minus4)) return false;
  } else if (sps.pic_order_cnt_type == 1) {
    sps.delta_pic_order_always_zero_flag = br.ReadBit();
    sps.offset_for_non_ref_pic = br.ReadSe();
    sps.offset_for_top_to_bottom_field = br.ReadSe();
    if (!ReadUeChecked(br, 255, "num_ref_frames_in_pic_order_cnt_cycle", sps.num_ref_frames_in_pic_order_cnt_cycle))
      return false;
    for (uint32_t i = 0; i < sps.num_ref_frames_in_pic_order_cnt_cycle; ++i) sps.offset_for_ref_frame[i] = br.ReadSe();
  }
  if (!ReadUeChecked(br, 16, "num_ref_frames", sps.num_ref_frames)) return false;
  sps.gaps_in_frame_num_value_allowed_flag = br.ReadBit();
  // Sizes are bounded far beyond any level (level 6.2 allows 139264 macroblocks).
  if (!ReadUeChecked(br, 1023, "pic_width_in_mbs_minus1", sps.pic_width_in_mbs_minus1)) return false;
  if (!ReadUeChecked(br, 1023, "pic_height_in_map_units_minus1", sps.pic_height_in_map_units_minus1)) return false;
  sps.frame_mbs_only_flag = br.ReadBit();
  // MaxFS of the highest level (6.2, Table A-1): anything larger is a damaged SPS.
  if (uint64_t{sps.PicWidthInMbs()} * sps.FrameHeightInMbs() > 139264) {
    DebugPrint("[H.264] picture size out of range: %u x %u macroblocks\n", sps.PicWidthInMbs(), sps.FrameHeightInMbs());
    return false;
  }
  if (!sps.frame_mbs_only_flag) sps.mb_adaptive_frame_field_flag = br.ReadBit();
  sps.direct_8x8_inference_flag = br.ReadBit();
  sps.frame_cropping_flag = br.ReadBit();
  if (sps.frame_cropping_flag) {
    sps.frame_crop_left_offset = br.ReadUe();
    sps.frame_crop_right_offset = br.ReadUe();
    sps.frame_crop_top_offset = br.ReadUe();
    sps.frame_crop_bottom_offset = br.ReadUe();
  }
  sps.vui_parameters_present_flag = br.ReadBit();
  if (sps.vui_parameters_present_flag) {
    // A damaged VUI does not invalidate the sizes read before it.
    BitReader before = br;
    ReadVui(br, sps.vui);
    if (!br.Ok()) {
      DebugPrint("[H.264] SPS VUI truncated\n");
      sps.vui = H264Vui();
      sps.vui_parameters_present_flag = false;
      br = before;
    }
  }
  if (!br.Ok()) {
    DebugPrint("[H.264] SPS truncated\n");
    return false;
  }
  sps.valid = true;
  return true;
}

bool ParsePps(const uint8_t* rbsp, size_t size, const H264Sps* sps, H264Pps& pps) {
  pps = H264Pps();
  BitReader br(rbsp, size);
  if (!ReadUeChecked(br, 255, "pic_parameter_set_id", pps.pic_parameter_set_id)) return false;
  if (!ReadUeChecked(br, 31, "seq_parameter_set_id", pps.seq_parameter_set_id)) return false;
  pps.entropy_coding_mode_flag = br.ReadBit();
  pps.pic_order_present_flag = br.ReadBit();
  if (!ReadUeChecked(br, 7, "num_slice_groups_minus1", pps.num_slice_groups_minus1)) return false;
  if (pps.num_slice_groups_minus1 > 0) {
    if (!ReadUeChecked(br, 6, "slice_group_map_type", pps.slice_group_map_type)) return false;
    if (pps.slice_group_map_type == 0) {
      for (uint32_t i = 0; i <= pps.num_slice_groups_minus1; ++i) pps.run_length_minus1[i] = br.ReadUe();
    } else if (pps.slice_group_map_type == 2) {
      for (uint32_t i = 0; i < pps.num_slice_groups_minus1; ++i) {
        pps.top_left[i] = br.ReadUe();
        pps.bottom_right[i] = br.ReadUe();
      }
    } else if (pps.slice_group_map_type >= 3 && pps.slice_group_map_type <= 5) {
      pps.slice_group_change_direction_flag = br.ReadBit();
      pps.slice_group_change_rate_minus1 = br.ReadUe();
    } else if (pps.slice_group_map_type == 6) {
      if (!ReadUeChecked(br, 139263, "pic_size_in_map_units_minus1", pps.pic_size_in_map_units_minus1)) return false;
      int bits = 0;
      while ((1u << bits) < pps.num_slice_groups_minus1 + 1) ++bits;
      if (br.BitsLeft() < size_t{pps.pic_size_in_map_units_minus1 + 1} * bits) {
        DebugPrint("[H.264] PPS slice_group_id truncated\n");
        return false;
      }
      pps.slice_group_id.resize(pps.pic_size_in_map_units_minus1 + 1);
      for (auto& id : pps.slice_group_id) id = static_cast<uint8_t>(br.Read(bits));
    }
  }
  if (!ReadUeChecked(br, 31, "num_ref_idx_l0_active_minus1", pps.num_ref_idx_l0_active_minus1)) return false;
  if (!ReadUeChecked(br, 31, "num_ref_idx_l1_active_minus1", pps.num_ref_idx_l1_active_minus1)) return false;
  pps.weighted_pred_flag = br.ReadBit();
  pps.weighted_bipred_idc = br.Read(2);
  if (pps.weighted_bipred_idc > 2) {
    DebugPrint("[H.264] weighted_bipred_idc out of range: %u\n", pps.weighted_bipred_idc);
    return false;
  }
  if (!ReadSeChecked(br, -26, 25, "pic_init_qp_minus26", pps.pic_init_qp_minus26)) return false;
  if (!ReadSeChecked(br, -26, 25, "pic_init_qs_minus26", pps.pic_init_qs_minus26)) return false;
  if (!ReadSeChecked(br, -12, 12, "chroma_qp_index_offset", pps.chroma_qp_index_offset)) return false;
  pps.deblocking_filter_control_present_flag = br.ReadBit();
  pps.constrained_intra_pred_flag = br.ReadBit();
  pps.redundant_pic_cnt_present_flag = br.ReadBit();
  pps.second_chroma_qp_index_offset = pps.chroma_qp_index_offset;
  // Without picture lists the sequence's lists apply.
  if (sps != nullptr) {
    std::memcpy(pps.scaling_4x4, sps->scaling_4x4, sizeof(pps.scaling_4x4));
    std::memcpy(pps.scaling_8x8, sps->scaling_8x8, sizeof(pps.scaling_8x8));
  } else {
    FillFlat(pps.scaling_4x4, pps.scaling_8x8);
  }
  if (MoreRbspData(br, rbsp, size)) {
    pps.transform_8x8_mode_flag = br.ReadBit();
    pps.pic_scaling_matrix_present_flag = br.ReadBit();
    if (pps.pic_scaling_matrix_present_flag) {
      const uint32_t chroma_format_idc = sps != nullptr ? sps->chroma_format_idc : 1;
      int count = 6 + ((chroma_format_idc != 3) ? 2 : 6) * (pps.transform_8x8_mode_flag ? 1 : 0);
      // Fall-back rule B uses the sequence's lists only when the SPS carries a matrix; a
      // sequence without one falls back to the defaults (rule A).
      uint8_t fb4[6][16], fb8[6][64];
      if (sps != nullptr && sps->seq_scaling_matrix_present_flag) {
        std::memcpy(fb4, sps->scaling_4x4, sizeof(fb4));
        std::memcpy(fb8, sps->scaling_8x8, sizeof(fb8));
      } else {
        DefaultLists(fb4, fb8);
      }
      ReadScalingMatrix(br, count, pps.pic_scaling_list_present_flag, pps.scaling_4x4, pps.scaling_8x8, fb4, fb8);
    }
    if (!ReadSeChecked(br, -12, 12, "second_chroma_qp_index_offset", pps.second_chroma_qp_index_offset)) return false;
  }
  if (!br.Ok()) {
    DebugPrint("[H.264] PPS truncated\n");
    return false;
  }
  pps.valid = true;
  return true;
}

bool ParseAud(const uint8_t* rbsp, size_t size, H264Aud& aud) {
  BitReader br(rbsp, size);
  aud.primary_pic_type = br.Read(3);
  return br.Ok();
}

bool ParseSei(uint8_t nal_header, const uint8_t* rbsp, size_t size, std::vector<H264SeiMessage>& out) {
  size_t pos = 0;
  // Each message: payload_type and payload_size as runs of 0xFF plus a last byte (7.3.2.3.1).
  while (pos < size && !(size - pos == 1 && rbsp[pos] == 0x80)) {
    uint32_t type = 0, psize = 0;
    while (pos < size && rbsp[pos] == 0xFF) { type += 255; ++pos; }
    if (pos >= size) return false;
    type += rbsp[pos++];
    while (pos < size && rbsp[pos] == 0xFF) { psize += 255; ++pos; }
    if (pos >= size) return false;
    psize += rbsp[pos++];
    if (psize > size - pos) {
      DebugPrint("[H.264] SEI payload_size %u exceeds the NAL unit\n", psize);
      return false;
    }
    if (out.size() < kMaxSeiMessages) {
      H264SeiMessage msg;
      msg.nal_header = nal_header;
      msg.payload_type = type;
      msg.payload_size = psize;
      msg.payload.assign(rbsp + pos, rbsp + pos + std::min<size_t>(psize, kMaxSeiPayloadKept));
      out.push_back(std::move(msg));
    }
    pos += psize;
  }
  return true;
}

bool ParseSliceHeader(const uint8_t* rbsp, size_t size, uint8_t nal_header, const H264ParamLookup& lookup,
                      H264SliceHeader& sh) {
  sh = H264SliceHeader();
  sh.nal_ref_idc = (nal_header >> 5) & 3;
  sh.nal_unit_type = nal_header & 0x1F;
  BitReader br(rbsp, size);
  if (!ReadUeChecked(br, 139263, "first_mb_in_slice", sh.first_mb_in_slice)) return false;
  if (!ReadUeChecked(br, 9, "slice_type", sh.slice_type)) return false;
  if (!ReadUeChecked(br, 255, "pic_parameter_set_id", sh.pic_parameter_set_id)) return false;
  const H264Pps* pps = lookup.pps(lookup.ctx, sh.pic_parameter_set_id);
  if (pps == nullptr || !pps->valid) {
    DebugPrint("[H.264] slice refers to missing PPS %u\n", sh.pic_parameter_set_id);
    return false;
  }
  const H264Sps* sps = lookup.sps(lookup.ctx, pps->seq_parameter_set_id);
  if (sps == nullptr || !sps->valid) {
    DebugPrint("[H.264] slice refers to missing SPS %u\n", pps->seq_parameter_set_id);
    return false;
  }
  if (sps->residual_colour_transform_flag) br.Read(2);  // colour_plane_id
  sh.frame_num = br.Read(static_cast<int>(sps->log2_max_frame_num_minus4 + 4));
  if (!sps->frame_mbs_only_flag) {
    sh.field_pic_flag = br.ReadBit();
    if (sh.field_pic_flag) sh.bottom_field_flag = br.ReadBit();
  }
  if (sh.IsIdr()) {
    if (!ReadUeChecked(br, 65535, "idr_pic_id", sh.idr_pic_id)) return false;
  }
  if (sps->pic_order_cnt_type == 0) {
    sh.pic_order_cnt_lsb = br.Read(static_cast<int>(sps->log2_max_pic_order_cnt_lsb_minus4 + 4));
    if (pps->pic_order_present_flag && !sh.field_pic_flag) sh.delta_pic_order_cnt_bottom = br.ReadSe();
  }
  if (sps->pic_order_cnt_type == 1 && !sps->delta_pic_order_always_zero_flag) {
    sh.delta_pic_order_cnt[0] = br.ReadSe();
    if (pps->pic_order_present_flag && !sh.field_pic_flag) sh.delta_pic_order_cnt[1] = br.ReadSe();
  }
  if (pps->redundant_pic_cnt_present_flag) {
    if (!ReadUeChecked(br, 127, "redundant_pic_cnt", sh.redundant_pic_cnt)) return false;
  }
  const int kind = sh.Kind();
  if (kind == kSliceB) sh.direct_spatial_mv_pred_flag = br.ReadBit();
  sh.num_ref_idx_l0_active_minus1 = pps->num_ref_idx_l0_active_minus1;
  sh.num_ref_idx_l1_active_minus1 = pps->num_ref_idx_l1_active_minus1;
  if (kind == kSliceP || kind == kSliceSP || kind == kSliceB) {
    sh.num_ref_idx_active_override_flag = br.ReadBit();
    if (sh.num_ref_idx_active_override_flag) {
      const uint32_t max = sh.field_pic_flag ? 31 : 15;
      if (!ReadUeChecked(br, max, "num_ref_idx_l0_active_minus1", sh.num_ref_idx_l0_active_minus1)) return false;
      if (kind == kSliceB &&
          !ReadUeChecked(br, max, "num_ref_idx_l1_active_minus1", sh.num_ref_idx_l1_active_minus1))
        return false;
    }
  }
  // ref_pic_list_reordering() (7.3.3.1)
  for (int list = 0; list < 2; ++list) {
    if (kind == kSliceI || kind == kSliceSI) break;
    if (list == 1 && kind != kSliceB) break;
    sh.ref_pic_list_reordering_flag[list] = br.ReadBit();
    if (!sh.ref_pic_list_reordering_flag[list]) continue;
    for (;;) {
      H264ReorderingOp op;
      if (!ReadUeChecked(br, 3, "reordering_of_pic_nums_idc", op.reordering_of_pic_nums_idc)) return false;
      if (op.reordering_of_pic_nums_idc == 3) break;
      op.value = br.ReadUe();
      // At most num_ref_idx_active + 1 operations can be meaningful.
      if (sh.reordering[list].size() > kMaxRefIdx) {
        DebugPrint("[H.264] too many reordering operations\n");
        return false;
      }
      sh.reordering[list].push_back(op);
    }
  }
  // pred_weight_table() (7.3.3.2)
  if ((pps->weighted_pred_flag && (kind == kSliceP || kind == kSliceSP)) ||
      (pps->weighted_bipred_idc == 1 && kind == kSliceB)) {
    sh.has_pred_weight_table = true;
    H264PredWeights& w = sh.weights;
    if (!ReadUeChecked(br, 7, "luma_log2_weight_denom", w.luma_log2_weight_denom)) return false;
    if (sps->chroma_format_idc != 0 &&
        !ReadUeChecked(br, 7, "chroma_log2_weight_denom", w.chroma_log2_weight_denom))
      return false;
    for (int list = 0; list < (kind == kSliceB ? 2 : 1); ++list) {
      const uint32_t n = list == 0 ? sh.num_ref_idx_l0_active_minus1 : sh.num_ref_idx_l1_active_minus1;
      for (uint32_t i = 0; i <= n; ++i) {
        w.luma_weight[list][i] = static_cast<int16_t>(1 << w.luma_log2_weight_denom);
        w.luma_offset[list][i] = 0;
        w.luma_weight_flag[list][i] = static_cast<uint8_t>(br.ReadBit());
        if (w.luma_weight_flag[list][i]) {
          int32_t v;
          if (!ReadSeChecked(br, -128, 127, list ? "luma_weight_l1" : "luma_weight_l0", v)) return false;
          w.luma_weight[list][i] = static_cast<int16_t>(v);
          if (!ReadSeChecked(br, -128, 127, list ? "luma_offset_l1" : "luma_offset_l0", v)) return false;
          w.luma_offset[list][i] = static_cast<int16_t>(v);
        }
        for (int c = 0; c < 2; ++c) {
          w.chroma_weight[list][i][c] = static_cast<int16_t>(1 << w.chroma_log2_weight_denom);
          w.chroma_offset[list][i][c] = 0;
        }
        if (sps->chroma_format_idc != 0) {
          w.chroma_weight_flag[list][i] = static_cast<uint8_t>(br.ReadBit());
          if (w.chroma_weight_flag[list][i]) {
            for (int c = 0; c < 2; ++c) {
              int32_t v;
              if (!ReadSeChecked(br, -128, 127, list ? "chroma_weight_l1" : "chroma_weight_l0", v)) return false;
              w.chroma_weight[list][i][c] = static_cast<int16_t>(v);
              if (!ReadSeChecked(br, -128, 127, list ? "chroma_offset_l1" : "chroma_offset_l0", v)) return false;
              w.chroma_offset[list][i][c] = static_cast<int16_t>(v);
            }
          }
        }
      }
    }
  }
  // dec_ref_pic_marking() (7.3.3.3)
  if (sh.nal_ref_idc != 0) {
    if (sh.IsIdr()) {
      sh.no_output_of_prior_pics_flag = br.ReadBit();
      sh.long_term_reference_flag = br.ReadBit();
    } else {
      sh.adaptive_ref_pic_marking_mode_flag = br.ReadBit();
      if (sh.adaptive_ref_pic_marking_mode_flag) {
        for (;;) {
          H264MmcoOp op;
          if (!ReadUeChecked(br, 6, "memory_management_control_operation", op.memory_management_control_operation))
            return false;
          if (op.memory_management_control_operation == 0) break;
          if (sh.mmco_count >= kMaxMmcoOps) {
            DebugPrint("[ERROR:H264] mmc table overflow\n");
            return false;
          }
          const uint32_t mmco = op.memory_management_control_operation;
          if (mmco == 1 || mmco == 3) op.difference_of_pic_nums_minus1 = br.ReadUe();
          if (mmco == 2) op.long_term_pic_num = br.ReadUe();
          if (mmco == 3 || mmco == 6) op.long_term_frame_idx = br.ReadUe();
          if (mmco == 4) op.max_long_term_frame_idx_plus1 = br.ReadUe();
          if (mmco == 5) sh.has_mmco5 = true;
          sh.mmco[sh.mmco_count++] = op;
        }
      }
    }
  }
  if (pps->entropy_coding_mode_flag && kind != kSliceI && kind != kSliceSI) {
    if (!ReadUeChecked(br, 2, "cabac_init_idc", sh.cabac_init_idc)) return false;
  }
  if (!ReadSeChecked(br, -87, 77, "slice_qp_delta", sh.slice_qp_delta)) return false;
  const int32_t qp = 26 + pps->pic_init_qp_minus26 + sh.slice_qp_delta;
  if (qp < 0 || qp > 51) {
    DebugPrint("[H.264] slice_qp_delta out of range: %d\n", sh.slice_qp_delta);
    return false;
  }
  if (kind == kSliceSP || kind == kSliceSI) {
    if (kind == kSliceSP) sh.sp_for_switch_flag = br.ReadBit();
    sh.slice_qs_delta = br.ReadSe();
  }
  if (pps->deblocking_filter_control_present_flag) {
    if (!ReadUeChecked(br, 2, "disable_deblocking_filter_idc", sh.disable_deblocking_filter_idc)) return false;
    if (sh.disable_deblocking_filter_idc != 1) {
      if (!ReadSeChecked(br, -6, 6, "slice_alpha_c0_offset_div2", sh.slice_alpha_c0_offset_div2)) return false;
      if (!ReadSeChecked(br, -6, 6, "slice_beta_offset_div2", sh.slice_beta_offset_div2)) return false;
    }
  }
  if (pps->num_slice_groups_minus1 > 0 && pps->slice_group_map_type >= 3 && pps->slice_group_map_type <= 5) {
    const uint32_t pic_size = sps->PicWidthInMbs() * sps->PicHeightInMapUnits();
    const uint32_t rate = pps->slice_group_change_rate_minus1 + 1;
    uint32_t units = (pic_size + rate - 1) / rate + 1;
    int bits = 0;
    while ((1u << bits) < units) ++bits;
    sh.slice_group_change_cycle = br.Read(bits);
  }
  if (!br.Ok()) {
    DebugPrint("[H.264] slice header truncated\n");
    return false;
  }
  sh.header_bits = br.BitPosition();
  return true;
}

bool H264PocState::Compute(const H264Sps& sps, const H264SliceHeader& sh, Result& out) {
  const bool idr = sh.IsIdr();
  switch (sps.pic_order_cnt_type) {
    case 0: {  // 8.2.1.1
      int32_t prev_msb = prev_poc_msb_;
      int32_t prev_lsb = prev_poc_lsb_;
      if (idr) {
        prev_msb = 0;
        prev_lsb = 0;
      }
      const int32_t max_lsb = static_cast<int32_t>(sps.MaxPicOrderCntLsb());
      const int32_t lsb = static_cast<int32_t>(sh.pic_order_cnt_lsb);
      int32_t msb;
      if (lsb < prev_lsb && prev_lsb - lsb >= max_lsb / 2) msb = prev_msb + max_lsb;
      else if (lsb > prev_lsb && lsb - prev_lsb > max_lsb / 2) msb = prev_msb - max_lsb;
      else msb = prev_msb;
      poc_msb_ = msb;
      out.top = msb + lsb;
      out.bottom = sh.field_pic_flag ? msb + lsb : out.top + sh.delta_pic_order_cnt_bottom;
      return true;
    }
    case 1:
    case 2: {  // 8.2.1.2 and 8.2.1.3
      const int32_t max_frame_num = static_cast<int32_t>(sps.MaxFrameNum());
      int32_t prev_offset = prev_had_mmco5_ ? 0 : prev_frame_num_offset_;
      int32_t frame_num_offset;
      if (idr) frame_num_offset = 0;
      else if (prev_frame_num_ > sh.frame_num) frame_num_offset = prev_offset + max_frame_num;
      else frame_num_offset = prev_offset;
      frame_num_offset_ = frame_num_offset;
      const int64_t frame_num = sh.frame_num;
      if (sps.pic_order_cnt_type == 2) {
        int64_t temp;
        if (idr) temp = 0;
        else if (sh.nal_ref_idc == 0) temp = 2 * (frame_num_offset + frame_num) - 1;
        else temp = 2 * (frame_num_offset + frame_num);
        out.top = out.bottom = static_cast<int32_t>(temp);
        return true;
      }
      const int64_t cycle = sps.num_ref_frames_in_pic_order_cnt_cycle;
      int64_t abs_frame_num = cycle != 0 ? frame_num_offset + frame_num : 0;
      if (sh.nal_ref_idc == 0 && abs_frame_num > 0) --abs_frame_num;
      int64_t expected = 0;
      if (abs_frame_num > 0) {
        int64_t delta_cycle = 0;
        for (uint32_t i = 0; i < sps.num_ref_frames_in_pic_order_cnt_cycle; ++i) delta_cycle += sps.offset_for_ref_frame[i];
        const int64_t cycle_cnt = (abs_frame_num - 1) / cycle;
        const int64_t in_cycle = (abs_frame_num - 1) % cycle;
        expected = cycle_cnt * delta_cycle;
        for (int64_t i = 0; i <= in_cycle; ++i) expected += sps.offset_for_ref_frame[i];
      }
      if (sh.nal_ref_idc == 0) expected += sps.offset_for_non_ref_pic;
      const int64_t top = expected + sh.delta_pic_order_cnt[0];
      const int64_t bottom = top + sps.offset_for_top_to_bottom_field + sh.delta_pic_order_cnt[1];
      out.top = static_cast<int32_t>(top);
      out.bottom = sh.field_pic_flag ? static_cast<int32_t>(expected + sps.offset_for_top_to_bottom_field + sh.delta_pic_order_cnt[0])
                                     : static_cast<int32_t>(bottom);
      if (sh.field_pic_flag && !sh.bottom_field_flag) out.bottom = out.top;
      if (sh.field_pic_flag && sh.bottom_field_flag) out.top = out.bottom;
      return true;
    }
    default:
      DebugPrint("[H.264] pic_order_cnt_type = %d\n", static_cast<int>(sps.pic_order_cnt_type));
      out.top = out.bottom = 0;
      return false;
  }
}

void H264PocState::Commit(const H264Sps& sps, const H264SliceHeader& sh, const Result& poc) {
  if (sps.pic_order_cnt_type == 0) {
    if (sh.nal_ref_idc != 0) {
      if (sh.has_mmco5) {
        // After memory_management_control_operation 5 the picture counts as POC 0 (8.2.1).
        prev_poc_msb_ = 0;
        prev_poc_lsb_ = sh.field_pic_flag && sh.bottom_field_flag ? 0 : poc.top - std::min(poc.top, poc.bottom);
      } else {
        prev_poc_msb_ = poc_msb_;
        prev_poc_lsb_ = static_cast<int32_t>(sh.pic_order_cnt_lsb);
      }
    }
  } else {
    prev_frame_num_offset_ = frame_num_offset_;
    prev_had_mmco5_ = sh.has_mmco5;
  }
  prev_frame_num_ = sh.has_mmco5 ? 0 : sh.frame_num;
}

}  // namespace fennik
