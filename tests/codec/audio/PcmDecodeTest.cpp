// L16 decoder on hand-made frames: byte order, odd lengths, capacity and 8-bit samples. A
// captured 44.1 kHz stereo stream decodes as ffmpeg decodes it in
// tests/codec/audio/CodecStreamsTest.cpp.
#include "codec/audio/CPCM_Decode.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace fennik {
namespace {

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
