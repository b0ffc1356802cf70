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

TEST(DecodeH264CliTest, ReportsMissingInputAndUsage) {
  const std::string out = ::testing::TempDir() + "/fennik_h264_none.y4m";
  const std::string missing = std::string(FENNIK_CLI_PATH) + " decode /nonexistent.264 -o " + out + " 2>/dev/null";
  EXPECT_EQ(WEXITSTATUS(std::system(missing.c_str())), 1);
  const std::string usage = std::string(FENNIK_CLI_PATH) + " decode 2>/dev/null";
  EXPECT_EQ(WEXITSTATUS(std::system(usage.c_str())), 2);
}

}  // namespace
