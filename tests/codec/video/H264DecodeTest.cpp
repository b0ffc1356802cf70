// C264_Decode: bit-exactness against ffmpeg on x264 streams (per-frame MD5 of the visible
// area in output order, committed by scripts/make-h264-streams), picture-buffer sizing and
// the behaviour on damaged input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <tuple>

#include "codec/video/C264_Decode.h"
#include "codec/video/kernels/H264Kernels.h"
#include "tests/codec/video/H264TestUtil.h"

namespace fennik {
namespace {

using test::DecodeToMd5;
using test::H264Fixture;
using test::MakeSps;
using test::ReadFileBytes;
using test::ReadFrameMd5;

void ExpectBitExact(const std::string& name) {
  const auto data = ReadFileBytes(H264Fixture(name + ".264"));
  const auto expected = ReadFrameMd5(H264Fixture(name + ".framemd5"));
  ASSERT_FALSE(data.empty()) << name;
  ASSERT_FALSE(expected.empty()) << name;
  C264_Decode dec;
  const auto got = DecodeToMd5(data, dec);
  ASSERT_EQ(got.size(), expected.size()) << name;
  for (size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i], expected[i]) << name << " frame " << i;
  EXPECT_EQ(dec.SliceErrors(), 0u) << name;
}

TEST(H264DecodeTest, IntraOnlyCavlc) { ExpectBitExact("intra_cavlc"); }
TEST(H264DecodeTest, BaselineWithSeveralSlicesPerPicture) { ExpectBitExact("baseline_slices"); }
TEST(H264DecodeTest, CavlcBSlicesTemporalDirect) { ExpectBitExact("main_cavlc_b"); }
TEST(H264DecodeTest, ConstrainedIntraPrediction) { ExpectBitExact("constrained_intra"); }
TEST(H264DecodeTest, OddSizeCavlcSpatialDirect) { ExpectBitExact("odd_98x62"); }
TEST(H264DecodeTest, IntraOnlyCabac) { ExpectBitExact("intra_cabac"); }
TEST(H264DecodeTest, CabacPSlices) { ExpectBitExact("main_cabac_p"); }
// B-pyramid with reference list reordering and memory_management_control_operation 1.
TEST(H264DecodeTest, CabacBPyramidSpatialDirectTwoSlices) { ExpectBitExact("main_bpyramid"); }
TEST(H264DecodeTest, CabacTemporalDirect) { ExpectBitExact("direct_temporal"); }
// direct_8x8_inference_flag 0: direct motion per co-located 4x4 block, spatial and temporal.
TEST(H264DecodeTest, DirectWithoutInferenceCabac) { ExpectBitExact("direct_4x4_cabac"); }
TEST(H264DecodeTest, DirectWithoutInferenceCavlc) { ExpectBitExact("direct_4x4_cavlc"); }
// Explicit weights in P slices (a fade) and implicit weights in B slices.
TEST(H264DecodeTest, WeightedPrediction) { ExpectBitExact("weighted"); }
TEST(H264DecodeTest, SixteenReferenceFrames) { ExpectBitExact("refs16"); }
TEST(H264DecodeTest, OddSizeCabacWithCropping) { ExpectBitExact("odd_200x120"); }
// High profile tools for 8-bit 4:2:0: 8x8 transform, intra 8x8, scaling matrices.
TEST(H264DecodeTest, HighIntra8x8) { ExpectBitExact("high_intra8x8"); }
TEST(H264DecodeTest, HighCabacTransform8x8) { ExpectBitExact("high_cabac"); }
TEST(H264DecodeTest, HighCavlcTransform8x8) { ExpectBitExact("high_cavlc"); }
TEST(H264DecodeTest, HighDefaultScalingMatrices) { ExpectBitExact("high_cqm_jvt"); }
TEST(H264DecodeTest, HighExplicitScalingMatrices) { ExpectBitExact("high_cqm_custom"); }
// Other chroma formats: 4:2:2 (2x4 chroma DC, 8x16 chroma prediction and edges), monochrome
// (grey chroma in the output), 4:4:4 (Cb and Cr coded like luma).
TEST(H264DecodeTest, High422Intra) { ExpectBitExact("hi422_intra"); }
TEST(H264DecodeTest, High422Cabac) { ExpectBitExact("hi422_cabac"); }
TEST(H264DecodeTest, High422Cavlc) { ExpectBitExact("hi422_cavlc"); }
TEST(H264DecodeTest, MonochromeCabac) { ExpectBitExact("mono_cabac"); }
TEST(H264DecodeTest, MonochromeCavlc) { ExpectBitExact("mono_cavlc"); }
TEST(H264DecodeTest, High444Intra) { ExpectBitExact("hi444_intra"); }
TEST(H264DecodeTest, High444Cabac) { ExpectBitExact("hi444_cabac"); }
TEST(H264DecodeTest, High444Cavlc) { ExpectBitExact("hi444_cavlc"); }
// I_PCM macroblocks next to Intra_16x16 ones in each chroma format: PCM samples, prediction
// from them, their CAVLC counts (16) and their deblocking at QP 0 (hand-made streams).
TEST(H264DecodeTest, PcmMonochrome) { ExpectBitExact("pcm_mono"); }
TEST(H264DecodeTest, Pcm420) { ExpectBitExact("pcm_420"); }
TEST(H264DecodeTest, Pcm422) { ExpectBitExact("pcm_422"); }
TEST(H264DecodeTest, Pcm444) { ExpectBitExact("pcm_444"); }
// The same with CABAC: the engine restarts after the samples.
TEST(H264DecodeTest, PcmCabacMonochrome) { ExpectBitExact("pcm_cabac_mono"); }
TEST(H264DecodeTest, PcmCabac420) { ExpectBitExact("pcm_cabac_420"); }
TEST(H264DecodeTest, PcmCabac422) { ExpectBitExact("pcm_cabac_422"); }
TEST(H264DecodeTest, PcmCabac444) { ExpectBitExact("pcm_cabac_444"); }
// Scaling matrices of 4:4:4 (twelve lists, the chroma 8x8 ones falling back to luma's) and
// 4:2:2; cropping and weighted prediction of chroma in both formats.
TEST(H264DecodeTest, High444ExplicitScalingMatrices) { ExpectBitExact("hi444_cqm_custom"); }
TEST(H264DecodeTest, High422DefaultScalingMatricesCavlc) { ExpectBitExact("hi422_cqm_jvt"); }
TEST(H264DecodeTest, High422OddSizeWeighted) { ExpectBitExact("hi422_odd_200x120"); }
TEST(H264DecodeTest, High444OddSizeImplicitWeights) { ExpectBitExact("hi444_odd_98x62"); }
// Field pictures (PAFF): field scans, field order counts, pairing fields into frames,
// alternating-parity reference lists, chroma offsets between fields, field deblocking.
TEST(H264DecodeTest, FieldPicturesIntra) { ExpectBitExact("paff_intra"); }
TEST(H264DecodeTest, FieldPicturesPCavlc) { ExpectBitExact("paff_p_cavlc"); }
// B field pictures: order-count reference lists, co-located fields, field order counts in
// temporal direct scaling and implicit weights.
TEST(H264DecodeTest, FieldPicturesBTemporalDirect) { ExpectBitExact("paff_b_cavlc"); }
TEST(H264DecodeTest, FieldPicturesBSpatialDirectImplicitWeights) { ExpectBitExact("paff_b_spatial"); }
// Frame and field pictures mixed: direct prediction of a field from a frame picture's
// co-located macroblock and of a frame from the nearer field of a field pair.
TEST(H264DecodeTest, FrameAndFieldPicturesTemporalDirect) { ExpectBitExact("paff_mixed_temporal"); }
TEST(H264DecodeTest, FrameAndFieldPicturesSpatialDirect) { ExpectBitExact("paff_mixed_spatial"); }
// Field pairs and MBAFF frames mixed: co-located MBAFF pairs of fields and co-located field
// pairs of frame and field macroblocks.
TEST(H264DecodeTest, FieldPairsAndMbaffFramesTemporalDirect) { ExpectBitExact("paff_mbaff_temporal"); }
TEST(H264DecodeTest, FieldPairsAndMbaffFramesSpatialDirect) { ExpectBitExact("paff_mbaff_spatial"); }
// Memory management on fields: one field of a frame unmarked, the other still a reference.
TEST(H264DecodeTest, FieldPicturesUnmarkOneField) { ExpectBitExact("paff_mmco"); }
// MBAFF frames: frame and field macroblock pairs with the neighbour derivation across pairs
// of either coding, field macroblock prediction from reference fields, and the deblocking of
// edges between frame and field macroblocks.
TEST(H264DecodeTest, MbaffCavlc) { ExpectBitExact("mbaff_cavlc"); }
TEST(H264DecodeTest, MbaffCabac) { ExpectBitExact("mbaff_cabac"); }
TEST(H264DecodeTest, MbaffBSpatialDirect) { ExpectBitExact("mbaff_b_spatial"); }
// Temporal direct between frame and field macroblocks and their co-located pairs.
TEST(H264DecodeTest, MbaffBTemporalDirect) { ExpectBitExact("mbaff_b_temporal"); }
TEST(H264DecodeTest, MbaffX264Defaults) { ExpectBitExact("mbaff_default"); }
TEST(H264DecodeTest, MbaffCroppedThreeSlices) { ExpectBitExact("mbaff_slices"); }
TEST(H264DecodeTest, MbaffCavlcBConstrainedIntra) { ExpectBitExact("mbaff_cavlc_b"); }
TEST(H264DecodeTest, Mbaff422) { ExpectBitExact("mbaff_422"); }
TEST(H264DecodeTest, Mbaff444) { ExpectBitExact("mbaff_444"); }
// Lossless macroblocks (transform bypass at QP 0), with the accumulated residual of
// horizontal and vertical intra prediction.
TEST(H264DecodeTest, Lossless444Cabac) { ExpectBitExact("lossless_444"); }
TEST(H264DecodeTest, Lossless420Cavlc) { ExpectBitExact("lossless_420_cavlc"); }

// The suite runs once per FENNIK_SIMD cap (tests/CMakeLists.txt): the kernels in use must be
// the level named, or the CPU's best when that is lower.
TEST(H264DecodeTest, KernelLevelFollowsTheSimdCap) {
  const char* cap = std::getenv("FENNIK_SIMD");
  if (cap == nullptr || *cap == '\0') GTEST_SKIP() << "FENNIK_SIMD not set";
  int named = -1;
  for (int i = 0; i <= static_cast<int>(SimdLevel::kAvx2); ++i)
    if (std::string(cap) == SimdLevelName(static_cast<SimdLevel>(i))) named = i;
  ASSERT_GE(named, 0) << "unknown FENNIK_SIMD level " << cap;
  EXPECT_EQ(ActiveSimdLevel(), std::min(static_cast<SimdLevel>(named), CpuSimdLevel()));
}

TEST(H264DecodeTest, PictureGeometryFollowsTheCoding) {
  // MBAFF frame: all 11 x 8 macroblocks, numbered in pairs; field picture: a field's 11 x 4.
  for (const auto& [name, count, mbaff] : {std::tuple<const char*, uint32_t, bool>{"mbaff_cavlc.264", 88, true},
                                           {"paff_p_cavlc.264", 44, false},
                                           {"high_cabac.264", 99, false}}) {
    const auto data = ReadFileBytes(H264Fixture(name));
    C264_Decode dec;
    DecodeToMd5(data, dec);
    const MacroblockGeometry g = dec.PictureGeometry();
    EXPECT_EQ(g.count, count) << name;
    EXPECT_EQ(g.mbaff, mbaff) << name;
    EXPECT_EQ(g.width, 176u) << name;
    // The macroblock under each macroblock's own position is itself.
    for (uint32_t i = 0; i < g.count; ++i) {
      uint32_t x, y;
      MacroblockToPixel(g, i, x, y);
      EXPECT_EQ(PixelToMacroblock(g, x, y), i) << name;
    }
  }
}

// Feeds an SPS built for level / size and returns the DPB size the decoder chose.
int DpbFor(uint32_t level, uint32_t w_mbs, uint32_t h_mbs, int max_dec_frame_buffering = -1) {
  C264_Decode dec;
  const auto sps = MakeSps(level, w_mbs, h_mbs, max_dec_frame_buffering);
  EXPECT_TRUE(dec.StoreSps(sps.data(), sps.size()));
  EXPECT_TRUE(dec.InitPictureBuffers(w_mbs * 16, h_mbs * 16, kPictureYuv420));
  return dec.DpbPictures();
}

TEST(H264DecodeTest, DpbSizedByLevel) {
  EXPECT_EQ(DpbFor(30, 45, 36), 5);       // 720x576 at level 3
  EXPECT_EQ(DpbFor(40, 120, 68), 4);      // 1920x1088 at level 4
  EXPECT_EQ(DpbFor(10, 11, 9), 4);        // QCIF at level 1
  EXPECT_EQ(DpbFor(10, 11, 9, 6), 6);     // the VUI's max_dec_frame_buffering wins
  EXPECT_EQ(DpbFor(10, 11, 9, 0), 1);     // 0 means 1
  // Unlisted level and a picture larger than the level's buffer: room for the reference
  // frame plus one.
  EXPECT_EQ(DpbFor(9, 11, 9), 2);
  EXPECT_EQ(DpbFor(10, 120, 68), 2);
}

TEST(H264DecodeTest, PictureSizeChangeKeepsEveryPicture) {
  // Two streams one after the other: QCIF, then 98x62. Pictures of the first size still
  // waiting for output when the size changes are output, not dropped.
  auto data = ReadFileBytes(H264Fixture("main_cavlc_b.264"));
  const auto second = ReadFileBytes(H264Fixture("odd_98x62.264"));
  data.insert(data.end(), second.begin(), second.end());
  auto expected = ReadFrameMd5(H264Fixture("main_cavlc_b.framemd5"));
  const auto expected2 = ReadFrameMd5(H264Fixture("odd_98x62.framemd5"));
  expected.insert(expected.end(), expected2.begin(), expected2.end());
  // Feed everything before taking any picture, as a caller that drains late would.
  C264_Decode dec;
  for (const NalSpan& u : SplitAnnexB(data.data(), data.size())) dec.DecodeNalUnit(data.data() + u.offset, u.size);
  dec.Flush();
  CVideoFrame frame;
  H264Crop crop;
  std::vector<std::string> got;
  while (dec.GetNextPicture(frame, &crop)) got.push_back(test::VisibleMd5(frame, crop));
  EXPECT_EQ(got, expected);
}

// Decodes a stream and returns its pictures' luma planes (visible area).
// The stream with the slices of each picture (counted from 0 in decoding order) cut to
// keep(picture, size) bytes; 0 drops the slice.
template <typename Keep>
std::vector<uint8_t> CutSlices(const std::vector<uint8_t>& clean, Keep keep) {
  std::vector<uint8_t> out;
  int picture = -1;
  for (const NalSpan& u : SplitAnnexB(clean.data(), clean.size())) {
    const uint8_t* nal = clean.data() + u.offset;
    const bool slice = (nal[0] & 0x1F) == 1 || (nal[0] & 0x1F) == 5;
    if (slice && (nal[1] & 0x80)) ++picture;  // first_mb_in_slice == 0
    const size_t size = slice ? keep(picture, u.size) : u.size;
    if (size == 0) continue;
    out.insert(out.end(), {0, 0, 0, 1});
    out.insert(out.end(), nal, nal + size);
  }
  return out;
}

std::vector<std::vector<uint8_t>> DecodeLuma(const std::vector<uint8_t>& data, C264_Decode& dec) {
  std::vector<std::vector<uint8_t>> out;
  CVideoFrame frame;
  H264Crop crop;
  auto take = [&]() {
    while (dec.GetNextPicture(frame, &crop)) {
      std::vector<uint8_t> luma;
      for (uint32_t y = 0; y < crop.height; ++y) {
        const uint8_t* row = frame.Y() + (crop.top + y) * frame.LumaStride() + crop.left;
        luma.insert(luma.end(), row, row + crop.width);
      }
      out.push_back(std::move(luma));
    }
  };
  for (const NalSpan& u : SplitAnnexB(data.data(), data.size())) {
    dec.DecodeNalUnit(data.data() + u.offset, u.size);
    take();
  }
  dec.Flush();
  take();
  return out;
}

TEST(H264DecodeTest, LostReferencePictureFillsTheFrameNumGap) {
  // main_cabac_p.264 without its seventh picture (a reference P picture): the gap in frame_num
  // is filled (8.2.5.2) and the following pictures still find their references.
  const auto clean = ReadFileBytes(H264Fixture("main_cabac_p.264"));
  const auto expected = ReadFrameMd5(H264Fixture("main_cabac_p.framemd5"));
  const auto damaged = CutSlices(clean, [](int picture, size_t size) { return picture == 6 ? 0 : size; });
  C264_Decode clean_dec, dec;
  const auto reference = DecodeLuma(clean, clean_dec);
  const auto got = DecodeLuma(damaged, dec);
  ASSERT_EQ(got.size(), expected.size() - 1);
  EXPECT_EQ(dec.SliceErrors(), 0u);
  for (size_t i = 0; i < 6; ++i) EXPECT_EQ(got[i], reference[i]) << "picture " << i;
  // Later pictures predict from the repeated picture: close to the undamaged ones.
  for (size_t i = 6; i < got.size(); ++i) {
    const auto& a = got[i];
    const auto& b = reference[i + 1];
    ASSERT_EQ(a.size(), b.size());
    long diff = 0;
    for (size_t k = 0; k < a.size(); ++k) diff += std::abs(a[k] - b[k]);
    EXPECT_LT(static_cast<double>(diff) / static_cast<double>(a.size()), 8.0) << "picture " << i;
  }
}

TEST(H264DecodeTest, LostFieldPairFillsTheFrameNumGap) {
  // paff_p_cavlc.264 without its fourth frame (two field pictures): the missing frame_num is
  // filled with a frame whose fields both serve as references; the rest still decodes.
  const auto clean = ReadFileBytes(H264Fixture("paff_p_cavlc.264"));
  const auto expected = ReadFrameMd5(H264Fixture("paff_p_cavlc.framemd5"));
  std::vector<uint8_t> damaged;
  int field = -1;
  for (const NalSpan& u : SplitAnnexB(clean.data(), clean.size())) {
    const uint8_t* nal = clean.data() + u.offset;
    const int type = nal[0] & 0x1F;
    const bool slice = type == 1 || type == 5;
    if (slice && (nal[1] & 0x80)) ++field;  // first_mb_in_slice == 0
    if (slice && field / 2 == 3) continue;
    damaged.insert(damaged.end(), {0, 0, 0, 1});
    damaged.insert(damaged.end(), nal, nal + u.size);
  }
  C264_Decode dec;
  const auto got = DecodeToMd5(damaged, dec);
  EXPECT_EQ(dec.SliceErrors(), 0u);
  ASSERT_EQ(got.size(), expected.size() - 1);
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(got[i], expected[i]) << "frame " << i;
}

TEST(H264DecodeTest, MacroblocksOfALostSliceAreBlack) {
  // baseline_slices.264 without a later slice of its last picture: the picture buffer is a
  // reused one, yet the lost slice's macroblocks come out black, not as an older picture.
  const auto clean = ReadFileBytes(H264Fixture("baseline_slices.264"));
  std::vector<std::pair<size_t, size_t>> slices;  // offset and size of each later slice
  for (const NalSpan& u : SplitAnnexB(clean.data(), clean.size())) {
    const uint8_t type = clean[u.offset] & 0x1F;
    if ((type == 1 || type == 5) && !(clean[u.offset + 1] & 0x80)) slices.emplace_back(u.offset, u.size);
  }
  ASSERT_FALSE(slices.empty());
  std::vector<uint8_t> damaged(clean.begin(), clean.begin() + static_cast<long>(slices.back().first));
  damaged.insert(damaged.end(), clean.begin() + static_cast<long>(slices.back().first + slices.back().second), clean.end());
  C264_Decode clean_dec, dec;
  const auto reference = DecodeLuma(clean, clean_dec);
  const auto got = DecodeLuma(damaged, dec);
  ASSERT_EQ(got.size(), reference.size());
  const auto black = [](const std::vector<uint8_t>& p) { return std::count(p.begin(), p.end(), uint8_t{16}); };
  EXPECT_GE(black(got.back()), black(reference.back()) + 256);
}

TEST(H264DecodeTest, NothingDecodedWithoutParameterSets) {
  auto data = ReadFileBytes(H264Fixture("intra_cavlc.264"));
  // Drop the SPS and PPS: slices refer to missing parameter sets.
  std::vector<uint8_t> slices_only;
  for (const NalSpan& u : SplitAnnexB(data.data(), data.size())) {
    const int type = data[u.offset] & 0x1F;
    if (type == 7 || type == 8) continue;
    slices_only.insert(slices_only.end(), {0, 0, 0, 1});
    slices_only.insert(slices_only.end(), data.begin() + static_cast<long>(u.offset),
                       data.begin() + static_cast<long>(u.offset + u.size));
  }
  C264_Decode dec;
  EXPECT_TRUE(DecodeToMd5(slices_only, dec).empty());
  EXPECT_GT(dec.SliceErrors(), 0u);
}

TEST(H264DecodeTest, TruncatedStreamKeepsDecodedPictures) {
  auto data = ReadFileBytes(H264Fixture("baseline_slices.264"));
  const auto expected = ReadFrameMd5(H264Fixture("baseline_slices.framemd5"));
  data.resize(data.size() / 2);
  C264_Decode dec;
  const auto got = DecodeToMd5(data, dec);
  ASSERT_GE(got.size(), 2u);
  ASSERT_LE(got.size(), expected.size());
  // Pictures before the cut are still exact.
  EXPECT_EQ(got[0], expected[0]);
  EXPECT_EQ(got[1], expected[1]);
}

TEST(H264DecodeTest, CutCabacSliceIsReportedAndEarlierPicturesStayExact) {
  // The slice of the fourth picture of main_cabac_p.264 cut to half its length: the engine
  // runs out of slice data inside a macroblock's residual.
  const auto clean = ReadFileBytes(H264Fixture("main_cabac_p.264"));
  const auto expected = ReadFrameMd5(H264Fixture("main_cabac_p.framemd5"));
  const auto damaged = CutSlices(clean, [](int picture, size_t size) { return picture == 3 ? size / 2 : size; });
  C264_Decode dec;
  const auto got = DecodeToMd5(damaged, dec);
  EXPECT_GT(dec.SliceErrors(), 0u);
  ASSERT_GE(got.size(), 4u);
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(got[i], expected[i]) << "picture " << i;
  EXPECT_NE(got[3], expected[3]);
}

TEST(H264DecodeTest, CorruptedSlicesNeitherCrashNorStopDecoding) {
  const auto clean = ReadFileBytes(H264Fixture("main_cavlc_b.264"));
  const auto expected = ReadFrameMd5(H264Fixture("main_cavlc_b.framemd5"));
  for (unsigned seed = 1; seed <= 8; ++seed) {
    auto data = clean;
    std::srand(seed);
    // Damage bytes after the parameter sets (and the first picture).
    for (int i = 0; i < 40; ++i) {
      const size_t pos = data.size() / 4 + static_cast<size_t>(std::rand()) % (data.size() * 3 / 4);
      data[pos] = static_cast<uint8_t>(std::rand());
    }
    C264_Decode dec;
    const auto got = DecodeToMd5(data, dec);
    ASSERT_FALSE(got.empty()) << "seed " << seed;
    EXPECT_EQ(got[0], expected[0]) << "seed " << seed;
    EXPECT_LE(got.size(), expected.size() + 8) << "seed " << seed;
  }
}

TEST(H264DecodeTest, CorruptedStreamsOfEveryCodingDecodeToTheEnd) {
  // Field pictures, MBAFF frames, 4:2:2 / 4:4:4 and CABAC I_PCM streams with damaged bytes:
  // decoding goes on to the end, every picture is output at most once per coded frame and
  // the undamaged start stays exact.
  for (const char* name : {"paff_b_cavlc", "mbaff_default", "mbaff_422", "hi422_cabac", "hi444_cavlc", "pcm_cabac_420"}) {
    const auto clean = ReadFileBytes(H264Fixture(std::string(name) + ".264"));
    const auto expected = ReadFrameMd5(H264Fixture(std::string(name) + ".framemd5"));
    ASSERT_FALSE(clean.empty()) << name;
    for (unsigned seed = 1; seed <= 4; ++seed) {
      auto data = clean;
      std::srand(seed);
      const size_t from = data.size() * 3 / 5;
      for (int i = 0; i < 30; ++i) data[from + static_cast<size_t>(std::rand()) % (data.size() - from)] = static_cast<uint8_t>(std::rand());
      C264_Decode dec;
      const auto got = DecodeToMd5(data, dec);
      ASSERT_FALSE(got.empty()) << name << " seed " << seed;
      EXPECT_EQ(got[0], expected[0]) << name << " seed " << seed;
      EXPECT_LE(got.size(), expected.size() + 8) << name << " seed " << seed;
    }
  }
}

TEST(H264DecodeTest, UnknownNalUnitIsSkippedAndEndOfStreamEndsTheCall) {
  const auto data = ReadFileBytes(H264Fixture("intra_cavlc.264"));
  const auto expected = ReadFrameMd5(H264Fixture("intra_cavlc.framemd5"));
  // An access unit: SPS, PPS, a STAP-A header (type 24) and the first IDR picture.
  const auto units = SplitAnnexB(data.data(), data.size());
  std::vector<uint8_t> au;
  int slices = 0;
  for (const NalSpan& u : units) {
    const int type = data[u.offset] & 0x1F;
    if (type == 5 && slices++ > 0) break;
    if (type == 5) au.insert(au.end(), {0, 0, 0, 1, 0x18, 0x00, 0x02, 0x09, 0xF0});
    au.insert(au.end(), {0, 0, 0, 1});
    au.insert(au.end(), data.begin() + static_cast<long>(u.offset), data.begin() + static_cast<long>(u.offset + u.size));
  }
  const size_t before_eos = au.size();
  au.insert(au.end(), {0, 0, 0, 1, 0x0B, 0, 0, 0, 1, 0x09, 0x10});  // end of stream, then an AUD
  C264_Decode dec;
  EXPECT_EQ(dec.Decode(au.data(), static_cast<uint32_t>(au.size()), 0), before_eos + 5);
  dec.Flush();
  CVideoFrame frame;
  H264Crop crop;
  ASSERT_TRUE(dec.GetNextPicture(frame, &crop));
  EXPECT_EQ(test::VisibleMd5(frame, crop), expected[0]);
  EXPECT_EQ(crop.width, 176u);
  EXPECT_FALSE(dec.GetNextPicture(frame, &crop));
}

// Counts what the decoder reports to its owning stream.
class CountingDecoder : public C264_Decode {
 public:
  int sps = 0, pps = 0, slices = 0, frames = 0;
  int OnSpsParsed(const H264Sps&) override { return ++sps; }
  int OnPpsParsed(const H264Pps&) override { return ++pps; }
  int OnSliceHeaderParsed(const H264SliceHeader&) override { return ++slices; }
  int OnFrameStart(uint32_t) override { return ++frames; }
};

TEST(H264DecodeTest, LengthPrefixedInputWithFuAFragments) {
  const auto data = ReadFileBytes(H264Fixture("intra_cavlc.264"));
  const auto expected = ReadFrameMd5(H264Fixture("intra_cavlc.framemd5"));
  // The first access unit in 4-byte length-prefixed form, its IDR slice cut into FU-A
  // fragments of 1000 bytes (RFC 6184 5.8).
  std::vector<uint8_t> au;
  auto put_unit = [&](const uint8_t* p, size_t n) {
    for (int shift = 24; shift >= 0; shift -= 8) au.push_back(static_cast<uint8_t>(n >> shift));
    au.insert(au.end(), p, p + n);
  };
  for (const NalSpan& u : SplitAnnexB(data.data(), data.size())) {
    const uint8_t* nal = data.data() + u.offset;
    const int type = nal[0] & 0x1F;
    if (type != 5) {
      put_unit(nal, u.size);
      continue;
    }
    for (size_t pos = 1; pos < u.size; pos += 1000) {
      const size_t n = std::min<size_t>(1000, u.size - pos);
      std::vector<uint8_t> fu = {static_cast<uint8_t>((nal[0] & 0xE0) | 28),
                                 static_cast<uint8_t>((pos == 1 ? 0x80 : 0) | (pos + n == u.size ? 0x40 : 0) | type)};
      fu.insert(fu.end(), nal + pos, nal + pos + n);
      put_unit(fu.data(), fu.size());
    }
    break;
  }
  CountingDecoder dec;
  dec.SetLengthPrefixed(true);
  EXPECT_EQ(dec.Decode(au.data(), static_cast<uint32_t>(au.size()), 7), 0u);
  dec.Flush();
  CVideoFrame frame;
  H264Crop crop;
  ASSERT_TRUE(dec.GetNextPicture(frame, &crop));
  EXPECT_EQ(test::VisibleMd5(frame, crop), expected[0]);
  EXPECT_EQ(frame.frame_number, 7u);
  EXPECT_EQ(dec.sps, 1);
  EXPECT_EQ(dec.pps, 1);
  EXPECT_EQ(dec.slices, 1);
  EXPECT_EQ(dec.frames, 1);
}

TEST(H264DecodeTest, DecodeWithoutSpsConsumesInput) {
  const std::vector<uint8_t> junk = {0, 0, 0, 1, 0x65, 0x88, 0x84, 0x00, 0x10};
  C264_Decode dec;
  EXPECT_EQ(dec.Decode(junk.data(), static_cast<uint32_t>(junk.size()), 0), junk.size());
  CVideoFrame frame;
  EXPECT_FALSE(dec.GetNextPicture(frame));
}

}  // namespace
}  // namespace fennik
