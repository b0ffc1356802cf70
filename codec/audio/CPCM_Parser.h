// The linear PCM stream "L16" (codec type 94): one frame per run of packets sharing an RTP
// timestamp, 16-bit big-endian samples interleaved by channel, each frame decoded on its own.
#pragma once

#include "codec/audio/CPCM_Decode.h"
#include "stream/CAudio_Stream.h"

namespace fennik {

class CPCM_Parser : public CAudio_Stream, public CPCM_Decode {
 public:
  CPCM_Parser() = default;

  void ReleaseDecoder() override { ReleaseRecords(); }
  void ResetDecoder() override {}  // PCM keeps no state between frames
  int Open(const uint8_t*, size_t, int32_t) override { return 1; }
  int32_t GetCodecType() const override { return Format().codecType; }
  const char* GetCodecName() const override { return "LPCM"; }
  size_t Parse(uint32_t streamId, CPayloadDescriptor& descriptor) override {
    return ParseWholeUnit(streamId, descriptor);
  }
  int GetAudioFormat(AudioFormat& format) const override {
    format = Format();
    return 1;
  }
  void SetAudioFormat(int32_t sampleRate, uint16_t bitsPerSample, uint16_t channels, uint32_t,
                      int32_t bitRate) override {
    CPCM_Decode::SetAudioFormat(sampleRate, bitsPerSample, channels, bitRate);
  }
  size_t Decode(const uint8_t* data, size_t length, int16_t* out, size_t capacityBytes) override {
    return CPCM_Decode::Decode(data, length, out, capacityBytes);
  }
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
