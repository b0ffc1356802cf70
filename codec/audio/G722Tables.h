// Constant tables of the G.722 sub-band ADPCM decoder and its receive QMF.
#pragma once

#include <cstdint>

namespace fennik {

// Lower sub-band, 6-bit code ILR: inverse quantizer output levels (INVQBL, 64 kbit/s mode).
extern const int16_t kG722LowInvQuant6[64];
// Lower sub-band, 4-bit code ILR >> 2: inverse quantizer levels of the predictor loop
// (INVQAL) and the log scale factor steps (LOGSCL).
extern const int16_t kG722LowInvQuant4[16];
extern const int16_t kG722LowLogStep[16];
// Higher sub-band, 2-bit code IH: inverse quantizer levels (INVQAH) and log steps (LOGSCH).
extern const int16_t kG722HighInvQuant[4];
extern const int16_t kG722HighLogStep[4];
// Inverse logarithm mantissas of the scale factor computation (SCALEL, SCALEH).
extern const int16_t kG722InvLog2[32];
// QMF coefficients h(0) ... h(23) (G.722 Table 11); the filter is symmetric.
extern const int16_t kG722QmfCoefficients[24];

}  // namespace fennik
