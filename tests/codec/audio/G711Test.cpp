// G.711: the table decoders, and G.711 streams of committed captures (tests/data, made with
// ffmpeg's pcm_mulaw / pcm_alaw RTP senders, see tests/data/captures/README.md) cut into
// frames, fetched back through the loader and decoded.
#include <gtest/gtest.h>

#include <vector>

#include "tests/codec/audio/AudioTestData.h"
#include "capture/CRTP_Parser.h"
#include "codec/audio/AudioCodecs.h"
#include "codec/audio/CG711_Parser.h"
#include "tests/capture/CaptureBuilder.h"
#include "tests/support/CaptureSupport.h"

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
  // The sample table's unscaled values are the same outputs (A-law 0xD5 is +1, not the
  // interval's lower edge 0).
  for (int c = 0; c < 256; ++c) {
    EXPECT_EQ(CG711_Decode::ALawValue(uint8_t(c)) * 8, alawRef[c]) << c;
    EXPECT_EQ(CG711_Decode::ULawValue(uint8_t(c)) * 4, ulawRef[c]) << c;
  }
}

TEST(G711Decode, RecordsAndCapacity) {
  CG711_Decode ulaw(false);
  const uint8_t codes[] = {0x00, 0xD5, 0x80, 0xFF};
  int16_t out[4] = {};
  // (The values themselves: EveryCodeEqualsTheReferenceDecoder.)
  EXPECT_EQ(ulaw.DecodeSamples(codes, 4, out, sizeof out), 8u);
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
  std::vector<uint8_t> Payload(uint64_t row) { return test::RowPayload(capture_, row); }
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
  // 12,000 PCMU packets (4 minutes); packet i's payload bytes are 0xD5 ^ i.
  using namespace test;
  const TempFile file(ClassicPcap(AudioStream(Ip(10, 0, 0, 1), 5000, Ip(10, 0, 0, 2), 6000, 12000)));
  CRTP_Parser capture;
  ASSERT_EQ(capture.Open(file.Path()), OpenResult::kOk);
  capture.Analyse(nullptr);
  CAvStream* stream = capture.StreamObject(0);
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(stream->Frames().GetCount(), 12000u);
  EXPECT_EQ(capture.DroppedPayloads(), 0u);
  uint32_t size = 0;
  const uint8_t* last = stream->GetFrameData(11999, &size, nullptr);
  ASSERT_NE(last, nullptr);
  ASSERT_EQ(size, 160u);
  EXPECT_EQ(last[5], static_cast<uint8_t>(0xD5 ^ 11999));
}

}  // namespace
}  // namespace fennik
