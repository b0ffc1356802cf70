// C264_Parser (Annex B byte stream) and C264_Mp4Parser (4-byte length prefixes) on the
// committed elementary streams of tests/data/h264/ (x264 and re-wrapped streams, see the
// README there): one frame entry per coded picture with the flags of the first, and the
// pictures decoded through the stream object equal ffmpeg's per-picture MD5.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/ByteOrder.h"
#include "codec/video/C264_Parser.h"
#include "tests/codec/video/H264TestUtil.h"

namespace fennik {
namespace {

// The stream's bytes, one "packet" per NAL unit (with its start code or length field), at
// the unit's offset in the stream: frame addresses are stream offsets.
class MemorySource : public CAvLoadStream {
 public:
  explicit MemorySource(const std::vector<uint8_t>& data) : data_(data) {}
  uint32_t Read(uint8_t* buffer, uint32_t capacity, uint32_t wanted, uint64_t address) override {
    if (address >= data_.size()) return 0;
    const size_t n = std::min<size_t>({wanted, data_.size() - address});
    if (n > capacity) return kTooLarge;
    std::memcpy(buffer, data_.data() + address, n);
    return static_cast<uint32_t>(n);
  }

 private:
  const std::vector<uint8_t>& data_;
};

void Feed(C264_Parser& parser, const std::vector<uint8_t>& data, const std::vector<NalSpan>& units) {
  CAnarizeBuffer buffer(1);
  CPayloadDescriptor descriptor;
  descriptor.Add(&buffer);
  for (size_t i = 0; i < units.size(); ++i) {
    const size_t begin = units[i].offset - units[i].prefix;
    const size_t end = i + 1 < units.size() ? units[i + 1].offset - units[i + 1].prefix : data.size();
    AnarizePacket p{begin, 0, 0, static_cast<uint32_t>(i), static_cast<uint32_t>(end - begin), 1};
    buffer.Append(data.data() + begin, static_cast<uint32_t>(end - begin), p);
  }
  parser.SetStreamId(1);
  buffer.Consume(parser.Parse(1, descriptor));
}

std::vector<std::string> DecodeThroughStream(C264_Parser& parser) {
  std::vector<std::string> out;
  CVideoFrame frame;
  auto drain = [&] {
    while (parser.GetNextPicture(frame)) out.push_back(test::VisibleMd5(frame, parser.Crop()));
  };
  for (uint32_t i = 0; i < parser.Frames().GetCount(); ++i) {
    parser.DecodeFrame(i);
    drain();
  }
  parser.FlushPictures();
  drain();
  return out;
}

TEST(H264StreamParser, ByteStreamFramesAndPictures) {
  const std::vector<uint8_t> data = test::ReadFileBytes(test::H264Fixture("baseline_slices.264"));
  const auto expected = test::ReadFrameMd5(test::H264Fixture("baseline_slices.framemd5"));
  C264_Parser parser;
  MemorySource source(data);
  parser.SetSource(&source);
  ASSERT_EQ(parser.Open(data.data(), data.size(), kCodecH264), 1);
  Feed(parser, data, SplitAnnexB(data.data(), data.size()));
  ASSERT_EQ(parser.Frames().GetCount(), expected.size());
  FrameEntry first;
  uint64_t address = 1;
  ASSERT_TRUE(parser.Frames().Get(0, &address, &first));
  const uint16_t flags = H264Fields(first).flags;
  EXPECT_EQ(flags & (kH264Idr | kH264Reference | kH264RandomAccess | kH264SpsBefore | kH264PpsBefore),
            kH264Idr | kH264Reference | kH264RandomAccess | kH264SpsBefore | kH264PpsBefore);
  EXPECT_EQ(address, 0u);  // the frame starts at the SPS's start code
  parser.AttachView(nullptr);
  EXPECT_EQ(DecodeThroughStream(parser), expected);
}

TEST(H264StreamParser, LengthPrefixedFramesAndPictures) {
  const std::vector<uint8_t> annexB = test::ReadFileBytes(test::H264Fixture("baseline_slices.264"));
  const auto expected = test::ReadFrameMd5(test::H264Fixture("baseline_slices.framemd5"));
  std::vector<uint8_t> data;
  for (const NalSpan& u : SplitAnnexB(annexB.data(), annexB.size())) {
    uint8_t length[4];
    WriteBE32(length, static_cast<uint32_t>(u.size));
    data.insert(data.end(), length, length + 4);
    data.insert(data.end(), annexB.begin() + static_cast<long>(u.offset), annexB.begin() + static_cast<long>(u.offset + u.size));
  }
  C264_Mp4Parser parser;
  MemorySource source(data);
  parser.SetSource(&source);
  Feed(parser, data, SplitLengthPrefixed(data.data(), data.size()));
  ASSERT_EQ(parser.Frames().GetCount(), expected.size());
  parser.AttachView(nullptr);
  EXPECT_EQ(DecodeThroughStream(parser), expected);
  // A length prefix beyond 0x3FFFFB stops the walk.
  std::vector<uint8_t> absurd = {0x00, 0x40, 0x00, 0x00, 0x65, 0x88};
  C264_Mp4Parser other;
  CAnarizeBuffer buffer(1);
  CPayloadDescriptor descriptor;
  descriptor.Add(&buffer);
  buffer.Append(absurd.data(), static_cast<uint32_t>(absurd.size()), AnarizePacket{0, 0, 0, 0, 6, 1});
  EXPECT_EQ(other.Parse(1, descriptor), 0u);
  EXPECT_EQ(other.Frames().GetCount(), 0u);
}

}  // namespace
}  // namespace fennik
