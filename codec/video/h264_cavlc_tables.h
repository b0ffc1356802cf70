// Constant code tables of H.264 CAVLC (9.2): coeff_token, total_zeros and run_before.
#pragma once

#include <cstdint>

namespace fennik {

struct CavlcCode {
  uint16_t code;
  uint8_t length;  // 0: no such code
};

extern const CavlcCode kCoeffTokenCodes[4][17][4];
extern const CavlcCode kChromaDcCoeffTokenCodes[5][4];
extern const CavlcCode kTotalZerosCodes[15][16];
extern const CavlcCode kChromaDcTotalZerosCodes[3][4];
extern const CavlcCode kChroma422DcCoeffTokenCodes[9][4];
extern const CavlcCode kChroma422DcTotalZerosCodes[7][8];
extern const CavlcCode kRunBeforeCodes[7][15];

}  // namespace fennik
