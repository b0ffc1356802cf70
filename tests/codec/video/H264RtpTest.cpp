// The RFC 6184 depacketizer shared by capture, stream parser and decoder: FU-A reassembly
// with its loss rules, STAP-A unpacking, and sprop-parameter-sets decoding.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "h264/H264Rtp.h"

namespace fennik {
namespace {

using Bytes = std::vector<uint8_t>;

std::vector<Bytes> Feed(CH264Depacketizer& d, const std::vector<std::pair<Bytes, bool>>& payloads) {
  std::vector<Bytes> units;
  for (const auto& [p, continuous] : payloads)
    d.Feed(p.data(), p.size(), continuous, [&](const uint8_t* nal, size_t n) { units.emplace_back(nal, nal + n); });
  return units;
}

TEST(H264Depacketizer, FuAFragmentsJoinIntoOneUnitWithRebuiltHeader) {
  CH264Depacketizer d;
  // FU indicator 0x7C (NRI 3, type 28); FU headers S+type 5, middle, E+type 5.
  const auto units = Feed(d, {{{0x7C, 0x85, 1, 2}, true}, {{0x7C, 0x05, 3}, true}, {{0x7C, 0x45, 4, 5}, true}});
  ASSERT_EQ(units.size(), 1u);
  EXPECT_EQ(units[0], (Bytes{0x65, 1, 2, 3, 4, 5}));
  EXPECT_EQ(d.Discarded(), 0u);
}

TEST(H264Depacketizer, FragmentsAfterALossOrWithoutStartAreDiscarded) {
  CH264Depacketizer d;
  // Middle fragment lost: the end fragment arrives after a gap and the unit is dropped.
  auto units = Feed(d, {{{0x7C, 0x85, 1}, true}, {{0x7C, 0x45, 3}, false}});
  EXPECT_TRUE(units.empty());
  // A continuation without its start fragment is dropped too, and does not join the next unit.
  units = Feed(d, {{{0x7C, 0x05, 9}, true}, {{0x7C, 0x85, 1}, true}, {{0x7C, 0x45, 2}, true}});
  ASSERT_EQ(units.size(), 1u);
  EXPECT_EQ(units[0], (Bytes{0x65, 1, 2}));
  // A single NAL unit packet in the middle of a fragmented unit ends it unfinished.
  units = Feed(d, {{{0x7C, 0x85, 1}, true}, {{0x41, 7}, true}, {{0x7C, 0x45, 2}, true}});
  ASSERT_EQ(units.size(), 1u);
  EXPECT_EQ(units[0], (Bytes{0x41, 7}));
  EXPECT_GE(d.Discarded(), 4u);
}

TEST(H264Depacketizer, StapAUnitsComeOutOneByOne) {
  CH264Depacketizer d;
  // STAP-A header 0x78, then size 3 + SPS-like unit, size 2 + PPS-like unit.
  auto units = Feed(d, {{{0x78, 0, 3, 0x67, 0x42, 0x00, 0, 2, 0x68, 0xCE}, true}});
  ASSERT_EQ(units.size(), 2u);
  EXPECT_EQ(units[0], (Bytes{0x67, 0x42, 0x00}));
  EXPECT_EQ(units[1], (Bytes{0x68, 0xCE}));
  // A size running past the packet: the units before it stay, the packet counts as damaged.
  units = Feed(d, {{{0x78, 0, 1, 0x09, 0, 9, 0x67}, true}});
  ASSERT_EQ(units.size(), 1u);
  EXPECT_EQ(d.Discarded(), 1u);
}

TEST(H264Depacketizer, SpropParameterSetsDecodeFromBase64) {
  // "Z0IACpZTBYmI" is 67 42 00 0a 96 53 05 89 88; "aMljiA==" is 68 c9 63 88.
  const auto units = DecodeSpropParameterSets("Z0IACpZTBYmI,aMljiA==,!!bad");
  ASSERT_EQ(units.size(), 2u);
  EXPECT_EQ(units[0], (Bytes{0x67, 0x42, 0x00, 0x0a, 0x96, 0x53, 0x05, 0x89, 0x88}));
  EXPECT_EQ(units[1], (Bytes{0x68, 0xc9, 0x63, 0x88}));
  EXPECT_TRUE(DecodeSpropParameterSets("").empty());
}

}  // namespace
}  // namespace fennik
