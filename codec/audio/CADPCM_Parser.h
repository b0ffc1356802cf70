// The IMA-ADPCM stream in the RTP "DVI4" packing (codec type 103): one frame per run of
// packets sharing an RTP timestamp; every frame carries its own predictor and step index
// in a 4-byte header and is decoded on its own.
#pragma once

#include "codec/audio/CADPCM_Decode.h"
#include "codec/audio/CDecoderStream.h"

namespace fennik {

class CADPCM_Parser : public CDecoderStream<CADPCM_Decode> {
 public:
  const char* GetCodecName() const override { return "ADPCM"; }
  // Two samples per octet after the 4-byte block header.
  uint64_t FrameSamples(uint32_t size) const override { return size > 4 ? uint64_t{size - 4} * 2 : 0; }
  // "ADPCM AUDIO INFORMATION", the common frame block, the frame header (group
  // "IMA-ADPCM") and the nibbles and samples of the last decoded frame.
  void ShowFrameInfo(CFieldTree& tree, uint32_t index) override;
};

}  // namespace fennik
