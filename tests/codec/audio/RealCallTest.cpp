// A call as real equipment sends it (tests/data/captures/call-events-cn-dup-ext*.pcap, made
// by scripts/make-call-captures): telephone events and comfort noise on the audio's
// 4-tuple, silence suppression, duplicates, a lost packet, RFC 8285 header extensions and
// padding, and the same frames with VLAN and QinQ tags. The references in decoded/ are
// ffmpeg's decodes of the sent codes placed on the RTP timeline.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "capture/CRTP_Parser.h"
#include "capture/ErrorList.h"
#include "capture/RtpTiming.h"
#include "codec/audio/AudioCodecs.h"
#include "stream/CAudio_Stream.h"
#include "tests/capture/CaptureBuilder.h"
#include "tests/support/TestSupport.h"

namespace fennik {
namespace {

std::vector<int16_t> Reference(const std::string& name) {
  return test::Pcm16(test::ReadFileBytes(test::TestData("captures/decoded/" + name)));
}

class RealCall : public ::testing::TestWithParam<const char*> {
 protected:
  static void SetUpTestSuite() { RegisterAudioCodecs(); }
  void SetUp() override {
    ErrorList::Instance().Clear();
    ASSERT_EQ(capture_.Open(std::string(FENNIK_TEST_DATA) + "/captures/" + GetParam()), OpenResult::kOk);
    ASSERT_TRUE(capture_.Analyse(nullptr));
  }
  uint32_t StreamFrom(uint16_t port) {
    for (uint32_t s = 0; s < capture_.Streams().size(); ++s) {
      if (capture_.Streams()[s].sourcePort == port) return s;
    }
    ADD_FAILURE() << "no stream from port " << port;
    return 0;
  }
  CRTP_Parser capture_;
};

// Events (PT 101) and comfort noise (PT 13) stay in the packet list with their own payload
// type but are no frames; duplicates are listed, flagged and not decoded; the codec gets
// each packet's media without extension and padding.
TEST_P(RealCall, OnlyTheCodecsPacketsOnceAndWithoutExtensionOrPaddingAreFrames) {
  const uint32_t index = StreamFrom(40000);
  const RtpStreamEntry& s = capture_.Streams()[index];
  EXPECT_EQ(s.payloadType, 0u);
  EXPECT_EQ(s.codecType, 106u);
  EXPECT_EQ(s.packets, 178u);
  EXPECT_EQ(s.duplicates, 20u);
  EXPECT_EQ(s.otherPayloadPackets, 9u);
  EXPECT_EQ(s.sequenceErrors, 1u);  // the lost packet; duplicates are no sequence errors
  uint32_t events = 0, noise = 0, duplicates = 0, audio = 0;
  for (uint64_t row : capture_.StreamPacketIndices(index)) {
    const RtpPacketEntry* e = capture_.Packets().GetEntry(row, nullptr);
    if (e->payloadType == 101 || e->payloadType == 13) {
      EXPECT_EQ(e->flags & kPacketNotMedia, kPacketNotMedia);
      EXPECT_EQ(e->frameIndex, kNoFrame);
      (e->payloadType == 101 ? events : noise) += 1;
      EXPECT_EQ(capture_.PayloadTypeName(*e), e->payloadType == 13 ? "CN" : "101");
    } else if (e->flags & kPacketDuplicate) {
      ++duplicates;
      EXPECT_EQ(e->errorFlags, 0);
      EXPECT_EQ(e->frameIndex, kNoFrame);
    } else {
      ++audio;
      EXPECT_NE(e->frameIndex, kNoFrame);
      EXPECT_EQ(capture_.PayloadTypeName(*e), "PCMU");
    }
  }
  EXPECT_EQ(events, 8u);
  EXPECT_EQ(noise, 1u);
  EXPECT_EQ(duplicates, 20u);
  EXPECT_EQ(audio, 149u);

  auto* stream = dynamic_cast<CAudio_Stream*>(capture_.StreamObject(index));
  ASSERT_NE(stream, nullptr);
  ASSERT_EQ(stream->Frames().GetCount(), 149u);
  // Each frame decodes to the sent codes at its place on the RTP timeline.
  const std::vector<int16_t> reference = Reference("call-events-cn-dup-ext.pcap.40000.ffmpeg.s16le");
  ASSERT_EQ(reference.size(), 32000u);
  for (uint32_t i = 0; i < 149; ++i) {
    ASSERT_NE(stream->DecodeFrame(i), ~uint64_t{0});
    ASSERT_EQ(stream->PcmBytes(), 320u) << "frame " << i;
    const uint64_t at = stream->FramePosition(i);
    ASSERT_LE(at + 160, reference.size());
    for (uint32_t k = 0; k < 160; ++k) ASSERT_EQ(stream->Pcm()[k], reference[at + k]) << i << ":" << k;
  }
  // Frame times follow the timeline: the second of silence suppression and the lost packet
  // are in them, the stream lasts its timestamp span (200 slots of 20 ms).
  EXPECT_EQ(stream->GetTime(49), 980000u);
  EXPECT_EQ(stream->GetTime(50), 2000000u);
  EXPECT_EQ(stream->GetTime(CAvStream::kNone), 4000000u);
  stream->SetConcatenated(true);
  EXPECT_EQ(stream->GetTime(50), 1000000u);
  EXPECT_EQ(stream->GetTime(CAvStream::kNone), 149u * 20000);
}

// G.722 at static PT 9 with a two-byte header extension on every packet: 16 kHz, every
// sample ffmpeg's with its last bit cleared (the receive QMF keeps 15 bits, doubled).
TEST_P(RealCall, G722BehindTwoByteExtensionsDecodesAt16kHz) {
  const uint32_t index = StreamFrom(50002);
  auto* stream = dynamic_cast<CAudio_Stream*>(capture_.StreamObject(index));
  ASSERT_NE(stream, nullptr);
  ASSERT_EQ(stream->Frames().GetCount(), 200u);
  const std::vector<int16_t> reference = Reference("call-events-cn-dup-ext.pcap.50002.ffmpeg.s16le");
  ASSERT_EQ(reference.size(), 64000u);
  size_t at = 0;
  for (uint32_t i = 0; i < 200; ++i) {
    ASSERT_NE(stream->DecodeFrame(i), ~uint64_t{0});
    ASSERT_EQ(stream->PcmBytes(), 640u) << "frame " << i;
    for (uint32_t k = 0; k < 320; ++k, ++at) {
      ASSERT_EQ(stream->Pcm()[k], static_cast<int16_t>(reference[at] & ~1)) << i << ":" << k;
    }
  }
  EXPECT_EQ(stream->GetTime(CAvStream::kNone), 4000000u);
}

INSTANTIATE_TEST_SUITE_P(Captures, RealCall,
                         ::testing::Values("call-events-cn-dup-ext.pcap", "call-events-cn-dup-ext-vlan.pcap"));

// The call over IPv6 (call-ipv6.pcap): the SDP offer's "c=IN IP6 ::1" gives dynamic PT 96
// its codec, packets with a destination options header decode like the others, and the
// stream decodes to the sent codes on their timestamps.
TEST(RealCallIpv6, SdpAndExtensionHeaders) {
  RegisterAudioCodecs();
  CRTP_Parser capture;
  ASSERT_EQ(capture.Open(std::string(FENNIK_TEST_DATA) + "/captures/call-ipv6.pcap"), OpenResult::kOk);
  ASSERT_TRUE(capture.Analyse(nullptr));
  ASSERT_EQ(capture.Streams().size(), 1u);
  const RtpStreamEntry& s = capture.Streams()[0];
  EXPECT_STREQ(FormatIpv4(s.sourceAddress).text, "::1");
  EXPECT_EQ(s.sourcePort, 40004);
  EXPECT_EQ(s.payloadType, 96u);
  EXPECT_EQ(s.codecType, 106u);
  EXPECT_EQ(s.otherPayloadPackets, 9u);
  auto* stream = dynamic_cast<CAudio_Stream*>(capture.StreamObject(0));
  ASSERT_NE(stream, nullptr);
  ASSERT_EQ(stream->Frames().GetCount(), 70u);
  const std::vector<int16_t> reference = Reference("call-ipv6.pcap.40004.ffmpeg.s16le");
  ASSERT_EQ(reference.size(), 120u * 160);
  for (uint32_t i = 0; i < 70; ++i) {
    ASSERT_NE(stream->DecodeFrame(i), ~uint64_t{0});
    ASSERT_EQ(stream->PcmBytes(), 320u);
    const uint64_t at = stream->FramePosition(i);
    for (uint32_t k = 0; k < 160; ++k) ASSERT_EQ(stream->Pcm()[k], reference[at + k]) << i << ":" << k;
  }
  EXPECT_EQ(stream->GetTime(CAvStream::kNone), 120u * 20000);
}

using namespace fennik::test;

// A call that opens with a comfort-noise packet: the stream takes the payload type of the
// first packet that carries media, and the noise packet is no frame.
TEST(RealCallStart, OpeningComfortNoiseDoesNotDecideTheCodec) {
  RegisterAudioCodecs();
  std::vector<Frame> frames = AudioStream(Ip(10, 0, 0, 1), 4000, Ip(10, 0, 0, 2), 5000, 4,
                                          1'700'000'000'020'000, 0, 101);
  RtpFields cn;
  cn.payloadType = 13;
  cn.sequence = 100;
  cn.timestamp = 8000 - 160;
  frames.insert(frames.begin(), {1'700'000'000'000'000,
                                 IpFrame(Ip(10, 0, 0, 1), Ip(10, 0, 0, 2), 4000, 5000, RtpPacket(cn, Bytes{64}))});
  TempFile file(ClassicPcap(frames));
  CRTP_Parser capture;
  ASSERT_EQ(capture.Open(file.Path()), OpenResult::kOk);
  ASSERT_TRUE(capture.Analyse(nullptr));
  ASSERT_EQ(capture.Streams().size(), 1u);
  EXPECT_EQ(capture.Streams()[0].payloadType, 0u);
  EXPECT_EQ(capture.Streams()[0].codecType, 106u);
  ASSERT_NE(capture.StreamObject(0), nullptr);
  EXPECT_EQ(capture.StreamObject(0)->Frames().GetCount(), 4u);
  EXPECT_EQ(capture.Packets().GetEntry(0, nullptr)->frameIndex, kNoFrame);
}

// Capture times are 64-bit milliseconds: a merged capture spanning 60 days neither clamps
// at 49.7 days nor loses its hours in the lists' time format.
TEST(RealCallStart, CaptureTimesBeyond49DaysDoNotClamp) {
  std::vector<Frame> frames = AudioStream(Ip(10, 0, 0, 1), 4000, Ip(10, 0, 0, 2), 5000, 2);
  frames[1].timestampUs = frames[0].timestampUs + 60LL * 86400 * 1000000 + 1500;
  TempFile file(ClassicPcap(frames));
  CRTP_Parser capture;
  ASSERT_EQ(capture.Open(file.Path()), OpenResult::kOk);
  ASSERT_TRUE(capture.Analyse(nullptr));
  ASSERT_EQ(capture.Packets().GetCount(), 2u);
  EXPECT_EQ(capture.Packets().GetEntry(1, nullptr)->captureTime, 60ull * 86400 * 1000 + 1);
  char text[32];
  FormatListTime(capture.Packets().GetEntry(1, nullptr)->captureTime, text, sizeof text);
  EXPECT_STREQ(text, " 1440:00:00.001");
}

}  // namespace
}  // namespace fennik
