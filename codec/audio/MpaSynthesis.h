// The polyphase synthesis filter bank of MPEG audio (ISO/IEC 11172-3 2.4.3.2 and Annex A,
// Figure A.2): 32 sub-band samples in, 32 PCM samples out, with the 1024-value V vector
// of one channel as its state. The matrixing N[i][k] = cos((16 + i)(2k + 1)π/64) is
// computed through a 32-point DCT-II (fast recursive factorisation).
#pragma once

#include <cstdint>

namespace fennik {

class MpaSynthesis {
 public:
  MpaSynthesis();
  void Reset();
  // One step: `subbands` (32 values, full scale 1.0) to 32 samples written `stride`
  // apart, rounded and clamped to 16 bits.
  void Run(const float* subbands, int16_t* out, int stride);

 private:
  float v_[16][64];  // V of the last 16 steps; slot `head_` is the newest
  int head_ = 0;
};

// The unnormalised 32-point DCT-II: out[m] = Σ in[k] cos((2k + 1)mπ/64). Exposed for
// the tests that check it against the direct sum.
void MpaDct32(const float* in, float* out);

}  // namespace fennik
