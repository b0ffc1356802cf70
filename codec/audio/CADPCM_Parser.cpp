#include "codec/audio/CADPCM_Parser.h"

#include <cstdio>

#include "codec/audio/AudioSampleTable.h"
#include "codec/audio/AudioViews.h"

namespace fennik {

void CADPCM_Parser::ShowFrameInfo(CFieldTree& tree, uint32_t index) {
  tree.Title("ADPCM AUDIO INFORMATION");
  PrintCommonAudioFrameBlock(*this, index, tree);
  uint32_t size = 0;
  const uint8_t* frame = GetFrameData(index, &size, nullptr);
  Dvi4Header header;
  if (frame != nullptr && ParseDvi4Header(frame, size, header)) {
    tree.Title("IMA-ADPCM");
    tree.Field(1, "predictor", 16, kModeDecimal, colour::kField, header.predictor, header.predictor);
    char step[32];
    std::snprintf(step, sizeof step, "step = %d", header.step);
    tree.Field(1, "step_index", 8, kModeDecimal, colour::kField, header.stepIndex, header.stepIndex,
               step);
  }
  const std::vector<AdpcmSampleRecord>& records = Records();
  if (records.empty()) return;
  SampleTableRow(tree, {{3, "No."}, {9, "INPUT"}, {18, "OUTPUT"}}, true);
  const size_t rows = SampleTableRows(records.size());
  for (size_t row = 0; row < rows; ++row) {
    const AdpcmSampleRecord& r = records[SampleTableRecord(row, records.size())];
    char number[24], output[16];
    std::snprintf(number, sizeof number, "%4zu", row + 1);
    std::snprintf(output, sizeof output, "%6d", r.output);
    const std::string nibble = BinaryCode(r.nibble, 4);
    SampleTableRow(tree, {{3, number}, {9, nibble}, {18, output}}, false);
  }
}

}  // namespace fennik
