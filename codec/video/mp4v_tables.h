// Constant tables of ISO/IEC 14496-2 used by the MPEG-4 Visual VOP decoder beyond those it
// shares with H.263 (MCBPC, CBPY, motion codes, the inter TCOEF table and the scans).
#pragma once

#include <cstdint>

#include "codec/video/h263_tables.h"

namespace fennik {

// Intra TCOEF codes (ISO/IEC 14496-2 Table B-16) without the sign bit; the escape is
// "0000011" as in the inter table.
extern const H263TcoefCode kM4vTcoefIntra[102];
// dct_dc_size_luminance (Table B-13) and dct_dc_size_chrominance (Table B-14): value = size.
extern const H263Code kM4vDcSizeLuma[13];
extern const H263Code kM4vDcSizeChroma[13];
// Default quantiser matrices (6.3.3), raster order.
extern const uint8_t kM4vDefaultIntraMatrix[64];
extern const uint8_t kM4vDefaultInterMatrix[64];
// intra_dc_vlc_thr: the intra DC VLC is used while the quantiser is below this value.
extern const uint8_t kM4vIntraDcThreshold[8];

}  // namespace fennik
