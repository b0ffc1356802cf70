// Layer III side information (ISO/IEC 11172-3 2.4.1.7, 13818-3 2.4.1.7): read from the
// bytes after the header and CRC, kept for the decoder and shown in the frame's tree.
#pragma once

#include <cstdint>

#include "base/BitReader.h"
#include "codec/audio/MpaHeader.h"

namespace fennik {

struct MpaGranuleChannel {
  uint16_t part2_3_length = 0;
  uint16_t big_values = 0;
  uint8_t global_gain = 0;
  uint16_t scalefac_compress = 0;  // 4 bits (MPEG-1) or 9 bits (MPEG-2/2.5)
  uint8_t window_switching_flag = 0;  // "blocksplit_flag"
  uint8_t block_type = 0;
  uint8_t mixed_block_flag = 0;       // "switch_point"
  uint8_t table_select[3] = {};
  uint8_t subblock_gain[3] = {};
  uint8_t region0_count = 0;
  uint8_t region1_count = 0;
  uint8_t preflag = 0;                // read (MPEG-1) or derived from scalefac_compress
  uint8_t scalefac_scale = 0;
  uint8_t count1table_select = 0;
};

struct MpaSideInfo {
  uint16_t main_data_begin = 0;
  uint8_t private_bits = 0;
  uint8_t scfsi[2][4] = {};
  uint8_t granules = 0;  // 2 (MPEG-1) or 1
  uint8_t channels = 0;
  MpaGranuleChannel gr[2][2];  // [granule][channel]
};

// Bytes of side information: MPEG-1 17 (mono) / 32, MPEG-2 and 2.5 9 / 17.
int MpaSideInfoLength(const MpaHeader& h);
// Reads the side information at the reader's position; false when the bytes ran out or
// a value is invalid (block_type 0 with window switching).
bool ReadMpaSideInfo(BitReader& reader, const MpaHeader& h, MpaSideInfo& side);

}  // namespace fennik
