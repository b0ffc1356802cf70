#include "codec/audio/CG711_Parser.h"

#include <cstdio>

#include "codec/audio/AudioViews.h"

namespace fennik {

int CG711_Parser::Open(const uint8_t*, size_t, int32_t codecType) {
  SetCodecType(codecType);
  return 1;
}

void CG711_Parser::ShowFrameInfo(CFieldTree& tree, uint32_t index) {
  tree.Title("G.711 AUDIO INFORMATION");
  PrintCommonAudioFrameBlock(*this, index, tree);
  if (Records().empty()) return;
  // The sample table: the codes and the table values they give (the 16-bit sample shifted
  // back by the law's scale).
  const int shift = Format().codecType == kCodecULaw ? 2 : 3;
  CRowLine line;
  line.Put(3, "No.");
  line.Put(9, "INPUT");
  line.Put(18, "OUTPUT");
  tree.Row(line, colour::kTitle, true);
  uint32_t number = 1;
  for (const SampleRecord& r : Records()) {
    char numberText[8], input[8], output[8];
    std::snprintf(numberText, sizeof numberText, "%4u", number++);
    std::snprintf(input, sizeof input, "0x%02X", r.input);
    std::snprintf(output, sizeof output, "%6d", r.output >> shift);
    line.Clear();
    line.Put(3, numberText);
    line.Put(9, input);
    line.Put(18, output);
    tree.Row(line, colour::kField);
  }
}

}  // namespace fennik
