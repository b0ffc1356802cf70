// fennik-cli extract on the committed H.264 + PCMU capture (tests/data/captures/
// h264-pcmu-sip-udp.pcap, made by scripts/make-extract-capture): AVI and raw output, the
// summary line, and the exit status of refused requests.
#include <gtest/gtest.h>

#include "tests/cli/CliRunner.h"
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fennik {
namespace {

using fennik::testing::Cli;
using fennik::testing::CliRun;

const std::string kCapture = std::string(FENNIK_TEST_DATA) + "/captures/h264-pcmu-sip-udp.pcap";

std::string OutName(const char* suffix) {
  return "/tmp/fennik-cli-extract-" + std::to_string(::getpid()) + suffix;
}

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(ExtractCommand, AviOfAudioAndVideo) {
  const std::string out = OutName(".avi");
  const CliRun r = Cli("extract " + kCapture + " --stream 1,2 --format avi -o " + out);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "196 packets, 89729 payload bytes, 50 video frames written to " + out + "\n");
  const std::vector<uint8_t> avi = ReadAll(out);
  ASSERT_GT(avi.size(), 89729u);
  EXPECT_EQ(std::string(avi.begin(), avi.begin() + 4), "RIFF");
  EXPECT_EQ(std::string(avi.begin() + 8, avi.begin() + 12), "AVI ");
  std::remove(out.c_str());
}

TEST(ExtractCommand, RawRangeOfOneStream) {
  const std::string out = OutName(".raw");
  // Packets 1 to 29 hold SIP and the first PCMU packets of stream 1.
  CliRun r = Cli("extract " + kCapture + " --stream 1 --start 1 --end 30 -o " + out);
  EXPECT_EQ(r.status, 0);
  const std::vector<uint8_t> part = ReadAll(out);
  EXPECT_GT(part.size(), 0u);
  EXPECT_EQ(part.size() % 160, 0u);
  r = Cli("extract " + kCapture + " --stream 1 --format raw -o " + out);
  EXPECT_EQ(r.status, 0);
  const std::vector<uint8_t> all = ReadAll(out);
  EXPECT_EQ(all.size(), 16000u);
  EXPECT_TRUE(std::equal(part.begin(), part.end(), all.begin()));
  std::remove(out.c_str());
}

TEST(ExtractCommand, RefusedRequests) {
  const std::string out = OutName(".bad");
  const struct {
    const char* arguments;
    int status;
  } cases[] = {
      {" --stream 1", 2},                                  // no -o
      {" --stream 1 --format mp4 -o OUT", 2},
      {" --stream 1,2,1 -o OUT", 2},
      {" --stream 1, -o OUT", 2},
      {" --stream x -o OUT", 2},
      {" -o OUT", 2},                                      // no --stream
      {" --stream 3 -o OUT", 1},                           // the capture has 2 streams
      {" --stream 1 --start 5 --end 5 -o OUT", 1},
      {" --stream 1 --start 100000 --end 100001 -o OUT", 1},
      {" --stream 1,1 --format avi -o OUT", 1},            // two audio streams in AVI
  };
  for (const auto& c : cases) {
    std::string arguments = c.arguments;
    if (const size_t at = arguments.find("OUT"); at != std::string::npos) arguments.replace(at, 3, out);
    SCOPED_TRACE(arguments);
    EXPECT_EQ(Cli("extract " + kCapture + arguments).status, c.status);
    EXPECT_TRUE(ReadAll(out).empty());
  }
  EXPECT_EQ(Cli("extract " + kCapture + " --stream 2 -o /dev/full").status, 1);
  EXPECT_EQ(Cli("extract " + kCapture + " --stream 2 -o /nonexistent-folder/x.264").status, 1);
  std::remove(out.c_str());
}

}  // namespace
}  // namespace fennik
