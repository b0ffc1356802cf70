#include "codec/audio/AudioSampleTable.h"

namespace fennik {

void SampleTableRow(CFieldTree& tree, std::initializer_list<SampleTableCell> cells, bool header) {
  CRowLine line;
  for (const SampleTableCell& cell : cells) line.Put(cell.column, cell.text);
  if (header) {
    tree.Row(line, colour::kTitle, true);
  } else {
    tree.Row(line, colour::kField);
  }
}

std::string BinaryCode(uint32_t code, int bits) {
  std::string text;
  for (int b = bits - 1; b >= 0; --b) text += (code >> b) & 1u ? '1' : '0';
  return text + "b";
}

}  // namespace fennik
