// The per-nibble IMA-ADPCM decoder step.
#pragma once

#include <cstdint>

#include "codec/audio/ImaAdpcmTables.h"

namespace fennik {

struct ImaAdpcmState {
  int32_t predictor = 0;  // not clamped: the decoder works modulo 2^16
  int32_t stepIndex = 0;  // 0..88
};

// Decodes one 4-bit code: the difference is step/8 plus step, step/2 and step/4 for code
// bits 2, 1 and 0 (each an arithmetic shift of the step before the index changes), added
// to or, with bit 3, subtracted from the predictor. Returns the low 16 bits of the new
// predictor as the output sample. The predictor is reduced modulo 2^16 as well, so it
// never overflows however long the stream.
inline int16_t ImaAdpcmDecodeNibble(ImaAdpcmState& state, uint32_t nibble) {
  const int32_t step = kImaStepSize[state.stepIndex];
  int32_t diff = step >> 3;
  if (nibble & 4) diff += step;
  if (nibble & 2) diff += step >> 1;
  if (nibble & 1) diff += step >> 2;
  const int32_t next = (nibble & 8) ? state.predictor - diff : state.predictor + diff;
  const int16_t sample = static_cast<int16_t>(static_cast<uint16_t>(next));
  state.predictor = static_cast<uint16_t>(next);
  int32_t index = state.stepIndex + kImaIndexAdjust[nibble & 15];
  state.stepIndex = index < 0 ? 0 : (index > kImaMaxStepIndex ? kImaMaxStepIndex : index);
  return sample;
}

}  // namespace fennik
