// `fennik-cli decode` on an H.264 elementary stream made by scripts/make-h264-streams.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/codec/video/H264TestUtil.h"
#include "tests/codec/video/Md5.h"
#include "tests/support/TestSupport.h"

namespace {

using fennik::test::Cli;

std::vector<char> ReadAll(const std::string& path) {
  const std::vector<uint8_t> bytes = fennik::test::ReadFileBytes(path);
  return std::vector<char>(bytes.begin(), bytes.end());
}

// 4:2:0, 4:2:2 and 4:4:4 pictures keep their size and chroma planes: the Y4M header names them
// and every frame's planes hash to ffmpeg's digest of the same picture.
TEST(DecodeH264CliTest, Y4mKeepsTheChromaFormat) {
  for (const auto& [name, expectedHeader] :
       {std::pair{"hi422_odd_200x120", "YUV4MPEG2 W200 H120 F25:1 Ip A1:1 C422"},
        std::pair{"hi444_odd_98x62", "YUV4MPEG2 W98 H62 F25:1 Ip A1:1 C444"},
        std::pair{"mono_cavlc", "YUV4MPEG2 W176 H144 F25:1 Ip A1:1 C420jpeg"}}) {
    const fennik::test::TempPath outFile("out.y4m");
    const std::string& out = outFile.Path();
    const std::string base = fennik::test::H264Fixture(name);
    ASSERT_EQ(Cli("decode " + base + ".264 -o " + out).status, 0) << name;
    const auto y4m = ReadAll(out);
    const auto end = std::find(y4m.begin(), y4m.end(), '\n');
    const std::string header(y4m.begin(), end);
    EXPECT_EQ(header, expectedHeader);
    const std::vector<std::string> expected = fennik::test::ReadFrameMd5(base + ".framemd5");
    ASSERT_FALSE(expected.empty()) << name;
    // Frames follow "FRAME\n" markers and are all the same size.
    const size_t body = y4m.size() - header.size() - 1;
    ASSERT_EQ(body % expected.size(), 0u) << name;
    const size_t frameBytes = body / expected.size() - 6;
    for (size_t i = 0; i < expected.size(); ++i) {
      const char* frame = y4m.data() + header.size() + 1 + i * (frameBytes + 6);
      ASSERT_EQ(std::string(frame, 6), "FRAME\n") << name << " frame " << i;
      fennik::test::Md5 md5;
      md5.Update(reinterpret_cast<const uint8_t*>(frame + 6), frameBytes);
      EXPECT_EQ(md5.HexDigest(), expected[i]) << name << " frame " << i;
    }
  }
}

TEST(DecodeH264CliTest, ReportsMissingInputAndUsage) {
  const fennik::test::TempPath out("none.y4m");
  fennik::test::ExpectRefusals({{"decode /nonexistent.264 -o " + out.Path(), 1}, {"decode", 2}});
}

}  // namespace
