#include "codec/audio/CG722_Parser.h"

#include <cstdio>

#include "codec/audio/AudioSampleTable.h"
#include "codec/audio/AudioViews.h"

namespace fennik {

void CG722_Parser::ShowFrameInfo(CFieldTree& tree, uint32_t index) {
  tree.Title("G.722 AUDIO INFORMATION");
  PrintCommonAudioFrameBlock(*this, index, tree);
  const std::vector<G722OctetRecord>& records = Records();
  if (records.empty()) return;
  SampleTableRow(tree,
                 {{3, "No."}, {9, "IHR"}, {18, "ILR"}, {29, "RL"}, {38, "RH"}, {47, "XOUT[0]"},
                  {56, "XOUT[1]"}},
                 true);
  const size_t rows = SampleTableRows(records.size());
  for (size_t row = 0; row < rows; ++row) {
    const G722OctetRecord& r = records[SampleTableRecord(row, records.size())];
    char v[5][24];
    std::snprintf(v[0], sizeof v[0], "%4zu", row + 1);
    std::snprintf(v[1], sizeof v[1], "%6d", r.rl);
    std::snprintf(v[2], sizeof v[2], "%6d", r.rh);
    std::snprintf(v[3], sizeof v[3], "%6d", r.xout[0]);
    std::snprintf(v[4], sizeof v[4], "%6d", r.xout[1]);
    const std::string ih = BinaryCode(static_cast<uint32_t>(r.ih), 2);
    const std::string il = BinaryCode(static_cast<uint32_t>(r.il), 6);
    SampleTableRow(tree,
                   {{3, v[0]}, {9, ih}, {18, il}, {29, v[1]}, {38, v[2]}, {47, v[3]}, {56, v[4]}},
                   false);
  }
}

}  // namespace fennik
