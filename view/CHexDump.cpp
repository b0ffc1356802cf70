#include "view/CHexDump.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>

namespace fennik {
namespace {

constexpr int kBytesPerLine = 16;
constexpr int kAddressCells = 13;  // 12 hexadecimal digits and a blank

}  // namespace

ViewRow HexDumpHeader() {
  ViewRow row;
  row.text = "ADDRESS:      +0 +1 +2 +3 +4 +5 +6 +7 +8 +9 +A +B +C +D +E +F ASCII";
  row.colour = colour::kHexHeader;
  return row;
}

ViewRow HexDumpLine(uint64_t address, const uint8_t* bytes, size_t count) {
  if (count > kBytesPerLine) count = kBytesPerLine;
  char full[24];
  std::snprintf(full, sizeof full, "%08X%08X", static_cast<unsigned>(address >> 32),
                static_cast<unsigned>(address & 0xFFFFFFFF));
  std::string text(full + 4);  // the last 12 of the 16 digits
  text += ' ';
  for (size_t i = 0; i < kBytesPerLine; ++i) {
    if (i < count) {
      char hex[4];
      std::snprintf(hex, sizeof hex, " %02X", bytes[i]);
      text += hex;
    } else {
      text += "   ";
    }
  }
  text += ' ';
  for (size_t i = 0; i < count; ++i) {
    text += (bytes[i] < 0x20 || bytes[i] >= 0x7F) ? '.' : static_cast<char>(bytes[i]);
  }
  ViewRow row;
  // Trailing blanks stay: a byte 0x20 at the end is a character of the text part.
  row.text = std::move(text);
  row.colour = colour::kHexData;
  row.spans.push_back({0, kAddressCells, colour::kHexHeader});
  return row;
}

std::vector<ViewRow> HexDumpRows(uint64_t address, const uint8_t* data, size_t size) {
  std::vector<ViewRow> rows;
  rows.reserve(1 + (size + kBytesPerLine - 1) / kBytesPerLine);
  rows.push_back(HexDumpHeader());
  for (size_t offset = 0; offset < size; offset += kBytesPerLine) {
    const size_t n = size - offset < kBytesPerLine ? size - offset : kBytesPerLine;
    rows.push_back(HexDumpLine(address + offset, data + offset, n));
  }
  return rows;
}

std::string FormatHexAddress(uint64_t address) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%012" PRIX64, address);
  return text;
}

bool CBinaryModel::Load(uint64_t address) {
  if (address >= fileSize_ || !reader_) return false;
  std::vector<uint8_t> buffer(kWindowBytes);
  const uint32_t got = reader_(address, buffer.data(), kWindowBytes);
  if (got == 0) return false;
  buffer.resize(got > kWindowBytes ? kWindowBytes : got);
  data_ = std::move(buffer);
  address_ = address;
  return true;
}

bool CBinaryModel::Forward() {
  return Load(address_ + kWindowBytes);
}

bool CBinaryModel::Back() {
  return Load(address_ >= kWindowBytes ? address_ - kWindowBytes : 0);
}

}  // namespace fennik
