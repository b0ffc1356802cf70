#include "codec/audio/CPCM_Decode.h"

#include <algorithm>
#include <cstring>

#include "base/ByteOrder.h"

namespace fennik {

CPCM_Decode::CPCM_Decode() : CAudioDecoder("[LPCM]") {
  format_.codecType = kCodecType;
  format_.channels = 2;
  format_.sampleRate = 48000;
  format_.bitsPerSample = 16;
  format_.frameSize = 2048;
  format_.samples = 2048;
  format_.channelPositions[0] = kChannelLeft;
  format_.channelPositions[1] = kChannelRight;
}

size_t CPCM_Decode::Decode(const uint8_t* in, size_t length, int16_t* out,
                           size_t capacityBytes) {
  if (!BeginFrame(in, length, out)) return 0;
  const size_t n = std::min(length, capacityBytes);
  const uint32_t channels = format_.channels ? format_.channels : 1;

  if (format_.bitsPerSample <= 8) {
    std::memcpy(out, in, n);
    records_.reserve(n);
    for (size_t i = 0; i < n; ++i) records_.push_back(static_cast<int8_t>(in[i]));
    format_.samples = static_cast<uint32_t>(n / channels);
    return n;
  }
  if (format_.bitsPerSample > 16) return 0;
  const size_t samples = n / 2;
  records_.reserve(samples);
  for (size_t i = 0; i < samples; ++i) {
    int16_t sample;
    if (hostOrder_) {
      std::memcpy(&sample, in + 2 * i, 2);
    } else {
      sample = static_cast<int16_t>(ReadBE16(in + 2 * i));
    }
    out[i] = sample;
    records_.push_back(sample);
  }
  return EndFrame(samples, channels);
}

}  // namespace fennik
