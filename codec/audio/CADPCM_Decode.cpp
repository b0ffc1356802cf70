#include "codec/audio/CADPCM_Decode.h"

#include <algorithm>
#include <initializer_list>

#include "base/ByteOrder.h"
#include "base/DebugPrint.h"

namespace fennik {
bool ParseDvi4Header(const uint8_t* frame, size_t length, Dvi4Header& header) {
  if (frame == nullptr || length < Dvi4Header::kSize) return false;
  header.predictor = ReadBE16(frame);
  header.stepIndex = frame[2];
  header.reserved = frame[3];
  header.step = kImaStepSize[std::min<int>(header.stepIndex, kImaMaxStepIndex)];
  return true;
}

CADPCM_Decode::CADPCM_Decode() : CAudioDecoder("[ADPCM]") {
  format_.codecType = kCodecType;
  format_.channels = 1;
  format_.sampleRate = 8000;
  format_.bitsPerSample = 4;
  format_.bitRate = 32000;
  format_.frameSize = 84;
  format_.samples = 160;
}

void CADPCM_Decode::Reset() { state_ = ImaAdpcmState{}; }

size_t CADPCM_Decode::Decode(const uint8_t* in, size_t length, int16_t* out,
                             size_t capacityBytes) {
  if (!BeginFrame(in, length, out)) return 0;
  size_t written = 0;
  Dvi4Header header;
  if (length > Dvi4Header::kSize && ParseDvi4Header(in, length, header)) {
    if (header.stepIndex > kImaMaxStepIndex) {
      DebugPrint("[ADPCM] step_index %d out of range, using %d\n", header.stepIndex,
                 kImaMaxStepIndex);
    }
    state_.predictor = header.predictor;
    state_.stepIndex = std::min<int>(header.stepIndex, kImaMaxStepIndex);
    const size_t capacity = capacityBytes / 2;
    for (size_t i = Dvi4Header::kSize; i < length && written + 2 <= capacity; ++i) {
      for (uint32_t nibble : {uint32_t{in[i]} >> 4, uint32_t{in[i]} & 15u}) {
        const int16_t sample = ImaAdpcmDecodeNibble(state_, nibble);
        out[written++] = sample;
        records_.push_back({nibble, sample});
      }
    }
  }
  return EndFrame(written);
}

}  // namespace fennik
