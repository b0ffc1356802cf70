// H.263 RTP payload headers are removed before the bitstream is used: captures of ffmpeg's RTP
// muxer (RFC 2190 modes A and B with SBIT/EBIT joins, RFC 4629 with the P bit) must give back,
// picture by picture, exactly the elementary stream the encoder wrote (tests/data/h263/rtp,
// see its README), both in the analysis pass and when the loader reads a picture again.
#include "capture/H263RtpPayload.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/CAvFile.h"
#include "capture/CRTP_LoadStream.h"
#include "capture/CRTP_Parser.h"
#include "stream/CSupportCodec.h"
#include "tests/capture/StubStream.h"
#include "tests/support/TestSupport.h"

namespace fennik {
namespace {

using Bytes = std::vector<uint8_t>;

std::string RtpFixture(const std::string& name) { return std::string(FENNIK_TEST_DATA) + "/h263/rtp/" + name; }

// The elementary stream cut at its picture start codes.
std::vector<Bytes> Pictures(const Bytes& es) {
  std::vector<size_t> starts;
  for (size_t i = 0; i + 2 < es.size(); ++i)
    if (es[i] == 0 && es[i + 1] == 0 && (es[i + 2] & 0xFC) == 0x80) starts.push_back(i);
  std::vector<Bytes> out;
  for (size_t i = 0; i < starts.size(); ++i)
    out.emplace_back(es.begin() + static_cast<long>(starts[i]),
                     es.begin() + static_cast<long>(i + 1 < starts.size() ? starts[i + 1] : es.size()));
  return out;
}

// Per picture (RTP timestamp) of a classic-pcap Ethernet/IPv4/UDP capture: whether one of its
// RFC 2190 payloads starts with F and P set. ffmpeg's RFC 2190 packetizer (5.1) writes some
// mode B headers whose field values overflow into the first byte (F, P, SBIT and EBIT all
// ones); the bits such a packet carries cannot be placed, so those pictures are not compared.
std::vector<bool> PicturesWithBrokenHeaders(const std::string& path) {
  const Bytes d = test::ReadFileBytes(path);
  std::vector<bool> out;
  uint32_t last = 0;
  for (size_t pos = 24; pos + 16 <= d.size();) {
    const size_t length = d[pos + 8] | d[pos + 9] << 8 | d[pos + 10] << 16 | size_t{d[pos + 11]} << 24;
    const uint8_t* rtp = d.data() + pos + 16 + 14 + 20 + 8;
    pos += 16 + length;
    if (length < 14 + 20 + 8 + 13) continue;
    const uint32_t ts = uint32_t{rtp[4]} << 24 | rtp[5] << 16 | rtp[6] << 8 | rtp[7];
    if (out.empty() || ts != last) out.push_back(false);
    last = ts;
    if ((rtp[1] & 0x7F) == 34 && (rtp[12] & 0xC0) == 0xC0) out.back() = true;
  }
  return out;
}

// Collects the bytes the analysis pass hands an H.263 stream object, one access unit (one
// picture) per Parse call, and notes a frame at the packet where each begins.
class CollectingStream : public test::StubStream {
 public:
  static inline std::vector<Bytes> units;
  static std::unique_ptr<CAvStream> Create(int32_t) { return std::make_unique<CollectingStream>(); }
  int32_t GetCodecType() const override { return 6; }
  bool IsVideo() const override { return true; }
  size_t Parse(uint32_t streamId, CPayloadDescriptor& descriptor) override {
    CAnarizeBuffer* b = descriptor.Find(streamId);
    if (b == nullptr || b->Pending() == 0) return 0;
    if (const AnarizePacket* p = FirstPendingPacket(*b)) {
      FrameEntry f;
      f.size = static_cast<uint32_t>(b->Pending());
      f.frameNumber = static_cast<uint32_t>(Frames().GetCount());
      Frames().Add(p->fileOffset, f);
    }
    units.emplace_back(b->Data() + b->Consumed(), b->Data() + b->Used());
    return b->Pending();
  }
};

struct CaptureCase {
  const char* capture;
  const char* stream;
  const char* sdp;  // null: static payload type 34
  H263PayloadFormat format;
};

class H263RtpCaptures : public ::testing::TestWithParam<CaptureCase> {
 protected:
  void SetUp() override {
    CollectingStream::units.clear();
    CSupportCodec::RegisterParser(6, CollectingStream::Create);
  }
  void TearDown() override { CSupportCodec::RegisterParser(6, nullptr); }
};

TEST_P(H263RtpCaptures, PayloadsGiveBackTheElementaryStream) {
  const CaptureCase& c = GetParam();
  const std::vector<Bytes> expected = Pictures(test::ReadFileBytes(RtpFixture(c.stream)));
  ASSERT_EQ(expected.size(), 8u);
  CRTP_Parser capture;
  ASSERT_EQ(capture.Open(RtpFixture(c.capture)), OpenResult::kOk);
  if (c.sdp != nullptr) {
    const Bytes sdp = test::ReadFileBytes(RtpFixture(c.sdp));
    capture.AddUserSdp(std::string(sdp.begin(), sdp.end()));
  }
  capture.Analyse(nullptr);
  ASSERT_EQ(capture.Streams().size(), 1u);
  EXPECT_EQ(capture.Streams()[0].codecType, 6u);
  // Analysis pass: one unit per picture, the picture's bytes exactly.
  ASSERT_EQ(CollectingStream::units.size(), expected.size());
  const std::vector<bool> broken = PicturesWithBrokenHeaders(RtpFixture(c.capture));
  ASSERT_EQ(broken.size(), expected.size());
  EXPECT_LE(std::count(broken.begin(), broken.end(), true), 5);
  for (size_t i = 0; i < expected.size(); ++i)
    if (!broken[i]) {
      EXPECT_EQ(CollectingStream::units[i], expected[i]) << "picture " << i;
    }
  // Loader: each picture read again from its first packet.
  const CAvStream* object = capture.StreamObject(0);
  ASSERT_NE(object, nullptr);
  ASSERT_EQ(object->Frames().GetCount(), expected.size());
  CAvFile file;
  ASSERT_TRUE(file.OpenFile(RtpFixture(c.capture), CAvFile::kRead));
  file.ReadWindow(0);
  CaptureFormatInfo info;
  ASSERT_TRUE(DetectCaptureFormat(file.Window().Data(), file.Window().Valid(), info));
  const RtpStreamEntry& s = capture.Streams()[0];
  CRTP_LoadStream loader(file, info, {kLinkEthernet},
                         {s.sourceAddress, s.destinationAddress, s.sourcePort, s.destinationPort}, false);
  loader.SetH263PayloadFormat(c.format);
  for (uint32_t i = 0; i < expected.size(); ++i) {
    uint64_t address = 0;
    FrameEntry entry;
    ASSERT_NE(object->Frames().Get(i, &address, &entry), 0);
    Bytes got(1 << 16);
    const uint32_t n = loader.Read(got.data(), static_cast<uint32_t>(got.size()), 1u << 16, address);
    got.resize(n);
    if (!broken[i]) {
      EXPECT_EQ(got, expected[i]) << "picture " << i;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Muxer, H263RtpCaptures,
    ::testing::Values(CaptureCase{"h263-rfc2190-cif.pcap", "h263-rfc2190-cif.263", nullptr, H263PayloadFormat::kRfc2190},
                      CaptureCase{"h263-rfc2190-qcif.pcap", "h263-rfc2190-qcif.263", nullptr, H263PayloadFormat::kRfc2190},
                      CaptureCase{"h263p-rfc4629-qcif.pcap", "h263p-rfc4629-qcif.263", "h263p-rfc4629-qcif.sdp",
                                  H263PayloadFormat::kRfc4629}),
    [](const ::testing::TestParamInfo<CaptureCase>& info) {
      std::string name = info.param.capture;
      name = name.substr(0, name.find('.'));
      for (char& ch : name)
        if (ch == '-') ch = '_';
      return name;
    });

TEST(H263RtpPayload, EncodingNamesAndDetection) {
  EXPECT_EQ(H263PayloadFormatFromEncoding("H263"), H263PayloadFormat::kRfc2190);
  EXPECT_EQ(H263PayloadFormatFromEncoding("h263-1998"), H263PayloadFormat::kRfc4629);
  EXPECT_EQ(H263PayloadFormatFromEncoding("H263-2000"), H263PayloadFormat::kRfc4629);
  EXPECT_EQ(H263PayloadFormatFromEncoding("H264"), H263PayloadFormat::kNone);
  // RFC 4629 picture start: P set, no VRC / extra header, then the PSC without its zero bytes.
  const uint8_t rfc4629[] = {0x04, 0x00, 0x80, 0x02, 0x0a};
  EXPECT_EQ(DetectH263PayloadFormat(rfc4629, sizeof rfc4629), H263PayloadFormat::kRfc4629);
  // RFC 2190 mode A header (F 0, SBIT 0), then a PSC.
  const uint8_t rfc2190[] = {0x00, 0x40, 0x00, 0x00, 0x00, 0x00, 0x80, 0x02};
  EXPECT_EQ(DetectH263PayloadFormat(rfc2190, sizeof rfc2190), H263PayloadFormat::kRfc2190);
  const uint8_t neither[] = {0x80, 0x00, 0x00, 0x00, 0x12, 0x34, 0x56, 0x78};
  EXPECT_EQ(DetectH263PayloadFormat(neither, sizeof neither), H263PayloadFormat::kNone);
}

TEST(H263RtpPayload, BitBoundariesJoinOnlyAcrossConsecutivePackets) {
  H263Depacketizer d(H263PayloadFormat::kRfc2190);
  Bytes out;
  // Mode A, EBIT 3: the last byte's low 3 bits are not part of the stream.
  const uint8_t a[] = {0x03, 0x40, 0x00, 0x00, 0x12, 0xAF};
  EXPECT_EQ(d.Append(a, sizeof a, out), 2);
  // Mode B, SBIT 5 (= 8 - EBIT): its first byte's low 3 bits complete the previous byte.
  const uint8_t b[] = {0xA8, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xE5, 0x66};
  EXPECT_EQ(d.Append(b, sizeof b, out), 1);
  EXPECT_EQ(out, (Bytes{0x12, 0xA8 | 0x05, 0x66}));
  // After a lost packet the partial byte is not completed by whatever comes next.
  d.Reset();
  out.clear();
  EXPECT_EQ(d.Append(b, sizeof b, out), 2);
  // A header longer than the payload is refused.
  const uint8_t shortB[] = {0x80, 0x00, 0x00};
  EXPECT_EQ(d.Append(shortB, sizeof shortB, out), -1);
  H263Depacketizer p(H263PayloadFormat::kRfc4629);
  const uint8_t vrc[] = {0x06, 0x00, 0x5A, 0x80, 0x02};  // P and V: VRC byte 0x5A is skipped
  out.clear();
  EXPECT_EQ(p.Append(vrc, sizeof vrc, out), 4);
  EXPECT_EQ(out, (Bytes{0x00, 0x00, 0x80, 0x02}));
}

}  // namespace
}  // namespace fennik
