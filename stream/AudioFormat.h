// The description of decoded audio that every audio decoder fills and the views and the
// playback read: codec type, channel layout, rates and the size of the last decoded frame.
#pragma once

#include <cstdint>

namespace fennik {

// Channel position codes of AudioFormat::channelPositions.
enum ChannelPosition : uint8_t {
  kChannelUnassigned = 0,
  kChannelLeft = 1,
  kChannelRight = 2,
  kChannelCenter = 3,
  kChannelLeftSurround = 4,
  kChannelRightSurround = 5,
  kChannelLfe = 6,
};

struct AudioFormat {
  int32_t codecType = 0;
  uint32_t reserved = 0;
  uint32_t channels = 0;
  uint32_t sampleRate = 0;     // Hz
  uint32_t bitsPerSample = 0;  // of the coded samples (4 for IMA-ADPCM, 16 for L16 ...)
  uint32_t blockSize = 0;      // bytes per decoded sample frame where a codec sets it, else 0
  uint32_t bitRate = 0;        // bits per second, 0 when unknown
  uint32_t frameSize = 0;      // bytes of the last decoded frame
  uint32_t samples = 0;        // samples per channel in the last decoded frame
  uint32_t codecValues[2] = {0, 0};
  uint8_t channelPositions[8] = {};
};

// The common rule by which a stream's media description (clock rate, bits, channels, bit
// rate) overrides a decoder's defaults: a value is taken only when it is meaningful
// (rate > 0, channels and bits non-zero, bit rate > 0). Writes the diagnostic line
// "<tag> SetAudioFormat(channels, rate, bits, 0, bitRate)".
void ApplyStreamAudioFormat(AudioFormat& format, const char* tag, int32_t sampleRate,
                            uint16_t bitsPerSample, uint16_t channels, int32_t bitRate);

}  // namespace fennik
