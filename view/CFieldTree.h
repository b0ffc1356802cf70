// The field tree: the rows of an information view, one row per header or codec field.
// Parsers fill plain records; a separate print function turns a record into rows through
// this class, and the same rows feed the desktop views, `fennik-cli show` and the tests.
//
// Usage:
//
//   void PrintG711Block(const G711FrameInfo& info, CFieldTree& tree) {
//     const int lang = tree.Language();
//     tree.Title(Pick({"G.711 AUDIO INFORMATION", nullptr}, lang));
//     tree.Field(0, "File Address", 48, kModeHex, colour::kField, info.address, 0);
//     tree.Field(0, "Number of Frame", 0, kModeDecimal, colour::kField, 0, info.index);
//     tree.Field(1, "version", 2, kModeBinary, colour::kField, 2, 2);        // "10b"  "2"
//     tree.Field(1, "Frame size", 0, kModeDecimal, colour::kField, 0, 160, "", "bytes");
//     tree.FieldText(0, "Sampling Frequency", 0, colour::kField, "8kHz");
//     tree.FieldText(0, "Timecode", 0, colour::kField,
//                    FormatTime(info.timeUs, 1000, kTimeShortest));
//     tree.SampleRow(0, samples, 8, true);  // "%6d  (0x%04X)" per sample
//   }
//
//   CFieldTree tree(kLanguageEnglish);
//   PrintG711Block(info, tree);
//   std::fputs(RenderText(tree.Rows()).c_str(), stdout);   // CLI; the GUI paints Rows()
//
// Columns (character positions): name at nameIndent + level; bit count, bit pattern, value
// and comment at their columns, 0 hiding that piece (a name indent of 0 means 2).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "view/NumberFormat.h"
#include "view/ViewRow.h"

namespace fennik {

// Display modes of Field().
enum FieldMode : int {
  kModeDecimal = 10,  // pattern hex (8 bits and more) or binary; value signed decimal
  kModeBinary = 2,    // pattern always binary
  kModeHex = 16,      // value in hexadecimal by the pattern's digit rule
};

// Bit counts of 9999 and more print "----" (a field whose size is not a bit count).
constexpr int kBitsUnknown = 9999;

struct FieldColumns {
  int nameIndent = 2;
  int bitCount = 46;
  int pattern = 52;
  int value = 72;
  int comment = 96;
  bool operator==(const FieldColumns&) const = default;
};

class CFieldTree {
 public:
  explicit CFieldTree(int language = kLanguageEnglish, FieldColumns columns = FieldColumns());

  int Language() const { return language_; }
  const FieldColumns& Columns() const { return columns_; }

  // A title row: the text at the name indent, grid lines above and below.
  void Title(std::string_view text, int colour = colour::kTitle);

  // One field row. `raw` gives the bit pattern (hex for 8 bits and more unless the mode is
  // kModeBinary; '0'/'1' digits otherwise); `value` the value (signed decimal with
  // thousands separators, or hexadecimal in kModeHex), followed by a blank and `unit` when
  // one is given; `extra` goes to the comment column. Bit counts <= 0 show neither count
  // nor pattern.
  void Field(int level, std::string_view name, int bits, int mode, int colour, uint64_t raw,
             int64_t value, std::string_view extra = {}, std::string_view unit = {});

  // A field whose value is an already formatted text (times, "8kHz", "%s - %s" ranges).
  // The bit count is shown when `bits` > 0; no pattern.
  void FieldText(int level, std::string_view name, int bits, int colour, std::string_view value,
                 std::string_view extra = {});

  // A text field: the bytes in double quotes in the value column and bit count
  // length × 8; with the pattern column in use the bytes also appear as a hexadecimal dump
  // there (as many as fit before the value column). Bytes below 0x20 and from 0x7F show
  // as '.' inside the quotes.
  void Text(int level, std::string_view name, std::span<const uint8_t> bytes,
            int colour = colour::kField, std::string_view extra = {});

  // An IPv4 address field held first octet most significant: 32 bits, pattern "0x%08X",
  // value "%d.%d.%d.%d".
  void Ipv4(int level, std::string_view name, uint32_t address, int colour = colour::kField,
            std::string_view extra = {});

  // A four-byte code "0x%02X %02X %02X %02X" (name "type_indicator").
  void FourCC(int level, const uint8_t code[4], int colour = colour::kField,
              std::string_view name = "type_indicator");

  // A UUID "%02X%02X%02X%02X-%02X%02X-…" (name "uuid_iso_iec_11578").
  void Uuid(int level, const uint8_t uuid[16], int colour = colour::kField,
            std::string_view name = "uuid_iso_iec_11578");

  // A row of samples from the name column: "%6d" each, or with `withHex` "%6d  (0x%04X)"
  // (the 16-bit pattern of the value); one sample every `step` columns.
  void SampleRow(int level, std::span<const int> samples, int step, bool withHex,
                 int colour = colour::kField);

  // A table of integers, "%5d" per entry, `perRow` entries per row from the name column.
  void IntTable(int level, std::span<const int> values, int perRow = 16,
                int colour = colour::kField);

  // A free row (pieces placed by the caller).
  void Row(const CRowLine& line, int colour = colour::kField, bool title = false);
  void Blank(int colour = colour::kField);

  // The columns moved right as far as the rows written so far need: names end before the
  // first column after them, bit counts before the pattern, patterns before the value. The
  // columns themselves when nothing runs into the next one.
  FieldColumns FittedColumns() const;

  const std::vector<ViewRow>& Rows() const { return rows_; }
  std::vector<ViewRow> TakeRows() { return std::move(rows_); }
  void Clear() { rows_.clear(); }

 private:
  int NameColumn(int level) const;
  std::vector<int> GridColumns() const;
  void AddFieldRow(CRowLine& line, int colour);
  // Places a field's name and notes how far it reaches.
  void PutName(CRowLine& line, int level, std::string_view name);

  int language_;
  FieldColumns columns_;
  std::vector<ViewRow> rows_;
  int nameEnd_ = 0;     // column after the longest field name
  int patternEnd_ = 0;  // column after the longest pattern
  bool bitsShown_ = false;
};

}  // namespace fennik
