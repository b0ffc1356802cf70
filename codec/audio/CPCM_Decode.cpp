#include "codec/audio/CPCM_Decode.h"

#include <algorithm>
#include <cstring>

#include "base/ByteOrder.h"

namespace fennik {

CPCM_Decode::CPCM_Decode() {
  format_.codecType = kCodecType;
  format_.channels = 2;
  format_.sampleRate = 48000;
  format_.bitsPerSample = 16;
  format_.frameSize = 2048;
  format_.samples = 2048;
  format_.channelPositions[0] = kChannelLeft;
  format_.channelPositions[1] = kChannelRight;
}

void CPCM_Decode::SetAudioFormat(int32_t sampleRate, uint16_t bitsPerSample, uint16_t channels,
                                 int32_t bitRate) {
  ApplyStreamAudioFormat(format_, "[LPCM]", sampleRate, bitsPerSample, channels, bitRate);
}

size_t CPCM_Decode::Decode(const uint8_t* in, size_t length, int16_t* out,
                           size_t capacityBytes) {
  if (in == nullptr || out == nullptr) return 0;
  format_.frameSize = static_cast<uint32_t>(length);
  format_.samples = 0;
  records_.clear();
  if (length == 0) return 0;
  const size_t n = std::min(length, capacityBytes);
  const uint32_t channels = format_.channels ? format_.channels : 1;

  if (format_.bitsPerSample <= 8) {
    std::memcpy(out, in, n);
    records_.reserve(n);
    for (size_t i = 0; i < n; ++i) records_.push_back(static_cast<int8_t>(in[i]));
    format_.samples = static_cast<uint32_t>(n / channels);
    return n;
  }
  if (format_.bitsPerSample > 16) {
    format_.samples = 0;
    return 0;
  }
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
  format_.samples = static_cast<uint32_t>(samples / channels);
  return samples * 2;
}

}  // namespace fennik
