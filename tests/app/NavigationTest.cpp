// The list navigation on large lists (windows of 30,000 items) and the entry checks of the
// jump, view-index and CSV dialogs.
#include <gtest/gtest.h>

#include "ui/Navigation.h"

namespace fennik {
namespace {

// A list of `count` items; item i lies at file address 0x1000 + 100 * i.
class CountingSource : public CListSource {
 public:
  explicit CountingSource(uint64_t count) : count_(count) {}
  uint64_t Count() const override { return count_; }
  void ColumnTitle(CRowLine& line) const override { line.Put(0, "No."); }
  bool ItemRow(uint64_t index, CRowLine& line, int&) const override {
    line.Put(0, std::to_string(index));
    return true;
  }

 private:
  uint64_t count_;
};

ItemAddress Addresses() {
  return [](uint64_t item, uint64_t& address) {
    address = 0x1000 + 100 * item;
    return true;
  };
}

TEST(Navigation, KindsMoveWindowAndCursor) {
  CountingSource fifty(50000);
  CListModel list;
  list.SetSource(&fifty);
  // Number 45,000 of 50,000: the window starts at 30,000, cursor 15,000, centred.
  EXPECT_EQ(Navigate(list, kNavNumber, 45000, 20, Addresses()), 15000u);
  EXPECT_EQ(list.WindowStart(), 30000u);
  EXPECT_EQ(list.CursorItem(), 45000u);
  EXPECT_EQ(list.FirstVisible(), 15000u - 10);
  EXPECT_EQ(Navigate(list, kNavWindowTop, 0, 20, Addresses()), 0u);
  EXPECT_EQ(Navigate(list, kNavWindowEnd, 0, 20, Addresses()), 19999u);
  EXPECT_EQ(list.CursorItem(), 49999u);
  EXPECT_EQ(Navigate(list, kNavFileTop, 0, 20, Addresses()), 0u);
  EXPECT_EQ(list.WindowStart(), 0u);
  // Out of range and unknown addresses move nothing.
  EXPECT_EQ(Navigate(list, kNavNumber, 50000, 20, Addresses()), kNoItem);
  EXPECT_EQ(Navigate(list, kNavAddress, 0xFFF, 20, Addresses()), kNoItem);
  EXPECT_EQ(list.CursorItem(), 0u);
  // Addresses: exact, and inside an item's record.
  EXPECT_EQ(Navigate(list, kNavAddress, 0x1000 + 100 * 31234, 20, Addresses()), 1234u);
  EXPECT_EQ(list.CursorItem(), 31234u);
  EXPECT_EQ(Navigate(list, kNavListAddress, 0x1000 + 100 * 7 + 50, 20, Addresses()), 7u);
  // Kinds 7 and 8 make the item the window start.
  EXPECT_EQ(Navigate(list, kNavNumberStart, 12345, 20, Addresses()), 0u);
  EXPECT_EQ(list.WindowStart(), 12345u);
  EXPECT_EQ(list.WindowLength(), 30000u);
  EXPECT_EQ(Navigate(list, kNavAddressStart, 0x1000 + 100 * 40000, 20, Addresses()), 0u);
  EXPECT_EQ(list.WindowStart(), 40000u);
  EXPECT_EQ(list.WindowLength(), 10000u);

  CountingSource hundred(100000);
  list.SetSource(&hundred);
  EXPECT_EQ(Navigate(list, kNavFileEnd, 0, 20, Addresses()), 9999u);
  EXPECT_EQ(list.WindowStart(), 90000u);

  CListModel empty;
  EXPECT_EQ(Navigate(empty, kNavFileTop, 0, 20, Addresses()), kNoItem);
}

TEST(Navigation, PreviousAndNextCrossWindows) {
  CountingSource source(65000);
  CListModel list;
  list.SetSource(&source);
  EXPECT_FALSE(NavigatePrevious(list, 20));  // first item of the file
  ASSERT_EQ(Navigate(list, kNavNumberStart, 30000, 20, Addresses()), 0u);
  ASSERT_TRUE(NavigatePrevious(list, 20));
  EXPECT_EQ(list.WindowStart(), 0u);
  EXPECT_EQ(list.CursorItem(), 29999u);
  // The cursor stays visible: 5 rows below it are kept on screen when possible.
  EXPECT_GE(list.Cursor(), list.FirstVisible());
  EXPECT_LT(list.Cursor(), list.FirstVisible() + 20);
  ASSERT_TRUE(NavigateNext(list, 20));  // to the next window
  EXPECT_EQ(list.WindowStart(), 30000u);
  EXPECT_EQ(list.CursorItem(), 30000u);
  // A window starting at 10,000: previous goes back to the window at 0 with item 9,999.
  ASSERT_EQ(Navigate(list, kNavNumberStart, 10000, 20, Addresses()), 0u);
  ASSERT_TRUE(NavigatePrevious(list, 20));
  EXPECT_EQ(list.CursorItem(), 9999u);
  // At the end of the list next is refused.
  ASSERT_NE(Navigate(list, kNavFileEnd, 0, 20, Addresses()), kNoItem);
  EXPECT_FALSE(NavigateNext(list, 20));
  EXPECT_EQ(list.CursorItem(), 64999u);
}

TEST(Navigation, EntryChecks) {
  uint64_t v = 0;
  EXPECT_TRUE(ParseAddressEntry(" \t0x1A2b  ", v));
  EXPECT_EQ(v, 0x1A2Bu);
  EXPECT_TRUE(ParseAddressEntry("ff", v));
  EXPECT_EQ(v, 0xFFu);
  EXPECT_FALSE(ParseAddressEntry("0x", v));
  EXPECT_FALSE(ParseAddressEntry("0x12g", v));
  EXPECT_FALSE(ParseAddressEntry("0x10000000000000000", v));  // 17 digits
  EXPECT_TRUE(ParseNumberEntry("  45000\t", v));
  EXPECT_EQ(v, 45000u);
  EXPECT_FALSE(ParseNumberEntry("12 34", v));
  EXPECT_FALSE(ParseNumberEntry("", v));
  EXPECT_FALSE(ParseNumberEntry("-1", v));
  EXPECT_FALSE(ParseNumberEntry("18446744073709551616", v));  // 2^64
  EXPECT_TRUE(ParseNumberEntry("18446744073709551615", v));

  int64_t first = 0, last = 0;
  EXPECT_EQ(CheckCsvEntry("", "", "", first, last), CsvEntryCheck::kBadRange);
  EXPECT_EQ(CheckCsvEntry("0", "0", "x.csv", first, last), CsvEntryCheck::kBadRange);
  EXPECT_EQ(CheckCsvEntry("5", "4", "x.csv", first, last), CsvEntryCheck::kBadRange);
  EXPECT_EQ(CheckCsvEntry("1a", "4", "x.csv", first, last), CsvEntryCheck::kBadRange);
  EXPECT_EQ(CheckCsvEntry(" 1", "4", "x.csv", first, last), CsvEntryCheck::kBadRange);
  EXPECT_EQ(CheckCsvEntry("-", "4", "x.csv", first, last), CsvEntryCheck::kBadRange);
  // The range is checked before the file name.
  EXPECT_EQ(CheckCsvEntry("-3", "4", "", first, last), CsvEntryCheck::kNoFileName);
  EXPECT_EQ(CheckCsvEntry("-3", "4", "x.csv", first, last), CsvEntryCheck::kOk);
  EXPECT_EQ(first, -3);
  EXPECT_EQ(last, 4);
}

}  // namespace
}  // namespace fennik
