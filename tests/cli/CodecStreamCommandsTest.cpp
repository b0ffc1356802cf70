// fennik-cli show --stream --frame and decode --stream on the G.726, G.722, DVI4 and L16
// captures (tests/data/captures/g726-sip-udp.pcap and g722-dvi4-l16-static.pcap, made by
// scripts/make-codec-captures with ffmpeg's RTP senders and an IMA test encoder). Rows of
// the information views are worked out here from the payload bytes; decoded WAV files are
// compared with the independent decodes in tests/data/captures/decoded/.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "codec/audio/CG722_Decode.h"
#include "codec/audio/CG726_Decode.h"
#include "codec/audio/ImaAdpcmTables.h"
#include "tests/support/CaptureSupport.h"
#include "tests/support/TestSupport.h"

namespace fennik {
namespace {

using test::Cli;
using test::CommandRun;

const std::string kCaptures = test::TestData("captures/");
const std::string kG726 = kCaptures + "g726-sip-udp.pcap";
const std::string kStatic = kCaptures + "g722-dvi4-l16-static.pcap";

std::string Show(const std::string& file, uint32_t id, uint32_t frame) {
  CommandRun r = Cli("show " + file + " --stream " + std::to_string(id) + " --frame " + std::to_string(frame));
  EXPECT_EQ(r.status, 0);
  return r.out;
}

// The line of `text` that starts with `start`.
std::string LineStarting(const std::string& text, const std::string& start) {
  size_t at = text.find("\n" + start);
  if (at == std::string::npos) return {};
  const size_t end = text.find('\n', at + 1);
  return text.substr(at + 1, end - at - 1);
}

// A line with each text starting at its column, trailing blanks dropped.
std::string Columns(std::initializer_list<std::pair<size_t, std::string>> cells) {
  std::string line;
  for (const auto& [column, text] : cells) {
    if (line.size() < column) line.resize(column, ' ');
    line.replace(column, text.size(), text);
  }
  return line;
}

std::string Num6(int value) {
  char text[16];
  std::snprintf(text, sizeof text, "%6d", value);
  return text;
}

// A non-negative value with thousands separators, as the field rows show values.
std::string Thousands(int value) {
  std::string digits = std::to_string(value);
  for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) digits.insert(at, ",");
  return digits;
}

std::string Bits(uint32_t value, int n) {
  std::string s;
  for (int b = n - 1; b >= 0; --b) s += (value >> b) & 1 ? '1' : '0';
  return s + "b";
}

TEST(CodecStreamCommands, ShowG726ListsTheStateOfEverySample) {
  // The callee of the 24 kbit/s call sends AAL2-G726-24: 3-bit code words from the most
  // significant bit of each octet down.
  const test::CapturedStream s = test::StreamFrom(kG726, 36014);
  const std::string text = Show(kG726, s.id, 3);
  test::ExpectContains(text, {"  G.726 AUDIO INFORMATION\n",
      "  Format                                                                AAL2-G.726\n",
      "  Frame size                                                            60 bytes\n",
      "  Bitrate                                                               24kbps\n",
      "  Samples                                                               160 samples\n",
      "  Timecode                                                               00:00:00.060000\n",
      "\n   No.   INPUT    OUTPUT   DQ       SE       YU       YL       Y        DMS      DML      TR    TDP\n"});
  // Frame 3 shown alone is decoded from the initial state (Y = YU = 544, YL = 34816, the
  // rest 0); its first code word is the top three bits of the frame's first octet.
  const std::vector<uint8_t>& frame = s.payloads[3];
  ASSERT_EQ(frame.size(), 60u);
  CG726_Decode decoder(true, 24000);
  std::vector<int16_t> pcm(160);
  ASSERT_EQ(decoder.Decode(frame.data(), frame.size(), pcm.data(), pcm.size() * 2), 320u);
  const G726SampleRecord& r = decoder.Records()[0];
  ASSERT_EQ(r.code, uint32_t(frame[0] >> 5));
  char row[160];
  std::snprintf(row, sizeof row, "      1  %s     %6d   %6d        0      544    34816      544        0        0     0     0\n",
                Bits(frame[0] >> 5, 3).c_str(), pcm[0], r.dq);
  EXPECT_NE(text.find(row), std::string::npos) << row;
  // 160 rows, the last one the last code word (low three bits of the last octet).
  const std::string last = LineStarting(text, "    160  ");
  EXPECT_EQ(last.substr(9, 4), Bits(frame[59] & 7, 3));
  EXPECT_EQ(LineStarting(text, "    161  "), "");
}

TEST(CodecStreamCommands, ShowG722AndDvi4AndL16) {
  {
    const test::CapturedStream s = test::StreamFrom(kStatic, 27000);
    const std::string text = Show(kStatic, s.id, 5);
    test::ExpectContains(text, {"  G.722 AUDIO INFORMATION\n",
        "  Sampling Frequency                                                    16kHz\n",
        "\n   No.   IHR      ILR        RL       RH       XOUT[0]  XOUT[1]\n"});
    // Octet 1: IH is its top two bits, IL the other six; the values from the decoder at
    // its initial state (frame 5 shown alone).
    const uint8_t octet = s.payloads[5][0];
    CG722_Decode decoder;
    int16_t out[2];
    ASSERT_EQ(decoder.Decode(&octet, 1, out, sizeof out), 4u);  // 16000 Hz: both outputs
    const G722OctetRecord& r = decoder.Records()[0];
    EXPECT_EQ(LineStarting(text, "      1  "),
              Columns({{6, "1"}, {9, Bits(octet >> 6, 2)}, {18, Bits(octet & 0x3F, 6)},
                       {29, Num6(r.rl)}, {38, Num6(r.rh)}, {47, Num6(r.xout[0])}, {56, Num6(r.xout[1])}}));
    EXPECT_NE(LineStarting(text, "    160  "), "");
    EXPECT_EQ(LineStarting(text, "    161  "), "");
  }
  {
    const test::CapturedStream s = test::StreamFrom(kStatic, 37004);
    const std::string text = Show(kStatic, s.id, 10);
    test::ExpectContains(text, {"  ADPCM AUDIO INFORMATION\n",
        "  Format                                                                ADPCM\n",
        "  Frame size                                                            84 bytes\n"});
    // The block header: predictor (big-endian), step index and its step size.
    const std::vector<uint8_t>& f = s.payloads[10];
    const int predictor = (f[0] << 8) | f[1];
    const int index = f[2];
    ASSERT_LE(index, 88);
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%04X", predictor);
    EXPECT_EQ(LineStarting(text, "   predictor"),
              Columns({{3, "predictor"}, {48, "16"}, {52, hex}, {72, Thousands(predictor)}}));
    std::snprintf(hex, sizeof hex, "0x%02X", index);
    EXPECT_EQ(LineStarting(text, "   step_index"),
              Columns({{3, "step_index"}, {49, "8"}, {52, hex}, {72, std::to_string(index)},
                       {96, "step = " + std::to_string(kImaStepSize[index])}}));
    // Sample 1 by the IMA rule: the high nibble of byte 4 applied to the header's state.
    const int nibble = f[4] >> 4;
    const int step = kImaStepSize[index];
    int diff = step >> 3;
    if (nibble & 4) diff += step;
    if (nibble & 2) diff += step >> 1;
    if (nibble & 1) diff += step >> 2;
    const int16_t first = static_cast<int16_t>(static_cast<int16_t>(predictor) + (nibble & 8 ? -diff : diff));
    EXPECT_NE(text.find("\n   No.   INPUT    OUTPUT\n"), std::string::npos);
    EXPECT_EQ(LineStarting(text, "      1  "), Columns({{6, "1"}, {9, Bits(nibble, 4)}, {18, Num6(first)}}));
  }
  {
    const test::CapturedStream s = test::StreamFrom(kStatic, 27002);
    const std::string text = Show(kStatic, s.id, 1);
    // The rows' layout and values: tests/codec/audio/CodecViewsTest.cpp; here the block of a
    // real stereo frame and a row for each of its sample pairs.
    test::ExpectContains(text, {"  LPCM AUDIO INFORMATION\n",
        "  Format                                                                Liner-PCM\n",
        "  Sampling Frequency                                                    44.100kHz\n",
        "\n   No.   CH(L)    CH(R)\n"});
    const std::vector<uint8_t>& f = s.payloads[1];
    char last[32];
    std::snprintf(last, sizeof last, "%7zu  ", f.size() / 4);
    EXPECT_NE(LineStarting(text, last), "");
  }
}

struct Wav {
  uint16_t channels;
  uint32_t rate;
  std::vector<int16_t> samples;
};

Wav Decode(const std::string& file, uint32_t id, const std::string& extra = "") {
  const test::TempPath out("decoded.wav");
  EXPECT_EQ(Cli("decode " + file + " --stream " + std::to_string(id) + " " + extra + " -o " + out.Path()).status, 0);
  const std::vector<uint8_t> wav = test::ReadFileBytes(out.Path());
  if (wav.size() < 44) return {};
  return {static_cast<uint16_t>(wav[22] | (wav[23] << 8)),
          static_cast<uint32_t>(wav[24] | (wav[25] << 8) | (wav[26] << 16)), test::Pcm16(wav, 44)};
}

std::vector<int16_t> Reference(const std::string& name) {
  return test::Pcm16(test::ReadFileBytes(kCaptures + "decoded/" + name), 0);
}

// The decoders' output for every codec of these captures is checked against independent
// decoders in tests/codec/audio/CodecStreamsTest.cpp; here what the tool adds: the WAV
// header of a stereo 44.1 kHz stream, and --as-played leaving stereo as it is.
TEST(CodecStreamCommands, DecodeKeepsAStereoStreamsRateAndChannels) {
  const test::CapturedStream s = test::StreamFrom(kStatic, 27002);
  const Wav wav = Decode(kStatic, s.id);
  EXPECT_EQ(wav.channels, 2);
  EXPECT_EQ(wav.rate, 44100u);
  EXPECT_EQ(wav.samples, Reference("g722-dvi4-l16-static.pcap.27002.ffmpeg.s16le"));
  const Wav played = Decode(kStatic, s.id, "--as-played");
  EXPECT_EQ(played.channels, 2);
  EXPECT_EQ(played.samples, wav.samples);
}

}  // namespace
}  // namespace fennik
