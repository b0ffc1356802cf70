// Linear PCM decoder for RTP "L16" (RFC 3551 4.5.11: 16-bit samples in network byte order,
// interleaved by channel). Also passes 8-bit PCM through unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "codec/audio/CAudioDecoder.h"

namespace fennik {

class CPCM_Decode : public CAudioDecoder<int32_t> {
 public:
  static constexpr int32_t kCodecType = 94;

  CPCM_Decode();
  // false (the default): samples are big-endian; true: already in host order.
  void SetHostByteOrder(bool hostOrder) { hostOrder_ = hostOrder; }
  void Reset() {}

  // n = min(length, capacityBytes) bytes are decoded. Up to 8 bits per sample: the bytes
  // are copied unchanged and n is returned. 9 to 16 bits: n ÷ 2 samples (an odd last byte
  // is dropped), n rounded down to even is returned. Wider samples: nothing, 0.
  size_t Decode(const uint8_t* in, size_t length, int16_t* out, size_t capacityBytes);

  // Records(): the decoded values of the last frame (8-bit: signed bytes; else signed
  // 16-bit samples).

 private:
  bool hostOrder_ = false;
};

}  // namespace fennik
