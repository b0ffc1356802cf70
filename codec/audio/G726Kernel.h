// The per-sample G.726 decoder: one code word in, one reconstructed sample out, with the
// adaptive quantizer, the pole-zero predictor and the tone/transition detector of ITU-T
// G.726 in the standard's integer word lengths.
#pragma once

#include <cstdint>

#include "codec/audio/G726Tables.h"

namespace fennik {

// The standard's 11-bit floating format of DQ and SR: sign, 4-bit exponent, 6-bit mantissa.
struct G726Float {
  uint8_t sign = 0;
  uint8_t exp = 0;
  uint8_t mant = 32;  // 32 with exponent 0 is zero
};

// Decoder state by the standard's names. se, sez and y are derived from the rest and hold
// the values for the next code word.
struct G726State {
  int32_t yu = 544;    // fast quantizer scale factor (13 bits, log2 in units of 2^-9)
  int32_t yl = 34816;  // slow quantizer scale factor (19 bits, units of 2^-15)
  int32_t dms = 0;     // short-term average of F(I)
  int32_t dml = 0;     // long-term average of F(I)
  int32_t ap = 0;      // speed control
  int32_t a[2] = {0, 0};              // pole coefficients A1, A2 (2^-14)
  int32_t b[6] = {0, 0, 0, 0, 0, 0};  // zero coefficients B1..B6 (2^-14)
  G726Float dq[6];                    // DQ of the last six samples, newest first
  G726Float sr[2];                    // SR of the last two samples, newest first
  uint8_t pk[2] = {0, 0};             // signs of DQ + SEZ of the last two samples
  int32_t td = 0;                     // tone detector TDP
  int32_t y = 544;                    // quantizer scale factor
  int32_t se = 0;                     // signal estimate (15 bits)
  int32_t sez = 0;                    // zero-section part of the estimate
};

// What one code word produced, beside the state change.
struct G726SampleResult {
  int32_t sr;  // reconstructed signal, 16-bit two's complement (14-bit signal scale)
  int32_t dq;  // quantized difference, signed
  int32_t tr;  // transition detected
};

// The arithmetic of the scale factor mix and of the zero-coefficient leak.
enum class G726Rounding {
  // As G.726 specifies: the mix of the fast and slow scale factors is formed on the
  // magnitude of their difference (rounding toward zero), and the zero coefficients leak
  // by 2^-9 at 40 kbit/s.
  kStandard,
  // As libavcodec's G.726 codec computes it (and so as streams from its encoder expect):
  // the mix is floor((YL + (YU − YL/64)·AL) / 64) including the fractional bits of YL, and
  // the leak is 2^-8 at every rate. Everything else is identical.
  kLibavcodec,
};

// Puts the state into the standard's initial (reset) values.
void G726ResetState(G726State& state, G726Rounding rounding = G726Rounding::kStandard);

// Decodes one code word (the low tables.codeBits bits of code) and advances the state.
G726SampleResult G726DecodeSample(G726State& state, const G726RateTables& tables, uint32_t code,
                                  G726Rounding rounding = G726Rounding::kStandard);

}  // namespace fennik
