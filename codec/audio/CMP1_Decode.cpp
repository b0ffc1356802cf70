#include "codec/audio/CMP1_Decode.h"

#include <cmath>

#include "base/DebugPrint.h"

namespace fennik {

float MpaScalefactor(int index) {
  static const struct Table {
    float v[64];
    Table() {
      for (int i = 0; i < 64; ++i) v[i] = static_cast<float>(2.0 * std::pow(2.0, -i / 3.0));
    }
  } table;
  return table.v[index & 63];
}

bool CMP1_Decode::DecodeFrame(BitReader& r, const MpaHeader& h, const uint8_t*, size_t) {
  const int channels = h.channels;
  const int bound = channels == 2 ? h.bound : 32;
  samples_ = 384;
  uint8_t allocation[2][32] = {};
  uint8_t scalefactor[2][32] = {};
  for (int sb = 0; sb < 32; ++sb) {
    if (sb < bound) {
      for (int ch = 0; ch < channels; ++ch) {
        allocation[ch][sb] = static_cast<uint8_t>(r.Read(4));
        if (allocation[ch][sb] == 15) {
          DebugPrint("MP1: error bit allocation(ch=%d sb=%d nb=%d)\n", ch, sb, 15);
          Silence(samples_, channels);
          return false;
        }
      }
    } else {
      allocation[0][sb] = allocation[1][sb] = static_cast<uint8_t>(r.Read(4));
      if (allocation[0][sb] == 15) {
        DebugPrint("MP1: error bit allocation(sb=%d nb=%d)\n", sb, 15);
        Silence(samples_, channels);
        return false;
      }
    }
  }
  for (int sb = 0; sb < 32; ++sb) {
    for (int ch = 0; ch < channels; ++ch) {
      if (allocation[ch][sb] == 0) continue;
      scalefactor[ch][sb] = static_cast<uint8_t>(r.Read(6));
      if (scalefactor[ch][sb] == 63) {
        DebugPrint("MP1: error scale factor (sf=%d)\n", 63);
        Silence(samples_, channels);
        return false;
      }
    }
  }
  float subbands[2][12][32] = {};
  for (int s = 0; s < 12; ++s) {
    for (int sb = 0; sb < 32; ++sb) {
      if (sb < bound) {
        for (int ch = 0; ch < channels; ++ch) {
          const int nb = allocation[ch][sb];
          if (nb == 0) continue;
          const uint32_t v = r.Read(nb + 1);
          subbands[ch][s][sb] = MpaDequantize(v, (2u << nb) - 1) * MpaScalefactor(scalefactor[ch][sb]);
        }
      } else {
        const int nb = allocation[0][sb];
        if (nb == 0) continue;
        const float f = MpaDequantize(r.Read(nb + 1), (2u << nb) - 1);
        for (int ch = 0; ch < channels; ++ch) subbands[ch][s][sb] = f * MpaScalefactor(scalefactor[ch][sb]);
      }
    }
  }
  if (!r.Ok()) {
    Silence(samples_, channels);
    return false;
  }
  for (int ch = 0; ch < channels; ++ch) Synthesize(ch, &subbands[ch][0][0], 12, 0);
  return true;
}

}  // namespace fennik
