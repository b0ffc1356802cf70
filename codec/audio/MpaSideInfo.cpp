#include "codec/audio/MpaSideInfo.h"

namespace fennik {

int MpaSideInfoLength(const MpaHeader& h) {
  if (h.Lsf()) return h.channels == 1 ? 9 : 17;
  return h.channels == 1 ? 17 : 32;
}

bool ReadMpaSideInfo(BitReader& r, const MpaHeader& h, MpaSideInfo& side) {
  side = MpaSideInfo();
  const bool lsf = h.Lsf();
  const int channels = h.channels;
  side.channels = static_cast<uint8_t>(channels);
  side.granules = lsf ? 1 : 2;
  side.main_data_begin = static_cast<uint16_t>(r.Read(lsf ? 8 : 9));
  side.private_bits = static_cast<uint8_t>(r.Read(lsf ? (channels == 1 ? 1 : 2) : (channels == 1 ? 5 : 3)));
  if (!lsf) {
    for (int ch = 0; ch < channels; ++ch) {
      for (int band = 0; band < 4; ++band) side.scfsi[ch][band] = static_cast<uint8_t>(r.ReadBit());
    }
  }
  bool valid = true;
  for (int gr = 0; gr < side.granules; ++gr) {
    for (int ch = 0; ch < channels; ++ch) {
      MpaGranuleChannel& g = side.gr[gr][ch];
      g.part2_3_length = static_cast<uint16_t>(r.Read(12));
      g.big_values = static_cast<uint16_t>(r.Read(9));
      g.global_gain = static_cast<uint8_t>(r.Read(8));
      g.scalefac_compress = static_cast<uint16_t>(r.Read(lsf ? 9 : 4));
      g.window_switching_flag = static_cast<uint8_t>(r.ReadBit());
      if (g.window_switching_flag) {
        g.block_type = static_cast<uint8_t>(r.Read(2));
        g.mixed_block_flag = static_cast<uint8_t>(r.ReadBit());
        for (int i = 0; i < 2; ++i) g.table_select[i] = static_cast<uint8_t>(r.Read(5));
        for (int i = 0; i < 3; ++i) g.subblock_gain[i] = static_cast<uint8_t>(r.Read(3));
        if (g.block_type == 0) valid = false;  // forbidden with window switching
        g.region0_count = g.block_type == 2 && !g.mixed_block_flag ? 8 : 7;
        g.region1_count = static_cast<uint8_t>(20 - g.region0_count);
      } else {
        for (int i = 0; i < 3; ++i) g.table_select[i] = static_cast<uint8_t>(r.Read(5));
        g.region0_count = static_cast<uint8_t>(r.Read(4));
        g.region1_count = static_cast<uint8_t>(r.Read(3));
      }
      if (!lsf) g.preflag = static_cast<uint8_t>(r.ReadBit());
      g.scalefac_scale = static_cast<uint8_t>(r.ReadBit());
      g.count1table_select = static_cast<uint8_t>(r.ReadBit());
      if (lsf) g.preflag = g.scalefac_compress >= 500 && !(h.mode == kMpaJointStereo && (h.modeExtension & 1) && ch == 1);
      if (g.big_values > 288) valid = false;
    }
  }
  return valid && r.Ok();
}

}  // namespace fennik
