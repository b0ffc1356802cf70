#include "stream/AudioFormat.h"

#include "base/DebugPrint.h"

namespace fennik {

void ApplyStreamAudioFormat(AudioFormat& format, const char* tag, int32_t sampleRate,
                            uint16_t bitsPerSample, uint16_t channels, int32_t bitRate) {
  DebugPrint("%s SetAudioFormat(%d, %d, %d, %d, %d)\n", tag, channels, sampleRate, bitsPerSample,
             0, bitRate);
  if (sampleRate > 0) format.sampleRate = static_cast<uint32_t>(sampleRate);
  if (channels != 0) format.channels = channels;
  if (bitsPerSample != 0) format.bitsPerSample = bitsPerSample;
  if (bitRate > 0) format.bitRate = static_cast<uint32_t>(bitRate);
}

}  // namespace fennik
