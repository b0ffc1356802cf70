// Helpers for the H.264 tests: reading fixtures, the committed framemd5 tables, decoding a
// whole elementary stream and hashing its visible pictures, and a bit writer for hand-built
// parameter sets.
#pragma once

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "codec/video/C264_Decode.h"
#include "h264/H264Nal.h"
#include "tests/codec/video/Md5.h"
#include "tests/support/TestSupport.h"

namespace fennik::test {

inline std::string H264Fixture(const std::string& name) { return TestData("h264/" + name); }

// The MD5 column of an ffmpeg framemd5 file, one entry per frame in output order.
inline std::vector<std::string> ReadFrameMd5(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> out;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    const size_t comma = line.rfind(',');
    std::string md5 = line.substr(comma + 1);
    md5.erase(0, md5.find_first_not_of(' '));
    out.push_back(md5);
  }
  return out;
}

// MD5 of the visible area of a picture, planes one after the other (as ffmpeg's rawvideo in
// the picture's own format: yuv420p, yuv422p or yuv444p; monochrome pictures are held as
// 4:2:0 with grey chroma, as ffmpeg outputs them).
inline std::string VisibleMd5(const CVideoFrame& f, const H264Crop& c) {
  Md5 md5;
  for (uint32_t y = 0; y < c.height; ++y) md5.Update(f.Y() + (c.top + y) * f.LumaStride() + c.left, c.width);
  const uint32_t sx = f.Format() == kPictureYuv444 ? 0 : 1, sy = f.Format() == kPictureYuv420 ? 1 : 0;
  for (const uint8_t* plane : {f.Cb(), f.Cr()})
    for (uint32_t y = 0; y < (c.height + sy) >> sy; ++y)
      md5.Update(plane + ((c.top >> sy) + y) * f.ChromaStride() + (c.left >> sx), (c.width + sx) >> sx);
  return md5.HexDigest();
}

// Decodes an Annex B stream NAL unit by NAL unit; returns the MD5 of each output picture.
inline std::vector<std::string> DecodeToMd5(const std::vector<uint8_t>& data, C264_Decode& dec) {
  std::vector<std::string> out;
  CVideoFrame frame;
  H264Crop crop;
  for (const NalSpan& u : SplitAnnexB(data.data(), data.size())) {
    dec.DecodeNalUnit(data.data() + u.offset, u.size);
    while (dec.GetNextPicture(frame, &crop)) out.push_back(VisibleMd5(frame, crop));
  }
  dec.Flush();
  while (dec.GetNextPicture(frame, &crop)) out.push_back(VisibleMd5(frame, crop));
  return out;
}

// MSB-first bit writer with Exp-Golomb codes, for hand-built RBSPs.
class BitWriter {
 public:
  void Put(uint32_t value, int bits) {
    for (int i = bits - 1; i >= 0; --i) PutBit((value >> i) & 1);
  }
  void PutBit(uint32_t b) {
    if (pos_ % 8 == 0) bytes_.push_back(0);
    if (b) bytes_.back() |= static_cast<uint8_t>(0x80 >> (pos_ % 8));
    ++pos_;
  }
  void Ue(uint32_t v) {
    const uint64_t x = uint64_t{v} + 1;
    int len = 0;
    while ((x >> len) > 1) ++len;
    Put(0, len);
    Put(static_cast<uint32_t>(x), len + 1);
  }
  void Se(int32_t v) { Ue(v <= 0 ? static_cast<uint32_t>(-2 * int64_t{v}) : static_cast<uint32_t>(2 * v - 1)); }
  void AlignWithZeros() {
    while (pos_ % 8) PutBit(0);
  }
  // rbsp_trailing_bits()
  void Trailing() {
    PutBit(1);
    while (pos_ % 8) PutBit(0);
  }
  const std::vector<uint8_t>& Bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
  size_t pos_ = 0;
};

// A Baseline SPS RBSP (no VUI unless max_dec_frame_buffering >= 0) for a picture of
// width_mbs x height_mbs macroblocks at level_idc.
inline std::vector<uint8_t> MakeSps(uint32_t level_idc, uint32_t width_mbs, uint32_t height_mbs,
                                    int max_dec_frame_buffering = -1, uint32_t poc_type = 2) {
  BitWriter w;
  w.Put(66, 8);         // profile_idc
  w.Put(0, 8);          // constraint flags
  w.Put(level_idc, 8);  // level_idc
  w.Ue(0);              // seq_parameter_set_id
  w.Ue(0);              // log2_max_frame_num_minus4
  w.Ue(poc_type);       // pic_order_cnt_type
  if (poc_type == 0) w.Ue(0);  // log2_max_pic_order_cnt_lsb_minus4
  w.Ue(1);              // num_ref_frames
  w.PutBit(0);          // gaps_in_frame_num_value_allowed_flag
  w.Ue(width_mbs - 1);
  w.Ue(height_mbs - 1);
  w.PutBit(1);          // frame_mbs_only_flag
  w.PutBit(1);          // direct_8x8_inference_flag
  w.PutBit(0);          // frame_cropping_flag
  w.PutBit(max_dec_frame_buffering >= 0);  // vui_parameters_present_flag
  if (max_dec_frame_buffering >= 0) {
    for (int i = 0; i < 8; ++i) w.PutBit(0);  // aspect .. pic_struct_present_flag
    w.PutBit(1);                              // bitstream_restriction_flag
    w.PutBit(1);                              // motion_vectors_over_pic_boundaries_flag
    w.Ue(0);
    w.Ue(0);
    w.Ue(16);
    w.Ue(16);
    w.Ue(0);                                              // num_reorder_frames
    w.Ue(static_cast<uint32_t>(max_dec_frame_buffering));  // max_dec_frame_buffering
  }
  w.Trailing();
  return w.Bytes();
}

}  // namespace fennik::test
