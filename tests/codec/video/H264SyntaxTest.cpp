// Parameter sets, slice headers and picture order count, on real x264 streams and on
// hand-built RBSPs.
#include <gtest/gtest.h>

#include "h264/H264Syntax.h"
#include "tests/codec/video/H264TestUtil.h"

namespace fennik {
namespace {

using test::BitWriter;
using test::H264Fixture;
using test::MakeSps;
using test::ReadFileBytes;

// First NAL unit of the given type in a stream, unescaped, without its header byte.
std::vector<uint8_t> FirstRbsp(const std::vector<uint8_t>& data, int type, uint8_t* header = nullptr) {
  for (const NalSpan& u : SplitAnnexB(data.data(), data.size())) {
    if (u.size == 0 || (data[u.offset] & 0x1F) != type) continue;
    std::vector<uint8_t> rbsp(u.size);
    rbsp.resize(UnescapeRbsp(data.data() + u.offset + 1, u.size - 1, rbsp.data(), rbsp.size()));
    if (header) *header = data[u.offset];
    return rbsp;
  }
  return {};
}

TEST(H264SyntaxTest, ParsesSpsAndPpsOfX264Streams) {
  // Streams made by scripts/make-h264-streams.
  const auto data = ReadFileBytes(H264Fixture("main_bpyramid.264"));
  ASSERT_FALSE(data.empty());
  H264Sps sps;
  const auto sps_rbsp = FirstRbsp(data, 7);
  ASSERT_TRUE(ParseSps(sps_rbsp.data(), sps_rbsp.size(), sps));
  EXPECT_EQ(sps.profile_idc, 77u);
  EXPECT_EQ(sps.PicWidthInMbs(), 11u);
  EXPECT_EQ(sps.FrameHeightInMbs(), 9u);
  EXPECT_EQ(sps.VisibleWidth(), 176u);
  EXPECT_EQ(sps.VisibleHeight(), 144u);
  EXPECT_TRUE(sps.frame_mbs_only_flag);
  EXPECT_EQ(sps.num_ref_frames, 4u);
  EXPECT_TRUE(sps.vui_parameters_present_flag);
  EXPECT_TRUE(sps.vui.timing_info_present_flag);
  EXPECT_EQ(sps.vui.time_scale / (2 * sps.vui.num_units_in_tick), 25u);
  EXPECT_TRUE(sps.vui.bitstream_restriction_flag);
  EXPECT_GE(sps.vui.num_reorder_frames, 1u);

  H264Pps pps;
  const auto pps_rbsp = FirstRbsp(data, 8);
  ASSERT_TRUE(ParsePps(pps_rbsp.data(), pps_rbsp.size(), &sps, pps));
  EXPECT_TRUE(pps.entropy_coding_mode_flag);
  EXPECT_FALSE(pps.transform_8x8_mode_flag);
  EXPECT_EQ(pps.scaling_4x4[0][0], 16);  // flat without matrices

  const auto odd = ReadFileBytes(H264Fixture("odd_200x120.264"));
  const auto odd_sps = FirstRbsp(odd, 7);
  ASSERT_TRUE(ParseSps(odd_sps.data(), odd_sps.size(), sps));
  EXPECT_EQ(sps.PicWidthInMbs(), 13u);
  EXPECT_EQ(sps.FrameHeightInMbs(), 8u);
  EXPECT_TRUE(sps.frame_cropping_flag);
  EXPECT_EQ(sps.VisibleWidth(), 200u);
  EXPECT_EQ(sps.VisibleHeight(), 120u);
}

// scaling_list() coding of explicit values (zig-zag order), or of the default list.
void PutScalingList(BitWriter& bw, const std::vector<int>& values) {
  int last = 8;
  for (int v : values) {
    int delta = v - last;
    if (delta > 127) delta -= 256;
    if (delta < -128) delta += 256;
    bw.Se(delta);
    last = v;
  }
}
void PutDefaultScalingList(BitWriter& bw) { bw.Se(-8); }  // next scale 0 at the first entry

TEST(H264SyntaxTest, ScalingListFallBackRules) {
  const std::vector<int> intra4(16, 9), inter8(64, 20);
  std::vector<int> explicit4(16);
  for (int i = 0; i < 16; ++i) explicit4[i] = 4 + i;
  const uint8_t default4_intra[16] = {6, 13, 13, 20, 20, 20, 28, 28, 28, 28, 32, 32, 32, 37, 37, 42};
  const uint8_t default4_inter[16] = {10, 14, 14, 20, 20, 20, 24, 24, 24, 24, 27, 27, 27, 30, 30, 34};
  // High profile SPS with lists 0 (explicit) and 7 (explicit) only: rule A gives list 1 and 2
  // from list 0, list 3 the default inter list, list 6 the default 8x8 intra list.
  BitWriter sps_bits;
  sps_bits.Put(100, 8);
  sps_bits.Put(0, 8);
  sps_bits.Put(30, 8);
  sps_bits.Ue(0);   // seq_parameter_set_id
  sps_bits.Ue(1);   // chroma_format_idc
  sps_bits.Ue(0);
  sps_bits.Ue(0);
  sps_bits.PutBit(0);
  sps_bits.PutBit(1);  // seq_scaling_matrix_present_flag
  for (int i = 0; i < 8; ++i) {
    const bool present = i == 0 || i == 7;
    sps_bits.PutBit(present);
    if (i == 0) PutScalingList(sps_bits, explicit4);
    if (i == 7) PutScalingList(sps_bits, inter8);
  }
  sps_bits.Ue(0);   // log2_max_frame_num_minus4
  sps_bits.Ue(2);   // pic_order_cnt_type
  sps_bits.Ue(1);   // num_ref_frames
  sps_bits.PutBit(0);
  sps_bits.Ue(10);  // 176 x 144
  sps_bits.Ue(8);
  sps_bits.PutBit(1);  // frame_mbs_only_flag
  sps_bits.PutBit(1);  // direct_8x8_inference_flag
  sps_bits.PutBit(0);
  sps_bits.PutBit(0);
  sps_bits.Trailing();
  H264Sps sps;
  ASSERT_TRUE(ParseSps(sps_bits.Bytes().data(), sps_bits.Bytes().size(), sps));
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(sps.scaling_4x4[0][i], explicit4[i]);
    EXPECT_EQ(sps.scaling_4x4[2][i], explicit4[i]);
    EXPECT_EQ(sps.scaling_4x4[3][i], default4_inter[i]);
    EXPECT_EQ(sps.scaling_4x4[5][i], default4_inter[i]);
  }
  EXPECT_EQ(sps.scaling_8x8[0][0], 6);   // Default_8x8_Intra
  EXPECT_EQ(sps.scaling_8x8[0][63], 42);
  EXPECT_EQ(sps.scaling_8x8[1][10], 20);

  // PPS with the 8x8 transform and lists 1 (the default flag), 3 (explicit) and 6 (explicit):
  // rule B takes lists 0 and 7 from the SPS, list 2 from list 1, list 4 and 5 from list 3.
  BitWriter pps_bits;
  pps_bits.Ue(0);
  pps_bits.Ue(0);
  pps_bits.PutBit(0);  // CAVLC
  pps_bits.PutBit(0);
  pps_bits.Ue(0);      // one slice group
  pps_bits.Ue(0);
  pps_bits.Ue(0);
  pps_bits.PutBit(0);
  pps_bits.Put(0, 2);
  pps_bits.Se(0);
  pps_bits.Se(0);
  pps_bits.Se(0);
  pps_bits.PutBit(1);
  pps_bits.PutBit(0);
  pps_bits.PutBit(0);
  pps_bits.PutBit(1);  // transform_8x8_mode_flag
  pps_bits.PutBit(1);  // pic_scaling_matrix_present_flag
  for (int i = 0; i < 8; ++i) {
    const bool present = i == 1 || i == 3 || i == 6;
    pps_bits.PutBit(present);
    if (i == 1) PutDefaultScalingList(pps_bits);
    if (i == 3) PutScalingList(pps_bits, intra4);
    if (i == 6) PutScalingList(pps_bits, std::vector<int>(64, 30));
  }
  pps_bits.Se(0);  // second_chroma_qp_index_offset
  pps_bits.Trailing();
  H264Pps pps;
  ASSERT_TRUE(ParsePps(pps_bits.Bytes().data(), pps_bits.Bytes().size(), &sps, pps));
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(pps.scaling_4x4[0][i], explicit4[i]);
    EXPECT_EQ(pps.scaling_4x4[1][i], default4_intra[i]);
    EXPECT_EQ(pps.scaling_4x4[2][i], default4_intra[i]);
    EXPECT_EQ(pps.scaling_4x4[3][i], 9);
    EXPECT_EQ(pps.scaling_4x4[5][i], 9);
  }
  EXPECT_EQ(pps.scaling_8x8[0][0], 30);
  EXPECT_EQ(pps.scaling_8x8[1][0], 20);  // the SPS's list 7
  EXPECT_EQ(pps.scaling_8x8[1][63], 20);
}

TEST(H264SyntaxTest, CroppingBeyondThePictureIsIgnored) {
  // Offsets of a damaged SPS that crop away more than the picture (or overflow when added)
  // leave the whole picture visible, so that the visible area stays inside it.
  H264Sps sps;
  sps.pic_width_in_mbs_minus1 = 10;         // 176
  sps.pic_height_in_map_units_minus1 = 1;   // 32
  sps.frame_cropping_flag = true;
  sps.frame_crop_left_offset = 642;
  sps.frame_crop_right_offset = 10;
  sps.frame_crop_top_offset = 8222;
  sps.frame_crop_bottom_offset = 0;
  EXPECT_EQ(sps.CropLeft(), 0u);
  EXPECT_EQ(sps.VisibleWidth(), 176u);
  EXPECT_EQ(sps.CropTop(), 0u);
  EXPECT_EQ(sps.VisibleHeight(), 32u);
  sps.frame_crop_left_offset = 0x80000000u;  // the sum wraps in 32 bits
  sps.frame_crop_right_offset = 0x80000004u;
  EXPECT_EQ(sps.CropLeft(), 0u);
  EXPECT_EQ(sps.VisibleWidth(), 176u);
  // A cropping inside the picture stays as coded.
  sps.frame_crop_left_offset = 2;
  sps.frame_crop_right_offset = 3;
  sps.frame_crop_top_offset = 1;
  EXPECT_EQ(sps.CropLeft(), 4u);
  EXPECT_EQ(sps.VisibleWidth(), 166u);
  EXPECT_EQ(sps.CropTop(), 2u);
  EXPECT_EQ(sps.VisibleHeight(), 30u);
}

TEST(H264SyntaxTest, SliceHeaderOfBaselineStream) {
  const auto data = ReadFileBytes(H264Fixture("baseline_slices.264"));
  H264Sps sps;
  H264Pps pps;
  const auto s = FirstRbsp(data, 7), p = FirstRbsp(data, 8);
  ASSERT_TRUE(ParseSps(s.data(), s.size(), sps));
  ASSERT_TRUE(ParsePps(p.data(), p.size(), &sps, pps));
  struct Ctx {
    H264Sps* sps;
    H264Pps* pps;
  } ctx{&sps, &pps};
  H264ParamLookup lookup{[](const void* c, uint32_t id) -> const H264Sps* {
                           return id == 0 ? static_cast<const Ctx*>(c)->sps : nullptr;
                         },
                         [](const void* c, uint32_t id) -> const H264Pps* {
                           return id == 0 ? static_cast<const Ctx*>(c)->pps : nullptr;
                         },
                         &ctx};
  uint8_t header = 0;
  const auto idr = FirstRbsp(data, 5, &header);
  H264SliceHeader sh;
  ASSERT_TRUE(ParseSliceHeader(idr.data(), idr.size(), header, lookup, sh));
  EXPECT_TRUE(sh.IsIdr());
  EXPECT_EQ(sh.Kind(), kSliceI);
  EXPECT_EQ(sh.first_mb_in_slice, 0u);
  EXPECT_EQ(sh.frame_num, 0u);
  EXPECT_NE(sh.nal_ref_idc, 0u);
  EXPECT_GT(sh.header_bits, 8u);
  // A slice naming a PPS that was never received is refused.
  pps.valid = false;
  EXPECT_FALSE(ParseSliceHeader(idr.data(), idr.size(), header, lookup, sh));
}

TEST(H264SyntaxTest, RejectsTruncatedAndOutOfRangeSps) {
  auto sps_bytes = MakeSps(30, 45, 36);
  H264Sps sps;
  ASSERT_TRUE(ParseSps(sps_bytes.data(), sps_bytes.size(), sps));
  EXPECT_EQ(sps.PicWidthInMbs(), 45u);
  EXPECT_FALSE(ParseSps(sps_bytes.data(), 4, sps));  // cut inside the Exp-Golomb codes
  // Baseline SPS: pic_width_in_mbs_minus1 and pic_order_cnt_type as given.
  auto baseline = [](uint32_t width_minus1, uint32_t poc_type) {
    BitWriter w;
    w.Put(66, 8);  // profile_idc
    w.Put(0, 8);   // constraint flags, reserved
    w.Put(30, 8);  // level_idc
    w.Ue(0);       // seq_parameter_set_id
    w.Ue(0);       // log2_max_frame_num_minus4
    w.Ue(poc_type);
    w.Ue(1);       // max_num_ref_frames
    w.PutBit(0);   // gaps_in_frame_num_value_allowed_flag
    w.Ue(width_minus1);
    w.Ue(10);      // pic_height_in_map_units_minus1
    w.PutBit(1);   // frame_mbs_only_flag
    w.PutBit(1);   // direct_8x8_inference_flag
    w.PutBit(0);   // frame_cropping_flag
    w.PutBit(0);   // vui_parameters_present_flag
    w.Trailing();
    return w.Bytes();
  };
  auto good = baseline(10, 2);
  EXPECT_TRUE(ParseSps(good.data(), good.size(), sps));
  auto wide = baseline(100000, 2);  // far beyond any level
  EXPECT_FALSE(ParseSps(wide.data(), wide.size(), sps));
  auto poc3 = baseline(10, 3);  // pic_order_cnt_type is 0..2 (7.4.2.1.1)
  EXPECT_FALSE(ParseSps(poc3.data(), poc3.size(), sps));
}

H264SliceHeader Slice(uint32_t frame_num, uint32_t lsb, bool idr, uint32_t ref_idc) {
  H264SliceHeader sh;
  sh.frame_num = frame_num;
  sh.pic_order_cnt_lsb = lsb;
  sh.nal_unit_type = idr ? 5 : 1;
  sh.nal_ref_idc = ref_idc;
  return sh;
}

TEST(H264SyntaxTest, PocType2CountsTwicePerReferenceFrame) {
  H264Sps sps;
  sps.pic_order_cnt_type = 2;
  H264PocState state;
  const int expected[] = {0, 2, 4, 6};
  for (uint32_t fn = 0; fn < 4; ++fn) {
    H264SliceHeader sh = Slice(fn, 0, fn == 0, 1);
    H264PocState::Result r;
    ASSERT_TRUE(state.Compute(sps, sh, r));
    EXPECT_EQ(r.top, expected[fn]);
    state.Commit(sps, sh, r);
  }
  // A non-reference picture sits one below its reference neighbour.
  H264SliceHeader nonref = Slice(4, 0, false, 0);
  H264PocState::Result r;
  ASSERT_TRUE(state.Compute(sps, nonref, r));
  EXPECT_EQ(r.top, 7);
}

TEST(H264SyntaxTest, PocType0WrapsLsbIntoMsb) {
  H264Sps sps;
  sps.pic_order_cnt_type = 0;
  sps.log2_max_pic_order_cnt_lsb_minus4 = 0;  // MaxPicOrderCntLsb 16
  H264PocState state;
  const uint32_t lsbs[] = {0, 6, 12, 2, 8, 14, 4};
  const int expected[] = {0, 6, 12, 18, 24, 30, 36};
  for (int i = 0; i < 7; ++i) {
    H264SliceHeader sh = Slice(static_cast<uint32_t>(i), lsbs[i], i == 0, 1);
    H264PocState::Result r;
    ASSERT_TRUE(state.Compute(sps, sh, r));
    EXPECT_EQ(r.top, expected[i]) << "picture " << i;
    state.Commit(sps, sh, r);
  }
}

TEST(H264SyntaxTest, PocType1FollowsTheReferenceCycle) {
  H264Sps sps;
  sps.pic_order_cnt_type = 1;
  sps.num_ref_frames_in_pic_order_cnt_cycle = 1;
  sps.offset_for_ref_frame[0] = 4;
  sps.offset_for_non_ref_pic = -2;
  H264PocState state;
  const int expected[] = {0, 4, 8};
  for (uint32_t fn = 0; fn < 3; ++fn) {
    H264SliceHeader sh = Slice(fn, 0, fn == 0, 1);
    H264PocState::Result r;
    ASSERT_TRUE(state.Compute(sps, sh, r));
    EXPECT_EQ(r.top, expected[fn]);
    state.Commit(sps, sh, r);
  }
  H264PocState::Result r;
  ASSERT_TRUE(state.Compute(sps, Slice(3, 0, false, 0), r));
  EXPECT_EQ(r.top, 6);  // a non-reference picture: (3 - 1) * 4 - 2
}

TEST(H264SyntaxTest, UnknownPocTypeGivesZero) {
  H264Sps sps;
  sps.pic_order_cnt_type = 3;
  H264PocState state;
  H264PocState::Result r{5, 5};
  EXPECT_FALSE(state.Compute(sps, Slice(1, 3, false, 1), r));
  EXPECT_EQ(r.top, 0);
}

TEST(H264SyntaxTest, SeiMessagesAreSplitByTypeAndSize) {
  const std::vector<uint8_t> rbsp = {
      0x05, 0x03, 0xAA, 0xBB, 0xCC,  // user_data_unregistered, 3 bytes
      0x06, 0x01, 0x80,              // recovery_point, 1 byte
      0x80};                         // rbsp_trailing_bits
  std::vector<H264SeiMessage> out;
  ASSERT_TRUE(ParseSei(0x06, rbsp.data(), rbsp.size(), out));
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].payload_type, 5u);
  EXPECT_EQ(out[0].payload_size, 3u);
  EXPECT_EQ(out[1].payload_type, 6u);
  const std::vector<uint8_t> bad = {0x05, 0x20, 0x00};  // size beyond the unit
  out.clear();
  EXPECT_FALSE(ParseSei(0x06, bad.data(), bad.size(), out));
}

}  // namespace
}  // namespace fennik
