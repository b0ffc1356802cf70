#include "view/CFieldTree.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string>

namespace fennik {

CFieldTree::CFieldTree(int language, FieldColumns columns) : language_(language), columns_(columns) {}

int CFieldTree::NameColumn(int level) const {
  return (columns_.nameIndent > 0 ? columns_.nameIndent : 2) + (level > 0 ? level : 0);
}

std::vector<int> CFieldTree::GridColumns() const {
  std::vector<int> grid;
  for (int column : {columns_.bitCount, columns_.pattern, columns_.value, columns_.comment}) {
    if (column > 0) grid.push_back(column);
  }
  return grid;
}

void CFieldTree::AddFieldRow(CRowLine& line, int colour) {
  ViewRow row;
  row.text = line.Text();
  row.colour = colour;
  row.gridColumns = GridColumns();
  rows_.push_back(std::move(row));
}

void CFieldTree::PutName(CRowLine& line, int level, std::string_view name) {
  line.Put(NameColumn(level), name);
  nameEnd_ = std::max(nameEnd_, line.Length());
}

FieldColumns CFieldTree::FittedColumns() const {
  FieldColumns c = columns_;
  int* columns[] = {&c.bitCount, &c.pattern, &c.value, &c.comment};
  // Moves the first column in use from `from` on (and every later one) to at least `need`.
  auto fit = [&columns](size_t from, int need) {
    while (from < std::size(columns) && *columns[from] <= 0) ++from;
    if (from == std::size(columns) || *columns[from] >= need) return;
    const int by = need - *columns[from];
    for (size_t i = from; i < std::size(columns); ++i)
      if (*columns[i] > 0) *columns[i] += by;
  };
  fit(0, nameEnd_ + 1);
  if (bitsShown_ && c.bitCount > 0) fit(1, c.bitCount + 5);
  if (patternEnd_ > 0 && c.pattern > 0) fit(2, c.pattern + patternEnd_ - columns_.pattern + 2);
  return c;
}

void CFieldTree::Title(std::string_view text, int colour) {
  CRowLine line;
  line.Put(NameColumn(0), text);
  Row(line, colour, true);
}

void CFieldTree::Field(int level, std::string_view name, int bits, int mode, int colour,
                       uint64_t raw, int64_t value, std::string_view extra, std::string_view unit) {
  CRowLine line;
  PutName(line, level, name);
  if (columns_.bitCount > 0 && bits > 0) {
    char count[16];
    if (bits >= kBitsUnknown) {
      std::snprintf(count, sizeof count, "----");
    } else {
      std::snprintf(count, sizeof count, "%4d", bits);
    }
    line.Put(columns_.bitCount, count);
    bitsShown_ = true;
  }
  if (columns_.pattern > 0 && bits > 0) {
    const std::string pattern = bits >= 8 && mode != kModeBinary ? FormatHexField(raw, bits) : FormatBinaryField(raw, bits);
    line.Put(columns_.pattern, pattern);
    patternEnd_ = std::max(patternEnd_, columns_.pattern + static_cast<int>(pattern.size()));
  }
  if (columns_.value > 0) {
    std::string text;
    if (mode != kModeHex) {
      text = FormatDecimal(value);
    } else if (bits > 0) {
      text = FormatHexField(static_cast<uint64_t>(value), bits);
    } else {
      // No width to derive digits from: the whole value, unmasked.
      char hex[24];
      std::snprintf(hex, sizeof hex, "0x%llX", static_cast<unsigned long long>(value));
      text = hex;
    }
    if (!unit.empty()) {
      text += ' ';
      text += unit;
    }
    line.Put(columns_.value, text);
  }
  if (columns_.comment > 0 && !extra.empty()) line.Put(columns_.comment, extra);
  AddFieldRow(line, colour);
}

void CFieldTree::FieldText(int level, std::string_view name, int bits, int colour,
                           std::string_view value, std::string_view extra) {
  CRowLine line;
  PutName(line, level, name);
  if (columns_.bitCount > 0 && bits > 0) {
    char count[16];
    std::snprintf(count, sizeof count, bits >= kBitsUnknown ? "----" : "%4d", bits);
    line.Put(columns_.bitCount, count);
    bitsShown_ = true;
  }
  if (columns_.value > 0) line.Put(columns_.value, value);
  if (columns_.comment > 0 && !extra.empty()) line.Put(columns_.comment, extra);
  AddFieldRow(line, colour);
}

void CFieldTree::Text(int level, std::string_view name, std::span<const uint8_t> bytes, int colour,
                      std::string_view extra) {
  CRowLine line;
  PutName(line, level, name);
  const uint64_t bits = uint64_t{bytes.size()} * 8;
  if (columns_.bitCount > 0) {
    char count[24];
    if (bits >= kBitsUnknown) {
      std::snprintf(count, sizeof count, "----");
    } else {
      std::snprintf(count, sizeof count, "%4d", static_cast<int>(bits));
    }
    line.Put(columns_.bitCount, count);
    bitsShown_ = true;
  }
  if (columns_.pattern > 0) {
    // As many bytes "XX " as fit before the value column (or the line's end).
    const int limit = columns_.value > columns_.pattern ? columns_.value - 1 : CRowLine::kColumns;
    std::string dump;
    for (uint8_t b : bytes) {
      char hex[4];
      std::snprintf(hex, sizeof hex, dump.empty() ? "%02X" : " %02X", b);
      if (columns_.pattern + static_cast<int>(dump.size() + std::string_view(hex).size()) > limit) break;
      dump += hex;
    }
    line.Put(columns_.pattern, dump);
  }
  if (columns_.value > 0) {
    // The line holds kColumns characters: longer texts are cut there anyway.
    const size_t shown = std::min<size_t>(bytes.size(), CRowLine::kColumns);
    std::string text = "\"";
    for (size_t i = 0; i < shown; ++i) {
      const uint8_t b = bytes[i];
      text += (b < 0x20 || b >= 0x7F) ? '.' : static_cast<char>(b);
    }
    text += '"';
    line.Put(columns_.value, text);
  }
  if (columns_.comment > 0 && !extra.empty()) line.Put(columns_.comment, extra);
  AddFieldRow(line, colour);
}

void CFieldTree::Ipv4(int level, std::string_view name, uint32_t address, int colour,
                      std::string_view extra) {
  CRowLine line;
  PutName(line, level, name);
  char text[24];
  if (columns_.bitCount > 0) line.Put(columns_.bitCount, "  32"), bitsShown_ = true;
  if (columns_.pattern > 0) {
    std::snprintf(text, sizeof text, "0x%08X", address);
    line.Put(columns_.pattern, text);
  }
  if (columns_.value > 0) {
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", address >> 24, (address >> 16) & 0xFF,
                  (address >> 8) & 0xFF, address & 0xFF);
    line.Put(columns_.value, text);
  }
  if (columns_.comment > 0 && !extra.empty()) line.Put(columns_.comment, extra);
  AddFieldRow(line, colour);
}

void CFieldTree::FourCC(int level, const uint8_t code[4], int colour, std::string_view name) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%02X %02X %02X %02X", code[0], code[1], code[2], code[3]);
  FieldText(level, name, 32, colour, text);
}

void CFieldTree::Uuid(int level, const uint8_t u[16], int colour, std::string_view name) {
  char text[40];
  std::snprintf(text, sizeof text,
                "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", u[0], u[1],
                u[2], u[3], u[4], u[5], u[6], u[7], u[8], u[9], u[10], u[11], u[12], u[13], u[14], u[15]);
  FieldText(level, name, 128, colour, text);
}

void CFieldTree::SampleRow(int level, std::span<const int> samples, int step, bool withHex,
                           int colour) {
  CRowLine line;
  int column = NameColumn(level);
  for (int sample : samples) {
    char text[32];
    if (withHex) {
      std::snprintf(text, sizeof text, "%6d  (0x%04X)", sample, static_cast<unsigned>(sample) & 0xFFFFu);
    } else {
      std::snprintf(text, sizeof text, "%6d", sample);
    }
    line.Put(column, text);
    column += step;
  }
  ViewRow row;
  row.text = line.Text();
  row.colour = colour;
  rows_.push_back(std::move(row));
}

void CFieldTree::IntTable(int level, std::span<const int> values, int perRow, int colour) {
  if (perRow <= 0) perRow = 16;
  for (size_t start = 0; start < values.size(); start += perRow) {
    std::string text;
    for (size_t i = start; i < values.size() && i < start + perRow; ++i) {
      char entry[16];
      std::snprintf(entry, sizeof entry, "%5d", values[i]);
      text += entry;
    }
    CRowLine line;
    line.Put(NameColumn(level), text);
    ViewRow row;
    row.text = line.Text();
    row.colour = colour;
    rows_.push_back(std::move(row));
  }
}

void CFieldTree::Row(const CRowLine& line, int colour, bool title) {
  ViewRow row;
  row.text = line.Text();
  row.colour = colour;
  row.title = title;
  rows_.push_back(std::move(row));
}

void CFieldTree::Blank(int colour) {
  ViewRow row;
  row.colour = colour;
  rows_.push_back(std::move(row));
}

}  // namespace fennik
