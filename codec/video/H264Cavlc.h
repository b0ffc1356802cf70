// CAVLC code readers of H.264 9.2 built from the code tables: coeff_token, total_zeros and
// run_before, decoded by table look-up on the next 16 bits.
#pragma once

#include <cstdint>

#include "base/BitReader.h"

namespace fennik {

// Reads coeff_token for nC (-1 for 4:2:0 chroma DC). Returns false on an invalid code.
bool ReadCoeffToken(BitReader& br, int nc, int& total_coeff, int& trailing_ones);
// Reads total_zeros for tzVlcIndex = total_coeff (1..15); chroma_dc: the 2x2 DC table.
bool ReadTotalZeros(BitReader& br, int total_coeff, bool chroma_dc, int& total_zeros);
// Reads run_before for zerosLeft (>= 1).
bool ReadRunBefore(BitReader& br, int zeros_left, int& run_before);

}  // namespace fennik
