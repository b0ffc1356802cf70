#include "codec/audio/CG726_Parser.h"

#include <cstdio>

#include "codec/audio/AudioSampleTable.h"
#include "codec/audio/AudioViews.h"

namespace fennik {

void CG726_Parser::ShowFrameInfo(CFieldTree& tree, uint32_t index) {
  tree.Title("G.726 AUDIO INFORMATION");
  PrintCommonAudioFrameBlock(*this, index, tree);
  const std::vector<G726SampleRecord>& records = Records();
  if (records.empty()) return;
  SampleTableRow(tree,
                 {{3, "No."}, {9, "INPUT"}, {18, "OUTPUT"}, {27, "DQ"}, {36, "SE"}, {45, "YU"},
                  {54, "YL"}, {63, "Y"}, {72, "DMS"}, {81, "DML"}, {90, "TR"}, {96, "TDP"}},
                 true);
  const size_t rows = SampleTableRows(records.size());
  for (size_t row = 0; row < rows; ++row) {
    const G726SampleRecord& r = records[SampleTableRecord(row, records.size())];
    char v[11][24];
    std::snprintf(v[0], sizeof v[0], "%4zu", row + 1);
    std::snprintf(v[1], sizeof v[1], "%6d", r.output);
    std::snprintf(v[2], sizeof v[2], "%6d", r.dq);
    std::snprintf(v[3], sizeof v[3], "%6d", r.se);
    std::snprintf(v[4], sizeof v[4], "%6d", r.yu);
    std::snprintf(v[5], sizeof v[5], "%6d", r.yl);
    std::snprintf(v[6], sizeof v[6], "%6d", r.y);
    std::snprintf(v[7], sizeof v[7], "%6d", r.dms);
    std::snprintf(v[8], sizeof v[8], "%6d", r.dml);
    std::snprintf(v[9], sizeof v[9], "%3u", r.tr);
    std::snprintf(v[10], sizeof v[10], "%3u", r.tdp);
    const std::string code = BinaryCode(r.code, CodeBits());
    SampleTableRow(tree,
                   {{3, v[0]}, {9, code}, {18, v[1]}, {27, v[2]}, {36, v[3]}, {45, v[4]},
                    {54, v[5]}, {63, v[6]}, {72, v[7]}, {81, v[8]}, {90, v[9]}, {96, v[10]}},
                   false);
  }
}

}  // namespace fennik
