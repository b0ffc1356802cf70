#include "codec/audio/CPCM_Parser.h"

#include <cstdio>

#include "codec/audio/AudioSampleTable.h"
#include "codec/audio/AudioViews.h"

namespace fennik {

void CPCM_Parser::ShowFrameInfo(CFieldTree& tree, uint32_t index) {
  tree.Title("LPCM AUDIO INFORMATION");
  PrintCommonAudioFrameBlock(*this, index, tree);
  const std::vector<int32_t>& records = Records();
  if (records.empty()) return;
  const bool stereo = Format().channels == 2;
  if (stereo) {
    SampleTableRow(tree, {{3, "No."}, {9, "CH(L)"}, {18, "CH(R)"}}, true);
  } else {
    SampleTableRow(tree, {{3, "No."}, {9, "MONO"}}, true);
  }
  const size_t step = stereo ? 2 : 1;
  for (size_t i = 0, row = 1; i < records.size(); i += step, ++row) {
    char number[24], first[16], second[16] = "";
    std::snprintf(number, sizeof number, "%4zu", row);
    std::snprintf(first, sizeof first, "%6d", records[i]);
    if (stereo && i + 1 < records.size()) std::snprintf(second, sizeof second, "%6d", records[i + 1]);
    SampleTableRow(tree, {{3, number}, {9, first}, {18, second}}, false);
  }
}

}  // namespace fennik
