// Stream extraction on committed captures and on captures built here:
// - h264-pcmu-sip-udp.pcap (scripts/make-extract-capture): ffmpeg sent the x264 stream
//   tests/data/extract/h264-rtp.264 over RTP (STAP-A, FU-A, single NAL units) next to a PCMU
//   stream; the raw extraction must give back the stream's NAL units.
// - l16-sip-tcp.pcapng (scripts/make-test-captures): two L16 directions in pcapng.
// Expected payloads are read straight from the file at the offsets the packet table holds.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/ByteOrder.h"
#include "capture/CRTP_Parser.h"
#include "capture/CStreamExtractor.h"
#include "capture/CVideoFrameAssembler.h"
#include "capture/H264PictureSize.h"
#include "tests/capture/CaptureBuilder.h"

namespace fennik {
namespace {

using test::Bytes;

const std::string kCaptures = test::TestData("captures/");
const std::string kH264Capture = kCaptures + "h264-pcmu-sip-udp.pcap";
const std::string kL16Capture = kCaptures + "l16-sip-tcp.pcapng";
const std::string kElementary = test::TestData("extract/h264-rtp.264");

using test::FileExists;
using test::ReadFileBytes;

struct Opened {
  CRTP_Parser capture;
  explicit Opened(const std::string& path) {
    EXPECT_EQ(capture.Open(path), OpenResult::kOk);
    capture.Analyse(nullptr);
  }
};

// The payload bytes of stream `index`'s packets with packet numbers in [start, end), read from
// the file at each entry's record offset plus payload offset.
Bytes PayloadsFromTable(const CRTP_Parser& capture, const std::string& path, uint32_t index,
                        uint32_t start = 0, uint32_t end = 0xFFFFFFFF) {
  const Bytes file = ReadFileBytes(path);
  Bytes out;
  for (uint64_t row : capture.StreamPacketIndices(index)) {
    uint64_t address = 0;
    RtpPacketEntry e{};
    capture.Packets().Get(row, &address, &e);
    if (e.packetNumber < start || e.packetNumber >= end) continue;
    const uint64_t at = address + e.payloadOffset;
    out.insert(out.end(), file.begin() + static_cast<long>(at),
               file.begin() + static_cast<long>(at + e.capturedPayload));
  }
  return out;
}

// NAL units of an Annex B byte stream (start codes 00 00 01 or 00 00 00 01), trailing zero
// bytes removed.
std::vector<Bytes> NalUnits(const Bytes& s) {
  std::vector<Bytes> units;
  size_t i = 0, begin = std::string::npos;
  while (i + 3 <= s.size()) {
    if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1) {
      if (begin != std::string::npos) units.emplace_back(s.begin() + static_cast<long>(begin), s.begin() + static_cast<long>(i));
      i += 3;
      begin = i;
    } else {
      ++i;
    }
  }
  if (begin != std::string::npos) units.emplace_back(s.begin() + static_cast<long>(begin), s.end());
  for (Bytes& u : units) {
    while (!u.empty() && u.back() == 0) u.pop_back();
  }
  return units;
}

ExtractionRequest Request(const std::string& out, uint32_t id, uint32_t method = 0,
                          int32_t start = 1, int32_t end = 1 << 30) {
  ExtractionRequest r;
  r.method = method;
  r.start = start;
  r.end = end;
  r.streamIds[0] = id;
  r.fileName = out;
  return r;
}

uint32_t PacketNumberOfRow(const CRTP_Parser& capture, uint64_t row) {
  uint64_t address = 0;
  RtpPacketEntry e{};
  capture.Packets().Get(row, &address, &e);
  return e.packetNumber;
}

TEST(Extract, RawAudioIsTheConcatenatedPayloads) {
  for (const std::string& path : {kH264Capture, kL16Capture}) {
    SCOPED_TRACE(path);
    Opened c(path);
    ASSERT_GE(c.capture.Streams().size(), 2u);
    test::TempPath out("out.raw");
    CStreamExtractor extractor(c.capture);
    const ExtractionResult r = extractor.Extract(Request(out.Path(), 1), nullptr);
    ASSERT_TRUE(r.Ok()) << ExtractStatusText(r.status);
    const Bytes expected = PayloadsFromTable(c.capture, path, 0);
    EXPECT_EQ(r.packets, c.capture.Streams()[0].packets);
    EXPECT_EQ(r.bytes, expected.size());
    EXPECT_EQ(ReadFileBytes(out.Path()), expected);
  }
}

TEST(Extract, RangeStartsAtStartPacketAndStopsBeforeEndPacket) {
  Opened c(kL16Capture);
  const std::vector<uint64_t> rows = c.capture.StreamPacketIndices(1);
  ASSERT_GE(rows.size(), 40u);
  const uint32_t start = PacketNumberOfRow(c.capture, rows[10]);
  const uint32_t end = PacketNumberOfRow(c.capture, rows[30]);
  test::TempPath out("out.raw");
  CStreamExtractor extractor(c.capture);
  const ExtractionResult r = extractor.Extract(Request(out.Path(), 2, 0, int32_t(start), int32_t(end)), nullptr);
  ASSERT_TRUE(r.Ok());
  EXPECT_EQ(r.packets, 20u);
  EXPECT_EQ(ReadFileBytes(out.Path()), PayloadsFromTable(c.capture, kL16Capture, 1, start, end));
}

TEST(Extract, RawH264GivesTheElementaryStreamsNalUnits) {
  Opened c(kH264Capture);
  ASSERT_EQ(c.capture.Streams()[1].codecType, 11u);
  ASSERT_EQ(c.capture.StreamObject(1), nullptr);  // works from the packet table alone
  test::TempPath out("out.264");
  CStreamExtractor extractor(c.capture);
  const ExtractionResult r = extractor.Extract(Request(out.Path(), 2), nullptr);
  ASSERT_TRUE(r.Ok());
  EXPECT_EQ(r.videoFrames, 50u);
  const Bytes raw = ReadFileBytes(out.Path());
  const std::vector<Bytes> expected = NalUnits(ReadFileBytes(kElementary));
  ASSERT_GT(expected.size(), 50u);
  EXPECT_EQ(NalUnits(raw), expected);
  // Every NAL unit behind a four-byte start code.
  ASSERT_GE(raw.size(), 4u);
  EXPECT_EQ(Bytes(raw.begin(), raw.begin() + 4), (Bytes{0, 0, 0, 1}));
}

// The AVI of both streams: frames and packets counted, and the picture size, which only the
// stream's SPS tells, patched into the main header.
TEST(Extract, AviTakesThePictureSizeFromTheSps) {
  Opened c(kH264Capture);
  test::TempPath out("out.avi");
  CStreamExtractor extractor(c.capture);
  ExtractionRequest request = Request(out.Path(), 1, 1);
  request.streamIds[1] = 2;
  const ExtractionResult r = extractor.Extract(request, nullptr);
  ASSERT_TRUE(r.Ok()) << ExtractStatusText(r.status);
  EXPECT_EQ(r.packets, 196u);
  EXPECT_EQ(r.videoFrames, 50u);
  const Bytes avi = ReadFileBytes(out.Path());
  ASSERT_GT(avi.size(), 200u);
  const std::string text(avi.begin(), avi.begin() + 200);
  const size_t avih = text.find("avih");
  ASSERT_NE(avih, std::string::npos);
  EXPECT_EQ(ReadLE32(&avi[avih + 8 + 32]), 320u);
  EXPECT_EQ(ReadLE32(&avi[avih + 8 + 36]), 240u);
  EXPECT_EQ(ReadLE32(&avi[avih + 8]), 40000u);  // 25 fps from the RTP timestamps
}

TEST(H264PictureSize, SequenceParameterSetsOfX264Streams) {
  uint32_t w = 0, h = 0;
  const Bytes stream = ReadFileBytes(kElementary);
  ASSERT_TRUE(H264PictureSizeInStream(stream.data(), stream.size(), w, h));
  EXPECT_EQ(w, 320u);
  EXPECT_EQ(h, 240u);
  const Bytes high = ReadFileBytes(std::string(FENNIK_TEST_DATA) + "/h264/high_cabac.264");
  ASSERT_TRUE(H264PictureSizeInStream(high.data(), high.size(), w, h));
  EXPECT_EQ(w, 176u);
  EXPECT_EQ(h, 144u);
  // A PPS, a truncated SPS and no start code at all.
  const Bytes pps{0x68, 0xEE, 0x3C, 0x80};
  EXPECT_FALSE(H264PictureSize(pps.data(), pps.size(), w, h));
  const std::vector<Bytes> units = NalUnits(stream);
  ASSERT_EQ(units[0][0] & 0x1F, 7);
  EXPECT_FALSE(H264PictureSize(units[0].data(), 6, w, h));
  EXPECT_FALSE(H264PictureSizeInStream(units[0].data(), units[0].size(), w, h));
}

TEST(Extract, AVideoFrameCutByTheEndPacketIsNotWritten) {
  Opened c(kH264Capture);
  // The second IDR picture is sent as FU-A fragments: end the range at its second fragment.
  const std::vector<uint64_t> rows = c.capture.StreamPacketIndices(1);
  const Bytes file = ReadFileBytes(kH264Capture);
  uint32_t markers = 0, end = 0;
  bool seenIdrStart = false;
  for (size_t i = 0; i + 1 < rows.size(); ++i) {
    RtpPacketEntry e{};
    uint64_t address = 0;
    c.capture.Packets().Get(rows[i], &address, &e);
    const uint8_t* payload = file.data() + address + e.payloadOffset;
    // FU-A start fragment (indicator 0x7C, S bit, type 5) after the first pictures.
    if (payload[0] == 0x7C && payload[1] == 0x85 && markers > 10) {
      seenIdrStart = true;
      RtpPacketEntry next{};
      c.capture.Packets().Get(rows[i + 1], &address, &next);
      end = next.packetNumber + 1;  // the range holds the start and one continuation
      break;
    }
    markers += e.marker;
  }
  ASSERT_TRUE(seenIdrStart);
  test::TempPath out("out.264");
  CStreamExtractor extractor(c.capture);
  const ExtractionResult r = extractor.Extract(Request(out.Path(), 2, 0, 1, int32_t(end)), nullptr);
  ASSERT_TRUE(r.Ok());
  const std::vector<Bytes> expected = NalUnits(ReadFileBytes(kElementary));
  const std::vector<Bytes> got = NalUnits(ReadFileBytes(out.Path()));
  EXPECT_EQ(r.videoFrames, markers);
  ASSERT_LT(got.size(), expected.size());
  EXPECT_EQ(got, std::vector<Bytes>(expected.begin(), expected.begin() + static_cast<long>(got.size())));
  EXPECT_NE(got.back()[0] & 0x1F, 5);  // no piece of the cut IDR picture
}

TEST(Extract, RefusedRequestsCreateNoFile) {
  Opened c(kH264Capture);
  CStreamExtractor extractor(c.capture);
  struct Case {
    const char* what;
    ExtractionRequest request;
    ExtractStatus status;
  };
  test::TempPath out("out.out");
  ExtractionRequest twoAudio = Request(out.Path(), 1, 1);
  twoAudio.streamIds[1] = 1;
  const uint32_t last = PacketNumberOfRow(c.capture, c.capture.Packets().GetCount() - 1);
  const Case cases[] = {
      {"start equal to end", Request(out.Path(), 1, 0, 5, 5), ExtractStatus::kBadRange},
      {"start after end", Request(out.Path(), 1, 0, 9, 5), ExtractStatus::kBadRange},
      {"start after the last packet", Request(out.Path(), 1, 0, int32_t(last + 1), int32_t(last + 9)),
       ExtractStatus::kNoPacketInRange},
      {"stream id 0", Request(out.Path(), 0), ExtractStatus::kBadStream},
      {"stream id past the table", Request(out.Path(), 3), ExtractStatus::kBadStream},
      {"no stream", Request(out.Path(), kNoStreamId), ExtractStatus::kBadStream},
      {"AVI with two audio streams", twoAudio, ExtractStatus::kNotForAvi},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    EXPECT_EQ(extractor.Extract(k.request, nullptr).status, k.status);
    EXPECT_FALSE(FileExists(out.Path()));
  }
  // A stream whose codec AVI has no code for (dynamic PT without SDP: codec unknown).
  Opened unknown(kCaptures + "g711a-g722-nosdp-nsec.pcap");
  ASSERT_EQ(unknown.capture.Streams()[0].codecType, 0u);
  CStreamExtractor other(unknown.capture);
  EXPECT_EQ(other.Extract(Request(out.Path(), 1, 1), nullptr).status, ExtractStatus::kNotForAvi);
  EXPECT_FALSE(FileExists(out.Path()));
  // In raw form the same stream is written packet by packet.
  const ExtractionResult raw = other.Extract(Request(out.Path(), 1, 0), nullptr);
  ASSERT_TRUE(raw.Ok());
  EXPECT_EQ(ReadFileBytes(out.Path()), PayloadsFromTable(unknown.capture, kCaptures + "g711a-g722-nosdp-nsec.pcap", 0));
}

TEST(Extract, OutputFailures) {
  Opened c(kH264Capture);
  CStreamExtractor extractor(c.capture);
  ExtractionResult r = extractor.Extract(Request("/nonexistent-folder/out.raw", 1), nullptr);
  EXPECT_EQ(r.status, ExtractStatus::kCreateFailed);
  EXPECT_NE(r.systemError, 0);
  // /dev/full accepts the open and fails every write: raw and AVI both report it.
  for (uint32_t method : {0u, 1u}) {
    r = extractor.Extract(Request("/dev/full", 2, method), nullptr);
    EXPECT_EQ(r.status, ExtractStatus::kWriteFailed) << method;
  }
  // The capture itself is never the output (a copy stands in for it here).
  {
    const Bytes before = ReadFileBytes(kH264Capture);
    test::TempFile copy(before);
    Opened opened(copy.Path());
    CStreamExtractor self(opened.capture);
    EXPECT_EQ(self.Extract(Request(copy.Path(), 1), nullptr).status, ExtractStatus::kOutputIsCapture);
    EXPECT_EQ(ReadFileBytes(copy.Path()), before);
  }
  // Without replace an existing file is refused and keeps its bytes.
  test::TempPath out("out.raw");
  { std::ofstream(out.Path()) << "keep"; }
  ExtractionRequest request = Request(out.Path(), 1);
  request.replace = false;
  r = extractor.Extract(request, nullptr);
  EXPECT_EQ(r.status, ExtractStatus::kCreateFailed);
  EXPECT_EQ(ReadFileBytes(out.Path()), (Bytes{'k', 'e', 'e', 'p'}));
}

// A capture larger than three chunks: 1,000-byte payloads of one stream, each with its own
// byte pattern, so a packet lost or doubled at a chunk boundary shows.
class Listener : public CExtractionListener {
 public:
  void OnProgress(uint64_t done, uint64_t total) override { calls.push_back({done, total}); }
  bool IsCancelled() const override { return cancelAfter != 0 && calls.size() >= cancelAfter; }
  std::vector<std::pair<uint64_t, uint64_t>> calls;
  size_t cancelAfter = 0;
};

TEST(Extract, WalksChunkByChunkWithProgressAndCancellation) {
  std::vector<test::Frame> frames;
  Bytes expected;
  for (int i = 0; i < 4000; ++i) {
    test::RtpFields f;
    f.payloadType = 0;
    f.sequence = static_cast<uint16_t>(i);
    f.timestamp = 1000u * static_cast<uint32_t>(i);
    Bytes payload(1000);
    for (size_t k = 0; k < payload.size(); ++k) payload[k] = static_cast<uint8_t>(i * 7 + k);
    expected.insert(expected.end(), payload.begin(), payload.end());
    frames.push_back({1'700'000'000'000'000 + 10000LL * i,
                      test::IpFrame(test::Ip(10, 0, 0, 1), test::Ip(10, 0, 0, 2), 4000, 5000,
                                    test::RtpPacket(f, payload))});
  }
  for (bool pcapng : {false, true}) {
    SCOPED_TRACE(pcapng ? "pcapng" : "pcap");
    test::TempFile file(pcapng ? test::Pcapng(frames) : test::ClassicPcap(frames), pcapng ? ".pcapng" : ".pcap");
    Opened c(file.Path());
    ASSERT_EQ(c.capture.Packets().GetCount(), 4000u);
    test::TempPath out("out.raw");
    CStreamExtractor extractor(c.capture);
    Listener progress;
    const ExtractionResult r = extractor.Extract(Request(out.Path(), 1), &progress);
    ASSERT_TRUE(r.Ok());
    EXPECT_EQ(ReadFileBytes(out.Path()), expected);
    // Before each chunk, then once at the end; the range is the file from the first record.
    ASSERT_GE(progress.calls.size(), 5u);
    const uint64_t total = progress.calls.front().second;
    uint64_t address = 0;
    c.capture.Packets().GetEntry(0, &address);
    EXPECT_EQ(total, c.capture.FileSize() - address);
    EXPECT_EQ(progress.calls.front().first, 0u);
    EXPECT_EQ(progress.calls.back(), std::make_pair(total, total));
    for (size_t i = 1; i < progress.calls.size(); ++i) {
      EXPECT_GT(progress.calls[i].first, progress.calls[i - 1].first);
      EXPECT_LE(progress.calls[i].first - progress.calls[i - 1].first, CStreamExtractor::kChunkSize);
    }

    Listener cancel;
    cancel.cancelAfter = 2;
    const ExtractionResult cancelled = extractor.Extract(Request(out.Path(), 1), &cancel);
    EXPECT_EQ(cancelled.status, ExtractStatus::kCancelled);
    const Bytes partial = ReadFileBytes(out.Path());
    EXPECT_GT(partial.size(), 0u);
    EXPECT_LT(partial.size(), expected.size());
    EXPECT_EQ(partial, Bytes(expected.begin(), expected.begin() + static_cast<long>(partial.size())));
  }
}

// RFC 6184 payloads, byte by byte.
TEST(VideoFrameAssembler, H264FragmentsAggregatesAndSingleUnits) {
  CVideoFrameAssembler a(11);
  // FU-A in three fragments: indicator F=0 NRI=3 type 28 (0x7C); headers S+type 5, type 5,
  // E+type 5.
  EXPECT_TRUE(a.Add(Bytes{0x7C, 0x85, 0x11, 0x12}.data(), 4));
  EXPECT_TRUE(a.Add(Bytes{0x7C, 0x05, 0x13}.data(), 3));
  EXPECT_TRUE(a.Add(Bytes{0x7C, 0x45, 0x14, 0x15}.data(), 4));
  EXPECT_EQ(a.Frame(), (Bytes{0, 0, 0, 1, 0x65, 0x11, 0x12, 0x13, 0x14, 0x15}));
  EXPECT_TRUE(a.KeyFrame());
  a.Clear();
  EXPECT_FALSE(a.KeyFrame());
  // STAP-A (0x18): NAL units of 2 and 3 bytes; then a single NAL unit (non-IDR slice, 0x41).
  EXPECT_TRUE(a.Add(Bytes{0x18, 0x00, 0x02, 0x67, 0xAA, 0x00, 0x03, 0x68, 0xBB, 0xCC}.data(), 10));
  EXPECT_TRUE(a.Add(Bytes{0x41, 0x9A}.data(), 2));
  EXPECT_EQ(a.Frame(), (Bytes{0, 0, 0, 1, 0x67, 0xAA, 0, 0, 0, 1, 0x68, 0xBB, 0xCC, 0, 0, 0, 1, 0x41, 0x9A}));
  EXPECT_FALSE(a.KeyFrame());
  a.Clear();
  // A continuation whose start was lost is dropped, as is a STAP-A size past the packet
  // (the units before it stay); a FU-A shorter than its two header bytes is dropped.
  EXPECT_TRUE(a.Add(Bytes{0x5C, 0x01, 0x77}.data(), 3));
  EXPECT_TRUE(a.Add(Bytes{0x18, 0x00, 0x01, 0x06, 0x00, 0x09, 0x01}.data(), 7));
  EXPECT_TRUE(a.Add(Bytes{0x7C}.data(), 1));
  EXPECT_EQ(a.Frame(), (Bytes{0, 0, 0, 1, 0x06}));
  EXPECT_EQ(a.Dropped(), 3u);
  a.Clear();
  // With the forbidden bit set the packet is no FU-A: copied whole as one unit.
  EXPECT_TRUE(a.Add(Bytes{0xFC, 0x85, 0x01}.data(), 3));
  EXPECT_EQ(a.Frame(), (Bytes{0, 0, 0, 1, 0xFC, 0x85, 0x01}));
}

TEST(VideoFrameAssembler, OtherCodecsAreCopiedAndFramesAreBounded) {
  CVideoFrameAssembler a(5);
  EXPECT_TRUE(a.Add(Bytes{0x00, 0x00, 0x01, 0xB6}.data(), 4));
  EXPECT_TRUE(a.Add(Bytes{0x55}.data(), 1));
  EXPECT_EQ(a.Frame(), (Bytes{0x00, 0x00, 0x01, 0xB6, 0x55}));
  EXPECT_TRUE(a.KeyFrame());
  const Bytes big(1 << 20, 0x42);
  size_t added = 0;
  while (a.Add(big.data(), static_cast<uint32_t>(big.size()))) ++added;
  EXPECT_EQ(added, CVideoFrameAssembler::kMaxFrame / big.size() - 1);
  EXPECT_LE(a.Frame().size(), CVideoFrameAssembler::kMaxFrame);
}

}  // namespace
}  // namespace fennik
