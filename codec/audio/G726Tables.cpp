// G.726 (12/90) tables in the integer scaling of the standard's computational details:
//  - DQLN: the normalized inverse quantizer outputs log2|DQ| − y of Tables 1 (40 kbit/s),
//    2 (32 kbit/s), 3 (24 kbit/s) and 4 (16 kbit/s), in units of 2^-7; "−∞" is 2048 in the
//    standard's 12-bit two's complement, −2048 here.
//  - W(I): the multipliers of the quantizer scale factor adaptation, in units of 2^-4.
//  - F(I): the weights of the short/long-term code magnitude averages (adaptation speed
//    control).
// Every table is indexed by the full code word I; the upper half mirrors the lower one
// (code words are sign plus one's complement magnitude).
#include "codec/audio/G726Tables.h"

namespace fennik {
namespace {

// 16 kbit/s, 2-bit code words (Table 4/G.726). No "−∞" output at this rate.
constexpr int16_t kDqln16[4] = {116, 365, 365, 116};
constexpr int16_t kW16[4] = {-22, 439, 439, -22};
constexpr uint8_t kF16[4] = {0, 7, 7, 0};

// 24 kbit/s, 3-bit code words (Table 3/G.726).
constexpr int16_t kDqln24[8] = {-2048, 135, 273, 373, 373, 273, 135, -2048};
constexpr int16_t kW24[8] = {-4, 30, 137, 582, 582, 137, 30, -4};
constexpr uint8_t kF24[8] = {0, 1, 2, 7, 7, 2, 1, 0};

// 32 kbit/s, 4-bit code words (Table 2/G.726).
constexpr int16_t kDqln32[16] = {-2048, 4,   135, 213, 273, 323, 373, 425,
                                 425,   373, 323, 273, 213, 135, 4,   -2048};
constexpr int16_t kW32[16] = {-12,  18,  41,  64,  112, 198, 355, 1122,
                              1122, 355, 198, 112, 64,  41,  18,  -12};
constexpr uint8_t kF32[16] = {0, 0, 0, 1, 1, 1, 3, 7, 7, 3, 1, 1, 1, 0, 0, 0};

// 40 kbit/s, 5-bit code words (Table 1/G.726).
constexpr int16_t kDqln40[32] = {-2048, -66, 28,  104, 169, 224, 274, 318, 358, 395, 429,
                                 459,   488, 514, 539, 566, 566, 539, 514, 488, 459, 429,
                                 395,   358, 318, 274, 224, 169, 104, 28,  -66, -2048};
constexpr int16_t kW40[32] = {14,  14,  24,  39,  40,  41,  58,  100, 141, 179, 219,
                              280, 358, 440, 529, 696, 696, 529, 440, 358, 280, 219,
                              179, 141, 100, 58,  41,  40,  39,  24,  14,  14};
constexpr uint8_t kF40[32] = {0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 2, 3, 4, 5, 6, 6,
                              6, 6, 5, 4, 3, 2, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0};

// The zero-predictor coefficients leak by 2^-8 per sample, and by 2^-9 at 40 kbit/s
// (G.726 adaptive predictor, update of b_i).
constexpr G726RateTables kTables[4] = {
    {2, kDqln16, kW16, kF16, 8},
    {3, kDqln24, kW24, kF24, 8},
    {4, kDqln32, kW32, kF32, 8},
    {5, kDqln40, kW40, kF40, 9},
};

}  // namespace

const G726RateTables& G726TablesForCodeBits(int codeBits) {
  if (codeBits < 2 || codeBits > 5) codeBits = 2;
  return kTables[codeBits - 2];
}

}  // namespace fennik
