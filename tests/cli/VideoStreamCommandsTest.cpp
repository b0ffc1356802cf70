// fennik-cli frames, show, csv and decode on the H.264 RTP captures of
// tests/data/captures/h264/ (made by scripts/make-h264-captures: x264 streams sent by
// ffmpeg's RTP muxer and recorded by tcpdump; the README there has the commands).
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

namespace fennik {
namespace {

using fennik::test::Cli;

const std::string kDir = std::string(FENNIK_TEST_DATA) + "/captures/h264/";

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(VideoStreamCommands, FramesListsOneRowPerCodedPicture) {
  const auto r = Cli("frames " + kDir + "main-b-slices.pcap --stream 1");
  ASSERT_EQ(r.status, 0) << r.err;
  const auto lines = Lines(r.out);
  const auto title = std::find_if(lines.begin(), lines.end(), [](const std::string& l) {
    return l.find("SIZE  FRAME    POC  IPB IDR REF FLD SPS PPS") != std::string::npos;
  });
  ASSERT_NE(title, lines.end());
  EXPECT_EQ(lines.end() - title - 1, 100);
  // Frame 0: IDR I picture with SPS and PPS before it; frame 1: the P picture at POC 6.
  EXPECT_NE(title[1].find("0      0    I   *   *   F   *   *"), std::string::npos) << title[1];
  EXPECT_NE(title[2].find("1      6    P   -   *   F   -   -"), std::string::npos) << title[2];
  const auto json = Cli("frames " + kDir + "main-b-slices.pcap --stream 1 --json");
  ASSERT_EQ(json.status, 0);
  EXPECT_EQ(std::count(json.out.begin(), json.out.end(), '{'), 100);
  EXPECT_NE(json.out.find("\"type\": \"B\", \"idr\": false, \"ref\": false"), std::string::npos);
}

TEST(VideoStreamCommands, ShowPrintsSummaryAndSyntaxTree) {
  // Frame 26 is a P picture: its SPS and PPS come from the random-access frame 25.
  const auto r = Cli("show " + kDir + "high-8x8.pcap --stream 1 --frame 26");
  ASSERT_EQ(r.status, 0) << r.err;
  test::ExpectContains(r.out, {"H.264/AVC VIDEO INFORMATION", "Image Size (x,y)", "176 x 144", "High Profile",
                           "Entropy Coding_Mode", "CABAC", "SLICE HEADER", "first_mb_in_slice", "P slice",
                           "pic_order_cnt_lsb"});
  const auto idr = Cli("show " + kDir + "high-8x8.pcap --stream 1 --frame 25");
  test::ExpectContains(idr.out, {"SEQUENCE PARAMETER SET", "profile_idc", "VUI PARAMETERS", "PICTURE PARAMETER SET",
                           "transform_8x8_mode_flag", "coded slice of an IDR picture", "idr_pic_id",
                           "pic_parameter_set_id"});
  EXPECT_EQ(Cli("show " + kDir + "high-8x8.pcap --stream 1 --frame 100").status, 1);
  // x264 writes its settings as unregistered user data before the first picture.
  const auto first = Cli("show " + kDir + "baseline.pcap --stream 1 --frame 0");
  test::ExpectContains(first.out, {"SEI : USER DATA UNREGISTERED", "payload_size", "uuid_iso_iec_11578", "x264"});
}

TEST(VideoStreamCommands, CsvCarriesTheFrameColumnsOnAFramesFirstPacket) {
  const auto r = Cli("csv " + kDir + "baseline.pcap --stream 1");
  ASSERT_EQ(r.status, 0) << r.err;
  const auto lines = Lines(r.out);
  ASSERT_GT(lines.size(), 2u);
  EXPECT_NE(lines[1].find(",I,*,*,F,*,*"), std::string::npos) << lines[1];
}

// One picture through the RGB conversion equals the conversion of the full decode's picture
// (Baseline: output order is decoding order, so Y4M frame K is frame K).
TEST(VideoStreamCommands, DecodeFrameKAsPpmEqualsTheFullDecode) {
  const test::TempPath y4mFile("all.y4m"), ppmFile("k.ppm");
  const std::string &y4m = y4mFile.Path(), &ppm = ppmFile.Path();
  ASSERT_EQ(Cli("decode " + kDir + "baseline.pcap --stream 1 -o " + y4m).status, 0);
  const std::vector<uint8_t> all = test::ReadFileBytes(y4m);
  const std::string header = "YUV4MPEG2 W176 H144 ";
  ASSERT_EQ(std::string(all.begin(), all.begin() + static_cast<long>(header.size())), header);
  const size_t frameBytes = 176 * 144 * 3 / 2;
  const size_t first = std::find(all.begin(), all.end(), '\n') - all.begin() + 1;
  ASSERT_EQ((all.size() - first) % (6 + frameBytes), 0u);
  EXPECT_EQ((all.size() - first) / (6 + frameBytes), 100u);
  for (int k : {0, 30, 57}) {
    ASSERT_EQ(Cli("decode " + kDir + "baseline.pcap --stream 1 --frame " + std::to_string(k) + " -o " + ppm).status, 0);
    const std::vector<uint8_t> image = test::ReadFileBytes(ppm);
    const std::string ppmHeader = "P6\n176 144\n255\n";
    ASSERT_EQ(image.size(), ppmHeader.size() + 176 * 144 * 3);
    const uint8_t* yuv = all.data() + first + static_cast<size_t>(k) * (6 + frameBytes) + 6;
    const uint8_t* cb = yuv + 176 * 144;
    const uint8_t* cr = cb + 88 * 72;
    // BT.601 limited range, 20 fraction bits (the conversion's coefficients).
    auto clamp = [](int v, int lo, int hi) { return v < lo ? lo : v > hi ? hi : v; };
    int mismatches = 0;
    for (int y = 0; y < 144; ++y)
      for (int x = 0; x < 176; ++x) {
        const int64_t l = static_cast<int64_t>((clamp(yuv[y * 176 + x], 16, 235) - 16) * 1.164 * 1048576);
        const int u = clamp(cb[(y / 2) * 88 + x / 2], 16, 240) - 128, v = clamp(cr[(y / 2) * 88 + x / 2], 16, 240) - 128;
        const int r = clamp(static_cast<int>((l + static_cast<int64_t>(v * 1.596 * 1048576)) >> 20), 0, 255);
        const int g = clamp(static_cast<int>((l + static_cast<int64_t>(v * -0.813 * 1048576) +
                                              static_cast<int64_t>(u * -0.392 * 1048576)) >> 20), 0, 255);
        const int b = clamp(static_cast<int>((l + static_cast<int64_t>(u * 2.017 * 1048576)) >> 20), 0, 255);
        const uint8_t* px = image.data() + ppmHeader.size() + (y * 176 + x) * 3;
        mismatches += px[0] != r || px[1] != g || px[2] != b;
      }
    EXPECT_EQ(mismatches, 0) << "frame " << k;
  }
}

TEST(VideoStreamCommands, LossyCaptureDecodesToItsEnd) {
  const test::TempPath y4m("lossy.y4m");
  const auto r = Cli("decode " + kDir + "lossy.pcap --stream 1 -o " + y4m.Path());
  EXPECT_EQ(r.status, 0) << r.err;
}

}  // namespace
}  // namespace fennik

namespace fennik {
namespace {

const std::string kMp4vDir = std::string(FENNIK_TEST_DATA) + "/captures/mp4v/";

// MPEG-4 Visual (tests/data/captures/mp4v/, scripts/make-mp4v-captures): the frame list
// with its four columns, one frame's headers, and the CSV frame columns.
TEST(VideoStreamCommands, Mpeg4VisualFramesShowAndCsv) {
  const auto frames = Cli("frames " + kMp4vDir + "asp.pcap --stream 1");
  ASSERT_EQ(frames.status, 0) << frames.err;
  const auto lines = Lines(frames.out);
  const auto title = std::find_if(lines.begin(), lines.end(), [](const std::string& l) {
    return l.find("No.       ADDRESS       SIZE  IPB") != std::string::npos;
  });
  ASSERT_NE(title, lines.end());
  ASSERT_EQ(lines.end() - title - 1, 50);  // 50 VOPs
  EXPECT_EQ(title[1].back(), 'I');
  EXPECT_EQ(title[2].back(), 'P');
  EXPECT_EQ(title[3].back(), 'B');  // B-VOPs follow their future reference

  const auto json = Cli("frames " + kMp4vDir + "asp.pcap --stream 1 --json");
  ASSERT_EQ(json.status, 0) << json.err;
  EXPECT_NE(json.out.find("\"type\": \"I\", \"ref\": true, \"random_access\": true"), std::string::npos);

  const auto show = Cli("show " + kMp4vDir + "asp.pcap --stream 1 --frame 2");
  ASSERT_EQ(show.status, 0) << show.err;
  test::ExpectContains(show.out, {"B picture", "Video Object Layer", "quarter_sample", "quant_type",
                           "bidirectionally-predictive-coded (B)", "vop_fcode_backward"});

  const auto csv = Cli("csv " + kMp4vDir + "simple.pcap --stream 1");
  ASSERT_EQ(csv.status, 0) << csv.err;
  const auto rows = Lines(csv.out);
  ASSERT_GT(rows.size(), 2u);
  EXPECT_NE(rows[1].find(",I,"), std::string::npos) << rows[1];

  // decode: every picture as Y4M, one (random access) as PPM.
  const test::TempPath y4m("mp4v.y4m"), ppm("mp4v.ppm");
  ASSERT_EQ(Cli("decode " + kMp4vDir + "simple.pcap --stream 1 -o " + y4m.Path()).status, 0);
  const std::string video = test::ReadFileText(y4m.Path());
  EXPECT_EQ(video.rfind("YUV4MPEG2 W176 H144 ", 0), 0u);
  EXPECT_EQ(video.size(), video.find('\n') + 1 + 50 * (6 + 176 * 144 * 3 / 2));
  ASSERT_EQ(Cli("decode " + kMp4vDir + "simple.pcap --stream 1 --frame 20 -o " + ppm.Path()).status, 0);
  const std::string picture = test::ReadFileText(ppm.Path());
  EXPECT_EQ(picture.rfind("P6\n176 144\n255\n", 0), 0u);
  EXPECT_EQ(picture.size(), 15 + 176 * 144 * 3u);
}

}  // namespace
}  // namespace fennik
