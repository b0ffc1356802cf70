#include "codec/audio/CPCM_Parser.h"

#include <cstdio>

#include "codec/audio/AudioSampleTable.h"
#include "codec/audio/AudioViews.h"

namespace fennik {

uint64_t CPCM_Parser::GetTime(uint32_t index) {
  const AudioFormat& f = Format();
  const uint64_t count = Frames().GetCount();
  if (f.sampleRate == 0 || count == 0) return 0;
  uint64_t address;
  FrameEntry first, frame;
  if (!Frames().Get(0, &address, &first)) return 0;
  const bool whole = index == kNone || index >= count;
  if (!Frames().Get(whole ? count - 1 : index, &address, &frame)) return 0;
  // RTP timestamps are 32-bit and wrap; the distance from the first frame is taken modulo 2^32.
  uint64_t ticks = static_cast<uint32_t>(frame.timestamp - first.timestamp);
  if (whole) {
    const uint32_t bytesPerSample = f.bitsPerSample <= 8 ? 1 : 2;
    ticks += frame.size / (bytesPerSample * (f.channels == 0 ? 1 : f.channels));
  }
  return ticks * 1000000 / f.sampleRate;
}

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
