// fennik-cli on the iLBC capture (tests/data/ilbc/ilbc-sip-udp.pcap, made by
// scripts/make-ilbc-corpus): the stream without fmtp mode (two 30 ms frames a packet) decodes
// through xcilbc_x64.so beside the program to what the decoder core gives for the sent
// frames, and `show` lists the unpacked parameters of the frame.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "capture/CRTP_Parser.h"
#include "codec/audio/ilbc/IlbcDecoder.h"
#include "tests/support/TestSupport.h"

namespace fennik {
namespace {

using fennik::test::Cli;
using fennik::test::CommandRun;

const std::string kData = std::string(FENNIK_TEST_DATA) + "/ilbc/";
const std::string kCapture = kData + "ilbc-sip-udp.pcap";

std::string StreamId(uint16_t sourcePort) {
  CRTP_Parser capture;
  EXPECT_EQ(capture.Open(kCapture), OpenResult::kOk);
  capture.Analyse(nullptr);
  for (uint32_t i = 0; i < capture.Streams().size(); ++i) {
    if (capture.Streams()[i].sourcePort == sourcePort) return std::to_string(i + 1);
  }
  return "0";
}

std::vector<uint8_t> Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(IlbcCli, DecodesThroughTheModuleAndShowsTheParameters) {
  const std::string cli = FENNIK_CLI_PATH;
  if (!std::ifstream(cli.substr(0, cli.rfind('/') + 1) + "xcilbc_x64.so")) GTEST_SKIP() << "module not built";
  const std::string wav = ::testing::TempDir() + "/ilbc_cli.wav";
  CommandRun r = Cli("decode " + kCapture + " --stream " + StreamId(28024) + " -o " + wav);
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<uint8_t> bytes = Read(wav);
  std::remove(wav.c_str());
  ASSERT_GT(bytes.size(), 44u);

  std::vector<uint8_t> frames = Read(kData + "ilbc30.lbc");
  frames.erase(frames.begin(), frames.begin() + 9);  // "#!iLBC30\n"
  ilbc::Decoder core(30);
  const size_t samples = (bytes.size() - 44) / 2;
  ASSERT_EQ(samples, 118u * 240);  // 59 packets of two frames
  int16_t pcm[240];
  for (size_t f = 0; f < samples / 240; ++f) {
    core.Decode(frames.data() + f * 50, 50, pcm);
    for (size_t i = 0; i < 240; ++i) {
      const size_t at = 44 + 2 * (f * 240 + i);
      ASSERT_EQ(static_cast<int16_t>(bytes[at] | (bytes[at + 1] << 8)), pcm[i]) << f << " " << i;
    }
  }

  CommandRun show = Cli("show " + kCapture + " --stream " + StreamId(28004) + " --frame 0");
  ASSERT_EQ(show.status, 0) << show.err;
  std::vector<uint8_t> first = Read(kData + "ilbc20.lbc");
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
