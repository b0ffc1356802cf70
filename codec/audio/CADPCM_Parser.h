// The IMA-ADPCM stream in the RTP "DVI4" packing (codec type 103): one frame per run of
// packets sharing an RTP timestamp; every frame carries its own predictor and step index
// in a 4-byte header and is decoded on its own.
#pragma once

#include "codec/audio/CADPCM_Decode.h"
#include "stream/CAudio_Stream.h"

namespace fennik {

class CADPCM_Parser : public CAudio_Stream, public CADPCM_Decode {
 public:
  CADPCM_Parser() = default;

  void ReleaseDecoder() override { ReleaseRecords(); }
  void ResetDecoder() override { Reset(); }
  int Open(const uint8_t*, size_t, int32_t) override { return 1; }
  int32_t GetCodecType() const override { return Format().codecType; }
  const char* GetCodecName() const override { return "ADPCM"; }
  size_t Parse(uint32_t streamId, CPayloadDescriptor& descriptor) override {
    return ParseWholeUnit(streamId, descriptor);
  }
  int GetAudioFormat(AudioFormat& format) const override {
    format = Format();
    return 1;
  }
  void SetAudioFormat(int32_t sampleRate, uint16_t bitsPerSample, uint16_t channels, uint32_t,
                      int32_t bitRate) override {
    CADPCM_Decode::SetAudioFormat(sampleRate, bitsPerSample, channels, bitRate);
  }
  size_t Decode(const uint8_t* data, size_t length, int16_t* out, size_t capacityBytes) override {
    return CADPCM_Decode::Decode(data, length, out, capacityBytes);
  }
  // "ADPCM AUDIO INFORMATION", the common frame block, the frame header (group
  // "IMA-ADPCM") and the nibbles and samples of the last decoded frame.
  void ShowFrameInfo(CFieldTree& tree, uint32_t index) override;
};

}  // namespace fennik
