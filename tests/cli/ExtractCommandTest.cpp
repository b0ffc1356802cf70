// fennik-cli extract on the committed H.264 + PCMU capture (tests/data/captures/
// h264-pcmu-sip-udp.pcap, made by scripts/make-extract-capture): AVI and raw output, the
// summary line, and the exit status of refused requests.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

namespace fennik {
namespace {

using test::Cli;
using test::CommandRun;
using test::ReadFileBytes;

const std::string kCapture = test::TestData("captures/h264-pcmu-sip-udp.pcap");


TEST(ExtractCommand, AviOfAudioAndVideo) {
  const test::TempPath outFile("out.avi");
  const std::string& out = outFile.Path();
  const CommandRun r = Cli("extract " + kCapture + " --stream 1,2 --format avi -o " + out);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "196 packets, 89729 payload bytes, 50 video frames written to " + out + "\n");
  const std::vector<uint8_t> avi = ReadFileBytes(out);
  ASSERT_GT(avi.size(), 89729u);
  EXPECT_EQ(std::string(avi.begin(), avi.begin() + 4), "RIFF");
  EXPECT_EQ(std::string(avi.begin() + 8, avi.begin() + 12), "AVI ");
}

TEST(ExtractCommand, RawRangeOfOneStream) {
  const test::TempPath outFile("out.raw");
  const std::string& out = outFile.Path();
  // Packets 1 to 29 hold SIP and the first PCMU packets of stream 1.
  CommandRun r = Cli("extract " + kCapture + " --stream 1 --start 1 --end 30 -o " + out);
  EXPECT_EQ(r.status, 0);
  const std::vector<uint8_t> part = ReadFileBytes(out);
  EXPECT_GT(part.size(), 0u);
  EXPECT_EQ(part.size() % 160, 0u);
  r = Cli("extract " + kCapture + " --stream 1 --format raw -o " + out);
  EXPECT_EQ(r.status, 0);
  const std::vector<uint8_t> all = ReadFileBytes(out);
  EXPECT_EQ(all.size(), 16000u);
  EXPECT_TRUE(std::equal(part.begin(), part.end(), all.begin()));
}

TEST(ExtractCommand, RefusedRequests) {
  const test::TempPath outFile("out.bad");
  const std::string& out = outFile.Path();
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
      // The extractor's own refusals (tests/capture/ExtractTest.cpp) exit with 1.
      {" --stream 3 -o OUT", 1},                           // the capture has 2 streams
  };
  for (const auto& c : cases) {
    std::string arguments = c.arguments;
    if (const size_t at = arguments.find("OUT"); at != std::string::npos) arguments.replace(at, 3, out);
    SCOPED_TRACE(arguments);
    EXPECT_EQ(Cli("extract " + kCapture + arguments).status, c.status);
    EXPECT_TRUE(ReadFileBytes(out).empty());
  }
  EXPECT_EQ(Cli("extract " + kCapture + " --stream 2 -o /dev/full").status, 1);
}

}  // namespace
}  // namespace fennik
