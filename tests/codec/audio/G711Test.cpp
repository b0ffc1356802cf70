// G.711: the table decoders, and G.711 streams of committed captures (tests/data, made with
// ffmpeg's pcm_mulaw / pcm_alaw RTP senders, see tests/data/captures/README.md) cut into
// frames, fetched back through the loader and decoded.
#include <gtest/gtest.h>

#include <vector>

#include "tests/codec/audio/AudioTestData.h"
#include "capture/CRTP_Parser.h"
#include "codec/audio/AudioCodecs.h"
#include "codec/audio/CG711_Parser.h"

namespace fennik {
namespace {

// Every code of both laws decodes to ffmpeg's pcm_alaw / pcm_mulaw output (G.711's decoder
// output values), so any G.711 stream decodes sample for sample as ffmpeg decodes it.
TEST(G711Decode, EveryCodeEqualsTheReferenceDecoder) {
  const std::vector<uint8_t> codes = testdata::LoadAudioFile("g711-codes.bin");
  const std::vector<int16_t> alawRef = testdata::LoadPcm16("g711a.ref.s16le");
  const std::vector<int16_t> ulawRef = testdata::LoadPcm16("g711u.ref.s16le");
  ASSERT_EQ(codes.size(), 256u);
  ASSERT_EQ(alawRef.size(), 256u);
  ASSERT_EQ(ulawRef.size(), 256u);
  CG711_Decode alaw(true), ulaw(false);
  int16_t out[256] = {};
  ASSERT_EQ(alaw.DecodeSamples(codes.data(), 256, out, sizeof out), 512u);
  EXPECT_EQ(std::vector<int16_t>(out, out + 256), alawRef);
  ASSERT_EQ(ulaw.DecodeSamples(codes.data(), 256, out, sizeof out), 512u);
  EXPECT_EQ(std::vector<int16_t>(out, out + 256), ulawRef);
  // The sample table's unscaled values are the same outputs: A-law 0xD5 is +1 (not the
  // interval's lower edge 0), the top A-law interval 4032, u-law 0x7F and 0xFF both 0.
  EXPECT_EQ(CG711_Decode::ALawValue(0xD5), 1);
  EXPECT_EQ(CG711_Decode::ALawValue(0xAA), 4032);
  EXPECT_EQ(CG711_Decode::ULawValue(0x7F), 0);
  EXPECT_EQ(CG711_Decode::ULawValue(0x80), 8031);
  for (int c = 0; c < 256; ++c) {
    EXPECT_EQ(CG711_Decode::ALawValue(uint8_t(c)) * 8, alawRef[c]) << c;
    EXPECT_EQ(CG711_Decode::ULawValue(uint8_t(c)) * 4, ulawRef[c]) << c;
  }
}

TEST(G711Decode, ScalingRecordsAndCapacity) {
  CG711_Decode alaw(true), ulaw(false);
  const uint8_t codes[] = {0x00, 0xD5, 0x80, 0xFF};
  int16_t out[4] = {};
  EXPECT_EQ(alaw.DecodeSamples(codes, 4, out, sizeof out), 8u);
  EXPECT_EQ(out[0], -5504);
  EXPECT_EQ(out[1], 8);
  EXPECT_EQ(ulaw.DecodeSamples(codes, 4, out, sizeof out), 8u);
  EXPECT_EQ(out[0], -32124);
  EXPECT_EQ(out[2], 32124);
  EXPECT_EQ(out[3], 0);
  ASSERT_EQ(ulaw.Records().size(), 4u);
  EXPECT_EQ(ulaw.Records()[3].input, 0xFFu);
  EXPECT_EQ(ulaw.Records()[3].output >> 2, 0);
  // A frame longer than the caller's buffer is cut at its capacity.
  int16_t two[2] = {};
  EXPECT_EQ(ulaw.DecodeSamples(codes, 4, two, sizeof two), 4u);
  EXPECT_EQ(ulaw.Format().samples, 2u);
  EXPECT_EQ(ulaw.Format().frameSize, 4u);
  // An empty frame gives no samples and an empty table.
  EXPECT_EQ(ulaw.DecodeSamples(codes, 0, out, sizeof out), 0u);
  EXPECT_TRUE(ulaw.Records().empty());
}

class G711Streams : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { RegisterAudioCodecs(); }
  void Analyse(const std::string& name) {
    ASSERT_EQ(capture_.Open(std::string(FENNIK_TEST_DATA) + "/" + name), OpenResult::kOk);
    ASSERT_TRUE(capture_.Analyse(nullptr));
  }
  // The RTP payload of a packet-table row, read from the capture.
  std::vector<uint8_t> Payload(uint64_t row) {
    uint64_t address;
    RtpPacketEntry e{};
    EXPECT_TRUE(capture_.Packets().Get(row, &address, &e));
    std::vector<uint8_t> record(e.recordLength);
    capture_.ReadAt(address, record.data(), e.recordLength);
    return std::vector<uint8_t>(record.begin() + e.payloadOffset,
                                record.begin() + e.payloadOffset + e.capturedPayload);
  }
  CRTP_Parser capture_;
};

TEST_F(G711Streams, OneFramePerPacketDecodedByTheTables) {
  Analyse("sample.pcap");  // two PCMU directions, 150 packets each
  for (uint32_t s = 0; s < 2; ++s) {
    CAvStream* object = capture_.StreamObject(s);
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(object->GetCodecType(), 106);
    ASSERT_EQ(object->Frames().GetCount(), 150u);
    // One frame per packet: the frame table keeps each as its packet's row.
    EXPECT_EQ(object->Frames().PacketBackedCount(), 150u);
    auto* g711 = dynamic_cast<CG711_Parser*>(object);
    ASSERT_NE(g711, nullptr);
    const std::vector<uint64_t> rows = capture_.StreamPacketIndices(s);
    for (uint32_t i = 0; i < rows.size(); ++i) {
      // Each packet entry names the frame that begins in it.
      ASSERT_EQ(capture_.Packets().GetEntry(rows[i], nullptr)->frameIndex, i);
      const std::vector<uint8_t> payload = Payload(rows[i]);
      uint32_t size = 0;
      uint64_t address = 0;
      const uint8_t* data = object->GetFrameData(i, &size, &address);
      ASSERT_NE(data, nullptr);
      ASSERT_EQ(std::vector<uint8_t>(data, data + size), payload) << "frame " << i;
      ASSERT_NE(object->DecodeFrame(i), ~uint64_t{0});
      ASSERT_EQ(g711->PcmBytes(), payload.size() * 2);
      for (size_t k = 0; k < payload.size(); ++k) {
        ASSERT_EQ(g711->Pcm()[k], CG711_Decode::ULawValue(payload[k]) * 4) << i << ":" << k;
      }
    }
    EXPECT_EQ(object->GetTime(10), 200000u);
    EXPECT_EQ(object->GetTime(CAvStream::kNone), 150u * 20000);
  }
}

TEST_F(G711Streams, ALawStreamAndPlaybackWidensMonoToStereo) {
  Analyse("captures/g711a-g722-nosdp-nsec.pcap");
  CAvStream* alaw = nullptr;
  for (uint32_t s = 0; s < capture_.Streams().size(); ++s) {
    if (capture_.Streams()[s].codecType == 105) alaw = capture_.StreamObject(s);
  }
  ASSERT_NE(alaw, nullptr);
  EXPECT_EQ(alaw->GetCodecType(), 105);
  ASSERT_EQ(alaw->Frames().GetCount(), 100u);
  std::vector<int16_t> buffer(4096);
  AudioFrame frame;
  frame.samples = buffer.data();
  frame.capacityBytes = static_cast<uint32_t>(buffer.size() * 2);
  uint64_t total = 0;
  for (uint32_t i = 0; i < 100; ++i) {
    ASSERT_EQ(alaw->GetAudioFrame(CAvStream::kNone, frame), 1);
    EXPECT_EQ(frame.validBytes, 160u * 2 * 2);
    EXPECT_EQ(frame.samples[0], frame.samples[1]);
    total += frame.validBytes;
  }
  EXPECT_EQ(total, 100u * 640);
  EXPECT_TRUE(alaw->IsEnd());
  // Too small a buffer for the widened frame: nothing is copied.
  frame.capacityBytes = 100;
  ASSERT_EQ(alaw->GetAudioFrame(0, frame), 1);
  EXPECT_EQ(frame.validBytes, 0u);
}

TEST_F(G711Streams, FramesWhoseBytesAreMissingAreNotDecoded) {
  Analyse("captures/g711u-sip-udp-truncated.pcap");
  CAvStream* object = capture_.StreamObject(0);
  ASSERT_NE(object, nullptr);
  const uint32_t frames = static_cast<uint32_t>(object->Frames().GetCount());
  ASSERT_GT(frames, 10u);
  uint32_t size = 1;
  EXPECT_NE(object->GetFrameData(frames - 1, &size, nullptr), nullptr);
  EXPECT_EQ(object->GetFrameData(frames, &size, nullptr), nullptr);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(object->DecodeFrame(frames), ~uint64_t{0});
}

}  // namespace
}  // namespace fennik

namespace fennik {
namespace {

// A stream far longer than the analysis buffer's backlog limits (10,000 packets) keeps
// getting frames: consumed payload is dropped as the stream object cuts it.
TEST(G711LongStream, EveryPacketOfALongCallBecomesAFrame) {
  RegisterAudioCodecs();
  const char* path = "/tmp/fennik-long-call.pcap";
  {
    // 12,000 PCMU packets (4 minutes), written as a classic capture.
    FILE* f = std::fopen(path, "wb");
    ASSERT_NE(f, nullptr);
    const uint8_t header[24] = {0xD4, 0xC3, 0xB2, 0xA1, 2, 0, 4, 0, 0, 0, 0, 0,
                                0, 0, 0, 0, 0xFF, 0xFF, 0, 0, 1, 0, 0, 0};
    std::fwrite(header, 1, sizeof header, f);
    for (uint32_t i = 0; i < 12000; ++i) {
      uint8_t frame[14 + 20 + 8 + 12 + 160] = {};
      frame[12] = 0x08;                       // ethertype IPv4
      frame[14] = 0x45;                       // IPv4, IHL 5
      frame[14 + 9] = 17;                     // UDP
      frame[14 + 12] = 10, frame[14 + 15] = 1;  // 10.0.0.1 -> 10.0.0.2
      frame[14 + 16] = 10, frame[14 + 19] = 2;
      uint8_t* udp = frame + 34;
      udp[0] = 0x13, udp[1] = 0x88;           // 5000 -> 6000
      udp[2] = 0x17, udp[3] = 0x70;
      udp[5] = 8 + 12 + 160;                  // UDP length
      uint8_t* rtp = udp + 8;
      rtp[0] = 0x80;                          // version 2, PT 0
      rtp[2] = static_cast<uint8_t>(i >> 8), rtp[3] = static_cast<uint8_t>(i);
      const uint32_t ts = i * 160;
      rtp[4] = ts >> 24, rtp[5] = ts >> 16, rtp[6] = ts >> 8, rtp[7] = static_cast<uint8_t>(ts);
      for (int k = 0; k < 160; ++k) rtp[12 + k] = static_cast<uint8_t>(i + k);
      const uint32_t us = i * 20000;
      const uint32_t rec[4] = {us / 1000000, us % 1000000, sizeof frame, sizeof frame};
      std::fwrite(rec, 4, 4, f);  // little-endian host
      std::fwrite(frame, 1, sizeof frame, f);
    }
    std::fclose(f);
  }
  CRTP_Parser capture;
  ASSERT_EQ(capture.Open(path), OpenResult::kOk);
  capture.Analyse(nullptr);
  CAvStream* stream = capture.StreamObject(0);
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(stream->Frames().GetCount(), 12000u);
  EXPECT_EQ(capture.DroppedPayloads(), 0u);
  uint32_t size = 0;
  const uint8_t* last = stream->GetFrameData(11999, &size, nullptr);
  ASSERT_NE(last, nullptr);
  ASSERT_EQ(size, 160u);
  EXPECT_EQ(last[5], static_cast<uint8_t>(11999 + 5));
  std::remove(path);
}

}  // namespace
}  // namespace fennik
