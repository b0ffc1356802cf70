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
#include "stream/CAudio_Stream.h"

namespace fennik {

class CG726_Parser : public CAudio_Stream, public CG726_Decode {
 public:
  explicit CG726_Parser(bool aal2) : CG726_Decode(aal2) {}

  void ReleaseDecoder() override { ReleaseRecords(); }
  void ResetDecoder() override { Reset(); }
  int Open(const uint8_t*, size_t, int32_t) override { return 1; }
  int32_t GetCodecType() const override { return Format().codecType; }
  const char* GetCodecName() const override { return "G.726"; }
  size_t Parse(uint32_t streamId, CPayloadDescriptor& descriptor) override {
    return ParseWholeUnit(streamId, descriptor);
  }
  int GetAudioFormat(AudioFormat& format) const override {
    format = Format();
    return 1;
  }
  // The bit rate (or channels × bits × rate when it is 0) picks the code word size.
  void SetAudioFormat(int32_t sampleRate, uint16_t bitsPerSample, uint16_t channels, uint32_t,
                      int32_t bitRate) override {
    CG726_Decode::SetAudioFormat(sampleRate, bitsPerSample, channels, bitRate);
  }
  size_t Decode(const uint8_t* data, size_t length, int16_t* out, size_t capacityBytes) override {
    return CG726_Decode::Decode(data, length, out, capacityBytes);
  }
  // "G.726 AUDIO INFORMATION", the common frame block and, per sample of the last decoded
  // frame, the code word, the output and the decoder state it was decoded from.
  void ShowFrameInfo(CFieldTree& tree, uint32_t index) override;
};

}  // namespace fennik
