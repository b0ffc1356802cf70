#include "codec/video/H264Views.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <string>

#include "base/BitReader.h"
#include "h264/H264Nal.h"
#include "view/NumberFormat.h"

namespace fennik {
namespace {

// Reads syntax elements from an RBSP and writes each as a field row: its name, its coded
// length in bits (2n+1 for an Exp-Golomb code with n leading zeros), its coded bits and its
// value.
class SyntaxPrinter {
 public:
  SyntaxPrinter(const std::vector<uint8_t>& rbsp, CFieldTree& tree, int level)
      : rbsp_(rbsp), br_(rbsp.data(), rbsp.size()), tree_(tree), level_(level) {}

  uint32_t U(const std::string& name, int bits, const char* valueName = nullptr) {
    if (!br_.Ok()) return 0;
    uint32_t v = 0;
    for (int done = 0; done < bits; done += 16) {
      const int n = bits - done < 16 ? bits - done : 16;
      v = (v << n) | br_.Read(n);
    }
    if (br_.Ok()) tree_.Field(level_, name, bits, kModeDecimal, colour::kField, v, v, valueName ? valueName : "");
    return v;
  }
  bool Flag(const std::string& name) { return U(name, 1) != 0; }
  uint32_t Ue(const std::string& name, const char* (*valueName)(uint32_t) = nullptr) {
    if (!br_.Ok()) return 0;
    const size_t before = br_.BitPosition();
    const uint32_t v = br_.ReadUe();
    const int bits = static_cast<int>(br_.BitPosition() - before);
    if (br_.Ok()) tree_.Field(level_, name, bits, kModeBinary, colour::kField, uint64_t{v} + 1, v, valueName ? valueName(v) : "");
    return v;
  }
  int32_t Se(const std::string& name) {
    if (!br_.Ok()) return 0;
    const size_t before = br_.BitPosition();
    const uint32_t code = br_.ReadUe();
    const int bits = static_cast<int>(br_.BitPosition() - before);
    const int32_t v = (code & 1) ? static_cast<int32_t>((code + 1) / 2) : -static_cast<int32_t>(code / 2);
    if (br_.Ok()) tree_.Field(level_, name, bits, kModeBinary, colour::kField, uint64_t{code} + 1, v);
    return v;
  }
  void Enter() { ++level_; }
  void Leave() { --level_; }
  int Level() const { return level_; }
  bool Ok() const { return br_.Ok(); }
  bool MoreData() const { return MoreRbspData(br_, rbsp_.data(), rbsp_.size()); }
  CFieldTree& Tree() { return tree_; }

 private:
  const std::vector<uint8_t>& rbsp_;
  BitReader br_;
  CFieldTree& tree_;
  int level_;
};

const char* NalTypeName(int type) {
  static const char* const kNames[] = {nullptr,
                                       "coded slice of a non-IDR picture",
                                       "coded slice data partition A",
                                       "coded slice data partition B",
                                       "coded slice data partition C",
                                       "coded slice of an IDR picture",
                                       "supplemental enhancement information (SEI)",
                                       "sequence parameter set",
                                       "picture parameter set",
                                       "access unit delimiter",
                                       "end of sequence",
                                       "end of stream",
                                       "filler data"};
  return type >= 1 && type <= 12 ? kNames[type] : "";
}

const char* SliceTypeName(uint32_t slice_type) {
  static const char* const kNames[] = {"P slice", "B slice", "I slice", "SP slice", "SI slice"};
  return slice_type < 10 ? kNames[slice_type % 5] : "";
}

const char* SeiTitle(uint32_t type) {
  static const char* const kTitles[] = {"SEI : BUFFERING PERIOD",
                                        "SEI : PICTURE TIMING",
                                        "SEI : PAN SCAN_RECTANGLE",
                                        "SEI : FILLER PAYLOAD",
                                        "SEI : USER DATA REGISTERED BY ITU-T Rec. T.35",
                                        "SEI : USER DATA UNREGISTERED",
                                        "SEI : RECOVERY POINT",
                                        "SEI : DECODED REFERENCE PICTURE MARKING REPETITION",
                                        "SEI : SPARE PICTURE",
                                        "SEI : SCENE INFORMATION",
                                        "SEI : SUB-SEQUENCE INFORMATION",
                                        "SEI : SUB-SEQUENCE LAYER CHARACTERISTICS",
                                        "SEI : SUB-SEQUENCE CHARACTERISTICS",
                                        "SEI : FULL-FRAME FREEZE",
                                        "SEI : FULL-FRAME FREEZE RELEASE",
                                        "SEI : FULL-FRAME SNAPSHOT",
                                        "SEI : PROGRESSIVE REFINEMENT SEGMENT START",
                                        "SEI : PROGRESSIVE REFINEMENT SEGMENT END",
                                        "SEI : MOTION-CONSTRAINED SLICE GROUP SET",
                                        "SEI : FILM GRAIN CHARACTERISTICS",
                                        "SEI : DEBLOCKING FILTER DISPLAY PREFERENCE",
                                        "SEI : STEREO VIDEO INFORMATION"};
  return type < 22 ? kTitles[type] : "SEI : UNKNOWN";
}

bool HasHighProfileFields(uint32_t profile_idc) {
  switch (profile_idc) {
    case 100: case 110: case 122: case 144: case 244: case 44: case 83: case 86: case 118: case 128:
    case 138: case 139: case 134: case 135:
      return true;
    default:
      return false;
  }
}

void NalHeader(CFieldTree& tree, int level, uint8_t header) {
  tree.Field(level, "forbidden_zero_bit", 1, kModeBinary, colour::kField, header >> 7, header >> 7);
  tree.Field(level, "nal_ref_idc", 2, kModeBinary, colour::kField, (header >> 5) & 3, (header >> 5) & 3);
  tree.Field(level, "nal_unit_type", 5, kModeBinary, colour::kField, header & 0x1F, header & 0x1F,
             NalTypeName(header & 0x1F));
}

// scaling_list() (7.3.2.1.1.1): the delta_scale values of one list under its name.
void ScalingList(SyntaxPrinter& s, const std::string& name, int size) {
  int last = 8, next = 8;
  for (int j = 0; j < size && s.Ok(); ++j) {
    if (next != 0) {
      const int32_t delta = s.Se(name);
      next = (last + delta + 256) % 256;
    }
    last = next == 0 ? last : next;
  }
}

void Hrd(SyntaxPrinter& s) {
  const uint32_t count = s.Ue("cpb_cnt_minus1");
  s.U("bit_rate_scale", 4);
  s.U("cpb_size_scale", 4);
  for (uint32_t i = 0; i <= count && i < 32 && s.Ok(); ++i) {
    s.Ue(Printf("bit_rate_value_minus1[%u]", i));
    s.Ue(Printf("cpb_size_value_minus1[%u]", i));
    s.Flag(Printf("cbr_flag[%u]", i));
  }
  s.U("initial_cpb_removal_delay_length_minus1", 5);
  s.U("cpb_removal_delay_length_minus1", 5);
  s.U("dpb_output_delay_length_minus1", 5);
  s.U("time_offset_length", 5);
}

// E.1.1
void Vui(SyntaxPrinter& s) {
  s.Tree().FieldText(s.Level(), "VUI PARAMETERS", 0, colour::kField, "");
  s.Enter();
  if (s.Flag("aspect_ratio_info_present_flag")) {
    if (s.U("aspect_ratio_idc", 8) == 255) {
      s.U("sar_width", 16);
      s.U("sar_height", 16);
    }
  }
  if (s.Flag("overscan_info_present_flag")) s.Flag("overscan_appropriate_flag");
  if (s.Flag("video_signal_type_present_flag")) {
    s.U("video_format", 3);
    s.Flag("video_full_range_flag");
    if (s.Flag("colour_description_present_flag")) {
      s.U("colour_primaries", 8);
      s.U("transfer_characteristics", 8);
      s.U("matrix_coefficients", 8);
    }
  }
  if (s.Flag("chroma_loc_info_present_flag")) {
    s.Ue("chroma_sample_loc_type_top_field");
    s.Ue("chroma_sample_loc_type_bottom_field");
  }
  if (s.Flag("timing_info_present_flag")) {
    s.U("num_units_in_tick", 32);
    s.U("time_scale", 32);
    s.Flag("fixed_frame_rate_flag");
  }
  const bool nal = s.Flag("nal_hrd_parameters_present_flag");
  if (nal) Hrd(s);
  const bool vcl = s.Flag("vcl_hrd_parameters_present_flag");
  if (vcl) Hrd(s);
  if (nal || vcl) s.Flag("low_delay_hrd_flag");
  s.Flag("pic_struct_present_flag");
  if (s.Flag("bitstream_restriction_flag")) {
    s.Flag("motion_vectors_over_pic_boundaries_flag");
    s.Ue("max_bytes_per_pic_denom");
    s.Ue("max_bits_per_mb_denom");
    s.Ue("log2_max_mv_length_horizontal");
    s.Ue("log2_max_mv_length_vertical");
    s.Ue("num_reorder_frames");
    s.Ue("max_dec_frame_buffering");
  }
  s.Leave();
}

// 7.3.2.1
void Sps(SyntaxPrinter& s) {
  const uint32_t profile = s.U("profile_idc", 8);
  s.Flag("constraint_set0_flag");
  s.Flag("constraint_set1_flag");
  s.Flag("constraint_set2_flag");
  s.Flag("constraint_set3_flag");
  s.U("reserved_zero_4bits", 4);
  s.U("level_idc", 8);
  s.Ue("seq_parameter_set_id");
  if (HasHighProfileFields(profile)) {
    const uint32_t chroma = s.Ue("chroma_format_idc");
    if (chroma == 3) s.Flag("residual_colour_transform_flag");
    s.Ue("bit_depth_luma_minus8");
    s.Ue("bit_depth_chroma_minus8");
    s.Flag("qpprime_y_zero_transform_bypass_flag");
    if (s.Flag("seq_scaling_matrix_present_flag")) {
      const int lists = chroma == 3 ? 12 : 8;
      for (int i = 0; i < lists && s.Ok(); ++i) {
        if (s.Flag(Printf("seq_scaling_list_present_flag[%d]", i))) {
          if (i < 6) ScalingList(s, Printf("scaling_list_4x4[%d]", i), 16);
          else ScalingList(s, Printf("scaling_list_8x8[%d]", i - 6), 64);
        }
      }
    }
  }
  s.Ue("log2_max_frame_num_minus4");
  const uint32_t pocType = s.Ue("pic_order_cnt_type");
  if (pocType == 0) {
    s.Ue("log2_max_pic_order_cnt_lsb_minus4");
  } else if (pocType == 1) {
    s.Flag("delta_pic_order_always_zero_flag");
    s.Se("offset_for_non_ref_pic");
    s.Se("offset_for_top_to_bottom_field");
    const uint32_t cycle = s.Ue("num_ref_frames_in_pic_order_cnt_cycle");
    for (uint32_t i = 0; i < cycle && i < 256 && s.Ok(); ++i) s.Se(Printf("offset_for_ref_frame [%u]", i));
  }
  s.Ue("num_ref_frames");
  s.Flag("gaps_in_frame_num_value_allowed_flag");
  s.Ue("pic_width_in_mbs_minus1");
  s.Ue("pic_height_in_map_units_minus1");
  if (!s.Flag("frame_mbs_only_flag")) s.Flag("mb_adaptive_frame_field_flag");
  s.Flag("direct_8x8_inference_flag");
  if (s.Flag("frame_cropping_flag")) {
    s.Ue("frame_crop_left_offset");
    s.Ue("frame_crop_right_offset");
    s.Ue("frame_crop_top_offset");
    s.Ue("frame_crop_bottom_offset");
  }
  if (s.Flag("vui_parameters_present_flag")) Vui(s);
}

uint32_t CeilLog2(uint32_t v) {
  uint32_t n = 0;
  while ((uint64_t{1} << n) < v) ++n;
  return n;
}

// 7.3.2.2
void Pps(SyntaxPrinter& s, const H264Sps& sps) {
  s.Ue("pic_parameter_set_id");
  s.Ue("seq_parameter_set_id");
  s.Flag("entropy_coding_mode_flag");
  s.Flag("pic_order_present_flag");
  const uint32_t groups = s.Ue("num_slice_groups_minus1");
  if (groups > 0 && groups < 8) {
    const uint32_t type = s.Ue("slice_group_map_type");
    if (type == 0) {
      for (uint32_t i = 0; i <= groups && s.Ok(); ++i) s.Ue(Printf("run_length_minus1[%u]", i));
    } else if (type == 2) {
      for (uint32_t i = 0; i < groups && s.Ok(); ++i) {
        s.Ue(Printf("top_left[%u]", i));
        s.Ue(Printf("bottom_right[%u]", i));
      }
    } else if (type >= 3 && type <= 5) {
      s.Flag("slice_group_change_direction_flag");
      s.Ue("slice_group_change_rate_minus1");
    } else if (type == 6) {
      const uint32_t units = s.Ue("pic_size_in_map_units_minus1");
      const int bits = static_cast<int>(CeilLog2(groups + 1));
      for (uint32_t i = 0; i <= units && i < 139264 && s.Ok(); ++i) s.U(Printf("slice_group_id[%u]", i), bits);
    }
  }
  s.Ue("num_ref_idx_l0_active_minus1");
  s.Ue("num_ref_idx_l1_active_minus1");
  s.Flag("weighted_pred_flag");
  s.U("weighted_bipred_idc", 2);
  s.Se("pic_init_qp_minus26");
  s.Se("pic_init_qs_minus26");
  s.Se("chroma_qp_index_offset");
  s.Flag("deblocking_filter_control_present_flag");
  s.Flag("constrained_intra_pred_flag");
  s.Flag("redundant_pic_cnt_present_flag");
  if (!s.Ok() || !s.MoreData()) return;
  const bool t8 = s.Flag("transform_8x8_mode_flag");
  if (s.Flag("pic_scaling_matrix_present_flag")) {
    const int lists = 6 + (t8 ? (sps.chroma_format_idc == 3 ? 6 : 2) : 0);
    for (int i = 0; i < lists && s.Ok(); ++i) {
      if (s.Flag(Printf("pic_scaling_list_present_flag[%d]", i))) {
        if (i < 6) ScalingList(s, Printf("scaling_list_4x4[%d]", i), 16);
        else ScalingList(s, Printf("scaling_list_8x8[%d]", i - 6), 64);
      }
    }
  }
  s.Se("second_chroma_qp_index_offset");
}

void Reordering(SyntaxPrinter& s, const char* suffix) {
  if (!s.Flag(Printf("ref_pic_list_reordering_flag%s", suffix))) return;
  for (int n = 0; n < 64 && s.Ok(); ++n) {
    const uint32_t idc = s.Ue(Printf("reordering_of_pic_nums_idc%s", suffix));
    if (idc == 0 || idc == 1) s.Ue(Printf("abs_diff_pic_num_minus1%s", suffix));
    else if (idc == 2) s.Ue(Printf("long_term_pic_num%s", suffix));
    else break;
  }
}

void Weights(SyntaxPrinter& s, const char* suffix, uint32_t count, bool chroma) {
  for (uint32_t i = 0; i < count && i < 32 && s.Ok(); ++i) {
    if (s.Flag(Printf("luma_weight%s_flag", suffix))) {
      s.Se(Printf("luma_weight%s", suffix));
      s.Se(Printf("luma_offset%s", suffix));
    }
    if (chroma && s.Flag(Printf("chroma_weight%s_flag", suffix))) {
      for (int j = 0; j < 2; ++j) {
        s.Se(Printf("chroma_weight%s", suffix));
        s.Se(Printf("chroma_offset%s", suffix));
      }
    }
  }
}

// 7.3.3
void SliceHeader(SyntaxPrinter& s, uint8_t header, const H264FrameDetails& d) {
  s.Ue("first_mb_in_slice");
  const uint32_t sliceType = s.Ue("slice_type", SliceTypeName);
  const uint32_t ppsId = s.Ue("pic_parameter_set_id");
  auto it = d.pps.find(ppsId);
  if (it == d.pps.end() || !d.sps.valid) {
    s.Tree().FieldText(s.Level(), "(parameter sets not present)", 0, colour::kGreyField, "");
    return;
  }
  const H264Pps& pps = it->second;
  const H264Sps& sps = d.sps;
  const int kind = static_cast<int>(sliceType % 5);
  const bool idr = (header & 0x1F) == kNalIdrSlice;
  if (sps.residual_colour_transform_flag) s.U("colour_plane_id", 2);
  s.U("frame_num", static_cast<int>(sps.log2_max_frame_num_minus4 + 4));
  bool field = false;
  if (!sps.frame_mbs_only_flag) {
    field = s.Flag("field_pic_flag");
    if (field) s.Flag("bottom_field_flag");
  }
  if (idr) s.Ue("idr_pic_id");
  if (sps.pic_order_cnt_type == 0) {
    s.U("pic_order_cnt_lsb", static_cast<int>(sps.log2_max_pic_order_cnt_lsb_minus4 + 4));
    if (pps.pic_order_present_flag && !field) s.Se("delta_pic_order_cnt_bottom");
  }
  if (sps.pic_order_cnt_type == 1 && !sps.delta_pic_order_always_zero_flag) {
    s.Se("delta_pic_order_cnt[0]");
    if (pps.pic_order_present_flag && !field) s.Se("delta_pic_order_cnt[1]");
  }
  if (pps.redundant_pic_cnt_present_flag) s.Ue("redundant_pic_cnt");
  if (kind == kSliceB) s.Flag("direct_spatial_mv_pred_flag");
  uint32_t l0 = pps.num_ref_idx_l0_active_minus1, l1 = pps.num_ref_idx_l1_active_minus1;
  if (kind == kSliceP || kind == kSliceSP || kind == kSliceB) {
    if (s.Flag("num_ref_idx_active_override_flag")) {
      l0 = s.Ue("num_ref_idx_l0_active_minus1");
      if (kind == kSliceB) l1 = s.Ue("num_ref_idx_l1_active_minus1");
    }
  }
  if (kind != kSliceI && kind != kSliceSI) Reordering(s, "_l0");
  if (kind == kSliceB) Reordering(s, "_l1");
  if ((pps.weighted_pred_flag && (kind == kSliceP || kind == kSliceSP)) || (pps.weighted_bipred_idc == 1 && kind == kSliceB)) {
    const bool chroma = sps.chroma_format_idc != 0 && !sps.residual_colour_transform_flag;
    s.Ue("luma_log2_weight_denom");
    if (chroma) s.Ue("chroma_log2_weight_denom");
    Weights(s, "_l0", l0 + 1, chroma);
    if (kind == kSliceB) Weights(s, "_l1", l1 + 1, chroma);
  }
  if (header & 0x60) {
    if (idr) {
      s.Flag("no_output_of_prior_pics_flag");
      s.Flag("long_term_reference_flag");
    } else if (s.Flag("adaptive_ref_pic_marking_mode_flag")) {
      for (int n = 0; n < 66 && s.Ok(); ++n) {
        const uint32_t op = s.Ue("memory_management_control_operation");
        if (op == 0) break;
        if (op == 1 || op == 3) s.Ue("difference_of_pic_nums_minus1");
        if (op == 2) s.Ue("long_term_pic_num");
        if (op == 3 || op == 6) s.Ue("long_term_frame_idx");
        if (op == 4) s.Ue("max_long_term_frame_idx_plus1");
      }
    }
  }
  if (pps.entropy_coding_mode_flag && kind != kSliceI && kind != kSliceSI) s.Ue("cabac_init_idc");
  s.Se("slice_qp_delta");
  if (kind == kSliceSP || kind == kSliceSI) {
    if (kind == kSliceSP) s.Flag("sp_for_switch_flag");
    s.Se("slice_qs_delta");
  }
  if (pps.deblocking_filter_control_present_flag) {
    if (s.Ue("disable_deblocking_filter_idc") != 1) {
      s.Se("slice_alpha_c0_offset_div2");
      s.Se("slice_beta_offset_div2");
    }
  }
  if (pps.num_slice_groups_minus1 > 0 && pps.slice_group_map_type >= 3 && pps.slice_group_map_type <= 5) {
    const uint32_t units = sps.PicWidthInMbs() * sps.PicHeightInMapUnits();
    const uint32_t rate = pps.slice_group_change_rate_minus1 + 1;
    s.U("slice_group_change_cycle", static_cast<int>(CeilLog2(units / rate + 1)));
  }
}

// The SEI payloads most streams carry are shown field by field (buffering period, picture
// timing, registered and unregistered user data, recovery point); the others as their bytes.
void SeiPayload(CFieldTree& tree, int level, const H264SeiMessage& m, const H264Sps& sps) {
  SyntaxPrinter s(m.payload, tree, level);
  switch (m.payload_type) {
    case 0: {  // D.1.1
      s.Ue("seq_parameter_set_id");
      const H264Vui& vui = sps.vui;
      if (vui.nal_hrd_parameters_present_flag) {
        const int bits = static_cast<int>(vui.nal_hrd.initial_cpb_removal_delay_length_minus1 + 1);
        for (uint32_t i = 0; i <= vui.nal_hrd.cpb_cnt_minus1 && i < 32; ++i) {
          s.U(Printf("(nal)[%u] initial_cpb_removal_delay", i), bits);
          s.U(Printf("(nal)[%u] initial_cpb_removal_delay_offset", i), bits);
        }
      }
      if (vui.vcl_hrd_parameters_present_flag) {
        const int bits = static_cast<int>(vui.vcl_hrd.initial_cpb_removal_delay_length_minus1 + 1);
        for (uint32_t i = 0; i <= vui.vcl_hrd.cpb_cnt_minus1 && i < 32; ++i) {
          s.U(Printf("(vcl)[%u] initial_cpb_removal_delay", i), bits);
          s.U(Printf("(vcl)[%u] initial_cpb_removal_delay_offset", i), bits);
        }
      }
      return;
    }
    case 1: {  // D.1.2
      const H264Vui& vui = sps.vui;
      const H264Hrd* hrd = vui.nal_hrd_parameters_present_flag ? &vui.nal_hrd
                           : vui.vcl_hrd_parameters_present_flag ? &vui.vcl_hrd : nullptr;
      if (hrd != nullptr) {
        s.U("cpb_removal_delay", static_cast<int>(hrd->cpb_removal_delay_length_minus1 + 1));
        s.U("dpb_output_delay", static_cast<int>(hrd->dpb_output_delay_length_minus1 + 1));
      }
      if (!vui.pic_struct_present_flag) return;
      static const int kNumClockTs[16] = {1, 1, 1, 2, 2, 3, 3, 2, 3, 0, 0, 0, 0, 0, 0, 0};
      const uint32_t pic_struct = s.U("pic_struct", 4);
      const int timeOffsetLength = hrd != nullptr ? static_cast<int>(hrd->time_offset_length) : 24;
      for (int i = 0; i < kNumClockTs[pic_struct & 15] && s.Ok(); ++i) {
        if (!s.Flag(Printf("[%d] clock_timestamp_flag", i))) continue;
        s.U("ct_type", 2);
        s.Flag("nuit_field_based_flag");
        s.U("counting_type", 5);
        const bool full = s.Flag("full_timestamp_flag");
        s.Flag("discontinuity_flag");
        s.Flag("cnt_dropped_flag");
        s.U("n_frames", 8);
        if (full) {
          s.U("seconds_value", 6);
          s.U("minutes_value", 6);
          s.U("hours_value", 5);
        } else if (s.Flag("seconds_flag")) {
          s.U("seconds_value", 6);
          if (s.Flag("minutes_flag")) {
            s.U("minutes_value", 6);
            if (s.Flag("hours_flag")) s.U("hours_value", 5);
          }
        }
        if (timeOffsetLength > 0) s.U("time_offset", timeOffsetLength);
      }
      return;
    }
    case 4:  // D.1.5
      if (!m.payload.empty()) {
        size_t at = 1;
        tree.Field(level, "itu_t_t35_country_code", 8, kModeHex, colour::kField, m.payload[0], m.payload[0]);
        if (m.payload[0] == 0xFF && m.payload.size() > 1) {
          tree.Field(level, "itu_t_t35_country_code_extension_byte", 8, kModeHex, colour::kField, m.payload[1], m.payload[1]);
          at = 2;
        }
        tree.Text(level, "itu_t_t35_payload_byte", std::span<const uint8_t>(m.payload).subspan(at));
        return;
      }
      break;
    case 5:  // D.1.6
      if (m.payload.size() >= 16) {
        tree.Uuid(level, m.payload.data());
        tree.Text(level, "user_data_payload_byte", std::span<const uint8_t>(m.payload).subspan(16));
        return;
      }
      break;
    case 6:  // D.1.7
      s.Ue("recovery_frame_cnt");
      s.Flag("exact_match_flag");
      s.Flag("broken_link_flag");
      s.U("changing_slice_group_idc", 2);
      return;
    default:
      break;
  }
  if (!m.payload.empty()) tree.Text(level, "payload", m.payload);
}

}  // namespace

const char* H264PictureTypeText(uint16_t flags) {
  static const char* const kTexts[] = {"", "I", "P", "B", "SI", "SP", "", ""};
  return kTexts[flags & kH264PictureTypeMask];
}

const char* H264StructureText(uint16_t flags) {
  switch ((flags >> kH264StructureShift) & 3) {
    case 1: return "T";
    case 2: return "B";
    case 3: return "F";
    default: return "-";
  }
}

int H264RowColour(uint16_t flags) {
  if (flags & kH264Idr) return 29;
  switch (flags & kH264PictureTypeMask) {
    case 1: return 26;
    case 2: return 27;
    case 3: return 25;
    case 4:
    case 5: return 28;
    default: return colour::kListRow;
  }
}

void CView_264List::CodecCells(const FrameEntry& e, std::vector<std::string>& cells, int& colour) const {
  const H264FrameFields f = H264Fields(e);
  cells.push_back(Printf("%5u", f.frameNum));
  cells.push_back(Printf("%5d", f.poc));
  cells.push_back(H264PictureTypeText(f.flags));
  cells.push_back(f.flags & kH264Idr ? "*" : "-");
  cells.push_back(f.flags & kH264Reference ? "*" : "-");
  cells.push_back(H264StructureText(f.flags));
  cells.push_back(f.flags & kH264SpsBefore ? "*" : "-");
  cells.push_back(f.flags & kH264PpsBefore ? "*" : "-");
  colour = H264RowColour(f.flags);
}

void PrintH264FrameSummary(const H264FrameDetails& d, const FrameEntry& entry, CFieldTree& tree, bool showFrameRate) {
  const H264FrameFields f = H264Fields(entry);
  const H264Sps& sps = d.sps;
  tree.Title("H.264/AVC VIDEO INFORMATION");
  tree.FieldText(0, "Video Format Type", 0, colour::kField, "H.264/AVC Video");
  tree.FieldText(0, "IDR / non-IDR Picture", 0, colour::kField, f.flags & kH264Idr ? "IDR" : "non-IDR");
  tree.FieldText(0, "Refarence Picture", 0, colour::kField,
                 f.flags & kH264Reference ? "Refarence Picture" : "non-Refarence Picture");
  if (!d.slices.empty()) tree.FieldText(0, "Slice type", 0, colour::kField, SliceTypeName(d.slices[0].slice_type));
  static const char* const kChroma[] = {"monotone", "4:2:0", "4:2:2", "4:4:4"};
  tree.FieldText(0, "Chroma format", 0, colour::kField, kChroma[sps.chroma_format_idc & 3]);
  const uint32_t structure = (f.flags >> kH264StructureShift) & 3;
  tree.FieldText(0, "Frame/Field", 0, colour::kField,
                 structure == 1 ? "Field Picture (Top Field)"
                                : structure == 2 ? "Field Picture (Bottom Field)" : "Frame Picture");
  const uint32_t w = sps.PicWidthInMbs() * 16, h = sps.PicHeightInMapUnits() * 16;
  tree.FieldText(0, "Image Size (x,y)", 0, colour::kField,
                 structure == 1 || structure == 2 ? Printf("%u x %u (%u x %u)", w, h, w, h * 2) : Printf("%u x %u", w, h));
  static const char* const kAspect[] = {"1:1",   "1:1",   "12:11", "10:11", "16:11", "40:33", "24:11",
                                        "20:11", "32:11", "80:33", "18:11", "15:11", "64:33", "160:99"};
  std::string aspect = "1:1";
  if (sps.vui.aspect_ratio_info_present_flag) {
    if (sps.vui.aspect_ratio_idc == 255) aspect = Printf("%u:%u", sps.vui.sar_width, sps.vui.sar_height);
    else if (sps.vui.aspect_ratio_idc >= 1 && sps.vui.aspect_ratio_idc <= 13) aspect = kAspect[sps.vui.aspect_ratio_idc];
  }
  tree.FieldText(0, "Aspect Ratio", 0, colour::kField, aspect);
  const char* profile = "";
  switch (sps.profile_idc) {
    case 66: profile = "Baseline Profile"; break;
    case 77: profile = "Main Profile"; break;
    case 88: profile = "Extended Profile"; break;
    case 100: profile = "High Profile"; break;
    case 110: profile = "High 10 Profile"; break;
    case 122: profile = "High 4:2:2 Profile"; break;
    case 144: profile = "High 4:4:4 Profile"; break;
    case 244: profile = "High 4:4:4 Predictive Profile"; break;
    default: break;
  }
  tree.FieldText(0, "Profile", 0, colour::kField, profile);
  tree.FieldText(0, "Level", 0, colour::kField,
                 sps.level_idc % 10 == 0 ? Printf("%u", sps.level_idc / 10) : Printf("%3.1f", sps.level_idc / 10.0));
  tree.FieldText(0, "Frame Num", 0, colour::kField, Printf("%u / %u", f.frameNum, sps.MaxFrameNum()));
  tree.FieldText(0, "POC", 0, colour::kField, Printf("%d / %u", f.poc, sps.MaxPicOrderCntLsb()));
  const H264Pps* pps = nullptr;
  if (!d.slices.empty()) {
    auto it = d.pps.find(d.slices[0].pic_parameter_set_id);
    if (it != d.pps.end()) pps = &it->second;
  }
  if (pps != nullptr)
    tree.FieldText(0, "Entropy Coding_Mode", 0, colour::kField, pps->entropy_coding_mode_flag ? "CABAC" : "CAVLC");
  const H264Vui& vui = sps.vui;
  if (vui.nal_hrd_parameters_present_flag || vui.vcl_hrd_parameters_present_flag) {
    const H264Hrd& hrd = vui.nal_hrd_parameters_present_flag ? vui.nal_hrd : vui.vcl_hrd;
    const uint64_t bps = (uint64_t{hrd.bit_rate_value_minus1[0]} + 1) << (6 + hrd.bit_rate_scale);
    tree.Field(0, "Bitrate", 0, kModeDecimal, colour::kField, 0, static_cast<int64_t>(bps), "", "bps");
  }
  if (showFrameRate && vui.timing_info_present_flag && vui.num_units_in_tick != 0 && vui.time_scale != 0) {
    const uint64_t r = uint64_t{vui.time_scale} * 50 / vui.num_units_in_tick;
    tree.FieldText(0, "Frame rate", 0, colour::kField,
                   r % 100 == 0 ? Printf("%d fps", static_cast<int>(r / 100)) : Printf("%5.2f fps", r / 100.0));
  }
}

void PrintH264Syntax(const H264FrameDetails& d, CFieldTree& tree) {
  for (const H264NalEntry& nal : d.nals) {
    if (!nal.parsed) continue;
    const int type = nal.type & 0x1F;
    switch (type) {
      case kNalSlice:
      case kNalIdrSlice: {
        tree.Title("SLICE HEADER");
        NalHeader(tree, 0, nal.header);
        SyntaxPrinter s(nal.rbsp, tree, 0);
        SliceHeader(s, nal.header, d);
        break;
      }
      case kNalSei: {
        const size_t first = nal.ref < 0 ? d.sei.size() : static_cast<size_t>(nal.ref);
        for (size_t i = first; i < first + static_cast<size_t>(nal.count) && i < d.sei.size(); ++i) {
          const H264SeiMessage& m = d.sei[i];
          tree.Title(SeiTitle(m.payload_type));
          NalHeader(tree, 0, nal.header);
          tree.Field(0, "payload_type", 0, kModeDecimal, colour::kField, 0, m.payload_type);
          tree.Field(0, "payload_size", 0, kModeDecimal, colour::kField, 0, m.payload_size);
          SeiPayload(tree, 1, m, d.sps);
        }
        break;
      }
      case kNalSps: {
        tree.Title("SEQUENCE PARAMETER SET");
        NalHeader(tree, 0, nal.header);
        SyntaxPrinter s(nal.rbsp, tree, 0);
        Sps(s);
        break;
      }
      case kNalPps: {
        tree.Title("PICTURE PARAMETER SET");
        NalHeader(tree, 0, nal.header);
        SyntaxPrinter s(nal.rbsp, tree, 0);
        Pps(s, d.sps);
        break;
      }
      case kNalAud: {
        static const char* const kTypes[] = {"I", "I, P", "I, P, B", "SI", "SI, SP", "I, SI", "I, SI, P, SP",
                                             "I, SI, P, SP, B"};
        tree.Title("ACCESS UNIT DELIMITER");
        NalHeader(tree, 0, nal.header);
        SyntaxPrinter s(nal.rbsp, tree, 0);
        s.U("primary_pic_type", 3, kTypes[d.aud.primary_pic_type & 7]);
        break;
      }
      default:
        break;
    }
  }
}

void C264_Parser::ShowFrameInfo(CFieldTree& tree, uint32_t index) {
  uint64_t address;
  FrameEntry e;
  if (!frames_.Get(index, &address, &e)) return;
  H264FrameDetails details;
  GetFrameHeader(index, details);
  tree.Field(0, "File address", 48, kModeHex, colour::kField, address + e.frameOffset, static_cast<int64_t>(address + e.frameOffset));
  tree.Field(0, "Number of Pictue", 0, kModeDecimal, colour::kField, 0, index);
  PrintH264FrameSummary(details, e, tree);
}

void C264_Parser::ShowFrameDetail(CFieldTree& tree, uint32_t index) {
  if (details_.frameIndex != index || details_.nals.empty()) {
    H264FrameDetails details;
    if (!GetFrameHeader(index, details)) return;
  }
  PrintH264Syntax(details_, tree);
}

std::unique_ptr<CView_VideoFrameList> C264_Parser::CreateFrameList() { return std::make_unique<CView_264List>(*this); }

bool C264_Parser::MacroblockMark(uint32_t mb, VideoMacroblockMark& out) const {
  H264MacroblockRecord r;
  if (!decoder_->MacroblockRecord(mb, r)) return false;
  out = {r.decoded, r.intra, r.skip, r.field, r.slice};
  return true;
}

void C264_Parser::ShowMacroblock(CFieldTree& tree, uint32_t index, uint32_t mb) {
  H264MacroblockRecord r;
  if (DecodeFrame(index) == ~uint64_t{0} || !decoder_->MacroblockRecord(mb, r)) return;
  const MacroblockGeometry g = Geometry();
  uint32_t x = 0, y = 0;
  fennik::MacroblockToPixel(g, mb, x, y);
  // A field picture's macroblocks cover two rows of the frame for each of their own.
  PrintH264Macroblock(r, mb, g.count, x, r.field && !g.mbaff ? 2 * y : y, tree);
}

void PrintH264Macroblock(const H264MacroblockRecord& r, uint32_t mb, uint32_t count, uint32_t pixelX, uint32_t pixelY,
                         CFieldTree& tree) {
  tree.Title("MACRO BLOCK INFORMATION");
  tree.FieldText(0, "Macro Block Count", 0, colour::kField, Printf("%u / %u", mb, count));
  tree.FieldText(0, "Image Position (x,y)", 0, colour::kField, Printf("(%u, %u)", pixelX, pixelY));
  if (!r.decoded) {
    tree.FieldText(0, "Macro Block Type", 0, colour::kField, "not decoded");
    return;
  }
  static const char* const kSliceKinds[] = {"P", "B", "I", "SP", "SI"};
  tree.FieldText(0, "Slice", 0, colour::kField,
                 Printf("%d (%s)", r.slice, kSliceKinds[static_cast<unsigned>(r.sliceKind) % 5]));
  tree.FieldText(0, "mb_field_decoding_flag", 0, colour::kField, r.field ? "1 (field)" : "0 (frame)");
  tree.FieldText(0, "Macro Block Type", 0, colour::kField, r.kindName);
  tree.FieldText(0, "QP (Y)", 0, colour::kField, Printf("%d", r.qp));
  tree.FieldText(0, "QP (Cb, Cr)", 0, colour::kField, Printf("%d, %d", r.qpc[0], r.qpc[1]));
  if (!r.skip && !r.pcm) {
    tree.FieldText(0, "coded_block_pattern", 0, colour::kField,
                   Printf("%d (luma 0x%X, chroma %d)", r.cbp, r.cbp & 15, r.cbp >> 4));
    tree.FieldText(0, "transform_size_8x8_flag", 0, colour::kField, r.transform8x8 ? "1" : "0");
  }
  if (r.intra && !r.pcm) {
    if (r.intra4x4) {
      tree.Title("INTRA Prediction (Luminance)");
      for (int row = 0; row < 4; ++row) {
        std::string modes;
        for (int col = 0; col < 4; ++col) modes += Printf(" MODE %d", r.intraModes[row * 4 + col]);
        tree.FieldText(1, Printf("row %d", row), 0, colour::kField, modes);
      }
    }
    tree.FieldText(0, "intra_chroma_pred_mode", 0, colour::kField, Printf("%d", r.chromaMode));
  }
  if (r.intra) return;
  tree.Title("Motion Vector");
  for (int l = 0; l < 2; ++l) {
    bool used = false;
    for (int i = 0; i < 16; ++i) used = used || r.refIdx[l][i] >= 0;
    if (!used) continue;
    tree.FieldText(0, Printf("  L%d Prediction", l), 0, colour::kField, "");
    for (int row = 0; row < 4; ++row) {
      for (int col = 0; col < 4; ++col) {
        const int i = row * 4 + col;
        if (r.refIdx[l][i] < 0) continue;
        const H264Mv mv = r.mv[l][i];
        tree.FieldText(1, Printf("block (%d,%d)", col, row), 0, colour::kField,
                       Printf("%5d,%5d  [%8.2f,%8.2f]", mv.x, mv.y, mv.x / 4.0, mv.y / 4.0),
                       Printf("ref_idx %d  POC %d", r.refIdx[l][i], r.refPoc[l][i]));
      }
    }
  }
}

}  // namespace fennik
