// Constant tables of H.264 CABAC (9.3): context initialisation (m, n) pairs by ctxIdx,
// rangeTabLPS and the probability state transitions.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace fennik {

// Contexts 0..459 have their own (m, n) values; 460..1023 serve the Cb and Cr residual
// blocks of 4:4:4 pictures and the coded_block_flag of 8x8 blocks there.
constexpr int kCabacLumaContextCount = 460;
constexpr int kCabacContextCount = 1024;

extern const int8_t kCabacInitI[kCabacLumaContextCount][2];
extern const int8_t kCabacInitPB[3][kCabacLumaContextCount][2];
extern const uint8_t kCabacRangeTabLps[64][4];
extern const uint8_t kCabacTransIdxLps[64];
extern const uint8_t kCabacTransIdxMps[64];
// The same for a context state s = pStateIdx << 1 | valMPS: rangeTabLPS at qCodIRangeIdx * 128 + s,
// and the next state after the most probable symbol at s, after the least probable at 128 + s.
extern const std::array<uint8_t, 512> kCabacLpsByState;
extern const std::array<uint8_t, 256> kCabacNextState;
// Both in one object, so that a hot loop reaches them from one base address.
struct CabacDecisionTables {
  std::array<uint8_t, 512> lps;
  std::array<uint8_t, 256> next;
};
extern const CabacDecisionTables kCabacDecisionTables;

}  // namespace fennik
