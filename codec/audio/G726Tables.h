// Constant tables of the G.726 ADPCM decoder, one set per code word size (2..5 bits).
#pragma once

#include <cstdint>

namespace fennik {

struct G726RateTables {
  int codeBits;         // 2, 3, 4 or 5
  const int16_t* dqln;  // log2 |DQ| − y per code word (RECONST), −2048 for "minus infinity"
  const int16_t* w;     // scale factor multiplier W(I) (FUNCTW)
  const uint8_t* f;     // rate-of-change weight F(I) (FUNCTF)
  int zeroLeakShift;    // 2^-n leak of the sixth-order zero coefficients (UPB)
};

// Tables for a code word size; codeBits outside 2..5 give the 2-bit (16 kbit/s) set.
const G726RateTables& G726TablesForCodeBits(int codeBits);

}  // namespace fennik
