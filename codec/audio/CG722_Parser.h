// The G.722 stream (codec type 107): one frame per run of packets sharing an RTP timestamp.
// At the RTP clock rate of G.722 (8000) each octet gives one sample, the first output of
// the receive QMF; at 16000 Hz both outputs. Sub-band and QMF state run on from frame to
// frame and are reset on any jump in decoding order.
#pragma once

#include "codec/audio/CG722_Decode.h"
#include "stream/CAudio_Stream.h"

namespace fennik {

class CG722_Parser : public CAudio_Stream, public CG722_Decode {
 public:
  CG722_Parser() = default;

  void ReleaseDecoder() override { ReleaseRecords(); }
  void ResetDecoder() override { Reset(); }
  int Open(const uint8_t*, size_t, int32_t) override { return 1; }
  int32_t GetCodecType() const override { return Format().codecType; }
  const char* GetCodecName() const override { return "G.722"; }
  size_t Parse(uint32_t streamId, CPayloadDescriptor& descriptor) override {
    return ParseWholeUnit(streamId, descriptor);
  }
  int GetAudioFormat(AudioFormat& format) const override {
    format = Format();
    return 1;
  }
  void SetAudioFormat(int32_t sampleRate, uint16_t bitsPerSample, uint16_t channels, uint32_t,
                      int32_t bitRate) override {
    CG722_Decode::SetAudioFormat(sampleRate, bitsPerSample, channels, bitRate);
  }
  size_t Decode(const uint8_t* data, size_t length, int16_t* out, size_t capacityBytes) override {
    return CG722_Decode::Decode(data, length, out, capacityBytes);
  }
  // "G.722 AUDIO INFORMATION", the common frame block and, per octet of the last decoded
  // frame, its two codes, the sub-band signals and the two QMF outputs.
  void ShowFrameInfo(CFieldTree& tree, uint32_t index) override;
};

}  // namespace fennik
