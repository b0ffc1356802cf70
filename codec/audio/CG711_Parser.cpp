#include "codec/audio/CG711_Parser.h"

namespace fennik {

int CG711_Parser::Open(const uint8_t*, size_t, int32_t codecType) {
  DecoderFormat().codecType = codecType == -1 ? kCodecULaw : codecType;
  return 1;
}

void CG711_Parser::SetAudioFormat(int32_t sampleRate, uint16_t bitsPerSample, uint16_t channels,
                                  uint32_t, int32_t bitRate) {
  ApplyStreamAudioFormat(DecoderFormat(), "[G711]", sampleRate, bitsPerSample, channels, bitRate);
}

}  // namespace fennik
