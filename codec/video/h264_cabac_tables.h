// Constant tables of H.264 CABAC (9.3): context initialisation (m, n) pairs by ctxIdx,
// rangeTabLPS and the probability state transitions.
#pragma once

#include <cstdint>

namespace fennik {

constexpr int kCabacContextCount = 460;

extern const int8_t kCabacInitI[kCabacContextCount][2];
extern const int8_t kCabacInitPB[3][kCabacContextCount][2];
extern const uint8_t kCabacRangeTabLps[64][4];
extern const uint8_t kCabacTransIdxLps[64];
extern const uint8_t kCabacTransIdxMps[64];

}  // namespace fennik
