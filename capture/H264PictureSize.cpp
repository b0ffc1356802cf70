#include "capture/H264PictureSize.h"

#include <vector>

#include "base/BitReader.h"

namespace fennik {
namespace {

constexpr uint8_t kNalSps = 7;
constexpr size_t kSpsBytesRead = 256;  // the fields up to frame cropping fit well within this

// RBSP of the NAL unit's first bytes: emulation_prevention_three_byte removed (7.4.1).
std::vector<uint8_t> Unescape(const uint8_t* p, size_t length) {
  std::vector<uint8_t> out;
  out.reserve(length < kSpsBytesRead ? length : kSpsBytesRead);
  int zeros = 0;
  for (size_t i = 0; i < length && out.size() < kSpsBytesRead; ++i) {
    if (zeros >= 2 && p[i] == 3) {
      zeros = 0;
      continue;
    }
    zeros = p[i] == 0 ? zeros + 1 : 0;
    out.push_back(p[i]);
  }
  return out;
}

// scaling_list() (7.3.2.1.1.1): only read past.
void SkipScalingList(BitReader& r, int size) {
  int lastScale = 8, nextScale = 8;
  for (int j = 0; j < size && r.Ok(); ++j) {
    if (nextScale != 0) {
      const int32_t delta_scale = r.ReadSe();
      nextScale = (lastScale + delta_scale + 256) % 256;
    }
    lastScale = nextScale == 0 ? lastScale : nextScale;
  }
}

bool HasChromaFields(uint32_t profile_idc) {
  switch (profile_idc) {
    case 100: case 110: case 122: case 244: case 44: case 83: case 86: case 118: case 128:
    case 138: case 139: case 134: case 135:
      return true;
    default:
      return false;
  }
}

}  // namespace

bool H264PictureSize(const uint8_t* nal, size_t length, uint32_t& width, uint32_t& height) {
  if (length < 4 || (nal[0] & 0x1F) != kNalSps) return false;
  const std::vector<uint8_t> rbsp = Unescape(nal + 1, length - 1);
  BitReader r(rbsp.data(), rbsp.size());
  const uint32_t profile_idc = r.Read(8);
  r.Skip(16);  // constraint_set flags, reserved_zero_2bits, level_idc
  r.ReadUe();  // seq_parameter_set_id
  uint32_t chroma_format_idc = 1;
  uint32_t separate_colour_plane_flag = 0;
  if (HasChromaFields(profile_idc)) {
    chroma_format_idc = r.ReadUe();
    if (chroma_format_idc > 3) return false;
    if (chroma_format_idc == 3) separate_colour_plane_flag = r.Read(1);
    r.ReadUe();  // bit_depth_luma_minus8
    r.ReadUe();  // bit_depth_chroma_minus8
    r.Read(1);   // qpprime_y_zero_transform_bypass_flag
    if (r.Read(1)) {  // seq_scaling_matrix_present_flag
      const int lists = chroma_format_idc != 3 ? 8 : 12;
      for (int i = 0; i < lists && r.Ok(); ++i) {
        if (r.Read(1)) SkipScalingList(r, i < 6 ? 16 : 64);
      }
    }
  }
  r.ReadUe();  // log2_max_frame_num_minus4
  const uint32_t pic_order_cnt_type = r.ReadUe();
  if (pic_order_cnt_type == 0) {
    r.ReadUe();  // log2_max_pic_order_cnt_lsb_minus4
  } else if (pic_order_cnt_type == 1) {
    r.Read(1);   // delta_pic_order_always_zero_flag
    r.ReadSe();  // offset_for_non_ref_pic
    r.ReadSe();  // offset_for_top_to_bottom_field
    const uint32_t num_ref_frames_in_pic_order_cnt_cycle = r.ReadUe();
    if (num_ref_frames_in_pic_order_cnt_cycle > 255) return false;
    for (uint32_t i = 0; i < num_ref_frames_in_pic_order_cnt_cycle && r.Ok(); ++i) r.ReadSe();
  } else if (pic_order_cnt_type != 2) {
    return false;
  }
  r.ReadUe();  // max_num_ref_frames
  r.Read(1);   // gaps_in_frame_num_value_allowed_flag
  const uint32_t pic_width_in_mbs_minus1 = r.ReadUe();
  const uint32_t pic_height_in_map_units_minus1 = r.ReadUe();
  const uint32_t frame_mbs_only_flag = r.Read(1);
  if (!frame_mbs_only_flag) r.Read(1);  // mb_adaptive_frame_field_flag
  r.Read(1);  // direct_8x8_inference_flag
  uint32_t crop[4] = {0, 0, 0, 0};  // left, right, top, bottom
  if (r.Read(1)) {                  // frame_cropping_flag
    for (uint32_t& c : crop) c = r.ReadUe();
  }
  if (!r.Ok() || pic_width_in_mbs_minus1 >= 1024 || pic_height_in_map_units_minus1 >= 1024) return false;
  // 7.4.2.1.1: crop units from ChromaArrayType, SubWidthC and SubHeightC (Table 6-1).
  const uint32_t ChromaArrayType = separate_colour_plane_flag ? 0 : chroma_format_idc;
  const uint32_t SubWidthC = chroma_format_idc == 3 ? 1 : 2;
  const uint32_t SubHeightC = chroma_format_idc == 1 ? 2 : 1;
  const uint32_t CropUnitX = ChromaArrayType == 0 ? 1 : SubWidthC;
  const uint32_t CropUnitY = (ChromaArrayType == 0 ? 1 : SubHeightC) * (2 - frame_mbs_only_flag);
  const uint64_t w = uint64_t{pic_width_in_mbs_minus1 + 1} * 16;
  const uint64_t h = uint64_t{pic_height_in_map_units_minus1 + 1} * 16 * (2 - frame_mbs_only_flag);
  const uint64_t cropX = uint64_t{CropUnitX} * (uint64_t{crop[0]} + crop[1]);
  const uint64_t cropY = uint64_t{CropUnitY} * (uint64_t{crop[2]} + crop[3]);
  if (cropX >= w || cropY >= h) return false;
  width = static_cast<uint32_t>(w - cropX);
  height = static_cast<uint32_t>(h - cropY);
  return true;
}

bool H264PictureSizeInStream(const uint8_t* data, size_t length, uint32_t& width, uint32_t& height) {
  // Emulation prevention keeps 00 00 01 out of NAL unit contents, so it marks unit starts.
  size_t i = 0;
  while (i + 3 < length) {
    if (data[i] != 0 || data[i + 1] != 0 || data[i + 2] != 1) {
      ++i;
      continue;
    }
    const size_t begin = i + 3;
    size_t end = begin;
    while (end + 2 < length && !(data[end] == 0 && data[end + 1] == 0 && data[end + 2] == 1)) ++end;
    if (end + 2 >= length) end = length;
    if ((data[begin] & 0x1F) == kNalSps && H264PictureSize(data + begin, end - begin, width, height)) {
      return true;
    }
    i = begin;
  }
  return false;
}

}  // namespace fennik
