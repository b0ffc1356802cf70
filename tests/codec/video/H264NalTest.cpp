// NAL unit framing: start codes, length prefixes and emulation-prevention removal.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>
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

// The scanners step over bytes that cannot end a pattern; on data dense in 0x00, 0x01 and
// 0x03 they must find exactly what a byte-by-byte reading finds.
TEST(H264NalTest, ScannersAgreeWithByteByByteReading) {
  std::mt19937 rng(7);
  for (int round = 0; round < 20000; ++round) {
    std::vector<uint8_t> d(rng() % 40);
    for (uint8_t& b : d) b = std::array<uint8_t, 6>{0, 0, 0, 1, 3, 0x80}[rng() % 6];
    std::vector<NalSpan> expected;
    for (size_t i = 2; i < d.size(); ++i) {
      if (d[i] != 1 || d[i - 1] != 0 || d[i - 2] != 0) continue;
      const size_t prefix = i >= 3 && d[i - 3] == 0 ? 4 : 3;
      if (!expected.empty()) expected.back().size = i + 1 - prefix - expected.back().offset;
      expected.push_back(NalSpan{i + 1, d.size() - i - 1, prefix});
    }
    const auto units = SplitAnnexB(d.data(), d.size());
    ASSERT_EQ(units.size(), expected.size());
    for (size_t k = 0; k < units.size(); ++k) {
      EXPECT_EQ(units[k].offset, expected[k].offset);
      EXPECT_EQ(units[k].size, expected[k].size);
      EXPECT_EQ(units[k].prefix, expected[k].prefix);
    }
    std::vector<uint8_t> rbsp;
    for (size_t i = 0; i < d.size(); ++i)
      if (!(d[i] == 3 && i >= 2 && d[i - 1] == 0 && d[i - 2] == 0)) rbsp.push_back(d[i]);
    const size_t cap = rng() % 41;
    std::vector<uint8_t> out(cap);
    out.resize(UnescapeRbsp(d.data(), d.size(), out.data(), cap));
    rbsp.resize(std::min(rbsp.size(), cap));
    ASSERT_EQ(out, rbsp);
  }
}

}  // namespace
}  // namespace fennik
