// IMA-ADPCM (DVI4) decoder on hand-made frames: the block header, the predictor's 16-bit
// wrap, frame sizes and capacity. Whole frames of a test encoder decode to its reconstruction
// in tests/codec/audio/CodecStreamsTest.cpp (Dvi4FramesDecodeToTheEncodersReconstruction).
#include "codec/audio/CADPCM_Decode.h"

#include <gtest/gtest.h>

#include <vector>

namespace fennik {
namespace {

TEST(AdpcmDecode, HeaderIsUnsignedBigEndianAndTheStepIndexIsLimited) {
  // Predictor 0xFF9C (-100 as 16 bits), step index 200 (used as 88, step 32767), reserved.
  const uint8_t frame[5] = {0xFF, 0x9C, 200, 0xAA, 0x08};
  Dvi4Header header;
  ASSERT_TRUE(ParseDvi4Header(frame, sizeof frame, header));
  EXPECT_EQ(header.predictor, 0xFF9Cu);
  EXPECT_EQ(header.stepIndex, 200);
  EXPECT_EQ(header.step, 32767);
  EXPECT_FALSE(ParseDvi4Header(frame, 3, header));

  CADPCM_Decode decoder;
  int16_t out[2];
  ASSERT_EQ(decoder.Decode(frame, sizeof frame, out, sizeof out), 4u);
  // High nibble 0: +step/8 = +4095, and the index drops to 87 (step 29794). Low nibble 8
  // (minus, magnitude 0): −29794/8.
  EXPECT_EQ(out[0], -100 + 4095);
  EXPECT_EQ(out[1], -100 + 4095 - (29794 >> 3));
  ASSERT_EQ(decoder.Records().size(), 2u);
  EXPECT_EQ(decoder.Records()[0].nibble, 0u);
  EXPECT_EQ(decoder.Records()[1].nibble, 8u);
  EXPECT_EQ(decoder.Records()[1].output, out[1]);
}

TEST(AdpcmDecode, PredictorWrapsModulo65536) {
  // Predictor 32000, step index 88: nibble 7 adds 32767/8 + 32767 + 16383 + 8191 = 61436,
  // which leaves the 16-bit range; the output is the low 16 bits, not a clamped 32767.
  const uint8_t up[5] = {0x7D, 0x00, 88, 0, 0x70};
  CADPCM_Decode decoder;
  int16_t out[2];
  ASSERT_EQ(decoder.Decode(up, sizeof up, out, sizeof out), 4u);
  EXPECT_EQ(out[0], static_cast<int16_t>((32000 + 61436) & 0xFFFF));
  // And down through −32768 the same way (0x8000 is −32768; nibble F subtracts 61436).
  const uint8_t down[5] = {0x80, 0x00, 88, 0, 0xF0};
  ASSERT_EQ(decoder.Decode(down, sizeof down, out, sizeof out), 4u);
  EXPECT_EQ(out[0], static_cast<int16_t>((0x8000 - 61436) & 0xFFFF));
  // A long frame of maximal steps never overflows the predictor (UBSan would say so).
  std::vector<uint8_t> longFrame(60000, 0x77);
  longFrame[0] = 0x7F;
  longFrame[2] = 88;
  std::vector<int16_t> longOut(120000);
  EXPECT_EQ(decoder.Decode(longFrame.data(), longFrame.size(), longOut.data(), 240000), 239984u);
}

TEST(AdpcmDecode, FrameSizesAndCapacity) {
  std::vector<uint8_t> frame(84, 0x31);
  frame[2] = 10;
  CADPCM_Decode decoder;
  int16_t out[160];
  EXPECT_EQ(decoder.Decode(frame.data(), 84, out, sizeof out), 320u);
  EXPECT_EQ(decoder.Decode(frame.data(), 4, out, sizeof out), 0u);
  EXPECT_EQ(decoder.Format().samples, 0u);
  EXPECT_EQ(decoder.Decode(frame.data(), 3, out, sizeof out), 0u);
  EXPECT_EQ(decoder.Decode(nullptr, 84, out, sizeof out), 0u);
  // Room for three samples: only whole bytes (two samples) are decoded.
  int16_t small[4] = {0, 0, 0, 0x1234};
  EXPECT_EQ(decoder.Decode(frame.data(), 84, small, 6), 4u);
  EXPECT_EQ(small[2], 0);
  EXPECT_EQ(decoder.Records().size(), 2u);
  // Every frame is self-contained: the same frame decodes the same after any other.
  int16_t again[160];
  decoder.Decode(frame.data(), 84, out, sizeof out);
  const uint8_t other[6] = {0x12, 0x34, 40, 0, 0x77, 0x77};
  decoder.Decode(other, sizeof other, again, sizeof again);
  decoder.Decode(frame.data(), 84, again, sizeof again);
  EXPECT_EQ(std::vector<int16_t>(out, out + 160), std::vector<int16_t>(again, again + 160));
}

}  // namespace
}  // namespace fennik
