// G.726 decoder: bit orders of the two packings, frame lengths and capacity, state across
// frames and the per-sample records, on ffmpeg's G.726 encoding of the test signal
// (tests/data/audio/g726-*, scripts/make-audio-vectors). Captured streams of every rate in
// both packings are compared with ffmpeg's and SoX's decoders in
// tests/codec/audio/CodecStreamsTest.cpp.
#include "codec/audio/CG726_Decode.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/codec/audio/AudioTestData.h"

namespace fennik {
namespace {

using testdata::DecodeInFrames;
using testdata::LoadAudioFile;

TEST(G726Decode, PackingsReadCodeWordsInOppositeBitOrders) {
  // 24 kbit/s, code words 1..7 then 0 (3 bits each, 24 bits).
  // RTP (LSB first): word k in bits 3k..3k+2 counted from the LSB of byte 0.
  // AAL2 (MSB first): word k in bits 3k..3k+2 counted from the MSB of byte 0.
  const uint32_t words[8] = {1, 2, 3, 4, 5, 6, 7, 0};
  uint32_t lsbPacked = 0;
  uint32_t msbPacked = 0;
  for (int k = 0; k < 8; ++k) {
    lsbPacked |= words[k] << (3 * k);
    msbPacked |= words[k] << (21 - 3 * k);
  }
  const uint8_t rtp[3] = {uint8_t(lsbPacked), uint8_t(lsbPacked >> 8), uint8_t(lsbPacked >> 16)};
  const uint8_t aal2[3] = {uint8_t(msbPacked >> 16), uint8_t(msbPacked >> 8), uint8_t(msbPacked)};

  CG726_Decode rtpDecoder(false, 24000);
  CG726_Decode aal2Decoder(true, 24000);
  int16_t rtpOut[8];
  int16_t aal2Out[8];
  ASSERT_EQ(rtpDecoder.Decode(rtp, 3, rtpOut, sizeof rtpOut), 16u);
  ASSERT_EQ(aal2Decoder.Decode(aal2, 3, aal2Out, sizeof aal2Out), 16u);
  for (int k = 0; k < 8; ++k) {
    EXPECT_EQ(rtpDecoder.Records()[k].code, words[k]) << k;
    EXPECT_EQ(aal2Decoder.Records()[k].code, words[k]) << k;
    EXPECT_EQ(rtpOut[k], aal2Out[k]) << k;
  }
  // The same bytes read under the other packing give other code words and other samples.
  CG726_Decode swapped(true, 24000);
  int16_t swappedOut[8];
  ASSERT_EQ(swapped.Decode(rtp, 3, swappedOut, sizeof swappedOut), 16u);
  EXPECT_NE(std::vector<int16_t>(swappedOut, swappedOut + 8),
            std::vector<int16_t>(rtpOut, rtpOut + 8));
}

TEST(G726Decode, FrameLengthCapacityAndBadArguments) {
  const uint8_t frame[100] = {0x5A, 0x33};
  int16_t out[400];
  // 100 bytes give 400, 267 (ceil: a cut last code word takes what remains), 200 and 160
  // samples at 16, 24, 32 and 40 kbit/s.
  const size_t expected[4] = {400, 267, 200, 160};
  for (int bits = 2; bits <= 5; ++bits) {
    CG726_Decode decoder(false, static_cast<uint32_t>(bits * 8000));
    EXPECT_EQ(decoder.CodeBits(), bits);
    EXPECT_EQ(decoder.Decode(frame, sizeof frame, out, sizeof out), expected[bits - 2] * 2);
    EXPECT_EQ(decoder.Format().samples, expected[bits - 2]);
    EXPECT_EQ(decoder.Format().frameSize, 100u);
  }
  CG726_Decode decoder(true, 32000);
  // Room for 3 samples and a half: 3 samples, no byte past the capacity.
  int16_t small[4] = {0, 0, 0, 0x7777};
  EXPECT_EQ(decoder.Decode(frame, sizeof frame, small, 7), 6u);
  EXPECT_EQ(small[3], 0x7777);
  EXPECT_EQ(decoder.Decode(nullptr, 10, out, sizeof out), 0u);
  EXPECT_EQ(decoder.Decode(frame, 0, out, sizeof out), 0u);
  EXPECT_EQ(decoder.Decode(frame, sizeof frame, nullptr, 100), 0u);
  EXPECT_EQ(decoder.Decode(frame, sizeof frame, out, 1), 0u);
}

TEST(G726Decode, StateCarriesAcrossFramesAndResetRestartsIt) {
  const std::vector<uint8_t> codes = LoadAudioFile("g726-32-le.g726");
  ASSERT_EQ(codes.size(), 4000u);
  CG726_Decode whole(false, 32000);
  std::vector<int16_t> wholeOut(8000);
  ASSERT_EQ(whole.Decode(codes.data(), codes.size(), wholeOut.data(), 16000), 16000u);
  CG726_Decode framed(false, 32000);
  EXPECT_EQ(DecodeInFrames(framed, codes, 80), wholeOut);

  // After a reset the decoder gives what a fresh one gives.
  CG726_Decode fresh(false, 32000);
  std::vector<int16_t> a(160), b(160);
  fresh.Decode(codes.data() + 2000, 80, a.data(), 320);
  framed.Reset();
  framed.Decode(codes.data() + 2000, 80, b.data(), 320);
  EXPECT_EQ(a, b);
}

TEST(G726Decode, RecordsHoldTheStateEachSampleWasDecodedFrom) {
  const std::vector<uint8_t> codes = LoadAudioFile("g726-40-le.g726");
  ASSERT_EQ(codes.size(), 5000u);
  CG726_Decode decoder(false, 40000);
  std::vector<int16_t> out(160);
  ASSERT_EQ(decoder.Decode(codes.data(), 100, out.data(), 320), 320u);
  const auto& records = decoder.Records();
  ASSERT_EQ(records.size(), 160u);
  // The first sample is decoded from the initial state.
  EXPECT_EQ(records[0].yu, 544);
  EXPECT_EQ(records[0].yl, 34816);
  EXPECT_EQ(records[0].y, 544);
  EXPECT_EQ(records[0].se, 0);
  EXPECT_EQ(records[0].dms, 0);
  EXPECT_EQ(records[0].code, codes[0] & 0x1Fu);
  for (size_t i = 0; i < records.size(); ++i) {
    EXPECT_EQ(records[i].output, out[i]) << i;
    // Output = 4 × (SE + DQ) to 16 bits.
    EXPECT_EQ(static_cast<int16_t>(static_cast<uint16_t>((records[i].se + records[i].dq) * 4)),
              out[i])
        << i;
  }
  // The next frame's first record starts from the state the last sample left.
  const G726State after = decoder.State();
  ASSERT_EQ(decoder.Decode(codes.data() + 100, 100, out.data(), 320), 320u);
  EXPECT_EQ(decoder.Records()[0].yu, after.yu);
  EXPECT_EQ(decoder.Records()[0].yl, after.yl);
  EXPECT_EQ(decoder.Records()[0].se, after.se);
  EXPECT_EQ(decoder.Records()[0].tdp, static_cast<uint32_t>(after.td));

  // A long frame keeps one record per sample (2-bit, 300 bytes = 1200 samples).
  CG726_Decode longFrame(false, 16000);
  std::vector<int16_t> longOut(1200);
  ASSERT_EQ(longFrame.Decode(codes.data(), 300, longOut.data(), 2400), 2400u);
  ASSERT_EQ(longFrame.Records().size(), 1200u);
  EXPECT_EQ(longFrame.Records()[1199].output, longOut[1199]);
}

TEST(G726Decode, MediaDescriptionChoosesTheCodeWordSize) {
  CG726_Decode decoder(false, 40000);
  decoder.SetAudioFormat(8000, 2, 1, 32000);  // "G726-32": 4-bit words whatever bits say
  EXPECT_EQ(decoder.CodeBits(), 4);
  EXPECT_EQ(decoder.Format().bitsPerSample, 4u);
  EXPECT_EQ(decoder.Format().bitRate, 32000u);
  decoder.SetAudioFormat(8000, 0, 1, 48000);  // no such rate: 2-bit words
  EXPECT_EQ(decoder.CodeBits(), 2);
  decoder.SetAudioFormat(8000, 5, 1, 0);  // bit rate from channels × bits × rate
  EXPECT_EQ(decoder.CodeBits(), 5);
  EXPECT_EQ(decoder.Format().bitRate, 40000u);
  decoder.SetAudioFormat(0, 0, 0, 0);  // nothing known: 2-bit words, other values kept
  EXPECT_EQ(decoder.CodeBits(), 2);
  EXPECT_EQ(decoder.Format().sampleRate, 8000u);
  EXPECT_EQ(decoder.Format().channels, 1u);
  EXPECT_EQ(decoder.Format().codecType, CG726_Decode::kCodecTypeRtp);
  EXPECT_EQ(CG726_Decode(true).Format().codecType, CG726_Decode::kCodecTypeAal2);
}

}  // namespace
}  // namespace fennik
