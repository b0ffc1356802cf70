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
  FrameEntry e;
  EXPECT_EQ(t.FindByPacket(11, &address, &e), 1u);
  EXPECT_EQ(e.frameNumber, 1u);
  EXPECT_EQ(address, 1200u);
  EXPECT_EQ(t.FindByPacket(10, &address, &e), 0u);
  EXPECT_EQ(t.FindByPacket(15, &address, &e), CFrameTable::kNoRow);
  EXPECT_EQ(address, kNoAddress);
}

// A packet table of its own: row r is packet 100 + r at address 1000 × r with a 40-byte
// payload at offset 58.
class RowSource : public CPacketFrameSource {
 public:
  bool PacketFrame(uint64_t row, uint32_t frameNumber, uint64_t* address, FrameEntry* entry) const override {
    if (row >= 100000) return false;
    *entry = Entry(row, frameNumber);
    *address = 1000 * row;
    return true;
  }
  static FrameEntry Entry(uint64_t row, uint32_t frameNumber) {
    FrameEntry e;
    e.timestamp = 160 * row;
    e.size = 40;
    e.packetNumber = static_cast<uint32_t>(100 + row);
    e.frameNumber = frameNumber;
    e.streamId = 1;
    e.frameOffset = e.payloadOffset = 58;
    return e;
  }
};

// Frames the source rebuilds exactly are kept as rows until the first one it does not
// (another size, an unknown row, no row); from there on every frame is a full entry. Reads
// and searches see one table either way.
TEST(FrameTable, PacketBackedFramesUntilTheFirstThatIsNot) {
  RowSource source;
  CFrameTable t;
  t.SetPacketSource(&source);
  for (uint32_t i = 0; i < 10; ++i) ASSERT_EQ(t.Add(1000 * (2 * i), RowSource::Entry(2 * i, i), 2 * i), 1);
  EXPECT_EQ(t.PacketBackedCount(), 10u);
  FrameEntry odd = RowSource::Entry(20, 10);
  odd.size = 20;  // half of the payload: not the packet's whole payload
  ASSERT_EQ(t.Add(20000, odd, 20), 1);
  ASSERT_EQ(t.Add(22000, RowSource::Entry(22, 11), 22), 1);  // rebuildable, but after a full one
  ASSERT_EQ(t.Add(24000, RowSource::Entry(24, 12)), 1);      // no row given
  EXPECT_EQ(t.PacketBackedCount(), 10u);
  EXPECT_EQ(t.GetCount(), 13u);

  uint64_t address = 0;
  FrameEntry e;
  ASSERT_TRUE(t.Get(9, &address, &e));
  EXPECT_EQ(e, RowSource::Entry(18, 9));
  EXPECT_EQ(address, 18000u);
  ASSERT_TRUE(t.Get(10, &address, &e));
  EXPECT_EQ(e, odd);
  ASSERT_TRUE(t.Get(12, &address, &e));
  EXPECT_EQ(e.packetNumber, 124u);
  EXPECT_FALSE(t.Get(13, &address, &e));
  EXPECT_EQ(address, kNoAddress);
  EXPECT_EQ(t.FindByPacket(117, &address, &e), 9u);  // packet 118, a packet-backed frame
  EXPECT_EQ(t.FindByPacket(121, &address, &e), 11u);
  EXPECT_EQ(t.FindByAddress(19500, false), 9u);
  EXPECT_EQ(t.FindByAddress(22000, false), 11u);

  // A table without a source, or a row the source does not know, keeps full entries.
  CFrameTable plain;
  plain.Add(0, RowSource::Entry(0, 0), 0);
  CFrameTable unknown;
  unknown.SetPacketSource(&source);
  unknown.Add(100000000, RowSource::Entry(100000, 0), 100000);
  EXPECT_EQ(plain.PacketBackedCount() + unknown.PacketBackedCount(), 0u);
  EXPECT_EQ(plain.GetCount() + unknown.GetCount(), 2u);
  t.Clear();
  EXPECT_EQ(t.GetCount(), 0u);
}

// Rows are kept in blocks of 32 as byte steps; a larger or a backward step widens its block.
TEST(FrameTable, PacketRowsReadBackWhateverTheirSteps) {
  RowSource source;
  CFrameTable t;
  t.SetPacketSource(&source);
  std::vector<uint64_t> rows{3};
  for (int i = 1; i < 200; ++i) rows.push_back(rows.back() + (i == 52 ? 256 : i == 137 ? -3 : i % 4 == 1 ? 255 : i % 4));
  for (uint32_t i = 0; i < rows.size(); ++i) {
    ASSERT_EQ(t.Add(1000 * rows[i], RowSource::Entry(rows[i], i), rows[i]), 1);
  }
  ASSERT_EQ(t.PacketBackedCount(), rows.size());
  for (uint32_t i = 0; i < rows.size(); ++i) {
    FrameEntry e;
    EXPECT_TRUE(t.Get(i, nullptr, &e) && e == RowSource::Entry(rows[i], i)) << "frame " << i;
  }
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
