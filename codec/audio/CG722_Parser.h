// The G.722 stream (codec type 107): one frame per run of packets sharing an RTP timestamp.
// Each octet gives two 16 kHz samples, though the RTP clock of G.722 runs at 8000 Hz
// (RFC 3551 4.5.2). Sub-band and QMF state run on from frame to frame and are reset on any
// jump in decoding order.
#pragma once

#include "codec/audio/CG722_Decode.h"
#include "codec/audio/CDecoderStream.h"

namespace fennik {

class CG722_Parser : public CDecoderStream<CG722_Decode> {
 public:
  const char* GetCodecName() const override { return "G.722"; }
  uint64_t FrameSamples(uint32_t size) const override { return uint64_t{size} * 2; }
  // "G.722 AUDIO INFORMATION", the common frame block and, per octet of the last decoded
  // frame, its two codes, the sub-band signals and the two QMF outputs.
  void ShowFrameInfo(CFieldTree& tree, uint32_t index) override;
};

}  // namespace fennik
