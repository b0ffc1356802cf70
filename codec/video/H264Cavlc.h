// CAVLC code readers of H.264 9.2 built from the code tables: coeff_token, total_zeros and
// run_before, decoded by table look-up on the next 16 bits.
#pragma once

#include <cstdint>

#include "base/BitReader.h"

namespace fennik {

// Reads coeff_token for nC (-1 for 4:2:0 chroma DC, -2 for 4:2:2 chroma DC). Returns false
// on an invalid code.
bool ReadCoeffToken(BitReader& br, int nc, int& total_coeff, int& trailing_ones);
// Reads total_zeros for tzVlcIndex = total_coeff; chroma_dc_coeffs: 0 for 4x4 blocks, 4 or 8
// for the chroma DC of 4:2:0 or 4:2:2 macroblocks.
bool ReadTotalZeros(BitReader& br, int total_coeff, int chroma_dc_coeffs, int& total_zeros);
// Reads run_before for zerosLeft (>= 1).
bool ReadRunBefore(BitReader& br, int zeros_left, int& run_before);

}  // namespace fennik
