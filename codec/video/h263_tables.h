// Constant tables of ITU-T H.263 (and its Annexes F, I, J, T) used by the picture decoder.
#pragma once

#include <cstdint>

namespace fennik {

// One variable-length code written as the standard prints it ("0011"), with its value.
struct H263Code {
  const char* bits;
  int value;
};

// One transform-coefficient code (without its trailing sign bit).
struct H263TcoefCode {
  const char* bits;
  uint8_t last;
  uint8_t run;
  uint8_t level;
};

// MCBPC for I-pictures (H.263 Table 7): value = MB type (3 INTRA, 4 INTRA+Q) * 4 + CBPC;
// -1 is stuffing.
extern const H263Code kH263McbpcIntra[9];
// MCBPC for P-pictures (H.263 Table 8): value = MB type (0 INTER, 1 INTER+Q, 2 INTER4V,
// 3 INTRA, 4 INTRA+Q, 5 INTER4V+Q) * 4 + CBPC; -1 is stuffing.
extern const H263Code kH263McbpcInter[25];
// CBPY (H.263 Table 13), values for INTRA macroblocks (INTER: 15 - value).
extern const H263Code kH263Cbpy[16];
// MVD magnitude codes (H.263 Table 14) in half-pixel units 0..32, without the sign bit that
// follows every non-zero magnitude.
extern const H263Code kH263Mvd[33];
// TCOEF (H.263 Table 16) and the INTRA TCOEF of Advanced INTRA Coding (H.263 Table I.2);
// the ESCAPE code is "0000011" in both.
extern const H263TcoefCode kH263TcoefTable16[102];
extern const H263TcoefCode kH263TcoefTableI2[102];
inline constexpr const char* kH263TcoefEscape = "0000011";

// Scans (H.263 Figure 14 zigzag; Annex I Figure I.2 alternate-horizontal, I.3 alternate-vertical):
// scan position -> raster index (row * 8 + column).
extern const uint8_t kH263ZigZag[64];
extern const uint8_t kH263AltHorizontal[64];
extern const uint8_t kH263AltVertical[64];

// Chrominance QUANT under Modified Quantization (H.263 Table T.1), by luminance QUANT.
extern const uint8_t kH263ChromaQuant[32];
// Deblocking filter STRENGTH by QUANT (H.263 Table J.2).
extern const uint8_t kH263DeblockStrength[32];
// OBMC weighting matrices (H.263 Figures F.2-F.4): current, top/bottom and left/right vectors.
extern const uint8_t kH263ObmcCurrent[64];
extern const uint8_t kH263ObmcTopBottom[64];
extern const uint8_t kH263ObmcLeftRight[64];

}  // namespace fennik
