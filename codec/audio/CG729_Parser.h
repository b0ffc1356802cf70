// The G.729 stream (codec type 110): one frame per run of packets sharing an RTP timestamp;
// the information view shows the transmitted parameters of the frame's first ten G.729
// frames (and its Annex B SID frame); decoding goes through the module xcg729_x64.so.
#pragma once

#include "codec/audio/CG729_Decode.h"

namespace fennik {

class CG729_Parser : public CModuleDecoderStream<CG729_Decode> {
 public:
  const char* GetCodecName() const override { return "G.729"; }
  // The generic parse; the first frame's length sets the samples per frame (80 per
  // 10-byte frame) until a decoded frame tells.
  size_t Parse(uint32_t streamId, CPayloadDescriptor& descriptor) override;
  void ShowFrameInfo(CFieldTree& tree, uint32_t index) override;
  // Group "G.729 transmitted parameters": the parameters of each unpacked frame.
  void ShowFrameDetail(CFieldTree& tree, uint32_t index) override;

 protected:
  // SDP "annexb=no" turns SID frames off.
  void OnMediaFormat() override;
};

}  // namespace fennik
