// Per-octet G.722 decoder kernels: the lower (6-bit) and higher (2-bit) sub-band ADPCM
// decoders with their adaptive predictors, and the receive QMF that combines the two
// sub-band signals into two 16 kHz output samples.
#pragma once

#include <cstdint>

namespace fennik {

// State of one sub-band decoder, by the standard's names (L/H suffix dropped).
struct G722BandState {
  int32_t s = 0;    // predictor output SL/SH
  int32_t sz = 0;   // zero-section output SZL/SZH
  int32_t det = 0;  // quantizer scale factor DETL/DETH
  int32_t nb = 0;   // logarithmic scale factor NBL/NBH
  int32_t a[3] = {0, 0, 0};              // pole coefficients a1, a2 (index 0 unused)
  int32_t b[7] = {0, 0, 0, 0, 0, 0, 0};  // zero coefficients b1..b6 (index 0 unused)
  int32_t d[7] = {0, 0, 0, 0, 0, 0, 0};  // quantized differences, d[1] the latest
  int32_t p[3] = {0, 0, 0};              // partially reconstructed signals, p[1] the latest
  int32_t r[3] = {0, 0, 0};              // reconstructed signals, r[1] the latest
};

// The receive QMF delay lines: xd = rl − rh and xs = rl + rh, newest first.
struct G722QmfState {
  int32_t xd[12] = {};
  int32_t xs[12] = {};
};

// Initial states (G.722 reset: everything zero, DETL = 32, DETH = 8).
void G722ResetLowBand(G722BandState& band);
void G722ResetHighBand(G722BandState& band);

// Lower sub-band: decodes the 6-bit code ILR, returns RL (15 bits) and adapts.
int32_t G722DecodeLowBand(G722BandState& band, uint32_t ilr);
// Higher sub-band: decodes the 2-bit code IH, returns RH (15 bits) and adapts.
int32_t G722DecodeHighBand(G722BandState& band, uint32_t ih);
// Receive QMF: takes one (RL, RH) pair, writes the two 16-bit output samples in time order.
void G722ReceiveQmf(G722QmfState& qmf, int32_t rl, int32_t rh, int32_t xout[2]);

}  // namespace fennik
