// The GSM 06.10 stream (codec type 115): every 33-byte frame of a packet is a frame of its
// own (RFC 3551 4.5.8 lets a packet carry several); a packet's remainder shorter than a
// frame is kept as a short frame so that the next packet starts a frame again. Decoding
// goes through the module xcgsm_x64.so.
#pragma once

#include "codec/audio/CGSM_Decode.h"

namespace fennik {

class CGSM_Parser : public CModuleDecoderStream<CGSM_Decode> {
 public:
  const char* GetCodecName() const override { return "GSM"; }
  // Adds every frame of the unconsumed packets and consumes them all.
  size_t Parse(uint32_t streamId, CPayloadDescriptor& descriptor) override;
  void ShowFrameInfo(CFieldTree& tree, uint32_t index) override;
  // "FILTER PARAMETERS" (signature and log-area ratios) and the four sub-frames.
  void ShowFrameDetail(CFieldTree& tree, uint32_t index) override;
};

}  // namespace fennik
