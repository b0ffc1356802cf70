// The linear PCM stream "L16" (codec type 94): one frame per run of packets sharing an RTP
// timestamp, 16-bit big-endian samples interleaved by channel, each frame decoded on its own.
#pragma once

#include "codec/audio/CPCM_Decode.h"
#include "codec/audio/CDecoderStream.h"

namespace fennik {

class CPCM_Parser : public CDecoderStream<CPCM_Decode> {
 public:
  void ResetDecoder() override {}  // PCM keeps no state between frames
  const char* GetCodecName() const override { return "LPCM"; }
  // Frame times from the RTP timestamps (the L16 clock is the sample clock, RFC 3551
  // 4.5.11): an L16 frame's length is whatever the sender put into a packet, so the count
  // of the last decoded frame (2048 before any) says nothing about the others. The whole
  // stream (kNone) ends after the last frame's samples.
  uint64_t GetTime(uint32_t index) override;
  // "LPCM AUDIO INFORMATION", the common frame block and the samples of the last decoded
  // frame (left and right side by side for two channels, else one per row).
  void ShowFrameInfo(CFieldTree& tree, uint32_t index) override;
};

}  // namespace fennik
