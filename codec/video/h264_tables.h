// Constant tables of H.264 used by macroblock parsing, reconstruction and deblocking:
// coded_block_pattern mapping (Table 9-4), scan order (8.5.6), dequantisation (8.5.9),
// chroma QP (Table 8-15) and the deblocking thresholds (Tables 8-16, 8-17).
#pragma once

#include <cstdint>

namespace fennik {

extern const uint8_t kCbpFromCodeNumIntra[48];  // Table 9-4, Intra_4x4 / Intra_8x8 column
extern const uint8_t kCbpFromCodeNumInter[48];  // Table 9-4, Inter column
// Table 9-4 for monochrome and 4:4:4 macroblocks (luma bits only, code numbers 0..15).
extern const uint8_t kCbpLumaFromCodeNumIntra[16];
extern const uint8_t kCbpLumaFromCodeNumInter[16];
extern const uint8_t kZigzag4x4[16];            // scan index -> raster index (frame scan)
extern const uint8_t kNormAdjust4x4[6][3];      // v of 8.5.9 (positions class 0, 1, 2)
extern const uint8_t kChromaQp[52];             // QPc from qPI (Table 8-15)
extern const uint8_t kDeblockAlpha[52];         // alpha' by indexA (Table 8-16)
extern const uint8_t kDeblockBeta[52];          // beta' by indexB (Table 8-16)
extern const uint8_t kDeblockTc0[52][4];        // tC0' by indexA and bS 0..3 (0 for bS 0; Table 8-17)

extern const uint8_t kZigzag8x8[64];            // 8x8 frame scan index -> raster index (8.5.7)
extern const uint8_t kNormAdjust8x8[6][6];      // v of 8.5.9 for 8x8 blocks (position classes 0..5)
extern const uint8_t kSigCoeffCtx8x8[63];       // ctxIdxInc of significant_coeff_flag, frame 8x8 (Table 9-43)
extern const uint8_t kLastCoeffCtx8x8[63];      // ctxIdxInc of last_significant_coeff_flag, 8x8 (Table 9-43)
// Field scans of field pictures and field macroblocks (8.5.6, 8.5.7) and the field column
// of Table 9-43.
extern const uint8_t kFieldScan4x4[16];
extern const uint8_t kFieldScan8x8[64];
extern const uint8_t kSigCoeffCtx8x8Field[63];

// Raster position (x, y in 4x4 block units) of luma4x4BlkIdx (6.4.3).
extern const uint8_t kBlock4x4X[16];
extern const uint8_t kBlock4x4Y[16];
// luma4x4BlkIdx of the block at raster position y * 4 + x.
extern const uint8_t kBlock4x4Index[16];

}  // namespace fennik
