// H.264 parameter sets, slice header, SEI and access unit delimiter as parsed records, with
// their parse routines (H.264 7.3.2, 7.3.3, Annex D, Annex E) and the picture order count
// computation of 8.2.1. Element names are the standard's (2005 edition spellings where they
// differ: pic_order_present_flag, residual_colour_transform_flag); derived values are marked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/BitReader.h"

namespace fennik {

struct H264Hrd {
  uint32_t cpb_cnt_minus1 = 0;
  uint32_t bit_rate_scale = 0;
  uint32_t cpb_size_scale = 0;
  uint32_t bit_rate_value_minus1[32] = {};
  uint32_t cpb_size_value_minus1[32] = {};
  uint8_t cbr_flag[32] = {};
  uint32_t initial_cpb_removal_delay_length_minus1 = 23;
  uint32_t cpb_removal_delay_length_minus1 = 23;
  uint32_t dpb_output_delay_length_minus1 = 23;
  uint32_t time_offset_length = 24;
};

struct H264Vui {
  bool aspect_ratio_info_present_flag = false;
  uint32_t aspect_ratio_idc = 0;
  uint32_t sar_width = 0;
  uint32_t sar_height = 0;
  bool overscan_info_present_flag = false;
  bool overscan_appropriate_flag = false;
  bool video_signal_type_present_flag = false;
  uint32_t video_format = 5;
  bool video_full_range_flag = false;
  bool colour_description_present_flag = false;
  uint32_t colour_primaries = 2;
  uint32_t transfer_characteristics = 2;
  uint32_t matrix_coefficients = 2;
  bool chroma_loc_info_present_flag = false;
  uint32_t chroma_sample_loc_type_top_field = 0;
  uint32_t chroma_sample_loc_type_bottom_field = 0;
  bool timing_info_present_flag = false;
  uint32_t num_units_in_tick = 0;
  uint32_t time_scale = 0;
  bool fixed_frame_rate_flag = false;
  bool nal_hrd_parameters_present_flag = false;
  H264Hrd nal_hrd;
  bool vcl_hrd_parameters_present_flag = false;
  H264Hrd vcl_hrd;
  bool low_delay_hrd_flag = false;
  bool pic_struct_present_flag = false;
  bool bitstream_restriction_flag = false;
  bool motion_vectors_over_pic_boundaries_flag = true;
  uint32_t max_bytes_per_pic_denom = 2;
  uint32_t max_bits_per_mb_denom = 1;
  uint32_t log2_max_mv_length_horizontal = 16;
  uint32_t log2_max_mv_length_vertical = 16;
  uint32_t num_reorder_frames = 0;
  uint32_t max_dec_frame_buffering = 0;
};

struct H264Sps {
  bool valid = false;
  uint32_t profile_idc = 0;
  uint32_t constraint_flags = 0;  // constraint_set0_flag .. constraint_set5_flag, reserved bits
  uint32_t level_idc = 0;
  uint32_t seq_parameter_set_id = 0;
  uint32_t chroma_format_idc = 1;
  bool residual_colour_transform_flag = false;  // separate_colour_plane_flag in later editions
  uint32_t bit_depth_luma_minus8 = 0;
  uint32_t bit_depth_chroma_minus8 = 0;
  bool qpprime_y_zero_transform_bypass_flag = false;
  bool seq_scaling_matrix_present_flag = false;
  uint8_t seq_scaling_list_present_flag[12] = {};
  uint32_t log2_max_frame_num_minus4 = 0;
  uint32_t pic_order_cnt_type = 0;
  uint32_t log2_max_pic_order_cnt_lsb_minus4 = 0;
  bool delta_pic_order_always_zero_flag = false;
  int32_t offset_for_non_ref_pic = 0;
  int32_t offset_for_top_to_bottom_field = 0;
  uint32_t num_ref_frames_in_pic_order_cnt_cycle = 0;
  int32_t offset_for_ref_frame[256] = {};
  uint32_t num_ref_frames = 0;
  bool gaps_in_frame_num_value_allowed_flag = false;
  uint32_t pic_width_in_mbs_minus1 = 0;
  uint32_t pic_height_in_map_units_minus1 = 0;
  bool frame_mbs_only_flag = true;
  bool mb_adaptive_frame_field_flag = false;
  bool direct_8x8_inference_flag = false;
  bool frame_cropping_flag = false;
  uint32_t frame_crop_left_offset = 0;
  uint32_t frame_crop_right_offset = 0;
  uint32_t frame_crop_top_offset = 0;
  uint32_t frame_crop_bottom_offset = 0;
  bool vui_parameters_present_flag = false;
  H264Vui vui;

  // Derived: scaling lists after the fall-back rules of Table 7-2 (flat 16 when absent).
  uint8_t scaling_4x4[6][16];
  uint8_t scaling_8x8[6][64];
  // Derived sizes (7.4.2.1.1).
  uint32_t PicWidthInMbs() const { return pic_width_in_mbs_minus1 + 1; }
  uint32_t PicHeightInMapUnits() const { return pic_height_in_map_units_minus1 + 1; }
  uint32_t FrameHeightInMbs() const { return (2 - (frame_mbs_only_flag ? 1 : 0)) * PicHeightInMapUnits(); }
  uint32_t MaxFrameNum() const { return 1u << (log2_max_frame_num_minus4 + 4); }
  uint32_t MaxPicOrderCntLsb() const { return 1u << (log2_max_pic_order_cnt_lsb_minus4 + 4); }
  // Visible area after frame cropping (4:2:0/4:2:2 crop units of 2 samples horizontally).
  uint32_t CropLeft() const;
  uint32_t CropTop() const;
  uint32_t VisibleWidth() const;
  uint32_t VisibleHeight() const;
};

struct H264Pps {
  bool valid = false;
  uint32_t pic_parameter_set_id = 0;
  uint32_t seq_parameter_set_id = 0;
  bool entropy_coding_mode_flag = false;
  bool pic_order_present_flag = false;
  uint32_t num_slice_groups_minus1 = 0;
  uint32_t slice_group_map_type = 0;
  uint32_t run_length_minus1[8] = {};
  uint32_t top_left[8] = {};
  uint32_t bottom_right[8] = {};
  bool slice_group_change_direction_flag = false;
  uint32_t slice_group_change_rate_minus1 = 0;
  uint32_t pic_size_in_map_units_minus1 = 0;
  std::vector<uint8_t> slice_group_id;
  uint32_t num_ref_idx_l0_active_minus1 = 0;
  uint32_t num_ref_idx_l1_active_minus1 = 0;
  bool weighted_pred_flag = false;
  uint32_t weighted_bipred_idc = 0;
  int32_t pic_init_qp_minus26 = 0;
  int32_t pic_init_qs_minus26 = 0;
  int32_t chroma_qp_index_offset = 0;
  bool deblocking_filter_control_present_flag = false;
  bool constrained_intra_pred_flag = false;
  bool redundant_pic_cnt_present_flag = false;
  bool transform_8x8_mode_flag = false;
  bool pic_scaling_matrix_present_flag = false;
  uint8_t pic_scaling_list_present_flag[12] = {};
  int32_t second_chroma_qp_index_offset = 0;
  // Derived: effective scaling lists (picture lists, else the sequence's).
  uint8_t scaling_4x4[6][16];
  uint8_t scaling_8x8[6][64];
};

struct H264ReorderingOp {
  uint32_t reordering_of_pic_nums_idc = 0;
  uint32_t value = 0;  // abs_diff_pic_num_minus1 or long_term_pic_num
};

struct H264MmcoOp {
  uint32_t memory_management_control_operation = 0;
  uint32_t difference_of_pic_nums_minus1 = 0;
  uint32_t long_term_pic_num = 0;
  uint32_t long_term_frame_idx = 0;
  uint32_t max_long_term_frame_idx_plus1 = 0;
};

constexpr int kMaxMmcoOps = 16;
constexpr int kMaxRefIdx = 32;

struct H264PredWeights {
  uint32_t luma_log2_weight_denom = 0;
  uint32_t chroma_log2_weight_denom = 0;
  uint8_t luma_weight_flag[2][kMaxRefIdx] = {};
  int16_t luma_weight[2][kMaxRefIdx] = {};
  int16_t luma_offset[2][kMaxRefIdx] = {};
  uint8_t chroma_weight_flag[2][kMaxRefIdx] = {};
  int16_t chroma_weight[2][kMaxRefIdx][2] = {};
  int16_t chroma_offset[2][kMaxRefIdx][2] = {};
};

enum H264SliceKind : int { kSliceP = 0, kSliceB = 1, kSliceI = 2, kSliceSP = 3, kSliceSI = 4 };

struct H264SliceHeader {
  // From the NAL unit header.
  uint32_t nal_ref_idc = 0;
  uint32_t nal_unit_type = 0;

  uint32_t first_mb_in_slice = 0;
  uint32_t slice_type = 0;
  uint32_t pic_parameter_set_id = 0;
  uint32_t frame_num = 0;
  bool field_pic_flag = false;
  bool bottom_field_flag = false;
  uint32_t idr_pic_id = 0;
  uint32_t pic_order_cnt_lsb = 0;
  int32_t delta_pic_order_cnt_bottom = 0;
  int32_t delta_pic_order_cnt[2] = {};
  uint32_t redundant_pic_cnt = 0;
  bool direct_spatial_mv_pred_flag = false;
  bool num_ref_idx_active_override_flag = false;
  uint32_t num_ref_idx_l0_active_minus1 = 0;
  uint32_t num_ref_idx_l1_active_minus1 = 0;
  bool ref_pic_list_reordering_flag[2] = {};
  std::vector<H264ReorderingOp> reordering[2];
  H264PredWeights weights;
  bool has_pred_weight_table = false;
  bool no_output_of_prior_pics_flag = false;
  bool long_term_reference_flag = false;
  bool adaptive_ref_pic_marking_mode_flag = false;
  int mmco_count = 0;
  H264MmcoOp mmco[kMaxMmcoOps];
  uint32_t cabac_init_idc = 0;
  int32_t slice_qp_delta = 0;
  bool sp_for_switch_flag = false;
  int32_t slice_qs_delta = 0;
  uint32_t disable_deblocking_filter_idc = 0;
  int32_t slice_alpha_c0_offset_div2 = 0;
  int32_t slice_beta_offset_div2 = 0;
  uint32_t slice_group_change_cycle = 0;

  // Derived.
  bool has_mmco5 = false;
  size_t header_bits = 0;  // bit position where slice_data() starts
  int Kind() const { return static_cast<int>(slice_type % 5); }
  bool IsIdr() const { return nal_unit_type == 5; }
};

struct H264Aud {
  uint32_t primary_pic_type = 0;
};

struct H264SeiMessage {
  uint8_t nal_header = 0;
  uint32_t payload_type = 0;
  uint32_t payload_size = 0;
  std::vector<uint8_t> payload;  // the payload bytes (RBSP), at most kMaxSeiPayloadKept
};
constexpr size_t kMaxSeiPayloadKept = 1024;
constexpr int kMaxSeiMessages = 16;

// more_rbsp_data(): true while bits other than the rbsp_trailing_bits remain.
bool MoreRbspData(const BitReader& br, const uint8_t* rbsp, size_t size);

// Parse routines over an RBSP without its NAL header byte. Each returns false on a syntax
// error or an element out of range, naming the element on the debug sink.
bool ParseSps(const uint8_t* rbsp, size_t size, H264Sps& sps);
// The SPS table is indexed by seq_parameter_set_id; a PPS whose SPS is unknown is still
// parsed with 4:2:0 assumptions.
bool ParsePps(const uint8_t* rbsp, size_t size, const H264Sps* sps_for_pps, H264Pps& pps);
bool ParseAud(const uint8_t* rbsp, size_t size, H264Aud& aud);
// Appends the SEI messages (at most kMaxSeiMessages in `out`).
bool ParseSei(uint8_t nal_header, const uint8_t* rbsp, size_t size, std::vector<H264SeiMessage>& out);
// Reads the slice header; `get_pps` resolves pic_parameter_set_id. rbsp starts after the
// NAL header byte.
struct H264ParamLookup {
  const H264Sps* (*sps)(const void* ctx, uint32_t id);
  const H264Pps* (*pps)(const void* ctx, uint32_t id);
  const void* ctx;
};
bool ParseSliceHeader(const uint8_t* rbsp, size_t size, uint8_t nal_header, const H264ParamLookup& lookup,
                      H264SliceHeader& sh);

// Picture order count state and computation (8.2.1) for frames and fields.
class H264PocState {
 public:
  struct Result {
    int32_t top = 0;
    int32_t bottom = 0;
  };
  // Computes TopFieldOrderCnt / BottomFieldOrderCnt for the picture of this slice header.
  // Returns false (and writes the debug line) for pic_order_cnt_type above 2.
  bool Compute(const H264Sps& sps, const H264SliceHeader& sh, Result& out);
  // Updates the "previous picture" state after the picture is decoded and marked.
  void Commit(const H264Sps& sps, const H264SliceHeader& sh, const Result& poc);
  void Reset() { *this = H264PocState(); }

 private:
  int32_t prev_poc_msb_ = 0;
  int32_t prev_poc_lsb_ = 0;
  int32_t prev_frame_num_offset_ = 0;
  uint32_t prev_frame_num_ = 0;
  bool prev_had_mmco5_ = false;
  int32_t frame_num_offset_ = 0;  // of the picture last computed
  int32_t poc_msb_ = 0;
};

}  // namespace fennik
