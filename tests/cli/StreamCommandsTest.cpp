// fennik-cli frames, show --stream --frame and decode --stream on committed captures
// (tests/data/sample.pcap: two PCMU directions of 150 packets, made with ffmpeg's RTP sender
// and tcpdump; see tests/data/captures/README.md).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec/audio/CG711_Decode.h"
#include "tests/support/CaptureSupport.h"
#include "tests/support/TestSupport.h"

namespace fennik {
namespace {

using test::Cli;
using test::CommandRun;
using test::ReadFileBytes;

const std::string kSample = test::TestData("sample.pcap");

// The RTP payload bytes of one stream of the sample, in packet order, read with the library.
std::vector<uint8_t> StreamPayload(uint32_t streamIndex) {
  const std::vector<test::CapturedStream> streams = test::CapturedStreams(kSample);
  std::vector<uint8_t> bytes;
  for (const auto& p : streams[streamIndex].payloads) bytes.insert(bytes.end(), p.begin(), p.end());
  return bytes;
}

int16_t Sample(const std::vector<uint8_t>& wav, size_t i) {
  return static_cast<int16_t>(wav[44 + 2 * i] | (wav[45 + 2 * i] << 8));
}

TEST(StreamCommands, FramesListsOneRowPerFrame) {
  CommandRun text = Cli("frames " + kSample + " --stream 2");
  ASSERT_EQ(text.status, 0);
  test::ExpectContains(text.out, {"  LIST OF AUDIO FRAME\n", "  Source Port",
      "          No.       ADDRESS       SIZE           TIME\n", "\n          149  0x"});
  EXPECT_EQ(text.out.find("\n          150  0x"), std::string::npos);
  EXPECT_NE(text.out.find("        160  00:00:02.980000\n"), std::string::npos);
  CommandRun json = Cli("frames " + kSample + " --stream 2 --json");
  ASSERT_EQ(json.status, 0);
  test::ExpectContains(json.out, {"{\"index\": 149, ", "\"size\": 160, \"time_us\": 2980000"});
}

TEST(StreamCommands, ShowFrameGivesTheCommonBlockAndTheSampleTable) {
  CommandRun r = Cli("show " + kSample + " --stream 1 --frame 3");
  ASSERT_EQ(r.status, 0);
  const std::vector<uint8_t> payload = StreamPayload(0);
  test::ExpectContains(r.out, {"  G.711 AUDIO INFORMATION\n",
      "Format                                                                G.711 (u-law)",
      "Sampling Frequency                                                    8kHz", "   No.   INPUT    OUTPUT\n"});
  // Row 1 of frame 3: the first byte of the fourth packet and its table value.
  const uint8_t code = payload[3 * 160];
  char row[64];
  std::snprintf(row, sizeof row, "      1  0x%02X     %6d\n", code, CG711_Decode::ULawValue(code));
  EXPECT_NE(r.out.find(row), std::string::npos) << row;
  EXPECT_EQ(Cli("show " + kSample + " --stream 1 --frame 150").status, 1);
}

TEST(StreamCommands, DecodeWritesTheTablesValuesAtTheStreamsRate) {
  const test::TempPath wavFile("decoded.wav");
  const std::string& out = wavFile.Path();
  ASSERT_EQ(Cli("decode " + kSample + " --stream 1 -o " + out).status, 0);
  const std::vector<uint8_t> wav = ReadFileBytes(out);
  const std::vector<uint8_t> payload = StreamPayload(0);
  ASSERT_EQ(payload.size(), 150u * 160);
  ASSERT_EQ(wav.size(), 44 + payload.size() * 2);
  EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");
  EXPECT_EQ(wav[22], 1);                         // mono
  EXPECT_EQ(wav[24] | (wav[25] << 8), 8000);     // sample rate
  for (size_t i = 0; i < payload.size(); ++i) {
    ASSERT_EQ(Sample(wav, i), CG711_Decode::ULawValue(payload[i]) * 4) << i;
  }
  // As played: stereo, every sample twice.
  ASSERT_EQ(Cli("decode " + kSample + " --stream 1 --as-played -o " + out).status, 0);
  const std::vector<uint8_t> played = ReadFileBytes(out);
  ASSERT_EQ(played.size(), 44 + payload.size() * 4);
  EXPECT_EQ(played[22], 2);
  for (size_t i = 0; i < payload.size(); ++i) {
    ASSERT_EQ(Sample(played, 2 * i), Sample(wav, i));
    ASSERT_EQ(Sample(played, 2 * i + 1), Sample(wav, i));
  }
}

TEST(StreamCommands, StreamsWithoutDecoderAndBadArgumentsAreRefused) {
  const std::string nosdp = std::string(FENNIK_TEST_DATA) + "/captures/g711a-g722-nosdp-nsec.pcap";
  test::ExpectRefusals({{"frames " + nosdp + " --stream 1", 1},  // PT 98 without SDP
                        {"frames " + kSample + " --stream 3", 1},
                        {"frames " + kSample, 2},
                        {"show " + kSample + " --stream 1", 2},
                        {"decode " + kSample + " --stream 1 -o /nonexistent/x.wav", 1},
                        {"decode " + kSample + " --stream 1 -o /dev/full", 1}});
}

}  // namespace
}  // namespace fennik
