// `fennik-cli decode` on an H.264 elementary stream made by scripts/make-h264-streams.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "tests/codec/video/H264TestUtil.h"
#include "tests/codec/video/Md5.h"

namespace {

std::vector<char> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(DecodeH264CliTest, WritesVisiblePicturesAsY4m) {
  const std::string out = ::testing::TempDir() + "/fennik_h264_cli.y4m";
  const std::string in = std::string(FENNIK_TEST_DATA) + "/h264/odd_98x62.264";
  const std::string cmd = std::string(FENNIK_CLI_PATH) + " decode " + in + " -o " + out;
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  const auto y4m = ReadAll(out);
  ASSERT_GT(y4m.size(), 40u);
  const std::string header(y4m.begin(), std::find(y4m.begin(), y4m.end(), '\n'));
  EXPECT_EQ(header.rfind("YUV4MPEG2 W98 H62 F25:1", 0), 0u) << header;
  // 12 frames of "FRAME\n", 98x62 luma and two 49x31 chroma planes.
  const size_t frame_bytes = 6 + 98 * 62 + 2 * 49 * 31;
  EXPECT_EQ(y4m.size(), header.size() + 1 + 12 * frame_bytes);
  std::remove(out.c_str());
}

// 4:2:2 and 4:4:4 pictures keep their chroma planes: the Y4M header names the format and
// every frame's planes hash to ffmpeg's digest of the same picture.
TEST(DecodeH264CliTest, Y4mKeepsTheChromaFormat) {
  for (const auto& [name, tag] : {std::pair{"hi422_odd_200x120", "C422"}, std::pair{"hi444_odd_98x62", "C444"},
                                  std::pair{"mono_cavlc", "C420jpeg"}}) {
    const std::string out = ::testing::TempDir() + "/fennik_h264_" + name + ".y4m";
    const std::string base = std::string(FENNIK_TEST_DATA) + "/h264/" + name;
    const std::string cmd = std::string(FENNIK_CLI_PATH) + " decode " + base + ".264 -o " + out;
    ASSERT_EQ(std::system(cmd.c_str()), 0) << name;
    const auto y4m = ReadAll(out);
    const auto end = std::find(y4m.begin(), y4m.end(), '\n');
    const std::string header(y4m.begin(), end);
    EXPECT_NE(header.find(std::string(" ") + tag), std::string::npos) << header;
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
    std::remove(out.c_str());
  }
}

TEST(DecodeH264CliTest, ReportsMissingInputAndUsage) {
  const std::string out = ::testing::TempDir() + "/fennik_h264_none.y4m";
  const std::string missing = std::string(FENNIK_CLI_PATH) + " decode /nonexistent.264 -o " + out + " 2>/dev/null";
  EXPECT_EQ(WEXITSTATUS(std::system(missing.c_str())), 1);
  const std::string usage = std::string(FENNIK_CLI_PATH) + " decode 2>/dev/null";
  EXPECT_EQ(WEXITSTATUS(std::system(usage.c_str())), 2);
}

}  // namespace
