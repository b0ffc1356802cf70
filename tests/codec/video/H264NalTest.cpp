// NAL unit framing: start codes, length prefixes and emulation-prevention removal.
#include <gtest/gtest.h>

#include <vector>

#include "h264/H264Nal.h"

namespace fennik {
namespace {

TEST(H264NalTest, SplitsThreeAndFourByteStartCodesSkippingLeadingBytes) {
  const std::vector<uint8_t> data = {
      0xAA, 0xBB,                    // garbage before the first start code
      0x00, 0x00, 0x00, 0x01, 0x67, 0x42,  // 4-byte start code, SPS
      0x00, 0x00, 0x01, 0x68, 0xCE,        // 3-byte start code, PPS
      0x00, 0x00, 0x00, 0x01, 0x65, 0x88, 0x00, 0x00};  // IDR slice ending in zero bytes
  const auto units = SplitAnnexB(data.data(), data.size());
  ASSERT_EQ(units.size(), 3u);
  EXPECT_EQ(units[0].offset, 6u);
  EXPECT_EQ(units[0].size, 2u);
  EXPECT_EQ(units[0].prefix, 4u);
  EXPECT_EQ(units[1].offset, 11u);
  EXPECT_EQ(units[1].size, 2u);
  EXPECT_EQ(units[1].prefix, 3u);
  EXPECT_EQ(units[2].offset, 17u);
  EXPECT_EQ(units[2].size, 4u);  // the last unit runs to the end of the data
}

TEST(H264NalTest, NoStartCodeGivesNoUnits) {
  const std::vector<uint8_t> data = {0x00, 0x00, 0x02, 0x01, 0x65};
  EXPECT_TRUE(SplitAnnexB(data.data(), data.size()).empty());
  EXPECT_TRUE(SplitAnnexB(nullptr, 0).empty());
}

TEST(H264NalTest, LengthPrefixedStopsAtAbsurdLengthAndCutsAtDataEnd) {
  const std::vector<uint8_t> data = {
      0x00, 0x00, 0x00, 0x02, 0x67, 0x42,  // 2-byte unit
      0x00, 0x00, 0x00, 0x09, 0x65, 0x88,  // claims 9 bytes, only 2 present
  };
  auto units = SplitLengthPrefixed(data.data(), data.size());
  ASSERT_EQ(units.size(), 2u);
  EXPECT_EQ(units[0].offset, 4u);
  EXPECT_EQ(units[0].size, 2u);
  EXPECT_EQ(units[1].size, 2u);

  const std::vector<uint8_t> huge = {0xFF, 0xFF, 0xFF, 0xFC, 0x65, 0x00, 0x00, 0x3F, 0xFF, 0xFC, 0x65};
  EXPECT_TRUE(SplitLengthPrefixed(huge.data(), huge.size()).empty());
  const std::vector<uint8_t> limit = {0x00, 0x3F, 0xFF, 0xFC, 0x65};  // length + 4 > 0x3FFFFF
  EXPECT_TRUE(SplitLengthPrefixed(limit.data(), limit.size()).empty());
}

TEST(H264NalTest, UnescapeDropsEmulationPreventionBytes) {
  const std::vector<uint8_t> in = {0x00, 0x00, 0x03, 0x01, 0x00, 0x00, 0x03, 0x04, 0x00, 0x03, 0x00,
                                   0x00, 0x00, 0x03};
  std::vector<uint8_t> out(in.size());
  const size_t n = UnescapeRbsp(in.data(), in.size(), out.data(), out.size());
  out.resize(n);
  // 0x03 after two zeros is removed even before 0x04; after a single zero it stays; three
  // zeros then 0x03 at the end: removed.
  const std::vector<uint8_t> expected = {0x00, 0x00, 0x01, 0x00, 0x00, 0x04, 0x00, 0x03, 0x00, 0x00, 0x00};
  EXPECT_EQ(out, expected);
}

TEST(H264NalTest, UnescapeStopsAtCapacity) {
  const std::vector<uint8_t> in(100, 0x11);
  std::vector<uint8_t> out(10);
  EXPECT_EQ(UnescapeRbsp(in.data(), in.size(), out.data(), out.size()), 10u);
}

}  // namespace
}  // namespace fennik
