// The frame table's searches and its paging.
#include "stream/CFrameTable.h"

#include <gtest/gtest.h>

namespace fennik {
namespace {

CFrameTable Table(const std::vector<std::pair<uint64_t, uint16_t>>& frames) {
  CFrameTable t;
  uint32_t packet = 10;
  for (auto [address, offset] : frames) {
    FrameEntry e;
    e.packetNumber = packet;
    packet += 2;
    e.frameOffset = offset;
    e.frameNumber = static_cast<uint32_t>(t.GetCount());
    t.Add(address, e);
  }
  return t;
}

TEST(FrameTable, FindByAddressReturnsTheFrameAtOrBefore) {
  CFrameTable t = Table({{1000, 40}, {1200, 40}, {1200, 90}, {1500, 40}});
  EXPECT_EQ(t.FindByAddress(1200, false), 1u);   // the first of two frames in one packet
  EXPECT_EQ(t.FindByAddress(1100, false), 0u);   // between two frames: the earlier
  EXPECT_EQ(t.FindByAddress(1240, true), 1u);
  EXPECT_EQ(t.FindByAddress(1250, true), 1u);
  EXPECT_EQ(t.FindByAddress(1290, true), 2u);
  EXPECT_EQ(t.FindByAddress(10, false), 0u);     // before the first frame
  EXPECT_EQ(t.FindByAddress(99999, false), 3u);
  EXPECT_EQ(CFrameTable().FindByAddress(5, false), 0xFFFFFFFFu);
}

TEST(FrameTable, FindByPacket) {
  CFrameTable t = Table({{1000, 40}, {1200, 40}, {1400, 40}});  // packets 10, 12, 14
  uint64_t address;
  EXPECT_EQ(t.FindByPacket(11, &address)->frameNumber, 1u);
  EXPECT_EQ(address, 1200u);
  EXPECT_EQ(t.FindByPacket(10, &address)->frameNumber, 0u);
  EXPECT_EQ(t.FindByPacket(15, &address), nullptr);
  EXPECT_EQ(address, kNoAddress);
}

TEST(FrameTable, EntriesCrossPagesAndMissingIndicesReportAllOnes) {
  CFrameTable t;
  const uint32_t count = CFrameTable::kPageSlots + 5;
  for (uint32_t i = 0; i < count; ++i) {
    FrameEntry e;
    e.frameNumber = i;
    ASSERT_EQ(t.Add(i * 10ull, e), 1);
  }
  uint64_t address;
  FrameEntry e;
  ASSERT_TRUE(t.Get(CFrameTable::kPageSlots + 2, &address, &e));
  EXPECT_EQ(e.frameNumber, CFrameTable::kPageSlots + 2);
  EXPECT_EQ(address, (CFrameTable::kPageSlots + 2) * 10ull);
  EXPECT_FALSE(t.Get(count, &address, &e));
  EXPECT_EQ(address, kNoAddress);
  t.Clear();
  EXPECT_EQ(t.GetCount(), 0u);
  EXPECT_FALSE(t.Get(0, &address, &e));
}

}  // namespace
}  // namespace fennik
