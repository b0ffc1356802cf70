#include "codec/audio/CMP2_Decode.h"

#include "base/DebugPrint.h"
#include "codec/audio/CMP1_Decode.h"
#include "codec/audio/MpaTables.h"

namespace fennik {

bool CMP2_Decode::DecodeFrame(BitReader& r, const MpaHeader& h, const uint8_t*, size_t size) {
  const int channels = h.channels;
  samples_ = 1152;
  // A free-format frame's bit rate follows from its length.
  uint32_t bitRate = h.bitRate;
  if (bitRate == 0 && h.sampleRate != 0) bitRate = static_cast<uint32_t>(uint64_t{size} * h.sampleRate / 144);
  const int tableIndex = MpaSelectAllocTable(h.Lsf(), h.sampleRate, bitRate, static_cast<uint32_t>(channels));
  if (tableIndex < 0 || tableIndex > 4) {
    DebugPrint("MP2: error unknown Layer II bit allocation tables\n");
    Silence(samples_, channels);
    return false;
  }
  const MpaAllocTable& table = kMpaAllocTables[tableIndex];
  const int sblimit = table.sblimit;
  const int bound = channels == 2 ? (h.bound < sblimit ? h.bound : sblimit) : sblimit;
  uint8_t allocation[2][32] = {};
  uint8_t scfsi[2][32] = {};
  uint8_t scalefactor[2][32][3] = {};
  for (int sb = 0; sb < sblimit; ++sb) {
    const int nbal = table.rows[sb]->nbal;
    if (sb < bound) {
      for (int ch = 0; ch < channels; ++ch) allocation[ch][sb] = static_cast<uint8_t>(r.Read(nbal));
    } else {
      allocation[0][sb] = allocation[1][sb] = static_cast<uint8_t>(r.Read(nbal));
    }
  }
  for (int sb = 0; sb < sblimit; ++sb) {
    for (int ch = 0; ch < channels; ++ch) {
      if (allocation[ch][sb]) scfsi[ch][sb] = static_cast<uint8_t>(r.Read(2));
    }
  }
  for (int sb = 0; sb < sblimit; ++sb) {
    for (int ch = 0; ch < channels; ++ch) {
      if (!allocation[ch][sb]) continue;
      uint8_t* sf = scalefactor[ch][sb];
      switch (scfsi[ch][sb]) {
        case 0:
          sf[0] = static_cast<uint8_t>(r.Read(6)), sf[1] = static_cast<uint8_t>(r.Read(6)),
          sf[2] = static_cast<uint8_t>(r.Read(6));
          break;
        case 1:
          sf[0] = sf[1] = static_cast<uint8_t>(r.Read(6)), sf[2] = static_cast<uint8_t>(r.Read(6));
          break;
        case 2:
          sf[0] = sf[1] = sf[2] = static_cast<uint8_t>(r.Read(6));
          break;
        default:
          sf[0] = static_cast<uint8_t>(r.Read(6)), sf[1] = sf[2] = static_cast<uint8_t>(r.Read(6));
          break;
      }
      if (sf[0] == 63 || sf[1] == 63 || sf[2] == 63) {
        DebugPrint("MP2: error scale factor (sf0=%d sf1=%d sf2=%d)\n", sf[0], sf[1], sf[2]);
        Silence(samples_, channels);
        return false;
      }
    }
  }
  float subbands[2][36][32] = {};
  // Three samples of one sub-band: one grouped code word or three codes.
  auto readTriple = [&](const MpaQuantClass& q, uint32_t v[3]) {
    if (q.grouped) {
      uint32_t c = r.Read(q.bits);
      for (int i = 0; i < 3; ++i) {
        v[i] = c % q.levels;
        c /= q.levels;
      }
    } else {
      for (int i = 0; i < 3; ++i) v[i] = r.Read(q.bits);
    }
  };
  for (int gr = 0; gr < 12; ++gr) {
    const int part = gr / 4;
    for (int sb = 0; sb < sblimit; ++sb) {
      const MpaAllocRow& row = *table.rows[sb];
      const int chans = sb < bound ? channels : 1;
      for (int ch = 0; ch < chans; ++ch) {
        const int a = allocation[ch][sb];
        if (a == 0) continue;
        const MpaQuantClass& q = kMpaQuantClasses[row.classes[a]];
        uint32_t v[3];
        readTriple(q, v);
        for (int i = 0; i < 3; ++i) {
          const float f = MpaDequantize(v[i], q.levels);
          if (sb < bound) {
            subbands[ch][3 * gr + i][sb] = f * MpaScalefactor(scalefactor[ch][sb][part]);
          } else {
            for (int c = 0; c < channels; ++c) {
              subbands[c][3 * gr + i][sb] = f * MpaScalefactor(scalefactor[c][sb][part]);
            }
          }
        }
      }
    }
  }
  if (!r.Ok()) {
    Silence(samples_, channels);
    return false;
  }
  for (int ch = 0; ch < channels; ++ch) Synthesize(ch, &subbands[ch][0][0], 36, 0);
  return true;
}

}  // namespace fennik
