// G.722 decoder against ffmpeg: tests/data/audio/g722.g722 is ffmpeg's G.722 encoding of a
// 16 kHz test signal and g722.ref.s16le ffmpeg's decoding of it (scripts/make-audio-vectors).
// (A stream at static payload type 9, RTP clock 8000 Hz, decoding to 16 kHz is checked in
// tests/codec/audio/CodecStreamsTest.cpp.)
#include "codec/audio/CG722_Decode.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "tests/codec/audio/AudioTestData.h"

namespace fennik {
namespace {

using testdata::DecodeInFrames;
using testdata::LoadAudioFile;
using testdata::LoadPcm16;

// The sub-band decoders and the QMF sums are identical to ffmpeg's. The output differs in
// the last bit only: this decoder limits the receive QMF's result to the 15-bit scale of the
// sub-band signals and doubles it to 16 bits, so every output is even, while ffmpeg keeps
// one more bit of the filter sum.
TEST(G722Decode, EqualsFfmpegAt16kHzUpToTheQmfOutputsLastBit) {
  const std::vector<uint8_t> codes = LoadAudioFile("g722.g722");
  const std::vector<int16_t> reference = LoadPcm16("g722.ref.s16le");
  ASSERT_EQ(codes.size(), 8000u);
  ASSERT_EQ(reference.size(), 16000u);

  CG722_Decode decoder;
  ASSERT_EQ(decoder.Format().sampleRate, 16000u);
  const std::vector<int16_t> decoded = DecodeInFrames(decoder, codes, 160);  // 20 ms frames
  ASSERT_EQ(decoded.size(), reference.size());
  size_t lastBitDifferences = 0;
  for (size_t i = 0; i < decoded.size(); ++i) {
    ASSERT_EQ(decoded[i], static_cast<int16_t>(reference[i] & ~1)) << "sample " << i;
    if (decoded[i] != reference[i]) ++lastBitDifferences;
  }
  // The reference really does carry that bit (about half its samples are odd).
  EXPECT_GT(lastBitDifferences, decoded.size() / 4);
}

TEST(G722Decode, RecordsAndCapacity) {
  const uint8_t octets[3] = {0xC5, 0x3F, 0x80};  // IH 11b IL 000101b; 00b 111111b; 10b 000000b
  CG722_Decode decoder;
  int16_t out[6] = {};
  ASSERT_EQ(decoder.Decode(octets, 3, out, sizeof out), 12u);
  const auto& records = decoder.Records();
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].ih, 3);
  EXPECT_EQ(records[0].il, 5);
  EXPECT_EQ(records[1].ih, 0);
  EXPECT_EQ(records[1].il, 63);
  EXPECT_EQ(records[2].ih, 2);
  EXPECT_EQ(records[2].il, 0);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(records[i].xout[0], out[2 * i]);
    EXPECT_EQ(records[i].xout[1], out[2 * i + 1]);
    EXPECT_EQ(out[2 * i] % 2, 0);
  }
  // From the reset state the first lower-band code 000101b decodes to DETL × level >> 12.
  EXPECT_EQ(records[0].rl, (32 * -2738) >> 12);

  // At 16 kHz an octet needs room for two samples: with room for one, nothing is decoded.
  CG722_Decode wide;
  int16_t one[2] = {0, 0x5555};
  EXPECT_EQ(wide.Decode(octets, 3, one, 2), 0u);
  EXPECT_EQ(wide.Decode(octets, 3, one, 3), 0u);
  EXPECT_EQ(one[1], 0x5555);
  EXPECT_EQ(wide.Decode(octets, 3, one, 4), 4u);
  EXPECT_EQ(wide.Records().size(), 1u);
  EXPECT_EQ(wide.Decode(octets, 0, one, 4), 0u);
  EXPECT_EQ(wide.Records().size(), 0u);
  EXPECT_EQ(wide.Decode(nullptr, 3, one, 4), 0u);
}

TEST(G722Decode, ResetRestoresTheInitialState) {
  const std::vector<uint8_t> codes = LoadAudioFile("g722.g722");
  ASSERT_EQ(codes.size(), 8000u);
  CG722_Decode decoder;
  std::vector<int16_t> first(320), again(320);
  decoder.Decode(codes.data() + 4000, 160, first.data(), 640);
  decoder.Decode(codes.data() + 4160, 160, again.data(), 640);
  decoder.Reset();
  decoder.Decode(codes.data() + 4000, 160, again.data(), 640);
  EXPECT_EQ(first, again);
}

}  // namespace
}  // namespace fennik
