// The G.711 stream: A-law (codec type 105, "PCMA") or u-law (106, "PCMU"); one frame per run
// of packets sharing an RTP timestamp, each decoded independently by table.
#pragma once

#include "codec/audio/CG711_Decode.h"
#include "stream/CAudio_Stream.h"

namespace fennik {

class CG711_Parser : public CAudio_Stream, public CG711_Decode {
 public:
  explicit CG711_Parser(bool aLaw) : CG711_Decode(aLaw) {}

  void ReleaseDecoder() override { ReleaseRecords(); }
  void ResetDecoder() override {}  // G.711 keeps no state between frames
  int Open(const uint8_t* data, size_t length, int32_t codecType) override;
  int32_t GetCodecType() const override { return Format().codecType; }
  const char* GetCodecName() const override { return "G.711"; }
  size_t Parse(uint32_t streamId, CPayloadDescriptor& descriptor) override {
    return ParseWholeUnit(streamId, descriptor);
  }
  int GetAudioFormat(AudioFormat& format) const override {
    format = Format();
    return 1;
  }
  void SetAudioFormat(int32_t sampleRate, uint16_t bitsPerSample, uint16_t channels,
                      uint32_t, int32_t bitRate) override {
    CG711_Decode::SetAudioFormat(sampleRate, bitsPerSample, channels, bitRate);
  }
  size_t Decode(const uint8_t* data, size_t length, int16_t* out, size_t capacityBytes) override {
    return DecodeSamples(data, length, out, capacityBytes);
  }
  // "G.711 AUDIO INFORMATION", the common frame block and the table of the last decoded
  // frame's codes and samples.
  void ShowFrameInfo(CFieldTree& tree, uint32_t index) override;
};

}  // namespace fennik
