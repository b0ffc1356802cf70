#include "codec/video/M4VHeaders.h"

#include <algorithm>

#include "base/BitReader.h"

namespace fennik {
namespace {

// Reads elements and records each one.
class HeaderReader {
 public:
  HeaderReader(const uint8_t* data, size_t size, std::vector<M4vElement>& out)
      : br_(data, size), out_(out) {}

  uint32_t U(const char* name, int bits, M4vValueKind kind = M4vValueKind::kPlain) {
    const uint32_t position = static_cast<uint32_t>(br_.BitPosition());
    const uint32_t v = br_.Read(bits);
    if (br_.Ok()) out_.push_back({name, position, static_cast<uint16_t>(bits), level_, v, kind});
    return v;
  }
  bool Flag(const char* name) { return U(name, 1) != 0; }
  void Marker() { U("marker_bit", 1); }
  // An element of variable length already decoded by the caller.
  void Record(const char* name, uint32_t position, int bits, uint32_t value) {
    if (br_.Ok()) out_.push_back({name, position, static_cast<uint16_t>(bits), level_, value, M4vValueKind::kPlain});
  }
  void Enter() { ++level_; }
  void Leave() { --level_; }
  BitReader& Bits() { return br_; }
  bool Ok() const { return br_.Ok(); }
  size_t Bytes() const { return (br_.BitPosition() + 7) / 8; }

 private:
  BitReader br_;
  std::vector<M4vElement>& out_;
  uint16_t level_ = 0;
};

// The bytes up to the next start code after the one at `data` (the header's extent).
size_t ToNextStartCode(const uint8_t* data, size_t size, size_t from) {
  return FindM4vStartCode(data, size, std::min(size, from));
}

int TimeIncrementBits(uint32_t resolution) {
  int bits = 1;
  while (bits < 16 && (uint32_t{1} << bits) < resolution) ++bits;
  return bits;
}

// sprite_trajectory's dmv_length codes (ISO/IEC 14496-2 Table B-33): length 0 is "00",
// 1-5 are "010".."110", then 6 is "1110" and each further length one more 1.
int ReadDmvLength(BitReader& br) {
  const uint32_t two = br.Read(2);
  if (two == 0) return 0;
  const uint32_t three = (two << 1) | br.ReadBit();
  if (three < 7) return static_cast<int>(three) - 1;  // 010..110 -> 1..5
  int length = 6;
  while (br.ReadBit() == 1) {
    if (++length > 14 || !br.Ok()) return -1;
  }
  return length;
}

int32_t ReadWarpingMv(HeaderReader& r, const char* name) {
  BitReader& br = r.Bits();
  const uint32_t position = static_cast<uint32_t>(br.BitPosition());
  const int length = ReadDmvLength(br);
  if (length < 0) return 0;
  int32_t value = 0;
  if (length > 0) {
    const uint32_t code = br.Read(length);
    value = (code >> (length - 1)) ? static_cast<int32_t>(code)
                                   : -static_cast<int32_t>(code ^ ((uint32_t{1} << length) - 1));
  }
  r.Record(name, position, static_cast<int>(br.BitPosition() - position), static_cast<uint32_t>(value));
  return value;
}

// define_vop_complexity_estimation_header (ISO/IEC 14496-2 6.2.3): the flags, and from them
// the bits of estimates each VOP type carries (8 per estimate, 4 for dcecs_vlc_bits).
void ReadComplexityDefinition(HeaderReader& r, M4vVol& vol) {
  const uint32_t method = r.U("estimation_method", 2);
  if (method > 1) return;
  uint32_t* bits = vol.complexityBits;
  auto add = [&](bool on, std::initializer_list<int> types, uint32_t n) {
    if (on) for (int t : types) bits[t] += n;
  };
  if (!r.Flag("shape_complexity_estimation_disable")) {
    r.Enter();
    for (const char* name : {"opaque", "transparent", "intra_cae", "inter_cae", "no_update", "upsampling"})
      add(r.Flag(name), {0, 1, 2}, 8);
    r.Leave();
  }
  if (!r.Flag("texture_complexity_estimation_set_1_disable")) {
    r.Enter();
    add(r.Flag("intra_blocks"), {0, 1, 2, 3}, 8);
    add(r.Flag("inter_blocks"), {1, 2, 3}, 8);
    add(r.Flag("inter4v_blocks"), {1, 2, 3}, 8);
    add(r.Flag("not_coded_blocks"), {0, 1, 2, 3}, 8);
    r.Leave();
  }
  r.Marker();
  if (!r.Flag("texture_complexity_estimation_set_2_disable")) {
    r.Enter();
    add(r.Flag("dct_coefs"), {0, 1, 2, 3}, 8);
    add(r.Flag("dct_lines"), {0, 1, 2, 3}, 8);
    add(r.Flag("vlc_symbols"), {0, 1, 2, 3}, 8);
    add(r.Flag("vlc_bits"), {0, 1, 2, 3}, 4);
    r.Leave();
  }
  if (!r.Flag("motion_compensation_complexity_disable")) {
    r.Enter();
    add(r.Flag("apm"), {1, 2, 3}, 8);
    add(r.Flag("npm"), {1, 2, 3}, 8);
    add(r.Flag("interpolate_mc_q"), {2, 3}, 8);
    add(r.Flag("forw_back_mc_q"), {1, 2, 3}, 8);
    add(r.Flag("halfpel2"), {1, 2, 3}, 8);
    add(r.Flag("halfpel4"), {1, 2, 3}, 8);
    r.Leave();
  }
  r.Marker();
  if (method == 1 && !r.Flag("version2_complexity_estimation_disable")) {
    r.Enter();
    add(r.Flag("sadct"), {0, 1, 2}, 8);
    add(r.Flag("quarterpel"), {1, 2}, 8);
    r.Leave();
  }
}

// A quantiser matrix: up to 64 8-bit values in zigzag order, a 0 ending it early (the last
// value then repeats to the end).
void ReadQuantMatrix(HeaderReader& r, const char* name, uint8_t matrix[64]) {
  BitReader& br = r.Bits();
  const uint32_t position = static_cast<uint32_t>(br.BitPosition());
  int n = 0;
  uint8_t last = 0;
  while (n < 64) {
    const uint8_t v = static_cast<uint8_t>(br.Read(8));
    if (v == 0 || !br.Ok()) break;
    matrix[n++] = last = v;
  }
  const int coded = n;
  for (; n < 64; ++n) matrix[n] = last;
  r.Record(name, position, static_cast<int>(br.BitPosition() - position), static_cast<uint32_t>(coded));
}

}  // namespace

size_t FindM4vStartCode(const uint8_t* data, size_t size, size_t from) {
  for (size_t i = from; i + 3 <= size; ++i) {
    if (data[i + 2] > 1) {
      i += 2;
      continue;
    }
    if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) return i;
  }
  return size;
}

size_t ReadM4vVos(const uint8_t* data, size_t size, M4vVos& vos) {
  vos = M4vVos();
  HeaderReader r(data, size, vos.elements);
  r.U("visual_object_sequence_start_code", 32);
  vos.profile_and_level_indication = r.U("profile_and_level_indication", 8, M4vValueKind::kProfileLevel);
  if (!r.Ok()) return 0;
  vos.valid = true;
  return ToNextStartCode(data, size, 5);
}

size_t ReadM4vVisualObject(const uint8_t* data, size_t size, M4vVisualObject& vo) {
  vo = M4vVisualObject();
  HeaderReader r(data, size, vo.elements);
  r.U("visual_object_start_code", 32);
  if (r.Flag("is_visual_object_identifier")) {
    r.Enter();
    vo.visual_object_verid = r.U("visual_object_verid", 4);
    r.U("visual_object_priority", 3);
    r.Leave();
  }
  vo.visual_object_type = r.U("visual_object_type", 4, M4vValueKind::kVisualObjectType);
  if (vo.visual_object_type == 1 || vo.visual_object_type == 2) {
    if (r.Flag("video_signal_type")) {
      r.Enter();
      r.U("video_format", 3, M4vValueKind::kVideoFormat);
      r.U("video_range", 1);
      if (r.Flag("colour_description")) {
        r.Enter();
        r.U("colour_primaries", 8, M4vValueKind::kColourPrimaries);
        r.U("transfer_characteristics", 8, M4vValueKind::kTransfer);
        r.U("matrix_coefficients", 8, M4vValueKind::kMatrix);
        r.Leave();
      }
      r.Leave();
    }
  }
  if (!r.Ok()) return 0;
  vo.valid = true;
  return ToNextStartCode(data, size, 4);
}

size_t ReadM4vVol(const uint8_t* data, size_t size, uint32_t verid, M4vVol& vol) {
  vol = M4vVol();
  vol.verid = verid;
  size_t start = 0;
  if (size >= 4 && data[3] <= kM4vVideoObjectLast) {
    // video_object_start_code: the layer header follows at the next start code.
    vol.elements.push_back({"video_object_start_code", 0, 32, 0, 0x100u | data[3], M4vValueKind::kPlain});
    start = FindM4vStartCode(data, size, 4);
    if (start + 4 > size || data[start + 3] < kM4vVolFirst || data[start + 3] > kM4vVolLast) {
      return start < size ? start : 0;
    }
  }
  std::vector<M4vElement> elements;
  HeaderReader r(data + start, size - start, elements);
  r.U("video_object_layer_start_code", 32);
  r.U("random_accessible_vol", 1);
  vol.video_object_type_indication = r.U("video_object_type_indication", 8, M4vValueKind::kObjectType);
  if (r.Flag("is_object_layer_identifier")) {
    r.Enter();
    vol.verid = r.U("video_object_layer_verid", 4);
    r.U("video_object_layer_priority", 3);
    r.Leave();
  }
  vol.aspect_ratio_info = r.U("aspect_ratio_info", 4, M4vValueKind::kAspectRatio);
  if (vol.aspect_ratio_info == 15) {
    r.Enter();
    vol.par_width = r.U("par_width", 8);
    vol.par_height = r.U("par_height", 8);
    r.Leave();
  }
  if (r.Flag("vol_control_parameters")) {
    r.Enter();
    vol.chroma_format = r.U("chroma_format", 2, M4vValueKind::kChromaFormat);
    vol.low_delay = r.U("low_delay", 1);
    if (r.Flag("vbv_parameters")) {
      r.Enter();
      r.U("first_half_bit_rate", 15);
      r.Marker();
      r.U("latter_half_bit_rate", 15);
      r.Marker();
      r.U("first_half_vbv_buffer_size", 15);
      r.Marker();
      r.U("latter_half_vbv_buffer_size", 3);
      r.U("first_half_vbv_occupancy", 11);
      r.Marker();
      r.U("latter_half_vbv_occupancy", 15);
      r.Marker();
      r.Leave();
    }
    r.Leave();
  }
  vol.shape = r.U("video_object_layer_shape", 2, M4vValueKind::kShape);
  if (vol.shape == 3 && vol.verid != 1) r.U("video_object_layer_shape_extension", 4);
  r.Marker();
  vol.vop_time_increment_resolution = r.U("vop_time_increment_resolution", 16);
  vol.time_increment_bits = TimeIncrementBits(vol.vop_time_increment_resolution);
  r.Marker();
  if (r.Flag("fixed_vop_rate")) r.U("fixed_vop_time_increment", vol.time_increment_bits);
  if (vol.shape != 2) {
    if (vol.shape == 0) {
      r.Marker();
      vol.width = r.U("video_object_layer_width", 13);
      r.Marker();
      vol.height = r.U("video_object_layer_height", 13);
      r.Marker();
    }
    vol.interlaced = r.Flag("interlaced");
    vol.obmc_disable = r.Flag("obmc_disable");
    vol.sprite_enable = r.U("sprite_enable", vol.verid == 1 ? 1 : 2, M4vValueKind::kSpriteEnable);
    if (vol.sprite_enable == 1 || vol.sprite_enable == 2) {
      r.Enter();
      if (vol.sprite_enable != 2) {
        r.U("sprite_width", 13);
        r.Marker();
        r.U("sprite_height", 13);
        r.Marker();
        r.U("sprite_left_coordinate", 13);
        r.Marker();
        r.U("sprite_top_coordinate", 13);
        r.Marker();
      }
      vol.no_of_sprite_warping_points = r.U("no_of_sprite_warping_points", 6, M4vValueKind::kWarpingPoints);
      vol.sprite_warping_accuracy = r.U("sprite_warping_accuracy", 2);
      vol.sprite_brightness_change = r.Flag("sprite_brightness_change");
      if (vol.sprite_enable != 2) vol.low_latency_sprite_enable = r.Flag("low_latency_sprite_enable");
      r.Leave();
    }
    if (vol.verid != 1 && vol.shape != 0) r.U("sadct_disable", 1);
    if (r.Flag("not_8_bit")) {
      r.Enter();
      vol.quant_precision = r.U("quant_precision", 4);
      vol.bits_per_pixel = r.U("bits_per_pixel", 4);
      r.Leave();
    }
    if (vol.shape == 3) {
      r.U("no_gray_quant_update", 1);
      r.U("composition_method", 1);
      r.U("linear_composition", 1);
    }
    vol.quant_type = r.Flag("quant_type");
    if (vol.quant_type) {
      r.Enter();
      vol.load_intra_quant_mat = r.Flag("load_intra_quant_mat");
      if (vol.load_intra_quant_mat) ReadQuantMatrix(r, "intra_quant_mat", vol.intra_quant_mat);
      vol.load_nonintra_quant_mat = r.Flag("load_nonintra_quant_mat");
      if (vol.load_nonintra_quant_mat) ReadQuantMatrix(r, "nonintra_quant_mat", vol.nonintra_quant_mat);
      r.Leave();
      if (vol.shape == 3) {
        // Grayscale alpha matrices are not read: the layer's later elements are unknown.
        if (!r.Ok()) return 0;
        vol.valid = vol.width != 0 && vol.height != 0;
        vol.elements.insert(vol.elements.end(), elements.begin(), elements.end());
        return ToNextStartCode(data, size, start + r.Bytes());
      }
    }
    if (vol.verid != 1) vol.quarter_sample = r.Flag("quarter_sample");
    vol.complexity_estimation_disable = r.Flag("complexity_estimation_disable");
    if (!vol.complexity_estimation_disable) {
      r.Enter();
      ReadComplexityDefinition(r, vol);
      r.Leave();
    }
    vol.resync_marker_disable = r.Flag("resync_marker_disable");
    vol.data_partitioned = r.Flag("data_partitioned");
    if (vol.data_partitioned) vol.reversible_vlc = r.Flag("reversible_vlc");
    if (vol.verid != 1) {
      vol.newpred_enable = r.Flag("newpred_enable");
      if (vol.newpred_enable) {
        r.Enter();
        vol.requested_upstream_message_type = r.U("requested_upstream_message_type", 2);
        r.U("newpred_segment_type", 1);
        r.Leave();
      }
      vol.reduced_resolution_vop_enable = r.Flag("reduced_resolution_vop_enable");
    }
    vol.scalability = r.Flag("scalability");
    if (vol.scalability) {
      r.Enter();
      const uint32_t hierarchy = r.U("hierarchy_type", 1);
      r.U("ref_layer_id", 4);
      r.U("ref_layer_sampling_direc", 1);
      r.U("hor_sampling_factor_n", 5);
      r.U("hor_sampling_factor_m", 5);
      r.U("vert_sampling_factor_n", 5);
      r.U("vert_sampling_factor_m", 5);
      vol.enhancement_type = r.Flag("enhancement_type");
      if (vol.shape == 1 && hierarchy == 0) {
        r.U("use_ref_shape", 1);
        r.U("use_ref_texture", 1);
        r.U("shape_hor_sampling_factor_n", 5);
        r.U("shape_hor_sampling_factor_m", 5);
        r.U("shape_vert_sampling_factor_n", 5);
        r.U("shape_vert_sampling_factor_m", 5);
      }
      r.Leave();
    }
  } else {
    if (vol.verid != 1) {
      vol.scalability = r.Flag("scalability");
      if (vol.scalability) {
        r.Enter();
        r.U("ref_layer_id", 4);
        r.U("shape_hor_sampling_factor_n", 5);
        r.U("shape_hor_sampling_factor_m", 5);
        r.U("shape_vert_sampling_factor_n", 5);
        r.U("shape_vert_sampling_factor_m", 5);
        r.Leave();
      }
    }
    vol.resync_marker_disable = r.Flag("resync_marker_disable");
  }
  if (!r.Ok()) return 0;
  for (M4vElement& e : elements) e.bitPosition += static_cast<uint32_t>(start * 8);
  vol.elements.insert(vol.elements.end(), elements.begin(), elements.end());
  vol.valid = vol.width != 0 && vol.height != 0 && vol.vop_time_increment_resolution != 0;
  return ToNextStartCode(data, size, start + r.Bytes());
}

size_t ReadM4vGov(const uint8_t* data, size_t size, M4vGov& gov) {
  gov = M4vGov();
  HeaderReader r(data, size, gov.elements);
  r.U("group_of_vop_start_code", 32);
  const uint32_t code = r.U("time_code", 18, M4vValueKind::kTimeCode);
  gov.hours = code >> 13;
  gov.minutes = (code >> 7) & 63;
  gov.seconds = code & 63;
  gov.closed_gov = r.Flag("closed_gov");
  gov.broken_link = r.Flag("broken_link");
  if (!r.Ok()) return 0;
  gov.valid = true;
  const size_t next = ToNextStartCode(data, size, 4);
  if (next + 4 <= size && data[next + 3] == kM4vUserData) {
    gov.elements.push_back({"user_data_start_code", static_cast<uint32_t>(next * 8), 32, 0, 0x1B2, M4vValueKind::kPlain});
  }
  return next;
}

size_t ReadM4vVop(const uint8_t* data, size_t size, const M4vVol& vol, M4vVop& vop) {
  vop = M4vVop();
  HeaderReader r(data, size, vop.elements);
  r.U("vop_start_code", 32);
  vop.vop_coding_type = r.U("vop_coding_type", 2, M4vValueKind::kVopCodingType);
  {
    BitReader& br = r.Bits();
    const uint32_t position = static_cast<uint32_t>(br.BitPosition());
    uint32_t seconds = 0;
    while (br.ReadBit() == 1 && br.Ok() && seconds < 64) ++seconds;
    vop.modulo_time_base = seconds;
    r.Record("modulo_time_base", position, static_cast<int>(br.BitPosition() - position), seconds);
  }
  r.Marker();
  vop.vop_time_increment = r.U("vop_time_increment", vol.time_increment_bits);
  r.Marker();
  vop.vop_coded = r.Flag("vop_coded");
  if (!vop.vop_coded || !r.Ok()) {
    vop.valid = r.Ok();
    vop.dataBitOffset = r.Bits().BitPosition();
    return vop.valid ? r.Bytes() : 0;
  }
  const uint32_t type = vop.vop_coding_type;
  if (vol.newpred_enable) {
    r.U("vop_id", std::min(vol.time_increment_bits + 3, 15));
    if (r.Flag("vop_id_for_prediction_indication")) r.U("vop_id_for_prediction", std::min(vol.time_increment_bits + 3, 15));
    r.Marker();
  }
  if (vol.shape != 2 && (type == 1 || (type == 3 && vol.sprite_enable == 2))) {
    vop.vop_rounding_type = r.U("vop_rounding_type", 1);
  }
  if (vol.reduced_resolution_vop_enable && vol.shape == 0 && (type == 0 || type == 1)) r.U("vop_reduced_resolution", 1);
  if (vol.shape != 0) {
    if (!(vol.sprite_enable == 1 && type == 0)) {
      r.U("vop_width", 13);
      r.Marker();
      r.U("vop_height", 13);
      r.Marker();
      r.U("vop_horizontal_mc_spatial_ref", 13);
      r.Marker();
      r.U("vop_vertical_mc_spatial_ref", 13);
      r.Marker();
    }
    if (vol.shape != 2 && vol.scalability && vol.enhancement_type) r.U("background_composition", 1);
    r.U("change_conv_ratio_disable", 1);
    if (r.Flag("vop_constant_alpha")) r.U("vop_constant_alpha_value", 8);
  }
  if (!vol.complexity_estimation_disable && vol.complexityBits[type] > 0) {
    const uint32_t position = static_cast<uint32_t>(r.Bits().BitPosition());
    r.Bits().Skip(vol.complexityBits[type]);
    r.Record("vop_complexity_estimation", position, static_cast<int>(vol.complexityBits[type]), 0);
  }
  if (vol.shape != 2) {
    vop.intra_dc_vlc_thr = r.U("intra_dc_vlc_thr", 3, M4vValueKind::kIntraDcVlcThr);
    if (vol.interlaced) {
      vop.top_field_first = r.Flag("top_field_first");
      vop.alternate_vertical_scan_flag = r.Flag("alternate_vertical_scan_flag");
    }
  }
  if ((vol.sprite_enable == 1 || vol.sprite_enable == 2) && type == 3) {
    const uint32_t points = std::min<uint32_t>(vol.no_of_sprite_warping_points, 4);
    for (uint32_t i = 0; i < points; ++i) {
      vop.warping[i][0] = ReadWarpingMv(r, "warping_mv_du");
      r.Marker();
      vop.warping[i][1] = ReadWarpingMv(r, "warping_mv_dv");
      r.Marker();
    }
    if (vol.no_of_sprite_warping_points > 4 || vol.sprite_brightness_change || vol.sprite_enable == 1) {
      // brightness_change_factor and the static-sprite transmission are not read.
      vop.refused = true;
      vop.valid = r.Ok();
      vop.dataBitOffset = r.Bits().BitPosition();
      return vop.valid ? r.Bytes() : 0;
    }
  }
  if (vol.shape != 2) {
    vop.vop_quant = r.U("vop_quant", static_cast<int>(vol.quant_precision));
    if (vol.shape == 3) vop.refused = true;  // vop_alpha_quant per auxiliary component
    if (type != 0) vop.vop_fcode_forward = r.U("vop_fcode_forward", 3);
    if (type == 2) vop.vop_fcode_backward = r.U("vop_fcode_backward", 3);
    if (!vol.scalability) {
      if (vol.shape != 0 && type != 0) r.U("vop_shape_coding_type", 1);
    } else {
      if (vol.enhancement_type) {
        if (r.Flag("load_backward_shape")) vop.refused = true;
      }
      r.U("ref_select_code", 2);
    }
  }
  if (!r.Ok()) return 0;
  vop.valid = true;
  vop.dataBitOffset = r.Bits().BitPosition();
  return r.Bytes();
}

void ReadM4vVideoPackets(const uint8_t* data, size_t size, const M4vVol& vol, const M4vVop& vop,
                         M4vVideoPacket& packet) {
  packet = M4vVideoPacket();
  if (vol.resync_marker_disable || !vop.valid || !vop.vop_coded || vol.shape != 0) return;
  // resync_marker: 16 zeros, then fcode - 1 more for P/S-VOPs (max of both for B, and at
  // least 17 zeros there), then a 1.
  uint32_t zeros = 16;
  if (vop.vop_coding_type == 1 || vop.vop_coding_type == 3) zeros += vop.vop_fcode_forward - 1;
  if (vop.vop_coding_type == 2) zeros = std::max<uint32_t>(zeros + std::max(vop.vop_fcode_forward, vop.vop_fcode_backward) - 1, 17);
  zeros = std::max<uint32_t>(zeros, 16);
  const size_t end = FindM4vStartCode(data, size, 4);
  const size_t first = (vop.dataBitOffset + 7) / 8;
  size_t last = 0;
  for (size_t i = first; i + 3 <= end; ++i) {
    if (data[i] != 0 || data[i + 1] != 0) continue;
    BitReader br(data + i + 2, end - i - 2);
    uint32_t more = 0;
    while (more < zeros - 16 && br.ReadBit() == 0) ++more;
    if (more == zeros - 16 && br.ReadBit() == 1 && br.Ok()) {
      ++packet.count;
      last = i;
      i += 2;
    }
  }
  if (packet.count == 0) return;
  HeaderReader r(data + last, end - last, packet.elements);
  r.U("resync_marker", static_cast<int>(zeros + 1));
  int mbBits = 1;
  while (mbBits < 14 && (uint32_t{1} << mbBits) < vol.MacroblockCount()) ++mbBits;
  packet.macroblock_number = r.U("macroblock_number", mbBits);
  packet.quant_scale = r.U("quant_scale", static_cast<int>(vol.quant_precision));
  packet.header_extension_code = r.Flag("header_extension_code");
  if (packet.header_extension_code) {
    r.Enter();
    BitReader& br = r.Bits();
    const uint32_t position = static_cast<uint32_t>(br.BitPosition());
    uint32_t seconds = 0;
    while (br.ReadBit() == 1 && br.Ok() && seconds < 64) ++seconds;
    r.Record("modulo_time_base", position, static_cast<int>(br.BitPosition() - position), seconds);
    r.Marker();
    r.U("vop_time_increment", vol.time_increment_bits);
    r.Marker();
    const uint32_t type = r.U("vop_coding_type", 2, M4vValueKind::kVopCodingType);
    r.U("intra_dc_vlc_thr", 3, M4vValueKind::kIntraDcVlcThr);
    if (type == 3 && vol.sprite_enable == 2) {
      for (uint32_t i = 0; i < std::min<uint32_t>(vol.no_of_sprite_warping_points, 4); ++i) {
        ReadWarpingMv(r, "warping_mv_du");
        r.Marker();
        ReadWarpingMv(r, "warping_mv_dv");
        r.Marker();
      }
    }
    if (type != 0) r.U("vop_fcode_forward", 3);
    if (type == 2) r.U("vop_fcode_backward", 3);
    r.Leave();
  }
  packet.valid = r.Ok();
}

void ReadM4vFrameHeaders(const uint8_t* data, size_t size, M4vHeaders& h) {
  size_t pos = FindM4vStartCode(data, size, 0);
  while (pos + 4 <= size) {
    const uint32_t code = data[pos + 3];
    size_t used = 0;
    if (code == kM4vVosStart) {
      used = h.vosBytes = ReadM4vVos(data + pos, size - pos, h.vos);
    } else if (code == kM4vVisualObject) {
      used = ReadM4vVisualObject(data + pos, size - pos, h.vo);
    } else if (code == kM4vGovStart) {
      used = h.govBytes = ReadM4vGov(data + pos, size - pos, h.gov);
    } else if (code == kM4vVopStart) {
      if (!h.vol.valid) break;
      used = h.vopBytes = ReadM4vVop(data + pos, size - pos, h.vol, h.vop);
      if (used > 0) ReadM4vVideoPackets(data + pos, size - pos, h.vol, h.vop, h.packet);
    } else if (code <= kM4vVolLast) {
      used = h.volBytes = ReadM4vVol(data + pos, size - pos, h.vo.valid ? h.vo.visual_object_verid : 1, h.vol);
    } else if (code == kM4vVosEnd) {
      break;
    } else {
      used = 4;
    }
    if (used == 0) break;
    pos = FindM4vStartCode(data, size, pos + std::max<size_t>(used, 4));
  }
}

std::vector<uint8_t> DecodeM4vConfig(const char* text, size_t length) {
  std::vector<uint8_t> out;
  auto nibble = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  if (length % 2 != 0) return {};
  for (size_t i = 0; i < length; i += 2) {
    const int hi = nibble(text[i]), lo = nibble(text[i + 1]);
    if (hi < 0 || lo < 0) return {};
    out.push_back(static_cast<uint8_t>(hi << 4 | lo));
  }
  return out;
}

}  // namespace fennik
