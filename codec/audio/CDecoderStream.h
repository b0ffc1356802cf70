// The audio stream of a codec whose decoder class does all the work: the stream operations
// the analysis and the playback call are forwarded to the decoder (format, reset, decode),
// and frames are cut by the common parse (one frame per run of packets sharing an RTP
// timestamp). A codec's parser derives from it and adds its name and its information view.
#pragma once

#include "stream/CAudio_Stream.h"

namespace fennik {

template <class Decoder>
class CDecoderStream : public CAudio_Stream, public Decoder {
 public:
  using Decoder::Decoder;

  void ReleaseDecoder() override { Decoder::ReleaseRecords(); }
  void ResetDecoder() override { Decoder::Reset(); }
  int Open(const uint8_t*, size_t, int32_t) override { return 1; }
  int32_t GetCodecType() const override { return Decoder::Format().codecType; }
  size_t Parse(uint32_t streamId, CPayloadDescriptor& descriptor) override {
    return ParseWholeUnit(streamId, descriptor);
  }
  int GetAudioFormat(AudioFormat& format) const override {
    format = Decoder::Format();
    return 1;
  }
  void SetAudioFormat(int32_t sampleRate, uint16_t bitsPerSample, uint16_t channels, uint32_t,
                      int32_t bitRate) override {
    Decoder::SetAudioFormat(sampleRate, bitsPerSample, channels, bitRate);
  }
  size_t Decode(const uint8_t* data, size_t length, int16_t* out, size_t capacityBytes) override {
    return Decoder::Decode(data, length, out, capacityBytes);
  }
};

}  // namespace fennik
