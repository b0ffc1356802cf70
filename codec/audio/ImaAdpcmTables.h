// IMA-ADPCM (DVI4) step size and index adjustment tables.
#pragma once

#include <cstdint>

namespace fennik {

constexpr int kImaMaxStepIndex = 88;
// IMA Digital Audio Focus and Technical Working Groups, "Recommended Practices for
// Enhancing Digital Audio Compatibility in Multimedia Systems" (1992): the 89 step sizes
// and the step index change per 4-bit code.
extern const int16_t kImaStepSize[kImaMaxStepIndex + 1];
extern const int8_t kImaIndexAdjust[16];

}  // namespace fennik
