// The decoder base of the codecs decoded by an external module (G.729, GSM, iLBC, Opus,
// Speex): the shared decoder state (CAudioDecoder) plus the module's decoder handle. The
// codec's own class unpacks each frame for the information view and then hands the frame
// bytes unchanged to ModuleDecode.
#pragma once

#include "codec/audio/CAudioDecoder.h"
#include "codec/audio/CDecoderStream.h"
#include "codec/audio/CModuleHandle.h"

namespace fennik {

template <class Record>
class CModuleDecoder : public CAudioDecoder<Record> {
 public:
  bool HasModuleDecoder() const { return module_.IsOpen(); }
  // Creates the module's decoder for the format's channels and sample rate (and the frame
  // mode); false without the module.
  bool OpenModuleDecoder() {
    return module_.Create(this->format_.channels, this->format_.sampleRate, frameMode_);
  }
  // The samples per channel a frame is taken to have (frame times) until one is decoded, and
  // whenever a frame decodes to nothing (no module, a frame the module refuses).
  void SetFrameSamples(uint32_t samples) { this->format_.samples = nominalSamples_ = samples; }
  // Applies a stream's media description by the common rule; a decoder created for other
  // channels or another rate is closed (the next decode opens one for the new format).
  void SetAudioFormat(int32_t sampleRate, uint16_t bitsPerSample, uint16_t channels, int32_t bitRate) {
    const uint32_t oldChannels = this->format_.channels, oldRate = this->format_.sampleRate;
    CAudioDecoder<Record>::SetAudioFormat(sampleRate, bitsPerSample, channels, bitRate);
    if (this->format_.channels != oldChannels || this->format_.sampleRate != oldRate) module_.Destroy();
  }
  // Back to the decoder's initial state.
  void Reset() { module_.Reset(); }
  // Frees the records and destroys the module's decoder; the next decode creates it again.
  void ReleaseRecords() {
    CAudioDecoder<Record>::ReleaseRecords();
    module_.Destroy();
  }

 protected:
  CModuleDecoder(const char* tag, CodecModule module) : CAudioDecoder<Record>(tag), module_(module) {}

  // The frame mode passed to the module's Create (iLBC: 20 or 30 ms; 0 for the others).
  // A change closes the current decoder so that the next decode opens one for the new mode.
  void SetFrameMode(uint32_t mode) {
    if (mode != frameMode_) module_.Destroy();
    frameMode_ = mode;
  }
  // A change of the format's channels or rate after the decoder was created needs a new one.
  void CloseModuleDecoder() { module_.Destroy(); }

  // Decodes the frame through the module (creating its decoder when there is none) into at
  // most capacityBytes ÷ 2 samples; sets the sample count and returns the bytes written (0
  // without the module).
  size_t ModuleDecode(const uint8_t* in, size_t length, int16_t* out, size_t capacityBytes) {
    const size_t values = out != nullptr && OpenModuleDecoder() ? module_.Decode(in, length, out, capacityBytes / 2) : 0;
    if (values == 0) {
      this->format_.samples = nominalSamples_;
      return 0;
    }
    return this->EndFrame(values, this->format_.channels);
  }

 private:
  CModuleHandle module_;
  uint32_t frameMode_ = 0;
  uint32_t nominalSamples_ = 160;
};

// The stream of a module-decoded codec whose Open only creates the module's decoder (when the
// module is loaded) and always succeeds: G.729 and GSM.
template <class Decoder>
class CModuleDecoderStream : public CDecoderStream<Decoder> {
 public:
  int Open(const uint8_t*, size_t, int32_t) override {
    Decoder::OpenModuleDecoder();
    return 1;
  }
};

}  // namespace fennik
