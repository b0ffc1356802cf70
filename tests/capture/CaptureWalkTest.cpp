// The record walk over classic pcap and pcapng files built in memory.
#include "capture/CaptureWalk.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/capture/CaptureBuilder.h"

namespace fennik {
namespace {

using namespace fennik::test;

struct Seen {
  uint64_t fileOffset;
  uint32_t length;
  uint32_t frameOffset;
  uint32_t packetNumber;
  int64_t timestampUs;
};

class Collector : public CCaptureSink {
 public:
  void OnRecord(const CaptureRecord& r) override {
    seen.push_back({r.fileOffset, r.length, r.frameOffset, r.packetNumber, r.timestampUs});
  }
  std::vector<Seen> seen;
};

// The file is mapped and walked in place unless `mapped` is false (read through windows).
WalkResult WalkBytes(const Bytes& bytes, Collector& sink, CaptureFormatInfo* infoOut = nullptr,
                     bool mapped = true) {
  TempFile file(bytes);
  CAvFile f;
  f.AllowMapping(mapped);
  EXPECT_TRUE(f.OpenFile(file.Path(), CAvFile::kRead));
  EXPECT_EQ(f.InPlace() != nullptr, mapped);
  CaptureFormatInfo info;
  uint32_t n = f.ReadWindow(0);
  EXPECT_TRUE(DetectCaptureFormat(f.Window().Data(), n, info));
  if (infoOut) *infoOut = info;
  return CCaptureWalk(f, info).Run(sink);
}

std::vector<Frame> ThreeFrames() {
  return {{1'000'000'123'456, Bytes(60, 0xAA)},
          {1'000'000'143'456, Bytes(61, 0xBB)},
          {1'000'001'000'001, Bytes(62, 0xCC)}};
}

TEST(CaptureWalk, ClassicBothByteOrdersAndNanosecondsGiveTheSameRecords) {
  Collector le, be, nano;
  CaptureFormatInfo info;
  WalkBytes(ClassicPcap(ThreeFrames(), false), le, &info);
  EXPECT_FALSE(info.bigEndian);
  WalkBytes(ClassicPcap(ThreeFrames(), true), be, &info);
  EXPECT_TRUE(info.bigEndian);
  WalkBytes(ClassicPcap(ThreeFrames(), false, true), nano, &info);
  EXPECT_TRUE(info.nanosecond);
  ASSERT_EQ(le.seen.size(), 3u);
  for (const auto* other : {&be, &nano}) {
    ASSERT_EQ(other->seen.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
      EXPECT_EQ(other->seen[i].timestampUs, le.seen[i].timestampUs);
      EXPECT_EQ(other->seen[i].fileOffset, le.seen[i].fileOffset);
    }
  }
  // Records follow the 24-byte global header; each is 16 bytes of header + the frame.
  EXPECT_EQ(le.seen[0].fileOffset, 24u);
  EXPECT_EQ(le.seen[1].fileOffset, 24u + 16 + 60);
  EXPECT_EQ(le.seen[2].length, 16u + 62);
  EXPECT_EQ(le.seen[2].frameOffset, 16u);
  EXPECT_EQ(le.seen[2].packetNumber, 3u);
  EXPECT_EQ(le.seen[0].timestampUs, 1'000'000'123'456);
}

TEST(CaptureWalk, PcapngHonoursTheInterfaceTimestampResolution) {
  for (uint8_t resolution : {uint8_t{6}, uint8_t{9}, uint8_t{0x80 | 20}}) {
    for (bool bigEndian : {false, true}) {
      Collector sink;
      CaptureFormatInfo info;
      WalkResult r = WalkBytes(Pcapng(ThreeFrames(), bigEndian, resolution), sink, &info);
      EXPECT_EQ(info.format, CaptureFormat::kPcapng);
      EXPECT_EQ(info.bigEndian, bigEndian);
      EXPECT_EQ(r.end, WalkEnd::kEndOfFile);
      ASSERT_EQ(sink.seen.size(), 3u) << int(resolution);
      for (size_t i = 0; i < 3; ++i) {
        // Binary resolutions round down to the microsecond below.
        EXPECT_NEAR(static_cast<double>(sink.seen[i].timestampUs),
                    static_cast<double>(ThreeFrames()[i].timestampUs), 1.0)
            << "resolution " << int(resolution) << " packet " << i;
        EXPECT_EQ(sink.seen[i].packetNumber, i + 1);
        EXPECT_EQ(sink.seen[i].frameOffset, 28u);
      }
      // The record given to the decoder ends with the captured frame, before the padding.
      EXPECT_EQ(sink.seen[1].length, 28u + 61);
    }
  }
}

TEST(CaptureWalk, TicksConvertFromEveryResolution) {
  EXPECT_EQ(TicksToMicroseconds(1'500'000, 6), 1'500'000);
  EXPECT_EQ(TicksToMicroseconds(1'500'000'999, 9), 1'500'000);
  EXPECT_EQ(TicksToMicroseconds(15, 1), 1'500'000);
  EXPECT_EQ(TicksToMicroseconds(uint64_t{3} << 29, 0x80 | 30), 1'500'000);
  EXPECT_EQ(TicksToMicroseconds(12345, 0x80 | 100), 0);  // absurd: no undefined shift
}

TEST(CaptureWalk, HeaderOnlyFileYieldsNothingAndNoError) {
  Collector sink;
  WalkResult r = WalkBytes(ClassicPcap({}), sink);
  EXPECT_TRUE(sink.seen.empty());
  EXPECT_EQ(r.end, WalkEnd::kEndOfFile);
}

TEST(CaptureWalk, TruncatedLastRecordKeepsTheRecordsBefore) {
  Bytes bytes = ClassicPcap(ThreeFrames());
  bytes.resize(bytes.size() - 10);
  for (bool mapped : {true, false}) {
    Collector sink;
    WalkResult r = WalkBytes(bytes, sink, nullptr, mapped);
    EXPECT_EQ(sink.seen.size(), 2u);
    EXPECT_EQ(r.end, WalkEnd::kTruncated);
    EXPECT_EQ(r.stopOffset, 24u + 2 * 16 + 60 + 61);
  }
}

// Another program shortens the capture while it is mapped: the walk reads up to the loss
// and ends with a read error instead of dying of SIGBUS.
TEST(CaptureWalk, MappedFileShortenedWhileOpenEndsWithAReadError) {
  std::vector<Frame> frames;
  for (int i = 0; i < 200; ++i) frames.push_back({i * 1000, Bytes(1000, static_cast<uint8_t>(i))});
  const Bytes bytes = ClassicPcap(frames);
  TempFile file(bytes);
  CAvFile f;
  ASSERT_TRUE(f.OpenFile(file.Path(), CAvFile::kRead));
  ASSERT_NE(f.InPlace(), nullptr);
  ASSERT_EQ(truncate(file.Path().c_str(), 100'000), 0);
  CaptureFormatInfo info;
  ASSERT_TRUE(DetectCaptureFormat(f.InPlace(), 24, info));
  Collector sink;
  WalkResult r = CCaptureWalk(f, info).Run(sink);
  EXPECT_EQ(r.end, WalkEnd::kReadError);
  // Every record wholly inside the first 100,000 bytes was walked, none after; the pages
  // past the new end were touched (and replaced) without killing the test.
  EXPECT_EQ(sink.seen.size(), (100'000u - 24) / 1016);
  EXPECT_EQ(r.stopOffset, 24 + sink.seen.size() * 1016);
  EXPECT_EQ(f.ReadableInPlace(0, bytes.size()), 100'000u);
}

TEST(CaptureWalk, RecordLengthPastTheEndOfTheFileEndsTheWalk) {
  Bytes bytes = ClassicPcap(ThreeFrames());
  bytes[24 + 8] = 0xFF;  // first record's captured length: 0x...FF, far past the end
  bytes[24 + 9] = 0xFF;
  bytes[24 + 10] = 0xFF;
  Collector sink;
  WalkResult r = WalkBytes(bytes, sink);
  EXPECT_TRUE(sink.seen.empty());
  EXPECT_NE(r.end, WalkEnd::kEndOfFile);
}

TEST(CaptureWalk, AbsurdPcapngBlockLengthsStopTheWalkWithoutHanging) {
  for (uint32_t bad : {0u, 4u, 13u, 0xFFFFFFF0u}) {
    Bytes bytes = Pcapng(ThreeFrames());
    const size_t secondEpb = 28 + 20 + (32 + 60);
    ASSERT_EQ(bytes[secondEpb], 6);
    for (int i = 0; i < 4; ++i) bytes[secondEpb + 4 + i] = static_cast<uint8_t>(bad >> (8 * i));
    Collector sink;
    WalkResult r = WalkBytes(bytes, sink);
    EXPECT_EQ(sink.seen.size(), 1u) << bad;
    EXPECT_NE(r.end, WalkEnd::kEndOfFile) << bad;
  }
}

TEST(CaptureWalk, PcapngSkipsSimplePacketAndOtherBlocks) {
  Bytes bytes = Pcapng({ThreeFrames()[0]});
  // Simple Packet Block: type 3, total length 16 + 4, original length, 4 bytes of data.
  for (uint32_t v : {3u, 20u, 4u, 0xDEADBEEFu, 20u}) PutLE(bytes, v, 4);
  // Name Resolution Block with only its end record.
  for (uint32_t v : {4u, 16u, 0u, 16u}) PutLE(bytes, v, 4);
  Bytes tail = Pcapng({ThreeFrames()[1]});
  bytes.insert(bytes.end(), tail.begin() + 28 + 20, tail.end());  // one more EPB
  Collector sink;
  WalkResult r = WalkBytes(bytes, sink);
  ASSERT_EQ(sink.seen.size(), 2u);
  EXPECT_EQ(sink.seen[1].packetNumber, 2u);  // non-packet blocks are not counted
  EXPECT_EQ(r.records, 6u);
}

TEST(CaptureWalk, RecordStraddlingTheWindowBoundaryIsReadWhole) {
  std::vector<Frame> frames;
  const size_t frameBytes = 1500;
  const size_t count = (CFileBuffer::kWindowSize / (frameBytes + 16)) + 20;
  for (size_t i = 0; i < count; ++i) {
    frames.push_back({static_cast<int64_t>(i) * 1000, Bytes(frameBytes, static_cast<uint8_t>(i))});
  }
  for (bool mapped : {true, false}) {
    Collector sink;
    WalkResult r = WalkBytes(ClassicPcap(frames), sink, nullptr, mapped);
    ASSERT_EQ(sink.seen.size(), count);
    EXPECT_EQ(r.end, WalkEnd::kEndOfFile);
    for (size_t i = 0; i < count; ++i) {
      ASSERT_EQ(sink.seen[i].fileOffset, 24 + i * (frameBytes + 16)) << i;
    }
  }
}

TEST(CaptureWalk, DetectionNeeds24BytesAndAKnownMagic) {
  Bytes bytes = ClassicPcap({});
  CaptureFormatInfo info;
  EXPECT_FALSE(DetectCaptureFormat(bytes.data(), 23, info));
  EXPECT_TRUE(DetectCaptureFormat(bytes.data(), 24, info));
  EXPECT_TRUE(IsCaptureMagic(bytes.data(), 24));
  bytes[0] ^= 0xFF;
  EXPECT_FALSE(DetectCaptureFormat(bytes.data(), bytes.size(), info));
  EXPECT_FALSE(IsCaptureMagic(bytes.data(), bytes.size()));
}

}  // namespace
}  // namespace fennik
