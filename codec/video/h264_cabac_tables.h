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
// The same for the decoding engine, by context state s: bits 1..6 pStateIdx, bit 0 valMPS, bit
// 7 the last bin decoded with the context (ignored on lookup). lps at qCodIRangeIdx * 256 + s:
// rangeTabLPS; next at s: the state after the most probable symbol, at 256 + s after the least
// probable, each with the bin in bit 7, so that the bin comes with the state just stored.
struct CabacDecisionTables {
  std::array<uint8_t, 1024> lps;
  std::array<uint8_t, 512> next;
};
extern const CabacDecisionTables kCabacDecisionTables;

}  // namespace fennik
