// Linear PCM decoder for RTP "L16" (RFC 3551 4.5.11: 16-bit samples in network byte order,
// interleaved by channel). Also passes 8-bit PCM through unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "stream/AudioFormat.h"

namespace fennik {

class CPCM_Decode {
 public:
  static constexpr int32_t kCodecType = 94;

  CPCM_Decode();
  virtual ~CPCM_Decode() = default;

  void SetAudioFormat(int32_t sampleRate, uint16_t bitsPerSample, uint16_t channels,
                      int32_t bitRate);
  // false (the default): samples are big-endian; true: already in host order.
  void SetHostByteOrder(bool hostOrder) { hostOrder_ = hostOrder; }
  void Reset() {}

  // n = min(length, capacityBytes) bytes are decoded. Up to 8 bits per sample: the bytes
  // are copied unchanged and n is returned. 9 to 16 bits: n ÷ 2 samples (an odd last byte
  // is dropped), n rounded down to even is returned. Wider samples: nothing, 0.
  size_t Decode(const uint8_t* in, size_t length, int16_t* out, size_t capacityBytes);

  const AudioFormat& Format() const { return format_; }
  // The decoded values of the last frame (8-bit: signed bytes; else signed 16-bit samples).
  const std::vector<int32_t>& Records() const { return records_; }
  // Frees the records (the decoder stays usable; the next frame records again).
  void ReleaseRecords() { records_ = {}; }

 private:
  AudioFormat format_;
  bool hostOrder_ = false;
  std::vector<int32_t> records_;
};

}  // namespace fennik
