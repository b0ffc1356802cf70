// CM4V_Parser frame-list building on byte streams made from a real VOL (the configuration
// ffmpeg's mpeg4 encoder wrote into tests/data/captures/mp4v/config.pcap's SDP) and
// hand-placed start codes: where frames begin and end, and which are random-access points.
#include <gtest/gtest.h>

#include <vector>

#include "codec/video/CM4V_Parser.h"
#include "stream/CAnarizeBuffer.h"

namespace fennik {
namespace {

// VOS, visual object, VO and VOL of a 176x144 Simple profile layer.
const std::vector<uint8_t> kConfig = {0x00, 0x00, 0x01, 0xB0, 0x01, 0x00, 0x00, 0x01, 0xB5, 0x89, 0x13,
                                      0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x20, 0x00, 0xC4, 0x8D,
                                      0x88, 0x00, 0xCD, 0x05, 0x84, 0x12, 0x14, 0x43};
// A VOP start code and its first byte (vop_coding_type in the top two bits), padded.
std::vector<uint8_t> Vop(uint8_t type) { return {0x00, 0x00, 0x01, 0xB6, static_cast<uint8_t>(type << 6), 0x55, 0xAA}; }
const std::vector<uint8_t> kGov = {0x00, 0x00, 0x01, 0xB3, 0x00, 0x10, 0x07, 0x00};

struct Built {
  uint16_t flags;
  uint32_t randomAccessIndex;
  uint32_t size;
};

std::vector<Built> BuildFrames(const std::vector<uint8_t>& stream, size_t* consumed = nullptr) {
  CAnarizeBuffer buffer(1);
  CPayloadDescriptor descriptor;
  descriptor.Add(&buffer);
  AnarizePacket packet{0, 0, 0, 1, static_cast<uint32_t>(stream.size()), 1};
  buffer.Append(stream.data(), stream.size(), packet);
  CM4V_Parser parser;
  const size_t used = parser.Parse(1, descriptor);
  if (consumed) *consumed = used;
  std::vector<Built> out;
  for (uint32_t i = 0; i < parser.Frames().GetCount(); ++i) {
    uint64_t address;
    FrameEntry e;
    parser.Frames().Get(i, &address, &e);
    out.push_back({M4vFields(e).flags, M4vFields(e).randomAccessIndex, e.size});
  }
  return out;
}

std::vector<uint8_t> Join(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

TEST(Mpeg4FrameList, ConfigurationAndGovHeadersMakeRandomAccessPoints) {
  // VOS..VOL + I, P, B, then GOV + I, P.
  const auto frames = BuildFrames(Join({kConfig, Vop(0), Vop(1), Vop(2), kGov, Vop(0), Vop(1)}));
  ASSERT_EQ(frames.size(), 5u);
  EXPECT_EQ(frames[0].flags, kM4vAlways | kM4vReference | kM4vRandomAccess | 1);
  EXPECT_EQ(frames[0].size, kConfig.size() + 7);  // from the VOS start code
  EXPECT_EQ(frames[1].flags, kM4vAlways | kM4vReference | 2);
  EXPECT_EQ(frames[1].randomAccessIndex, 0u);
  EXPECT_EQ(frames[2].flags, kM4vAlways | 3);  // B: not a reference
  EXPECT_EQ(frames[3].flags, kM4vAlways | kM4vReference | kM4vRandomAccess | 1);
  EXPECT_EQ(frames[3].size, kGov.size() + 7);  // from the GOV start code
  EXPECT_EQ(frames[4].randomAccessIndex, 3u);
}

TEST(Mpeg4FrameList, SequenceEndAndDataWithoutVop) {
  // A sequence end code after the last VOP: the frame ends after it, and all is consumed.
  const std::vector<uint8_t> end = {0x00, 0x00, 0x01, 0xB1};
  size_t consumed = 0;
  auto frames = BuildFrames(Join({Vop(0), end}), &consumed);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].size, 11u);
  EXPECT_EQ(consumed, 11u);
  // No VOP start code: nothing is consumed.
  frames = BuildFrames(kConfig, &consumed);
  EXPECT_TRUE(frames.empty());
  EXPECT_EQ(consumed, 0u);
}

}  // namespace
}  // namespace fennik
