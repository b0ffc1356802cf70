// fennik-cli show on the iLBC capture (tests/data/ilbc/ilbc-sip-udp.pcap, made by
// scripts/make-ilbc-corpus): the unpacked parameters of a frame.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec/audio/ilbc/IlbcDecoder.h"
#include "tests/support/CaptureSupport.h"
#include "tests/support/TestSupport.h"

namespace fennik {
namespace {

using fennik::test::Cli;
using fennik::test::CommandRun;

const std::string kData = std::string(FENNIK_TEST_DATA) + "/ilbc/";
const std::string kCapture = kData + "ilbc-sip-udp.pcap";

std::string StreamId(uint16_t sourcePort) { return std::to_string(test::StreamFrom(kCapture, sourcePort).id); }

// Decoding the capture's streams through xcilbc_x64.so is compared with the decoder core in
// tests/codec/audio/ilbc/IlbcStreamTest.cpp; here the tool's view of a 20 ms frame.
TEST(IlbcCli, ShowsTheParametersOfA20msFrame) {
  CommandRun show = Cli("show " + kCapture + " --stream " + StreamId(28004) + " --frame 0");
  ASSERT_EQ(show.status, 0) << show.err;
  std::vector<uint8_t> first = test::ReadFileBytes(kData + "ilbc20.lbc");
  ilbc::FrameParams p;
  ASSERT_TRUE(ilbc::UnpackFrame(first.data() + 9, 38, 20, p));
  const size_t row = show.out.find(" Block Class ");
  ASSERT_NE(row, std::string::npos) << show.out;
  const std::string line = show.out.substr(row, show.out.find('\n', row) - row);
  EXPECT_EQ(line.substr(line.find_last_not_of(' ') ), std::to_string(p.start)) << line;
  EXPECT_NE(show.out.find("Quantized Residual State Samples [57]"), std::string::npos);
  EXPECT_EQ(show.out.find("Quantized Residual State Samples [58]"), std::string::npos);
  EXPECT_NE(show.out.find("15kbps"), std::string::npos);
}

}  // namespace
}  // namespace fennik
