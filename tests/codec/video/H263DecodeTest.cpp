// The H.263 decoder against ffmpeg's decode of the same elementary streams (streams and
// reference pictures made by tests/data/h263/make-fixtures; see the README there). The IDCTs
// differ, so every plane of every picture must reach 50 dB PSNR. Where ffmpeg's decoder is
// known to depart from its own encoder (OBMC), the pictures are also held against the source:
// each picture's luminance PSNR must equal the one the encoder reported for its reconstruction.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "codec/video/C263_Decode.h"
#include "tests/codec/video/H263TestUtil.h"

namespace fennik {
namespace {

using test::H263Fixture;
using test::MinPlanePsnr;
using test::PictureStarts;
using test::PlanePsnr;
using test::ReadH263File;

struct DecodeCase {
  const char* stream;
  const char* reference;
  int codec_type;
  uint32_t width, height;
  double min_psnr;
  const char* source = nullptr;        // the source pictures' luminance planes
  const char* encoder_psnr = nullptr;  // the encoder's luminance PSNR per picture, one a line
};

class H263DecodeFixtures : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(H263DecodeFixtures, EveryPictureMatchesFfmpeg) {
  const DecodeCase& c = GetParam();
  const std::vector<uint8_t> data = ReadH263File(H263Fixture(c.stream));
  const std::vector<uint8_t> ref = ReadH263File(H263Fixture(c.reference));
  ASSERT_FALSE(data.empty());
  const size_t picture_bytes = size_t{c.width} * c.height * 3 / 2;
  ASSERT_GT(ref.size(), 0u);
  ASSERT_EQ(ref.size() % picture_bytes, 0u);
  const std::vector<size_t> starts = PictureStarts(data, c.codec_type == kCodecTypeSorenson);
  ASSERT_EQ(starts.size(), ref.size() / picture_bytes);
  const std::vector<uint8_t> source = c.source ? ReadH263File(H263Fixture(c.source)) : std::vector<uint8_t>{};
  std::ifstream encoder_psnr(c.encoder_psnr ? H263Fixture(c.encoder_psnr) : std::string{});
  C263_Decode dec(c.codec_type);
  for (size_t i = 0; i < starts.size(); ++i) {
    const size_t end = i + 1 < starts.size() ? starts[i + 1] : data.size();
    ASSERT_EQ(dec.DecodePicture(data.data() + starts[i], end - starts[i], static_cast<uint32_t>(i)), 1) << "picture " << i;
    const CVideoFrame* f = dec.GetCurrentPicture();
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(f->Width(), c.width);
    ASSERT_EQ(f->Height(), c.height);
    const double psnr = MinPlanePsnr(*f, ref.data() + i * picture_bytes);
    if (std::getenv("H263_PRINT_PSNR")) std::printf("%s %zu %.2f\n", c.stream, i, psnr);
    EXPECT_GE(psnr, c.min_psnr) << c.stream << " picture " << i;
    if (!c.source) continue;
    double expected = 0;
    ASSERT_TRUE(encoder_psnr >> expected);
    ASSERT_GE(source.size(), (i + 1) * c.width * c.height);
    // The reported value has two decimals; the IDCT accounts for a few thousandths more.
    EXPECT_NEAR(PlanePsnr(f->Y(), f->LumaStride(), source.data() + i * c.width * c.height, c.width, c.height), expected, 0.01)
        << c.stream << " picture " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Streams, H263DecodeFixtures,
    ::testing::Values(DecodeCase{"base_sqcif.263", "base_sqcif.ref.yuv", kCodecTypeH263, 128, 96, 50.0},
                      DecodeCase{"plus_custom.263", "plus_custom.ref.yuv", kCodecTypeH263, 160, 112, 50.0},
                      DecodeCase{"sorenson.flv1", "sorenson.ref.yuv", kCodecTypeSorenson, 128, 96, 50.0},
                      // ffmpeg's decoder takes some right neighbours' vectors for OBMC before
                      // it has decoded them (see the README), so its pictures differ in a few
                      // blocks; the encoder's statistics hold the decoder to the exact result.
                      DecodeCase{"ap_sqcif.263", "ap_sqcif.ref.yuv", kCodecTypeH263, 128, 96, 49.0, "ap_sqcif.src.y",
                                 "ap_sqcif.enc-psnr"}),
    [](const ::testing::TestParamInfo<DecodeCase>& info) {
      std::string name = info.param.stream;
      for (char& ch : name)
        if (ch == '.') ch = '_';
      return name;
    });

}  // namespace
}  // namespace fennik
