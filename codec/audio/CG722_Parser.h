// The G.722 stream (codec type 107): one frame per run of packets sharing an RTP timestamp.
// At the RTP clock rate of G.722 (8000) each octet gives one sample, the first output of
// the receive QMF; at 16000 Hz both outputs. Sub-band and QMF state run on from frame to
// frame and are reset on any jump in decoding order.
#pragma once

#include "codec/audio/CG722_Decode.h"
#include "codec/audio/CDecoderStream.h"

namespace fennik {

class CG722_Parser : public CDecoderStream<CG722_Decode> {
 public:
  const char* GetCodecName() const override { return "G.722"; }
  // "G.722 AUDIO INFORMATION", the common frame block and, per octet of the last decoded
  // frame, its two codes, the sub-band signals and the two QMF outputs.
  void ShowFrameInfo(CFieldTree& tree, uint32_t index) override;
};

}  // namespace fennik
