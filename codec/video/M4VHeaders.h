// MPEG-4 Visual (ISO/IEC 14496-2) configuration and picture headers: the visual object
// sequence, visual object, video object layer, group of VOP, VOP and video packet headers.
// Each reader keeps the values later syntax depends on and a list of every element it read
// (name, coded length, coded bits) for the views.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace fennik {

// Start-code values (the byte after 00 00 01).
enum M4vStartCode : uint32_t {
  kM4vVideoObjectLast = 0x1F,      // 0x00-0x1F video_object_start_code
  kM4vVolFirst = 0x20,             // 0x20-0x2F video_object_layer_start_code
  kM4vVolLast = 0x2F,
  kM4vVosStart = 0xB0,
  kM4vVosEnd = 0xB1,
  kM4vUserData = 0xB2,
  kM4vGovStart = 0xB3,
  kM4vVisualObject = 0xB5,
  kM4vVopStart = 0xB6,
};

// Finds the next start code at or after `from`: the offset of its 00 00 01 prefix, or
// `size` when there is none.
size_t FindM4vStartCode(const uint8_t* data, size_t size, size_t from);

// Value texts of elements (ShowFrameDetail picks the names by the element's kind).
enum class M4vValueKind : uint8_t {
  kPlain,
  kTimeCode,           // 18 bits: hours, minutes, marker, seconds
  kProfileLevel,
  kVisualObjectType,
  kVideoFormat,
  kColourPrimaries,
  kTransfer,
  kMatrix,
  kObjectType,
  kAspectRatio,
  kShape,
  kSpriteEnable,
  kWarpingPoints,
  kVopCodingType,
  kIntraDcVlcThr,
  kChromaFormat,
};

struct M4vElement {
  const char* name;
  uint32_t bitPosition;  // from the header's first bit
  uint16_t bits;
  uint16_t level;        // 0 for the header's own elements, 1 for those below a flag
  uint32_t value;
  M4vValueKind kind;
};

struct M4vVos {
  bool valid = false;
  uint32_t profile_and_level_indication = 0;
  std::vector<M4vElement> elements;
};

struct M4vVisualObject {
  bool valid = false;
  uint32_t visual_object_verid = 1;
  uint32_t visual_object_type = 1;
  std::vector<M4vElement> elements;
};

struct M4vVol {
  bool valid = false;
  uint32_t video_object_type_indication = 0;
  uint32_t verid = 1;
  uint32_t aspect_ratio_info = 0;
  uint32_t par_width = 0, par_height = 0;
  uint32_t chroma_format = 1;
  uint32_t low_delay = 0;
  uint32_t shape = 0;  // video_object_layer_shape
  uint32_t vop_time_increment_resolution = 0;
  int time_increment_bits = 1;
  uint32_t width = 0, height = 0;
  bool interlaced = false;
  bool obmc_disable = true;
  uint32_t sprite_enable = 0;  // 0 none, 1 static, 2 GMC
  uint32_t no_of_sprite_warping_points = 0;
  uint32_t sprite_warping_accuracy = 0;
  bool sprite_brightness_change = false;
  bool low_latency_sprite_enable = false;
  uint32_t quant_precision = 5;
  uint32_t bits_per_pixel = 8;
  bool quant_type = false;
  bool load_intra_quant_mat = false, load_nonintra_quant_mat = false;
  uint8_t intra_quant_mat[64] = {};     // in zigzag order as coded (0: not loaded)
  uint8_t nonintra_quant_mat[64] = {};
  bool quarter_sample = false;
  bool complexity_estimation_disable = true;
  // Bits of the complexity estimates each VOP header carries, by coding type (I, P, B, S).
  uint32_t complexityBits[4] = {};
  bool resync_marker_disable = true;
  bool data_partitioned = false;
  bool reversible_vlc = false;
  bool newpred_enable = false;
  uint32_t requested_upstream_message_type = 0;
  bool reduced_resolution_vop_enable = false;
  bool scalability = false;
  bool enhancement_type = false;
  bool shortVideoHeader = false;
  std::vector<M4vElement> elements;
  uint32_t MacroblockCount() const { return ((width + 15) / 16) * ((height + 15) / 16); }
};

struct M4vGov {
  bool valid = false;
  uint32_t hours = 0, minutes = 0, seconds = 0;
  bool closed_gov = false, broken_link = false;
  std::vector<M4vElement> elements;
};

struct M4vVop {
  bool valid = false;
  uint32_t vop_coding_type = 0;
  uint32_t modulo_time_base = 0;
  uint32_t vop_time_increment = 0;
  bool vop_coded = false;
  uint32_t vop_rounding_type = 0;
  uint32_t intra_dc_vlc_thr = 0;
  bool top_field_first = false;
  bool alternate_vertical_scan_flag = false;
  uint32_t vop_quant = 0;
  uint32_t vop_fcode_forward = 1;
  uint32_t vop_fcode_backward = 1;
  int32_t warping[4][2] = {};  // sprite_trajectory du, dv per warping point
  bool refused = false;        // a tool whose header syntax is not read (brightness change)
  size_t dataBitOffset = 0;    // first bit of the macroblock data, from the VOP start code
  std::vector<M4vElement> elements;
};

struct M4vVideoPacket {
  bool valid = false;
  uint32_t macroblock_number = 0;
  uint32_t quant_scale = 0;
  bool header_extension_code = false;
  uint32_t count = 0;  // video packets after the first of the VOP
  std::vector<M4vElement> elements;
};

// The header record of a stream or of one frame's details.
struct M4vHeaders {
  M4vVos vos;
  M4vVisualObject vo;
  M4vVol vol;
  M4vGov gov;
  M4vVop vop;
  M4vVideoPacket packet;
  // Bytes consumed by the last VOS, VOL, GOV and VOP reads (0: none read).
  size_t vosBytes = 0, volBytes = 0, govBytes = 0, vopBytes = 0;
};

// Each reader starts at a start code's 00 00 01 prefix and returns the bytes it read (up to
// the next start code for the configuration headers), 0 when nothing could be read.
size_t ReadM4vVos(const uint8_t* data, size_t size, M4vVos& vos);
size_t ReadM4vVisualObject(const uint8_t* data, size_t size, M4vVisualObject& vo);
// A video_object start code (optionally) followed by the video_object_layer header.
size_t ReadM4vVol(const uint8_t* data, size_t size, uint32_t verid, M4vVol& vol);
size_t ReadM4vGov(const uint8_t* data, size_t size, M4vGov& gov);
// The VOP header only; `vol` must be valid. The result is the header's byte length
// (rounded up); vop.dataBitOffset gives the exact bit where the macroblock data starts.
size_t ReadM4vVop(const uint8_t* data, size_t size, const M4vVol& vol, M4vVop& vop);
// Finds the VOP's byte-aligned resync markers and reads the last video packet header.
void ReadM4vVideoPackets(const uint8_t* data, size_t size, const M4vVol& vol, const M4vVop& vop,
                         M4vVideoPacket& packet);

// Reads the headers of one frame's bytes into `headers`: VOS, visual object, GOV and VOP
// headers as met; at the first VO/VOL start code the VOL is read and the walk ends.
void ReadM4vFrameHeaders(const uint8_t* data, size_t size, M4vHeaders& headers);

// Parses the hexadecimal config= value of RFC 3016; empty on a malformed value.
std::vector<uint8_t> DecodeM4vConfig(const char* text, size_t length);

}  // namespace fennik
