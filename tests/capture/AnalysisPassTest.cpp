// The analysis pass over captures built in memory: streams, codecs, SDP, timing, feeding
// stream objects, limits and bad input.
#include "capture/CRTP_Parser.h"

#include <gtest/gtest.h>

#include "capture/ErrorList.h"
#include "stream/CSupportCodec.h"
#include "tests/capture/CaptureBuilder.h"
#include "tests/capture/StubStream.h"

namespace fennik {
namespace {

using namespace fennik::test;

const uint32_t kA = Ip(10, 0, 0, 1), kB = Ip(10, 0, 0, 2);

struct Analysed {
  explicit Analysed(const Bytes& bytes) : file(bytes) {
    EXPECT_EQ(capture.Open(file.Path()), OpenResult::kOk);
    capture.SetErrorSink(&errors);
    capture.Analyse(nullptr);
  }
  TempFile file;
  ErrorList errors;
  CRTP_Parser capture;
};

std::vector<Frame> Merge(std::vector<Frame> a, const std::vector<Frame>& b) {
  a.insert(a.end(), b.begin(), b.end());
  std::stable_sort(a.begin(), a.end(),
                   [](const Frame& x, const Frame& y) { return x.timestampUs < y.timestampUs; });
  return a;
}

TEST(AnalysisPass, TwoDirectionsAreTwoStreamsWithStaticCodecs) {
  auto frames = Merge(AudioStream(kA, 4000, kB, 5000, 30, 1'700'000'000'000'000, 0),
                      AudioStream(kB, 5000, kA, 4000, 30, 1'700'000'000'005'000, 8));
  Analysed a(ClassicPcap(frames));
  ASSERT_EQ(a.capture.Streams().size(), 2u);
  const RtpStreamEntry& first = a.capture.Streams()[0];
  EXPECT_EQ(first.codecType, 106u);
  EXPECT_STREQ(first.encodingName, "PCMU");
  EXPECT_EQ(first.clockRate, 8000u);
  EXPECT_EQ(first.packets, 30u);
  EXPECT_EQ(a.capture.Streams()[1].codecType, 105u);
  EXPECT_EQ(a.capture.Packets().GetCount(), 60u);
  EXPECT_TRUE(a.capture.MissingSdp().empty());
  // Packets alternate between the streams; capture times count from the first record.
  const RtpPacketEntry* e = a.capture.Packets().GetEntry(1, nullptr);
  EXPECT_EQ(e->streamIndex, 1);
  EXPECT_EQ(e->captureTime, 5u);
  EXPECT_EQ(e->packetNumber, 2u);
  EXPECT_EQ(e->payloadLength, 160);
  EXPECT_EQ(e->capturedPayload, 160u);
  EXPECT_EQ(e->frameIndex, kNoFrame);
  frames[0].bytes.resize(70000);  // a record beyond 65535 bytes (a trailer): its length saturates
  EXPECT_EQ(Analysed(ClassicPcap({frames[0]})).capture.Packets().GetEntry(0, nullptr)->RecordLength(), 65535u);
}

TEST(AnalysisPass, SsrcAndPayloadTypeChangesStayInOneStream) {
  auto frames = AudioStream(kA, 4000, kB, 5000, 4);
  RtpFields other;
  other.payloadType = 18;
  other.sequence = 104;
  other.timestamp = 8640;
  other.ssrc = 0x99;
  Bytes changed = IpFrame(kA, kB, 4000, 5000, RtpPacket(other, Bytes(20, 0)));
  frames.push_back({frames.back().timestampUs + 20000, changed});
  Analysed a(ClassicPcap(frames));
  ASSERT_EQ(a.capture.Streams().size(), 1u);
  EXPECT_EQ(a.capture.Streams()[0].payloadType, 0u);
}

TEST(AnalysisPass, FirstRecordFixesTimeZeroEvenWhenNotRtp) {
  auto frames = AudioStream(kA, 4000, kB, 5000, 3, 1'700'000'000'250'000);
  frames.insert(frames.begin(), {1'700'000'000'000'000, IpFrame(kA, kB, 53, 53, Bytes(30, 0))});
  Analysed a(ClassicPcap(frames));
  EXPECT_EQ(a.capture.Packets().GetEntry(0, nullptr)->captureTime, 250u);
  EXPECT_EQ(a.capture.Packets().GetEntry(0, nullptr)->packetNumber, 2u);
}

TEST(AnalysisPass, CaptureCrossingMidnightKeepsCounting) {
  const int64_t beforeMidnight = 1'700'006'399'980'000;  // 23:59:59.980 UTC
  ASSERT_EQ(beforeMidnight / 1000000 % 86400, 86399);
  Analysed a(ClassicPcap(AudioStream(kA, 4000, kB, 5000, 5, beforeMidnight)));
  for (uint64_t i = 0; i < 5; ++i) {
    EXPECT_EQ(a.capture.Packets().GetEntry(i, nullptr)->captureTime, 20u * i);
  }
}

TEST(AnalysisPass, DynamicPayloadTypeTakesItsCodecFromSdpSeenLater) {
  auto frames = AudioStream(kA, 4000, kB, 5000, 6, 1'700'000'000'000'000, 96);
  std::string sdp = "v=0\r\nc=IN IP4 10.0.0.2\r\nm=audio 5000 RTP/AVP 96\r\na=rtpmap:96 PCMA/8000\r\n";
  Bytes sip(sdp.begin(), sdp.end());
  // The SDP arrives after the stream's third packet.
  frames.insert(frames.begin() + 3, {frames[2].timestampUs + 1, IpFrame(kB, kA, 5060, 5060, sip)});
  Analysed a(ClassicPcap(frames));
  ASSERT_EQ(a.capture.Streams().size(), 1u);
  EXPECT_EQ(a.capture.Streams()[0].codecType, 105u);
  EXPECT_STREQ(a.capture.Streams()[0].encodingName, "PCMA");
  EXPECT_TRUE(a.capture.MissingSdp().empty());
}

class SdpMissingListener : public CAvEventListener {
 public:
  void OnSdpMissing(CRTP_Parser&) override { ++calls; }
  void OnProgress(uint64_t, uint64_t) override { ++progress; }
  int calls = 0;
  int progress = 0;
};

TEST(AnalysisPass, MissingSdpIsReportedOnceAndUserSdpFillsIt) {
  Bytes bytes = ClassicPcap(AudioStream(kA, 4000, kB, 5000, 5, 1'700'000'000'000'000, 97));
  TempFile file(bytes);
  CRTP_Parser first;
  ASSERT_EQ(first.Open(file.Path()), OpenResult::kOk);
  SdpMissingListener listener;
  EXPECT_TRUE(first.Analyse(&listener));
  EXPECT_EQ(listener.calls, 1);
  EXPECT_GE(listener.progress, 1);
  ASSERT_EQ(first.MissingSdp().size(), 1u);
  EXPECT_EQ(first.Streams()[0].codecType, 0u);
  EXPECT_EQ(first.Streams()[0].clockRate, 90000u);

  // The re-parse: the user's body plus lines naming the stream's source.
  const MissingSdpEntry m = first.MissingSdp()[0];
  CRTP_Parser second;
  ASSERT_EQ(second.Open(file.Path()), OpenResult::kOk);
  second.AddUserSdp(MakeUserSdpText("v=0\r\nm=audio 0 RTP/AVP 97\r\na=rtpmap:97 G722/8000\r\n",
                                    m.sourceAddress, m.sourcePort));
  SdpMissingListener again;
  second.Analyse(&again);
  EXPECT_EQ(again.calls, 0);
  EXPECT_EQ(second.Streams()[0].codecType, 107u);
  EXPECT_TRUE(second.SdpSuppliedByUser());
}

TEST(AnalysisPass, UserSdpMadeForOneDirectionAlsoMatchesTheReverseDirection) {
  auto frames = Merge(AudioStream(kA, 4000, kB, 5000, 5, 1'700'000'000'000'000, 97),
                      AudioStream(kB, 5000, kA, 4000, 5, 1'700'000'000'001'000, 97));
  TempFile file(ClassicPcap(frames));
  CRTP_Parser c;
  ASSERT_EQ(c.Open(file.Path()), OpenResult::kOk);
  // Made for the first stream (source kA:4000); the second is sent to kA:4000.
  c.AddUserSdp(MakeUserSdpText("v=0\r\na=rtpmap:97 PCMA/8000\r\n", kA, 4000));
  c.Analyse(nullptr);
  ASSERT_EQ(c.Streams().size(), 2u);
  EXPECT_EQ(c.Streams()[0].codecType, 105u);
  EXPECT_EQ(c.Streams()[1].codecType, 105u);
  EXPECT_TRUE(c.MissingSdp().empty());
}

// A capture opened from memory (the fuzz targets' way) gives what the file gives, and its
// reads stop at the end of the bytes.
TEST(AnalysisPass, CaptureInMemoryGivesTheFilesTables) {
  const std::string path = TestData("sample.pcap");
  const Bytes bytes = ReadFileBytes(path);
  CRTP_Parser file, memory;
  ASSERT_EQ(file.Open(path), OpenResult::kOk);
  ASSERT_EQ(memory.OpenBytes(bytes.data(), bytes.size()), OpenResult::kOk);
  file.Analyse(nullptr);
  memory.Analyse(nullptr);
  EXPECT_EQ(memory.Packets().GetCount(), file.Packets().GetCount());
  ASSERT_EQ(memory.Streams().size(), 2u);
  EXPECT_EQ(memory.Streams()[1].packets, file.Streams()[1].packets);
  uint8_t tail[4] = {};
  EXPECT_EQ(memory.ReadAt(bytes.size() - 2, tail, 4), 2u);
  EXPECT_EQ(memory.ReadAt(bytes.size(), tail, 4), 0u);
  EXPECT_FALSE(memory.Write(tail, 1));
  CRTP_Parser text;
  EXPECT_EQ(text.OpenBytes(bytes.data() + 40, 64), OpenResult::kNotSupported);
}

TEST(AnalysisPass, SequenceErrorsEnterTheErrorListOnce) {
  auto frames = AudioStream(kA, 4000, kB, 5000, 10);
  frames.erase(frames.begin() + 4);  // lose one packet
  Analysed a(ClassicPcap(frames));
  EXPECT_EQ(a.capture.Streams()[0].sequenceErrors, 1u);
  ASSERT_EQ(a.errors.UsedCount(), 1);
  const ErrorListEntry& err = a.errors.At(0);
  EXPECT_EQ(err.packetNumber, 5u);
  EXPECT_EQ(err.containerKind, kContainerKindRtp);
  EXPECT_EQ(err.errorCode, kErrorCodeSequence);
  a.errors.Record(err.fileOffset, 5, 0);
  EXPECT_EQ(a.errors.UsedCount(), 1);
  EXPECT_STREQ(ErrorText(1, 1), "シーケンス番号が不連続");
  EXPECT_STREQ(ErrorText(1, 0), "The sequence number is discrete.");
  EXPECT_STREQ(ErrorText(99, 0), "");
}

TEST(AnalysisPass, MoreThan256StreamsKeepTheirOwnIndex) {
  std::vector<Frame> frames;
  for (int s = 0; s < 300; ++s) {
    auto one = AudioStream(kA, static_cast<uint16_t>(10000 + s), kB, 5000, 2,
                           1'700'000'000'000'000 + s * 100);
    frames.insert(frames.end(), one.begin(), one.end());
  }
  Analysed a(ClassicPcap(frames));
  ASSERT_EQ(a.capture.Streams().size(), 300u);
  for (uint64_t i = 0; i < a.capture.Packets().GetCount(); ++i) {
    const RtpPacketEntry* e = a.capture.Packets().GetEntry(i, nullptr);
    ASSERT_EQ(a.capture.Streams()[e->streamIndex].sourcePort, 10000 + i / 2) << i;
  }
  EXPECT_EQ(a.capture.RefusedStreamPackets(), 0u);
  // Names survive the stream table's growth.
  EXPECT_STREQ(a.capture.Streams()[0].encodingName, "PCMU");
  EXPECT_STREQ(a.capture.Streams()[299].encodingName, "PCMU");
}

TEST(AnalysisPass, StreamsBeyondTheLastStreamIdAreRefusedAndCounted) {
  // 65,535 streams fit (ids 1..65535); the packets of two more streams are refused.
  std::vector<Frame> frames;
  RtpFields f;
  const Bytes payload(8, 0);
  for (uint32_t i = 0; i < CRTP_Parser::kMaxStreams + 2; ++i) {
    const uint32_t dst = Ip(10, 9, static_cast<int>(i >> 8 & 0xFF), static_cast<int>(i & 0xFF));
    frames.push_back({1'700'000'000'000'000 + i, IpFrame(kA, dst, 4000, static_cast<uint16_t>(5000 + (i >> 16)),
                                                        RtpPacket(f, payload))});
  }
  Analysed a(ClassicPcap(frames));
  EXPECT_EQ(a.capture.Streams().size(), CRTP_Parser::kMaxStreams);
  EXPECT_EQ(a.capture.Packets().GetCount(), CRTP_Parser::kMaxStreams);
  EXPECT_EQ(a.capture.RefusedStreamPackets(), 2u);
  const RtpPacketEntry* last = a.capture.Packets().GetEntry(CRTP_Parser::kMaxStreams - 1, nullptr);
  EXPECT_EQ(last->streamIndex, CRTP_Parser::kMaxStreams - 1);
}

TEST(AnalysisPass, OpenReportsWhatWentWrong) {
  CRTP_Parser c;
  EXPECT_EQ(c.Open("/nonexistent/capture.pcap"), OpenResult::kCantOpen);
  TempFile text(Bytes(100, 'x'));
  EXPECT_EQ(c.Open(text.Path()), OpenResult::kNotSupported);
  TempFile tiny(Bytes(10, 0));
  EXPECT_EQ(c.Open(tiny.Path()), OpenResult::kNotSupported);
  EXPECT_EQ(c.Open("/tmp"), OpenResult::kCantOpen);
}

TEST(AnalysisPass, CancelledPassReportsFailure) {
  class Cancelling : public CAvEventListener {
   public:
    explicit Cancelling(CRTP_Parser& c) : c_(c) {}
    void OnProgress(uint64_t, uint64_t) override { c_.Cancel(); }
    CRTP_Parser& c_;
  };
  TempFile file(ClassicPcap(AudioStream(kA, 4000, kB, 5000, 5)));
  CRTP_Parser c;
  ASSERT_EQ(c.Open(file.Path()), OpenResult::kOk);
  Cancelling listener(c);
  EXPECT_FALSE(c.Analyse(&listener));
  EXPECT_EQ(c.Packets().GetCount(), 0u);
}

// A stream class for the tests: records what the pass hands it and cuts one frame per
// Parse call, as the generic audio parse does.
class RecordingStream : public test::StubStream {
 public:
  static inline std::vector<std::string> log;
  static inline std::vector<MediaFormat> formats;  // as each object saw it when it was set
  static std::unique_ptr<CAvStream> Create(int32_t) { return std::make_unique<RecordingStream>(); }
  void OnMediaFormat() override { formats.push_back(GetMediaFormat()); }

  void ResetDecoder() override { log.push_back("reset"); }
  int Open(const uint8_t*, size_t length, int32_t) override {
    log.push_back("open " + std::to_string(length));
    opened_ = true;
    return 1;
  }
  int32_t GetCodecType() const override { return 106; }
  bool IsVideo() const override { return false; }
  size_t Parse(uint32_t streamId, CPayloadDescriptor& descriptor) override {
    CAnarizeBuffer* b = descriptor.Find(streamId);
    if (b == nullptr || b->Pending() == 0) return 0;
    const AnarizePacket* at = FirstPendingPacket(*b);
    FrameEntry f;
    f.size = static_cast<uint32_t>(b->Pending());
    f.packetNumber = at->packetNumber;
    f.frameNumber = static_cast<uint32_t>(frames_.GetCount());
    frames_.Add(at->fileOffset, f);
    if (listener_) listener_->OnFrameAdded(f.frameNumber, streamId, at->fileOffset, f.size, f.packetNumber);
    log.push_back("parse " + std::to_string(b->Pending()));
    return b->Pending();
  }
};

class WithRecordingStream : public ::testing::Test {
 protected:
  void SetUp() override {
    RecordingStream::log.clear();
    RecordingStream::formats.clear();
    CSupportCodec::RegisterParser(106, RecordingStream::Create);
  }
  void TearDown() override { CSupportCodec::RegisterParser(106, nullptr); }
};

TEST_F(WithRecordingStream, StreamObjectsGetWholeAccessUnitsAndFramesAreNoted) {
  auto frames = AudioStream(kA, 4000, kB, 5000, 4);
  // A second packet sharing the third packet's timestamp: one access unit of 320 bytes.
  Frame extra = frames[2];
  extra.timestampUs += 5000;
  extra.bytes[14 + 20 + 8 + 3] += 10;  // sequence number low byte: keep it distinct
  frames.insert(frames.begin() + 3, extra);
  Analysed a(ClassicPcap(frames));
  EXPECT_EQ(RecordingStream::log,
            (std::vector<std::string>{"open 160", "parse 160", "parse 160", "parse 320",
                                      "parse 160", "reset"}));
  const CAvStream* object = a.capture.StreamObject(0);
  ASSERT_NE(object, nullptr);
  EXPECT_EQ(object->Frames().GetCount(), 4u);
  // Frame indices land in the packets where the frames begin; the shared packet has none.
  std::vector<uint32_t> indices;
  for (uint64_t i = 0; i < a.capture.Packets().GetCount(); ++i) {
    indices.push_back(a.capture.Packets().GetEntry(i, nullptr)->frameIndex);
  }
  EXPECT_EQ(indices, (std::vector<uint32_t>{0, 1, 2, kNoFrame, 3}));
  EXPECT_GT(a.capture.Packets().GetEntry(4, nullptr)->bitRate, 0u);
}

TEST_F(WithRecordingStream, StreamWithOneTimestampGetsItsPayloadAtTheEnd) {
  auto frames = AudioStream(kA, 4000, kB, 5000, 3);
  for (Frame& f : frames) {
    for (int i = 0; i < 4; ++i) f.bytes[14 + 20 + 8 + 4 + i] = 0x11;  // same RTP timestamp
  }
  Analysed a(ClassicPcap(frames));
  EXPECT_EQ(RecordingStream::log, (std::vector<std::string>{"parse 480", "reset"}));
}

TEST_F(WithRecordingStream, StreamObjectsGetTheFmtpParametersOfTheirPayloadType) {
  // Three streams towards kB: PT 96 mapped by the SDP with two fmtp lines, static PT 0 whose
  // SDP adds an fmtp line without rtpmap, static PT 0 on a port no SDP names.
  auto frames = Merge(Merge(AudioStream(kA, 4000, kB, 5000, 3, 1'700'000'000'000'000, 96),
                            AudioStream(kA, 4002, kB, 5002, 3, 1'700'000'000'001'000, 0)),
                      AudioStream(kA, 4004, kB, 5004, 3, 1'700'000'000'002'000, 0));
  TempFile file(ClassicPcap(frames));
  CRTP_Parser c;
  ASSERT_EQ(c.Open(file.Path()), OpenResult::kOk);
  c.AddUserSdp("v=0\r\nc=IN IP4 10.0.0.2\r\nm=audio 5000 RTP/AVP 96\r\n"
               "a=rtpmap:96 PCMU/8000\r\na=fmtp:96 Foo = 1 ; sprop-x=Z0IAHpWoKA9k,aM48gA==\r\n"
               "a=fmtp:96 bar\r\n");
  c.AddUserSdp("v=0\r\nc=IN IP4 10.0.0.2\r\nm=audio 5002 RTP/AVP 0\r\na=fmtp:0 annexb=no\r\n");
  c.Analyse(nullptr);
  ASSERT_EQ(c.Streams().size(), 3u);
  EXPECT_EQ(c.Streams()[0].codecType, 106u);
  ASSERT_EQ(RecordingStream::formats.size(), 3u);

  const MediaFormat& dynamic = RecordingStream::formats[0];
  EXPECT_EQ(dynamic.payloadType, 96u);
  EXPECT_STREQ(dynamic.encodingName, "PCMU");
  EXPECT_EQ(dynamic.clockRate, 8000u);
  EXPECT_TRUE(dynamic.hasRtpmap);
  EXPECT_EQ(dynamic.fmtpText, "Foo = 1 ; sprop-x=Z0IAHpWoKA9k,aM48gA==; bar");
  EXPECT_EQ(dynamic.Fmtp("foo"), "1");
  EXPECT_EQ(dynamic.Fmtp("SPROP-X"), "Z0IAHpWoKA9k,aM48gA==");
  EXPECT_EQ(dynamic.Fmtp("bar"), "");
  EXPECT_EQ(dynamic.Fmtp("baz"), std::nullopt);
  EXPECT_EQ(c.StreamObject(0)->Fmtp("foo"), "1");  // kept for the object's later work

  const MediaFormat& withFmtp = RecordingStream::formats[1];
  EXPECT_EQ(withFmtp.payloadType, 0u);
  EXPECT_STREQ(withFmtp.encodingName, "PCMU");
  EXPECT_EQ(withFmtp.Fmtp("annexb"), "no");
  EXPECT_EQ(c.Streams()[1].codecType, 106u);  // the static table still decides the codec

  const MediaFormat& plain = RecordingStream::formats[2];
  EXPECT_STREQ(plain.encodingName, "PCMU");
  EXPECT_TRUE(plain.fmtp.empty());
  EXPECT_TRUE(plain.fmtpText.empty());
}

TEST_F(WithRecordingStream, SippAudioVideoCallGivesBothMediaTheirCodecAndTheVideoItsFmtp) {
  // SIPp offer and answer with an audio and a video media line, both dynamic payload types
  // (tests/data/captures/README.md, av-sipp-udp.pcap).
  CSupportCodec::RegisterParser(11, RecordingStream::Create);
  CSupportCodec::RegisterParser(113, RecordingStream::Create);
  CRTP_Parser c;
  ASSERT_EQ(c.Open(std::string(FENNIK_TEST_DATA) + "/captures/av-sipp-udp.pcap"), OpenResult::kOk);
  c.Analyse(nullptr);
  CSupportCodec::RegisterParser(11, nullptr);
  CSupportCodec::RegisterParser(113, nullptr);
  ASSERT_EQ(c.Streams().size(), 3u);
  EXPECT_TRUE(c.MissingSdp().empty());
  ASSERT_EQ(RecordingStream::formats.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    const RtpStreamEntry& s = c.Streams()[i];
    const MediaFormat& f = RecordingStream::formats[i];
    SCOPED_TRACE(s.sourcePort);
    if (s.sourcePort == 29002) {
      EXPECT_STREQ(s.encodingName, "H264");
      EXPECT_EQ(f.codecType, 11u);
      EXPECT_EQ(f.Fmtp("sprop-parameter-sets"), "Z0LACtkCxOwEQAAAAwBAAAAFA8SJkg==,aMuDyyA=");
      EXPECT_EQ(f.FmtpNumber("packetization-mode"), 1u);
    } else {
      EXPECT_STREQ(s.encodingName, "opus");
      EXPECT_EQ(s.clockRate, 48000u);
      EXPECT_EQ(s.channels, 2u);
      EXPECT_EQ(f.codecType, 113u);
      EXPECT_EQ(f.fmtpText, "minptime=10;useinbandfec=1");
    }
  }
}

}  // namespace
}  // namespace fennik
