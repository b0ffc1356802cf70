// The hex dump's content: a window of 16,384 bytes read from a file at an address, shown as
// a header line and lines of 16 bytes with their address and their characters.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "view/ViewRow.h"

namespace fennik {

// "ADDRESS:      +0 +1 … +F ASCII" in colour 50.
ViewRow HexDumpHeader();
// One line of up to 16 bytes: the low 12 hexadecimal digits of `address` and a blank (in
// colour 50), " %02X" per byte, three blanks per missing byte, a blank, and the bytes as
// characters with control bytes (below 0x20, and 0x7F and above) shown as '.' (colour 51).
ViewRow HexDumpLine(uint64_t address, const uint8_t* bytes, size_t count);
// The header line and the lines of `size` bytes starting at `address`.
std::vector<ViewRow> HexDumpRows(uint64_t address, const uint8_t* data, size_t size);

// "0x%012llX": the address as the control bar's edit field shows it.
std::string FormatHexAddress(uint64_t address);

// The binary view's window over a file.
class CBinaryModel {
 public:
  static constexpr uint32_t kWindowBytes = 16384;
  // Reads up to `size` bytes at `offset`; returns the bytes read.
  using Reader = std::function<uint32_t(uint64_t offset, void* buffer, uint32_t size)>;

  CBinaryModel(Reader reader, uint64_t fileSize) : reader_(std::move(reader)), fileSize_(fileSize) {}

  // Reads the window at `address`; refused (false, nothing changes) at or beyond the
  // file's end or when the read fails.
  bool Load(uint64_t address);
  // "▲": one window forward; "▼": one window back, not below 0.
  bool Forward();
  bool Back();

  uint64_t Address() const { return address_; }
  const std::vector<uint8_t>& Data() const { return data_; }
  std::vector<ViewRow> Rows() const { return HexDumpRows(address_, data_.data(), data_.size()); }

 private:
  Reader reader_;
  uint64_t fileSize_;
  uint64_t address_ = 0;
  std::vector<uint8_t> data_;
};

}  // namespace fennik
