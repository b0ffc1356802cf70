// L16 decoder: tests/data/audio/l16-stereo.s16be is ffmpeg's pcm_s16be encoding of the
// 44.1 kHz stereo test signal and l16-stereo.ref.s16le ffmpeg's decoding of it.
#include "codec/audio/CPCM_Decode.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tests/codec/audio/AudioTestData.h"

namespace fennik {
namespace {

using testdata::DecodeInFrames;
using testdata::LoadAudioFile;
using testdata::LoadPcm16;

TEST(PcmDecode, L16MatchesFfmpegExactly) {
  const std::vector<uint8_t> stream = LoadAudioFile("l16-stereo.s16be");
  const std::vector<int16_t> reference = LoadPcm16("l16-stereo.ref.s16le");
  ASSERT_EQ(stream.size(), 44100u);
  CPCM_Decode decoder;
  decoder.SetAudioFormat(44100, 16, 2, 0);
  // 20 ms of 44.1 kHz stereo = 3528 bytes per frame.
  EXPECT_EQ(DecodeInFrames(decoder, stream, 3528, 1), reference);
  EXPECT_EQ(decoder.Format().samples, (44100u % 3528u) / 4u);
  EXPECT_EQ(decoder.Records().size(), (44100u % 3528u) / 2u);
}

TEST(PcmDecode, OddLengthsCapacityAndByteOrder) {
  const uint8_t frame[5] = {0x12, 0x34, 0xFE, 0xDC, 0x99};  // two samples and a stray byte
  CPCM_Decode decoder;  // 16 bits, 2 channels, network order
  int16_t out[3] = {0, 0, 0x5555};
  EXPECT_EQ(decoder.Decode(frame, 5, out, sizeof out), 4u);
  EXPECT_EQ(out[0], 0x1234);
  EXPECT_EQ(out[1], static_cast<int16_t>(0xFEDC));
  EXPECT_EQ(out[2], 0x5555);
  EXPECT_EQ(decoder.Format().samples, 1u);  // one sample per channel
  EXPECT_EQ(decoder.Records(), (std::vector<int32_t>{0x1234, -0x124}));

  // Capacity cuts the frame.
  EXPECT_EQ(decoder.Decode(frame, 5, out, 3), 2u);

  decoder.SetHostByteOrder(true);
  EXPECT_EQ(decoder.Decode(frame, 4, out, sizeof out), 4u);
  int16_t host;
  std::memcpy(&host, frame, 2);
  EXPECT_EQ(out[0], host);
}

TEST(PcmDecode, EightBitPassesThroughAndWiderSamplesAreRefused) {
  const uint8_t frame[3] = {0x80, 0x7F, 0x01};
  CPCM_Decode decoder;
  decoder.SetAudioFormat(8000, 8, 1, 0);
  uint8_t out[4] = {0, 0, 0, 0xEE};
  EXPECT_EQ(decoder.Decode(frame, 3, reinterpret_cast<int16_t*>(out), 4), 3u);
  EXPECT_EQ(std::memcmp(out, frame, 3), 0);
  EXPECT_EQ(out[3], 0xEE);
  EXPECT_EQ(decoder.Records(), (std::vector<int32_t>{-128, 127, 1}));

  decoder.SetAudioFormat(8000, 24, 1, 0);
  int16_t wide[4];
  EXPECT_EQ(decoder.Decode(frame, 3, wide, sizeof wide), 0u);
  EXPECT_EQ(decoder.Decode(nullptr, 3, wide, sizeof wide), 0u);
}

}  // namespace
}  // namespace fennik
