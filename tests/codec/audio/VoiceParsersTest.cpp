// The framing rules of the module-decoded voice codecs that the capture corpus does not
// reach: Opus packets of every frame-count code and the RFC 6716 3.4 validity rules, G.729
// payloads with remainders, Speex payload walking and its rate choice, and decoding without
// the modules (nothing is produced, nothing stale reported).
#include <gtest/gtest.h>

#include <vector>

#include "codec/audio/CG729_Decode.h"
#include "codec/audio/CGSM_Decode.h"
#include "codec/audio/COpus_Parser.h"
#include "codec/audio/CSpeex_Parser.h"
#include "codec/audio/CodecModules.h"

namespace fennik {
namespace {

TEST(OpusToc, FrameCountCodesAndTheirLengths) {
  // Code 1: two frames of equal size; an odd remainder breaks rule R3.
  std::vector<uint8_t> p = {0x79, 1, 2, 3, 4};  // config 15 (hybrid FB 20 ms), mono, code 1
  OpusPacketInfo i = ParseOpusPacket(p.data(), p.size());
  EXPECT_TRUE(i.valid);
  EXPECT_EQ(i.config, 15);
  EXPECT_EQ(i.mode, OpusMode::kHybrid);
  EXPECT_EQ(i.frameCount, 2u);
  EXPECT_EQ(i.frameLengths[1], 2);
  EXPECT_EQ(i.SamplesAt(48000), 1920u);
  p.pop_back();
  EXPECT_FALSE(ParseOpusPacket(p.data(), p.size()).valid);

  // Code 2 with a two-byte first length: 252 + 4 × 1 = 256 bytes, then the rest.
  p.assign(3 + 256 + 7, 0);
  p[0] = 0x0A | 0x04;  // config 1 (SILK NB 20 ms), stereo, code 2
  p[1] = 252;
  p[2] = 1;
  i = ParseOpusPacket(p.data(), p.size());
  EXPECT_TRUE(i.valid);
  EXPECT_EQ(i.stereo, 1);
  EXPECT_EQ(i.bandwidthRate, 8000u);
  EXPECT_EQ(i.SamplesAt(8000), 320u);
  EXPECT_EQ(i.frameLengths[0], 256);
  EXPECT_EQ(i.frameLengths[1], 7);
  p.resize(200);  // the first frame would run past the packet (R4)
  EXPECT_FALSE(ParseOpusPacket(p.data(), p.size()).valid);

  // Code 3 CBR with padding: 255 means 254 bytes and another length byte (RFC 6716 3.2.5).
  p.assign(3 + 3 * 10 + 254 + 2, 0);
  p[0] = 0xFB;         // config 31 (CELT FB 20 ms), code 3
  p[1] = 0x40 | 3;     // padding, 3 frames
  p[2] = 255;          // 254 ...
  p[3] = 2;            // ... + 2 bytes of padding
  p.resize(4 + 30 + 256);
  i = ParseOpusPacket(p.data(), p.size());
  EXPECT_TRUE(i.valid);
  EXPECT_EQ(i.paddingLength, 256u);
  EXPECT_EQ(i.frameCount, 3u);
  EXPECT_EQ(i.frameLengths[2], 10);
  // Code 3 VBR: lengths of all frames but the last.
  p = {0xFB, 0x80 | 3, 5, 1, 1, 1, 1, 1, 1, 2, 3, 3, 3};
  i = ParseOpusPacket(p.data(), p.size());
  EXPECT_TRUE(i.valid);
  EXPECT_EQ(i.frameLengths[0], 5);
  EXPECT_EQ(i.frameLengths[1], 1);
  EXPECT_EQ(i.frameLengths[2], 3);
  // No frames, more than 120 ms (R5), CBR sizes that do not divide (R6), missing count byte.
  for (const std::vector<uint8_t>& bad : std::vector<std::vector<uint8_t>>{
           {0xFB, 0x00}, {0x1B, 0x03, 1, 2, 3}, {0xFB, 0x02, 1, 2, 3}, {0xFB}}) {
    EXPECT_FALSE(ParseOpusPacket(bad.data(), bad.size()).valid) << int(bad[0]);
  }
  EXPECT_FALSE(ParseOpusPacket(nullptr, 0).valid);
}

TEST(G729Unpack, FramesRemaindersAndSid) {
  std::vector<uint8_t> payload(25, 0xFF);
  G729FrameRecord r[12];
  // 25 bytes: two frames; the 5-byte rest is no SID frame.
  EXPECT_EQ(UnpackG729Payload(payload.data(), payload.size(), true, r, 12), 2u);
  EXPECT_EQ(r[1].values[6], 0x1FFF);  // C1, 13 bits
  // 22 bytes: two frames and a SID frame, unless the SDP said annexb=no.
  payload.resize(22);
  payload[20] = 0xA5;
  payload[21] = 0x5A;
  EXPECT_EQ(UnpackG729Payload(payload.data(), payload.size(), true, r, 12), 3u);
  EXPECT_TRUE(r[2].sid);
  EXPECT_EQ(r[2].values[0], 1u);  // 1 01001 0101 01101 0
  EXPECT_EQ(r[2].values[1], 9u);
  EXPECT_EQ(r[2].values[2], 5u);
  EXPECT_EQ(r[2].values[3], 13u);
  EXPECT_EQ(UnpackG729Payload(payload.data(), payload.size(), false, r, 12), 2u);
  // At most the asked-for count (the view shows ten).
  payload.assign(130, 0);
  EXPECT_EQ(UnpackG729Payload(payload.data(), payload.size(), true, r, 10), 10u);
  CG729_Decode decoder;
  EXPECT_EQ(decoder.PayloadSamples(22), 240u);
  EXPECT_EQ(decoder.PayloadSamples(25), 160u);
}

class WithoutModules : public ::testing::Test {
 protected:
  void SetUp() override { UnloadCodecModules(); }
};

TEST_F(WithoutModules, DecodingYieldsNothingButStillUnpacks) {
  std::vector<int16_t> pcm(4096, 1234);
  std::vector<uint8_t> gsmFrame(33, 0);
  gsmFrame[0] = 0xD0;
  CGSM_Decode gsm;
  EXPECT_EQ(gsm.Decode(gsmFrame.data(), gsmFrame.size(), pcm.data(), pcm.size() * 2), 0u);
  EXPECT_EQ(gsm.Records().size(), 1u);
  gsmFrame[0] = 0x20;  // no signature: no parameters
  EXPECT_EQ(gsm.Decode(gsmFrame.data(), gsmFrame.size(), pcm.data(), pcm.size() * 2), 0u);
  EXPECT_TRUE(gsm.Records().empty());
  // Speex reports no bytes (it used to report 320 bytes it never wrote), so playback gets no
  // stale samples; the frame keeps its nominal length for the frame times.
  CSpeex_Parser speex;
  const std::vector<uint8_t> frame(38, 0x2A);
  EXPECT_EQ(speex.Decode(frame.data(), frame.size(), pcm.data(), pcm.size() * 2), 0u);
  EXPECT_EQ(speex.Format().samples, 160u);
  EXPECT_FALSE(speex.Records().empty());
  EXPECT_EQ(pcm[0], 1234);
  COpus_Parser opus;
  const uint8_t toc[] = {0xFC, 1, 2};
  EXPECT_EQ(opus.Open(toc, sizeof toc, 113), 1);
  EXPECT_FALSE(opus.HasModuleDecoder());
  EXPECT_EQ(opus.Format().channels, 2u);  // from the stereo flag
  EXPECT_EQ(opus.Decode(toc, sizeof toc, pcm.data(), pcm.size() * 2), 0u);
}

// A narrowband mode 1 frame (43 bits) followed, when `layers` says so, by wideband layers in
// mode 1 (36 bits each): the bits laid down by hand.
std::vector<uint8_t> SpeexFrame(int layers) {
  std::vector<bool> bits;
  auto put = [&](uint32_t v, int n) {
    for (int i = n - 1; i >= 0; --i) bits.push_back((v >> i) & 1);
  };
  put(0, 1);
  put(1, 4);
  for (int i = 0; i < 38; ++i) put(i & 1, 1);
  for (int l = 1; l < layers; ++l) {
    put(1, 1);
    put(1, 3);
    for (int i = 0; i < 32; ++i) put(1, 1);
  }
  // Padding as libspeex writes it: a 0 and then ones up to the octet boundary.
  if (bits.size() % 8) bits.push_back(false);
  while (bits.size() % 8) bits.push_back(true);
  std::vector<uint8_t> out(bits.size() / 8);
  for (size_t i = 0; i < bits.size(); ++i) out[i / 8] |= static_cast<uint8_t>(bits[i] << (7 - i % 8));
  return out;
}

TEST_F(WithoutModules, SpeexRateFromHeaderSdpOrFrameLayers) {
  for (int layers : {1, 2, 3}) {
    CSpeex_Parser speex;
    const std::vector<uint8_t> frame = SpeexFrame(layers);
    const auto frames = UnpackSpeexFrames(frame.data(), frame.size(), 4);
    // Five or more padding bits read as a terminator (a 0 wideband bit and mode 15).
    ASSERT_GE(frames.size(), 1u);
    EXPECT_EQ(frames.size() == 2 && frames[1].terminator, frame.size() * 8 - (43 + 36 * (layers - 1)) >= 5);
    EXPECT_TRUE(frames[0].complete);
    EXPECT_EQ(frames[0].layers, layers);
    speex.Open(frame.data(), frame.size(), 114);
    EXPECT_EQ(speex.Format().sampleRate, 8000u << (layers - 1)) << layers;
  }
  // An SDP clock rate wins over the frame's layers.
  CSpeex_Parser sdp;
  MediaFormat format;
  format.hasRtpmap = true;
  format.clockRate = 32000;
  sdp.SetMediaFormat(format);
  sdp.SetAudioFormat(32000, 16, 1, 0, 0);
  const std::vector<uint8_t> nb = SpeexFrame(1);
  sdp.Open(nb.data(), nb.size(), 114);
  EXPECT_EQ(sdp.Format().sampleRate, 32000u);
  // An in-band header packet wins over both.
  std::vector<uint8_t> header(80, 0);
  const char magic[] = "Speex   1.2";
  std::copy(magic, magic + 11, header.begin());
  header[36] = 0x80;  // rate 16000 (0x3E80) little-endian at byte 36
  header[37] = 0x3E;
  header[48] = 1;  // nb_channels
  sdp.Open(header.data(), header.size(), 114);
  EXPECT_EQ(sdp.Format().sampleRate, 16000u);
}

TEST(SpeexWalk, CommentOnlyWhenItsLengthsFitExactly) {
  // A payload of 100 bytes whose first 32-bit length is 100 or more is a frame, and one whose
  // lengths do not add up is a frame too.
  std::vector<uint8_t> payload(100, 0);
  payload[0] = 100;
  EXPECT_EQ(CSpeex_Decode::FramesStart(payload.data(), payload.size()), 0u);
  payload[0] = 10;
  EXPECT_EQ(CSpeex_Decode::FramesStart(payload.data(), payload.size()), 0u);
  const uint8_t comment[] = {3, 0, 0, 0, 'a', 'b', 'c', 1, 0, 0, 0, 2, 0, 0, 0, 'x', 'y'};
  SpeexComments c;
  ASSERT_TRUE(ParseSpeexComments(comment, sizeof comment, c));
  EXPECT_EQ(c.vendor, "abc");
  ASSERT_EQ(c.comments.size(), 1u);
  EXPECT_EQ(c.comments[0], "xy");
  EXPECT_FALSE(ParseSpeexComments(comment, sizeof comment - 1, c));
  EXPECT_EQ(CSpeex_Decode::FramesStart(comment, sizeof comment), sizeof comment);
}

}  // namespace
}  // namespace fennik
