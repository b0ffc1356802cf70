// The 8x8 inverse DCT of H.263 / MPEG-4 Visual decoding: a separable transform in single
// precision with rounding to the nearest integer, accurate to the IEEE 1180-1990 limits.
#pragma once

#include <cstdint>

namespace fennik {

// Inverse transform of 64 coefficients (raster order) into 64 values rounded to the nearest
// integer and saturated to -256..255 (IEEE 1180 output range).
void Idct8x8(const int16_t coef[64], int16_t out[64]);

// Inverse transform added to an 8x8 block of pixels (INTER) or stored in it (INTRA, `add`
// false), clipped to 0..255.
void Idct8x8Put(const int16_t coef[64], uint8_t* dst, int stride);
void Idct8x8Add(const int16_t coef[64], uint8_t* dst, int stride);

}  // namespace fennik
