// The G.726 stream: codec type 108 ("G726-xx", code words packed from the least
// significant bit of each octet) or 109 ("AAL2-G726-xx", from the most significant bit);
// one frame per run of packets sharing an RTP timestamp. The decoder state runs on from
// frame to frame and is reset on any jump in decoding order (DecodeFrame does that, for
// the playback's GetAudioFrame too). Asking again for the frame decoded last hands out its
// samples without decoding and leaves the state alone, so the next frame still continues
// from it. G.726's own arithmetic is the default; SetRounding(G726Rounding::kLibavcodec)
// follows streams from libavcodec's encoder exactly.
#pragma once

#include "codec/audio/CG726_Decode.h"
#include "codec/audio/CDecoderStream.h"

namespace fennik {

class CG726_Parser : public CDecoderStream<CG726_Decode> {
 public:
  explicit CG726_Parser(bool aal2) : CDecoderStream(aal2) {}

  const char* GetCodecName() const override { return "G.726"; }
  // One sample per code word: ceil(8 × size ÷ code bits).
  uint64_t FrameSamples(uint32_t size) const override {
    const uint64_t bits = static_cast<uint64_t>(CodeBits());
    return bits == 0 ? 0 : (uint64_t{size} * 8 + bits - 1) / bits;
  }
  // "G.726 AUDIO INFORMATION", the common frame block and, per sample of the last decoded
  // frame, the code word, the output and the decoder state it was decoded from.
  void ShowFrameInfo(CFieldTree& tree, uint32_t index) override;
};

}  // namespace fennik
