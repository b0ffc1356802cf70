// The list window and cursor rules, the hex dump layout and the chart's time axis.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "view/CHexDump.h"
#include "view/CListModel.h"
#include "view/ChartAxis.h"

namespace fennik {
namespace {

// Items print their index at column 5; items divisible by 7 have no row; items divisible by
// 10 are error rows.
class NumberSource : public CListSource {
 public:
  explicit NumberSource(uint64_t count) : count_(count) {}
  uint64_t Count() const override { return count_; }
  std::string FileName() const override { return "a.pcap"; }
  uint64_t FileSize() const override { return 1234567; }
  void ColumnTitle(CRowLine& line) const override { line.Put(5, "No."); }
  bool ItemRow(uint64_t index, CRowLine& line, int& colourIndex) const override {
    if (index % 7 == 6) return false;
    line.Put(5, std::to_string(index));
    if (index % 10 == 0) colourIndex = colour::kListError;
    return true;
  }

 private:
  uint64_t count_;
};

TEST(ListModel, WindowOfAtMost30000Items) {
  NumberSource source(45000);
  CListModel list;
  list.SetSource(&source);
  EXPECT_EQ(list.WindowStart(), 0u);
  EXPECT_EQ(list.WindowLength(), 30000u);
  EXPECT_EQ(list.WindowLast(), 29999u);
  ASSERT_TRUE(list.SetWindowStart(20000));
  EXPECT_EQ(list.WindowLength(), 25000u);
  EXPECT_EQ(list.WindowLast(), 44999u);
  // Outside 0..count-1 the start is refused and nothing changes.
  EXPECT_FALSE(list.SetWindowStart(45000));
  EXPECT_EQ(list.WindowStart(), 20000u);
  ASSERT_TRUE(list.SetWindowStart(44999));
  EXPECT_EQ(list.WindowLength(), 1u);
  // The cursor stays inside the window.
  EXPECT_TRUE(list.SetCursor(0));
  EXPECT_FALSE(list.SetCursor(1));
  EXPECT_EQ(list.CursorItem(), 44999u);

  NumberSource empty(0);
  list.SetSource(&empty);
  EXPECT_FALSE(list.SetWindowStart(0));
  EXPECT_EQ(list.WindowLength(), 0u);
  EXPECT_FALSE(list.SetCursor(0));
  list.KeepCursorVisible(10);  // nothing to keep visible
  EXPECT_EQ(list.FirstVisible(), 0u);
}

TEST(ListModel, KeepCursorVisibleMargins) {
  NumberSource source(1000);
  CListModel list;
  list.SetSource(&source);
  // 20 rows on screen: rows 0..19. Cursor at 14 leaves 5 rows below: no scroll.
  ASSERT_TRUE(list.SetCursor(14));
  list.KeepCursorVisible(20);
  EXPECT_EQ(list.FirstVisible(), 0u);
  // Cursor at 15 leaves 4: scroll by one so that 5 stay below.
  ASSERT_TRUE(list.SetCursor(15));
  list.KeepCursorVisible(20);
  EXPECT_EQ(list.FirstVisible(), 1u);
  // A jump far down: cursor 500 with 5 rows below -> first visible 486 (486 + 19 = 505).
  ASSERT_TRUE(list.SetCursor(500));
  list.KeepCursorVisible(20);
  EXPECT_EQ(list.FirstVisible(), 486u);
  // Moving up to within 3 rows of the top scrolls up: cursor 488 -> first visible 485.
  ASSERT_TRUE(list.SetCursor(488));
  list.KeepCursorVisible(20);
  EXPECT_EQ(list.FirstVisible(), 485u);
  // Near the end the view does not scroll past the last page.
  ASSERT_TRUE(list.SetCursor(998));
  list.KeepCursorVisible(20);
  EXPECT_EQ(list.FirstVisible(), 980u);
  // At the top with no earlier items, no scroll is attempted.
  ASSERT_TRUE(list.SetCursor(1));
  list.KeepCursorVisible(20);
  EXPECT_EQ(list.FirstVisible(), 0u);
  // With fewer rows than the margins the cursor still stays on screen.
  ASSERT_TRUE(list.SetCursor(300));
  list.KeepCursorVisible(3);
  EXPECT_LE(list.FirstVisible(), 300u);
  EXPECT_GE(list.FirstVisible() + 2, 300u);
}

TEST(ListModel, RowsWithHeaderCursorAndRoles) {
  NumberSource source(45000);
  CListModel list;
  list.SetSource(&source);
  ASSERT_TRUE(list.SetWindowStart(20000));
  list.SetFirstVisible(24995);  // items 44,995 .. 44,999, the window's last five
  ASSERT_TRUE(list.SetCursor(24997));
  const std::vector<ViewRow> rows = list.Render(10, kLanguageEnglish);
  // 4 header rows, the title row and 5 items (the window ends at 44,999).
  ASSERT_EQ(rows.size(), 10u);
  EXPECT_NE(rows[0].text.find("File Name"), std::string::npos);
  EXPECT_NE(rows[0].text.find("a.pcap"), std::string::npos);
  EXPECT_NE(rows[1].text.find("1,234,567 bytes"), std::string::npos);
  EXPECT_NE(rows[2].text.find("45,000"), std::string::npos);
  EXPECT_EQ(rows[2].colour, colour::kField);
  EXPECT_NE(rows[3].text.find("Rage of List"), std::string::npos);
  EXPECT_NE(rows[3].text.find("20,000 - 44,999"), std::string::npos);
  EXPECT_TRUE(rows[4].title);
  EXPECT_EQ(rows[4].colour, colour::kListTitle);
  EXPECT_EQ(rows[4].text, "     No.");
  // 44,995 % 7 == 6: the page has no row, drawn blank in the default colour.
  EXPECT_EQ(rows[5].text, "");
  EXPECT_EQ(rows[5].colour, colour::kListRow);
  EXPECT_EQ(rows[6].text, "     44996");
  EXPECT_EQ(rows[6].colour, colour::kListRow);
  EXPECT_EQ(rows[7].text, "  -> 44997");
  EXPECT_EQ(rows[7].colour, colour::kListCursor);
  EXPECT_EQ(rows[9].text, "     44999");

  // Japanese: labels and the cursor mark; the cursor colour wins over the error colour.
  list.SetFirstVisible(24990);
  ASSERT_TRUE(list.SetCursor(24990));
  const std::vector<ViewRow> ja = list.Render(2, kLanguageJapanese);
  ASSERT_EQ(ja.size(), 7u);
  EXPECT_NE(ja[3].text.find("表示範囲"), std::string::npos);
  EXPECT_EQ(ja[5].text, "  ⇒  44990");
  EXPECT_EQ(ja[5].colour, colour::kListCursor);
  EXPECT_EQ(ja[6].colour, colour::kListRow);
  // A click on the second item row moves the cursor there; a click below the window does not.
  EXPECT_TRUE(list.SelectRow(1));
  EXPECT_EQ(list.CursorItem(), 44991u);
  EXPECT_FALSE(list.SelectRow(100));
  EXPECT_EQ(list.CursorItem(), 44991u);
}

TEST(ListModel, ErrorColourFromThePage) {
  NumberSource source(30);
  CListModel list;
  list.SetSource(&source);
  ASSERT_TRUE(list.SetCursor(29));
  const std::vector<ViewRow> rows = list.Render(12, kLanguageEnglish);
  ASSERT_EQ(rows.size(), 5u + 12u);
  EXPECT_EQ(rows[5].colour, colour::kListError);   // item 0
  EXPECT_EQ(rows[15].colour, colour::kListError);  // item 10
  EXPECT_EQ(rows[6].colour, colour::kListRow);
}

TEST(HexDump, HeaderFullAndShortLines) {
  std::vector<uint8_t> data(21);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(0x1C + i * 5);
  const std::vector<ViewRow> rows = HexDumpRows(0x123456789ABCDEull, data.data(), data.size());
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].text, "ADDRESS:      +0 +1 +2 +3 +4 +5 +6 +7 +8 +9 +A +B +C +D +E +F ASCII");
  EXPECT_EQ(rows[0].colour, colour::kHexHeader);
  // 16 bytes: 0x1C 0x21 0x26 ... 0x67; 0x1C is below 0x20 and shows as '.'.
  EXPECT_EQ(rows[1].text,
            "3456789ABCDE  1C 21 26 2B 30 35 3A 3F 44 49 4E 53 58 5D 62 67 .!&+05:?DINSX]bg");
  EXPECT_EQ(rows[1].colour, colour::kHexData);
  ASSERT_EQ(rows[1].spans.size(), 1u);
  EXPECT_EQ(rows[1].spans[0].column, 0);
  EXPECT_EQ(rows[1].spans[0].length, 13);
  EXPECT_EQ(rows[1].spans[0].colour, colour::kHexHeader);
  // The last 5 bytes: 5 values, 11 blank cells of three characters, a blank, 5 characters.
  const std::string expected = "3456789ABCEE  6C 71 76 7B 80" + std::string(33, ' ') + " lqv{.";
  EXPECT_EQ(rows[2].text, expected);
  // The text part starts in the same column on every line.
  EXPECT_EQ(rows[1].text.find(".!&"), rows[0].text.find("ASCII"));
  EXPECT_EQ(rows[2].text.find("lqv"), rows[0].text.find("ASCII"));
}

TEST(HexDump, AddressTextAndWindow) {
  EXPECT_EQ(FormatHexAddress(0x4000), "0x000000004000");

  // A 40,000-byte "file" of byte values i & 0xFF.
  std::vector<uint8_t> file(40000);
  for (size_t i = 0; i < file.size(); ++i) file[i] = static_cast<uint8_t>(i);
  CBinaryModel model(
      [&](uint64_t offset, void* buffer, uint32_t size) -> uint32_t {
        if (offset >= file.size()) return 0;
        const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(size, file.size() - offset));
        std::memcpy(buffer, file.data() + offset, n);
        return n;
      },
      file.size());
  ASSERT_TRUE(model.Load(0));
  EXPECT_EQ(model.Data().size(), 16384u);
  ASSERT_TRUE(model.Forward());
  ASSERT_TRUE(model.Forward());
  EXPECT_EQ(model.Address(), 32768u);
  EXPECT_EQ(model.Data().size(), 40000u - 32768u);
  EXPECT_EQ(model.Data()[0], static_cast<uint8_t>(32768));
  EXPECT_FALSE(model.Forward());  // at the file's end: refused, the window stays
  EXPECT_EQ(model.Address(), 32768u);
  const std::vector<ViewRow> rows = model.Rows();
  ASSERT_EQ(rows.size(), 1u + (7232 + 15) / 16);
  EXPECT_EQ(rows.back().text.substr(0, 12), "000000009C30");
  ASSERT_TRUE(model.Load(100));
  ASSERT_TRUE(model.Back());  // not below 0
  EXPECT_EQ(model.Address(), 0u);
  EXPECT_FALSE(model.Load(40000));
}

TEST(ChartAxis, TicksAndLabels) {
  // Level 4: 1000 µs per pixel, a tick every 100 ms, a label every 500 ms.
  const std::vector<ChartTick> ticks = ChartAxisTicks(4, 3723250000, 450);
  // Rounded down to 3,723.0 s; ticks at 3723.0 .. 3723.2 are left of the area.
  ASSERT_FALSE(ticks.empty());
  EXPECT_EQ(ticks[0].time, 3723300000);
  EXPECT_EQ(ticks[0].x, 50);
  EXPECT_FALSE(ticks[0].labelled);
  EXPECT_EQ(ticks[2].time, 3723500000);
  EXPECT_TRUE(ticks[2].labelled);
  EXPECT_EQ(ticks[2].label, "1:02:03.500");
  EXPECT_EQ(ticks.back().x, 450);
  EXPECT_EQ(ticks.size(), 5u);
  // Level 0: whole seconds only, a label every 10 s, ticks every 2 s.
  const std::vector<ChartTick> coarse = ChartAxisTicks(0, 0, 1000);
  ASSERT_EQ(coarse.size(), 11u);
  EXPECT_EQ(coarse[5].label, "0:00:10");
  EXPECT_TRUE(coarse[5].labelled);
  EXPECT_FALSE(coarse[4].labelled);
  EXPECT_EQ(ChartLabel(3600000000 + 61000000, 0), "1:01");
  // Out-of-range levels are clamped.
  EXPECT_EQ(ChartZoomLevel(99).microsecondsPerPixel, 5);
  EXPECT_EQ(ChartZoomLevel(-1).microsecondsPerPixel, 20000);
  EXPECT_TRUE(ChartAxisTicks(3, 0, 0).empty());
}

}  // namespace
}  // namespace fennik
