// G.722 (11/88) decoder tables. The inverse quantizer levels are given per code word with
// the sign that the code word carries, in the scale in which
//   d = (DET × level) >> 12
// reproduces the standard's (DET × QQ) >> 15 with its QQ tables (which hold 8 × these).
#include "codec/audio/G722Tables.h"

namespace fennik {

// INVQBL, 6-bit mode: codes 0..3 are the smallest negative level; 4..31 negative levels from
// the largest down, 32..59 positive levels from the largest down, 60..63 the two smallest
// levels (positive, positive, negative, negative).
const int16_t kG722LowInvQuant6[64] = {
    -17,   -17,   -17,   -17,   -3101, -2738, -2376, -2088, -1873, -1689, -1535, -1399, -1279,
    -1170, -1072, -982,  -899,  -822,  -750,  -682,  -618,  -558,  -501,  -447,  -396,  -347,
    -300,  -254,  -211,  -170,  -130,  -91,   3101,  2738,  2376,  2088,  1873,  1689,  1535,
    1399,  1279,  1170,  1072,  982,   899,   822,   750,   682,   618,   558,   501,   447,
    396,   347,   300,   254,   211,   170,   130,   91,    54,    17,    -54,   -17};

// INVQAL: levels of the 4-bit code ILR >> 2 (QQ4 with the code's sign).
const int16_t kG722LowInvQuant4[16] = {0,    -2557, -1612, -1121, -786, -530, -323, -150,
                                       2557, 1612,  1121,  786,   530,  323,  150,  0};

// LOGSCL: WL of the 4-bit code's magnitude class.
const int16_t kG722LowLogStep[16] = {-60,  3042, 1198, 538, 334, 172, 58,  -30,
                                     3042, 1198, 538,  334, 172, 58,  -30, -60};

// INVQAH: QQ2 with the sign of IH (0, 1 negative; 2, 3 positive).
const int16_t kG722HighInvQuant[4] = {-926, -202, 926, 202};

// LOGSCH: WH of the magnitude class of IH.
const int16_t kG722HighLogStep[4] = {798, -214, 798, -214};

// SCALEL/SCALEH: ILB, 2^(i/32) × 2048 rounded.
const int16_t kG722InvLog2[32] = {2048, 2093, 2139, 2186, 2233, 2282, 2332, 2383,
                                  2435, 2489, 2543, 2599, 2656, 2714, 2774, 2834,
                                  2896, 2960, 3025, 3091, 3158, 3228, 3298, 3371,
                                  3444, 3520, 3597, 3676, 3756, 3838, 3922, 4008};

// Table 11/G.722.
const int16_t kG722QmfCoefficients[24] = {3,    -11, -11,  53,   12,  -156, 32,   362,
                                          -210, -805, 951, 3876, 3876, 951, -805, -210,
                                          362,  32,  -156, 12,   53,  -11,  -11,  3};

}  // namespace fennik
