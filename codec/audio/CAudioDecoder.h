// What every frame decoder of an audio codec shares: the decoded format, the records of the
// last decoded frame for the information view, the stream's media description applied by
// the common rule, and the frame prologue and epilogue (frame size, sample count, records).
// A codec's decoder derives from it with its own record type and writes its Decode between
// BeginFrame and EndFrame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "stream/AudioFormat.h"

namespace fennik {

template <class Record>
class CAudioDecoder {
 public:
  virtual ~CAudioDecoder() = default;

  const AudioFormat& Format() const { return format_; }
  // The records of the last decoded frame (one per sample, octet or frame, as the codec keeps
  // them).
  const std::vector<Record>& Records() const { return records_; }
  // Frees the records (the decoder stays usable; the next frame records again).
  void ReleaseRecords() { records_ = {}; }

  // Applies a stream's media description by the common rule (a value is taken only when it
  // is meaningful); the diagnostic line carries the decoder's tag.
  void SetAudioFormat(int32_t sampleRate, uint16_t bitsPerSample, uint16_t channels,
                      int32_t bitRate) {
    ApplyStreamAudioFormat(format_, tag_, sampleRate, bitsPerSample, channels, bitRate);
  }

 protected:
  static constexpr size_t kInitialRecordCapacity = 1024;

  // tag: the diagnostic prefix ("[G722]" ...), a string literal.
  explicit CAudioDecoder(const char* tag) : tag_(tag) { records_.reserve(kInitialRecordCapacity); }

  // Starts decoding a frame of `length` bytes: the frame size is the length, the sample
  // count and the records are cleared. Returns false when there is nothing to decode (no
  // input, no output buffer or an empty frame); the decoder then returns 0.
  bool BeginFrame(const uint8_t* in, size_t length, const int16_t* out) {
    format_.frameSize = static_cast<uint32_t>(length);
    format_.samples = 0;
    records_.clear();
    return in != nullptr && out != nullptr && length != 0;
  }
  // Ends a frame that wrote `values` 16-bit values, interleaved over `channels` (decoders
  // whose output is mono whatever the description says keep the default): the sample count
  // per channel is set and the PCM bytes written are returned.
  size_t EndFrame(size_t values, uint32_t channels = 1) {
    format_.samples = static_cast<uint32_t>(values / (channels != 0 ? channels : 1));
    return values * 2;
  }

  AudioFormat format_;
  std::vector<Record> records_;

 private:
  const char* tag_;
};

}  // namespace fennik
