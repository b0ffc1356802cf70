// The per-sample tables of the audio information views: a header row and one row per
// decoded sample, each a set of texts at fixed character offsets of the line.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

#include "view/CFieldTree.h"

namespace fennik {

// Rows a sample table shows for one frame: the decoders keep a record per sample, the view
// shows at most 1023 of them, the 1023rd standing for the last sample of a longer frame.
constexpr size_t kMaxSampleTableRows = 1023;

struct SampleTableCell {
  int column;
  std::string_view text;
};

// One row of the table; `header` rows are title-coloured.
void SampleTableRow(CFieldTree& tree, std::initializer_list<SampleTableCell> cells, bool header);

// `code` as `bits` binary digits, most significant first, followed by "b" ("0101b").
std::string BinaryCode(uint32_t code, int bits);

// The record index shown in table row `row` (0-based) of a frame with `count` records.
inline size_t SampleTableRecord(size_t row, size_t count) {
  return row + 1 == kMaxSampleTableRows && count > kMaxSampleTableRows ? count - 1 : row;
}

// Number of rows the table has for `count` records.
inline size_t SampleTableRows(size_t count) {
  return count < kMaxSampleTableRows ? count : kMaxSampleTableRows;
}

}  // namespace fennik
