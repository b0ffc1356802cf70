// Constant tables of MPEG audio (ISO/IEC 11172-3 and 13818-3, with the MPEG-2.5 sampling
// rates): bit rates, sampling rates, the synthesis window, the Layer II bit allocation
// and quantisation classes, and the Layer III scalefactor bands.
#pragma once

#include <cstdint>

namespace fennik {

// Bit rates in kbit/s by [lsf][layer - 1][bitrate_index] (11172-3 2.4.2.3; 13818-3
// 2.4.2.3 for MPEG-2 and MPEG-2.5); index 0 is free format, 15 is forbidden (0 here).
extern const uint16_t kMpaBitrateKbps[2][3][16];
// Sampling rates in Hz by sampling index (sampling_frequency, + 3 for MPEG-2, + 6 for
// MPEG-2.5).
extern const uint32_t kMpaSampleRate[9];

// Synthesis window D[0..256] × 65536 (11172-3 Table B.3; every value is a multiple of
// 2^-16). D[512 - i] = -D[i] for i not a multiple of 64, D[i] otherwise.
extern const int32_t kMpaSynthesisWindowHalf[257];

// Layer II quantisation classes (11172-3 Table B.4): steps (levels), grouped samples
// share one code word of `bits` bits, else each sample has `bits` bits.
struct MpaQuantClass {
  uint16_t levels;
  uint8_t bits;
  bool grouped;
};
extern const MpaQuantClass kMpaQuantClasses[17];

// Layer II bit allocation tables: per sub-band the width of its allocation field (nbal)
// and the quantisation class of each allocation value (index 0 unused).
struct MpaAllocRow {
  uint8_t nbal;
  uint8_t classes[16];
};
struct MpaAllocTable {
  uint8_t sblimit;
  const MpaAllocRow* const* rows;  // sblimit rows
};
// 11172-3 Tables B.2a, B.2b, B.2c, B.2d and 13818-3 Table B.1 (lower sampling rates).
extern const MpaAllocTable kMpaAllocTables[5];
// The table for a frame (11172-3 Annex B, B.2 selection rules): by bit rate per channel
// and sampling rate; MPEG-2 and 2.5 always use 13818-3 Table B.1.
int MpaSelectAllocTable(bool lsf, uint32_t sampleRate, uint32_t bitRate, uint32_t channels);

// Layer III scalefactor band widths by sampling index (11172-3 Table B.8, 13818-3 Table
// B.2; MPEG-2.5 widths at 11.025 and 12 kHz as at 16 kHz, at 8 kHz doubled).
extern const uint8_t kMpaLongBandWidth[9][22];
extern const uint8_t kMpaShortBandWidth[9][13];
// pretab (11172-3 Table B.6).
extern const uint8_t kMpaPretab[22];
// slen1, slen2 by scalefac_compress (11172-3 2.4.2.7).
extern const uint8_t kMpaSlen[2][16];
// nr_of_sfb by [table][block kind: long, short, mixed][partition] (13818-3 2.4.3.2).
extern const uint8_t kMpaLsfSfbCount[6][3][4];
// Alias reduction coefficients c[i] (11172-3 Table B.9).
extern const double kMpaAliasC[8];

}  // namespace fennik
