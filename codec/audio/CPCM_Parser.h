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
  // An L16 frame's length is whatever the sender put into a packet: its samples follow
  // from its size (16 bits per sample and channel), so frame times never depend on the
  // frame decoded last.
  uint64_t FrameSamples(uint32_t size) const override {
    const uint32_t channels = Format().channels == 0 ? 1u : Format().channels;
    return size / (2u * channels);
  }
  // "LPCM AUDIO INFORMATION", the common frame block and the samples of the last decoded
  // frame (left and right side by side for two channels, else one per row).
  void ShowFrameInfo(CFieldTree& tree, uint32_t index) override;
};

}  // namespace fennik
