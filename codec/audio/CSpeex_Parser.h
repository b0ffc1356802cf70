// The Speex stream (codec type 114): one frame per run of packets sharing an RTP timestamp.
// The module's decoder is opened for the stream's rate: an in-band Ogg/Speex header's, else
// the SDP's clock rate (8000 narrowband, 16000 wideband, 32000 ultra-wideband, RFC 5574
// 3.1), else the first frame's layers (a narrowband frame with one wideband layer is
// wideband, with two ultra-wideband).
#pragma once

#include "codec/audio/CDecoderStream.h"
#include "codec/audio/CSpeex_Decode.h"

namespace fennik {

class CSpeex_Parser : public CDecoderStream<CSpeex_Decode> {
 public:
  const char* GetCodecName() const override { return "Speex"; }
  int Open(const uint8_t* data, size_t length, int32_t codecType) override;
  // The generic parse; the first frame's count of Speex frames sets the samples per frame.
  size_t Parse(uint32_t streamId, CPayloadDescriptor& descriptor) override;
  void ShowFrameInfo(CFieldTree& tree, uint32_t index) override;
  // "Ogg/Speex header packet", "Comment packet" or "Ogg/Speex frame header" per item found.
  void ShowFrameDetail(CFieldTree& tree, uint32_t index) override;
};

}  // namespace fennik
