// Field rows, number formats and time formats, against hand-worked rows.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "view/CFieldTree.h"

namespace fennik {
namespace {

// Small columns so that expected rows can be written out in full:
// name at 2, bit count at 10, pattern at 16, value at 30, comment at 42.
constexpr FieldColumns kColumns{2, 10, 16, 30, 42};

std::string Cells(int column, const std::string& text, std::string row = {}) {
  if (row.size() < column + text.size()) row.resize(column + text.size(), ' ');
  row.replace(column, text.size(), text);
  return row;
}

TEST(NumberFormat, DecimalGroupsOfThree) {
  EXPECT_EQ(FormatDecimal(1234567), "1,234,567");
  EXPECT_EQ(FormatDecimal(-1000), "-1,000");
  EXPECT_EQ(FormatDecimal(0), "0");
  EXPECT_EQ(FormatDecimal(999), "999");
  EXPECT_EQ(FormatDecimal(100000), "100,000");
  EXPECT_EQ(FormatDecimal(-999), "-999");
  EXPECT_EQ(FormatDecimal(std::numeric_limits<int64_t>::min()), "-9,223,372,036,854,775,808");
  EXPECT_EQ(FormatDecimalUnsigned(UINT64_MAX), "18,446,744,073,709,551,615");
  EXPECT_EQ(FormatDecimal(1234, 8), "   1,234");
  EXPECT_EQ(FormatDecimal(1234567, 3), "1,234,567");  // never cut
}

TEST(NumberFormat, HexDigitRule) {
  EXPECT_EQ(FormatHexField(0xABC, 12), "0xABC");
  EXPECT_EQ(FormatHexField(0x5, 8), "0x05");
  EXPECT_EQ(FormatHexField(0x1FF, 9), "0x1FF");
  EXPECT_EQ(FormatHexField(0xFFFFF, 16), "0xFFFF");  // masked to the digit width
  EXPECT_EQ(FormatHexField(0x12, 32), "0x00000012");
  EXPECT_EQ(FormatHexField(0x123456789ABull, 48), "0x0123456789AB");
  EXPECT_EQ(FormatHexField(0x1, 33), "0x000000001");
  EXPECT_EQ(FormatHexField(UINT64_MAX, 64), "0xFFFFFFFFFFFFFFFF");
  EXPECT_EQ(FormatHexField(UINT64_MAX, 200), "0xFFFFFFFFFFFFFFFF");
}

TEST(NumberFormat, BinaryPattern) {
  EXPECT_EQ(FormatBinaryField(5, 3), "101b");
  EXPECT_EQ(FormatBinaryField(1, 1), "1");
  EXPECT_EQ(FormatBinaryField(0, 1), "0");
  EXPECT_EQ(FormatBinaryField(2, 2), "10b");
  EXPECT_EQ(FormatBinaryField(0x80, 8), "10000000b");
  EXPECT_EQ(FormatBinaryField(0xFF, 4), "1111b");  // only the field's bits
}

TEST(NumberFormat, TimeModes) {
  // 1 h 2 min 3 s 4 ms 5 µs, as microseconds.
  const int64_t t = ((int64_t{3600} + 120 + 3) * 1000 + 4) * 1000 + 5;
  EXPECT_EQ(FormatTime(t, 1000, kTimeSigned), " 01:02:03.004005");
  EXPECT_EQ(FormatTime(-t, 1000, kTimeSigned), "-01:02:03.004005");
  EXPECT_EQ(FormatTime(t, 1000, kTimeCompact), "01:02:03.004005");
  EXPECT_EQ(FormatTime(-t, 1000, kTimeCompact), "-01:02:03.004005");
  EXPECT_EQ(FormatTime(t, 1000, kTimeHours), "1:02:03.004005");
  EXPECT_EQ(FormatTime(t, 1000, kTimeShortest), "1:02:03.004005");
  EXPECT_EQ(FormatTime(t, 1000, kTimeMinutes), "2:03.004005");
  EXPECT_EQ(FormatTime(t, 1000, kTimeMillis), " 1:02:03.004");
  EXPECT_EQ(FormatTime(t, 1000, 99), " 1:02:03.004");
  // The shortest form drops empty hours, then empty minutes.
  EXPECT_EQ(FormatTime(3004005, 1000, kTimeShortest), " 3.004005");
  EXPECT_EQ(FormatTime(123004005, 1000, kTimeShortest), " 2:03.004005");
  // Scale: milliseconds (1,000,000 ns each) and nanoseconds (sub-microsecond part dropped).
  EXPECT_EQ(FormatTime(1500, 1000000, kTimeCompact), "00:00:01.500000");
  EXPECT_EQ(FormatTime(1999, 1, kTimeCompact), "00:00:00.000001");
  // More than 99 hours keeps every digit.
  EXPECT_EQ(FormatTime(int64_t{100} * 3600 * 1000000, 1000, kTimeCompact), "100:00:00.000000");
}

TEST(FieldTree, BinaryAndHexPatterns) {
  CFieldTree tree(kLanguageEnglish, kColumns);
  tree.Field(0, "three", 3, kModeDecimal, colour::kField, 5, 5);
  tree.Field(1, "one", 1, kModeDecimal, colour::kField, 1, 1);
  tree.Field(0, "twelve", 12, kModeHex, colour::kField, 0xABC, 0xABC);
  tree.Field(0, "byte", 8, kModeBinary, 6, 0xA5, 0xA5, "note");
  ASSERT_EQ(tree.Rows().size(), 4u);
  EXPECT_EQ(tree.Rows()[0].text, Cells(30, "5", Cells(16, "101b", Cells(10, "   3", "  three"))));
  EXPECT_EQ(tree.Rows()[1].text, Cells(30, "1", Cells(16, "1", Cells(10, "   1", "   one"))));
  EXPECT_EQ(tree.Rows()[2].text, Cells(30, "0xABC", Cells(16, "0xABC", Cells(10, "  12", "  twelve"))));
  EXPECT_EQ(tree.Rows()[3].text,
            Cells(42, "note", Cells(30, "165", Cells(16, "10100101b", Cells(10, "   8", "  byte")))));
  EXPECT_EQ(tree.Rows()[3].colour, 6);
  EXPECT_EQ(tree.Rows()[0].gridColumns, (std::vector<int>{10, 16, 30, 42}));
  EXPECT_FALSE(tree.Rows()[0].title);
}

TEST(FieldTree, ValuesUnitsAndWideFields) {
  CFieldTree tree(kLanguageEnglish, kColumns);
  tree.Field(0, "size", 16, kModeDecimal, colour::kField, 0xFFFF, -1000, "", "bytes");
  tree.Field(0, "addr", 48, kModeHex, colour::kField, 0x1234, 0x1234);
  tree.Field(0, "blob", 20000, kModeDecimal, colour::kField, 0, 7);
  tree.Field(0, "count", 0, kModeDecimal, colour::kField, 0, 1234567);
  tree.Field(0, "id", 0, kModeHex, colour::kField, 0, 0x1234);
  const auto& r = tree.Rows();
  EXPECT_EQ(r[0].text, Cells(30, "-1,000 bytes", Cells(16, "0xFFFF", Cells(10, "  16", "  size"))));
  EXPECT_EQ(r[1].text,
            Cells(30, "0x000000001234", Cells(16, "0x000000001234", Cells(10, "  48", "  addr"))));
  EXPECT_EQ(r[2].text.substr(10, 4), "----");
  // No bit count and no pattern for a value without bits.
  EXPECT_EQ(r[3].text, Cells(30, "1,234,567", "  count"));
  // A hexadecimal value without a bit count keeps all its digits.
  EXPECT_EQ(r[4].text, Cells(30, "0x1234", "  id"));
}

TEST(FieldTree, HiddenColumnsAndNameIndent) {
  // A name indent of 0 means 2; other columns at 0 hide their piece.
  CFieldTree tree(kLanguageEnglish, FieldColumns{0, 0, 0, 12, 0});
  tree.Field(2, "x", 4, kModeDecimal, colour::kField, 9, 9, "hidden comment");
  EXPECT_EQ(tree.Rows()[0].text, Cells(12, "9", "    x"));
  EXPECT_EQ(tree.Rows()[0].gridColumns, std::vector<int>{12});
}

TEST(FieldTree, FittedColumnsMakeRoomForNamesAndPatterns) {
  CFieldTree tree(kLanguageEnglish, FieldColumns{2, 10, 16, 20, 30});
  tree.Field(1, "a longer name", 22, kModeBinary, colour::kField, 0x80, 0x80);  // to 16; 23-character pattern
  EXPECT_EQ(tree.FittedColumns(), (FieldColumns{2, 17, 23, 48, 58}));
}

TEST(FieldTree, TitleTextAndAddresses) {
  CFieldTree tree(kLanguageJapanese, kColumns);
  tree.Title("RTP Fixed Header Fields");
  const uint8_t abc[] = {'a', 'b', 0x01, 'c'};
  tree.Text(0, "name", abc);
  tree.Ipv4(0, "src", 0xC0A80001);
  const uint8_t code[4] = {'f', 't', 'y', 'p'};
  tree.FourCC(0, code);
  const uint8_t uuid[16] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                            0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
  tree.Uuid(0, uuid);
  const auto& r = tree.Rows();
  ASSERT_EQ(r.size(), 5u);
  EXPECT_TRUE(r[0].title);
  EXPECT_EQ(r[0].colour, colour::kTitle);
  EXPECT_EQ(r[0].text, "  RTP Fixed Header Fields");
  EXPECT_EQ(r[1].text, Cells(30, "\"ab.c\"", Cells(16, "61 62 01 63", Cells(10, "  32", "  name"))));
  EXPECT_EQ(r[2].text, Cells(30, "192.168.0.1", Cells(16, "0xC0A80001", Cells(10, "  32", "  src"))));
  EXPECT_EQ(r[3].text, Cells(30, "0x66 74 79 70", Cells(10, "  32", "  type_indicator")));
  EXPECT_EQ(r[4].text.substr(30), "00112233-4455-6677-8899-AABBCCDDEEFF");
  EXPECT_EQ(r[4].text.substr(10, 4), " 128");
}

TEST(FieldTree, TextDumpStopsBeforeTheValueColumn) {
  CFieldTree tree(kLanguageEnglish, kColumns);
  std::vector<uint8_t> bytes(40, 'x');
  tree.Text(0, "long", bytes);
  // Pattern column 16, value column 30: "78 78 78 78" is 11 characters, a fifth would end at 29.
  EXPECT_EQ(tree.Rows()[0].text.substr(16, 14), "78 78 78 78   ");
  EXPECT_EQ(tree.Rows()[0].text.substr(10, 4), " 320");
}

TEST(FieldTree, SamplesAndIntegerTables) {
  CFieldTree tree(kLanguageEnglish, kColumns);
  const int samples[] = {-1, 32767, -32768};
  tree.SampleRow(0, samples, 20, true);
  tree.SampleRow(1, samples, 7, false);
  const int table[] = {1, -2, 30000, 4, 5};
  tree.IntTable(0, table, 3);
  const auto& r = tree.Rows();
  ASSERT_EQ(r.size(), 4u);
  EXPECT_EQ(r[0].text, "      -1  (0xFFFF)     32767  (0x7FFF)    -32768  (0x8000)");
  EXPECT_EQ(r[1].text, "       -1  32767 -32768");
  EXPECT_EQ(r[2].text, "      1   -230000");
  EXPECT_EQ(r[3].text, "      4    5");
}

TEST(RowLine, ColumnsClippingAndUtf8) {
  CRowLine line;
  line.Put(3, "ab");
  line.PutRight(6, 5, "xy");
  EXPECT_EQ(line.Text(), "   ab    xy");
  line.Put(-1, "QRS");  // the part left of column 0 is dropped
  EXPECT_EQ(line.Text(), "RS ab    xy");
  line.Clear();
  line.Put(CRowLine::kColumns - 2, "abcd");  // cut at the line's end
  EXPECT_EQ(line.Length(), CRowLine::kColumns);
  EXPECT_EQ(line.Text().substr(CRowLine::kColumns - 2), "ab");
  line.Clear();
  line.Put(2, "表示範囲");  // one column per character
  line.Put(6, "!");
  EXPECT_EQ(line.Text(), "  表示範囲!");
  line.Clear();
  line.Put(0, std::string_view("a\0b\xFF\xE3\x81", 6));  // zero as blank, bad bytes as '?'
  // The cut-off sequence at the end becomes one "?" per byte.
  EXPECT_EQ(line.Text(), "a b???");
}

TEST(Labels, JapaneseFallsBackToEnglish) {
  EXPECT_STREQ(Pick({"File Name", "ファイル名"}, kLanguageJapanese), "ファイル名");
  EXPECT_STREQ(Pick({"File Name", "ファイル名"}, kLanguageEnglish), "File Name");
  EXPECT_STREQ(Pick({"Payload", nullptr}, kLanguageJapanese), "Payload");
  EXPECT_STREQ(Pick({"Payload", ""}, kLanguageJapanese), "Payload");
}

}  // namespace
}  // namespace fennik
