#include "codec/audio/CG729_Parser.h"

#include <strings.h>

#include "codec/audio/AudioViews.h"

namespace fennik {

void CG729_Parser::OnMediaFormat() {
  const auto annexB = Fmtp("annexb");
  SetAnnexB(!(annexB && strncasecmp(annexB->data(), "no", annexB->size()) == 0 && annexB->size() == 2));
}

size_t CG729_Parser::Parse(uint32_t streamId, CPayloadDescriptor& descriptor) {
  const bool first = frames_.GetCount() == 0;
  CAnarizeBuffer* buffer = descriptor.Find(streamId);
  const size_t pending = buffer != nullptr ? buffer->Pending() : 0;
  const size_t consumed = ParseWholeUnit(streamId, descriptor);
  if (first && consumed != 0 && PayloadSamples(pending) != 0) SetFrameSamples(PayloadSamples(pending));
  return consumed;
}

void CG729_Parser::ShowFrameInfo(CFieldTree& tree, uint32_t index) {
  tree.Title("G.729 AUDIO INFORMATION");
  PrintCommonAudioFrameBlock(*this, index, tree);
}

void CG729_Parser::ShowFrameDetail(CFieldTree& tree, uint32_t index) {
  (void)index;  // the records are the frame's: the views decode it before showing it
  if (Records().empty()) return;
  tree.Title("G.729 transmitted parameters");
  int number = 1;
  for (const G729FrameRecord& r : Records()) {
    std::string heading = "Frame " + std::to_string(number++);
    if (r.sid) heading += " (SID, Annex B)";
    tree.FieldText(0, heading, 0, colour::kTitle, "");
    const G729Parameter* params = r.sid ? kG729SidParameters : kG729SpeechParameters;
    const int count = r.sid ? G729FrameRecord::kSidParameters : G729FrameRecord::kSpeechParameters;
    for (int i = 0; i < count; ++i) {
      tree.Field(1, params[i].name, params[i].bits, kModeDecimal, colour::kField, r.values[i], r.values[i]);
    }
  }
}

}  // namespace fennik
