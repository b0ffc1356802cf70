// Data-partitioned I, P and S VOPs of MPEG-4 Visual (ISO/IEC 14496-2 6.2.5.2, 7.4.1.4): per
// video packet, the motion (or DC) partition up to its marker, then the second partition
// (ac_pred_flag, cbpy, dquant and the intra DCs of P-VOPs), then the texture of every
// macroblock, its coefficients in reversible VLCs (Table B-23) when the VOL says so. A packet
// whose data breaks is concealed from the reference up to the next resync marker.
#include <cstring>
#include <vector>

#include "base/DebugPrint.h"
#include "codec/video/CMP4_Decode.h"
#include "codec/video/M4VVlc.h"

namespace fennik {

namespace {

constexpr uint32_t kDcMarker = 0x6B001;      // 19 bits
constexpr uint32_t kMotionMarker = 0x1F001;  // 17 bits

inline int Clip(int v, int lo, int hi) { return v < lo ? lo : v > hi ? hi : v; }

// Reversible-VLC coefficients of one block, forward decoding (7.4.1.4): codes with a trailing
// sign bit; the escape "0000" carries marker, LAST, RUN (6), marker, |LEVEL| (11), "10000" and
// the sign.
bool ReadRvlcCoefficients(BitReader& br, bool intra, int start, const uint8_t* scan, int16_t coef[64]) {
  const M4vCodeTable& table = intra ? M4vVlc().rvlcIntra : M4vVlc().rvlcInter;
  int i = start;
  for (;;) {
    int v;
    if (!table.Read(br, v)) {
      DebugPrint("[MPEG4] DCT coef VLC error\n");
      return false;
    }
    int last, run, level;
    if (v < 0) {
      if (br.ReadBit() != 1) return false;
      last = static_cast<int>(br.ReadBit());
      run = static_cast<int>(br.Read(6));
      if (br.ReadBit() != 1) return false;
      level = static_cast<int>(br.Read(11));
      if (br.Read(5) != 0x10 || level == 0) {
        DebugPrint("[MPEG4] DCT coef VLC error\n");
        return false;
      }
    } else {
      last = v >> 16;
      run = (v >> 8) & 0xFF;
      level = v & 0xFF;
    }
    if (br.ReadBit()) level = -level;
    i += run;
    if (i > 63 || !br.Ok()) {
      DebugPrint("[MPEG4] DCT coef VLC error\n");
      return false;
    }
    coef[scan[i]] = static_cast<int16_t>(level);
    ++i;
    if (last) return true;
    if (i > 63) {
      DebugPrint("[MPEG4] DCT coef VLC error\n");
      return false;
    }
  }
}

}  // namespace

bool CMP4_Decode::DecodePartitionedVop(BitReader& br) {
  const bool intraVop = vop_.vop_coding_type == 0;
  DebugPrint(intraVop ? "[MPEG4] data_partitioned_i_vop()\n" : "[MPEG4] data_partitioned_p_vop()\n");
  if (vol_.interlaced) {
    DebugPrint("[MPEG4] VOP %u not decoded: interlaced data partitioning not supported\n", cur_->frame_number);
    return false;
  }
  int quant = static_cast<int>(vop_.vop_quant);
  if (quant == 0) return false;
  const M4vVlcTables& t = M4vVlc();
  const bool gmc = vop_.vop_coding_type == 3;
  const bool rvlc = vol_.reversible_vlc;
  std::vector<int16_t> dcs(size_t{mbCount_} * 6);
  std::vector<uint8_t> useDc(mbCount_);
  uint32_t mb = 0;
  bool first = true;
  while (mb < mbCount_) {
    if (!first || ResyncMarkerAhead(br)) {
      if (!ResyncMarkerAhead(br)) break;
      uint32_t next = 0;
      if (!ReadVideoPacketHeader(br, next, quant)) break;
      DebugPrint("[MPEG4] vph->macroblock_number = %d mba = %d\n", static_cast<int>(next), static_cast<int>(mb));
      mb = next;
    }
    first = false;
    const uint32_t start = mb;
    bool ok = true;
    // First partition: macroblock types with the motion vectors (P, S) or the intra DCs (I).
    while (ok && mb < mbCount_) {
      if (br.BitsLeft() >= (intraVop ? 19u : 17u) && br.Peek(intraVop ? 19 : 17) == (intraVop ? kDcMarker : kMotionMarker)) break;
      M4vMacroblock& m = mbs_[mb];
      m = M4vMacroblock{};
      m.serial = serial_;
      m.packet = packet_;
      m.quant = static_cast<uint8_t>(quant);
      int mcbpc = -1;
      if (!intraVop && br.ReadBit()) {
        m.not_coded = true;
        m.mcsel = gmc;
      } else {
        while (ok && mcbpc < 0) ok = (intraVop ? t.mcbpcIntra : t.mcbpcInter).Read(br, mcbpc) && br.Ok();
        if (!ok) break;
        const int type = mcbpc >> 2;
        if (type == kM4vMbInter4VQ) {
          ok = false;
          break;
        }
        m.type = static_cast<uint8_t>(type);
        m.mcbpc = static_cast<uint8_t>(mcbpc);
        m.intra = type == kM4vMbIntra || type == kM4vMbIntraQ;
        m.four_mv = type == kM4vMbInter4V;
        m.cbp = static_cast<uint8_t>(mcbpc & 3);
        if (intraVop) {
          useDc[mb] = quant < dcVlcThreshold_;
          if (type == kM4vMbIntraQ) {
            static const int kDquant[4] = {-1, -2, 1, 2};
            const int old = quant;
            quant = Clip(quant + kDquant[br.Read(2)], 1, 31);
            m.dquant = static_cast<int8_t>(quant - old);
          }
          m.quant = static_cast<uint8_t>(quant);
          for (int b = 0; ok && b < 6 && useDc[mb]; ++b) {
            int diff = 0;
            ok = ReadIntraDc(br, b, diff);
            dcs[mb * 6 + static_cast<uint32_t>(b)] = static_cast<int16_t>(diff);
          }
        } else if (!m.intra) {
          if (gmc && !m.four_mv) m.mcsel = br.ReadBit() != 0;
          if (!m.mcsel) {
            for (int b = 0; ok && b < (m.four_mv ? 4 : 1); ++b) {
              int px, py, mx, my;
              PredictVector(mb, b, 0, px, py);
              ok = ReadMotionVector(br, fcodeForward_, px, py, mx, my);
              for (int k = m.four_mv ? b : 0; k < (m.four_mv ? b + 1 : 4); ++k) {
                m.mv[0][k][0] = static_cast<int16_t>(mx);
                m.mv[0][k][1] = static_cast<int16_t>(my);
              }
            }
          }
        }
      }
      if (m.mcsel) {
        const int mbx = static_cast<int>(mb % mbWidth_), mby = static_cast<int>(mb / mbWidth_);
        const int ax = M4vGmcAverageVector(asp_.gmc, 0, mbx, mby, vol_.quarter_sample, static_cast<uint32_t>(fcodeForward_));
        const int ay = M4vGmcAverageVector(asp_.gmc, 1, mbx, mby, vol_.quarter_sample, static_cast<uint32_t>(fcodeForward_));
        for (auto& v : m.mv[0]) {
          v[0] = static_cast<int16_t>(ax);
          v[1] = static_cast<int16_t>(ay);
        }
      }
      ok = ok && br.Ok();
      if (ok) ++mb;
    }
    const uint32_t end = mb;
    if (ok) ok = br.BitsLeft() >= (intraVop ? 19u : 17u) && br.Read(intraVop ? 19 : 17) == (intraVop ? kDcMarker : kMotionMarker);
    // Second partition.
    for (uint32_t i = start; ok && i < end; ++i) {
      M4vMacroblock& m = mbs_[i];
      if (m.not_coded) {
        m.quant = static_cast<uint8_t>(quant);
        continue;
      }
      if (m.intra) m.ac_pred = br.ReadBit() != 0;
      int cbpy = 0;
      ok = t.cbpy.Read(br, cbpy);
      if (!m.intra) cbpy = 15 - cbpy;
      m.cbpy = static_cast<uint8_t>(cbpy);
      m.cbp = static_cast<uint8_t>(cbpy << 2 | (m.mcbpc & 3));
      if (intraVop) continue;
      if (m.intra) useDc[i] = quant < dcVlcThreshold_;
      if (m.type == kM4vMbInterQ || m.type == kM4vMbIntraQ) {
        static const int kDquant[4] = {-1, -2, 1, 2};
        const int old = quant;
        quant = Clip(quant + kDquant[br.Read(2)], 1, 31);
        m.dquant = static_cast<int8_t>(quant - old);
      }
      m.quant = static_cast<uint8_t>(quant);
      for (int b = 0; ok && m.intra && useDc[i] && b < 6; ++b) {
        int diff = 0;
        ok = ReadIntraDc(br, b, diff);
        dcs[i * 6 + static_cast<uint32_t>(b)] = static_cast<int16_t>(diff);
      }
      ok = ok && br.Ok();
    }
    // Texture partition.
    for (uint32_t i = start; ok && i < end; ++i) {
      M4vMacroblock& m = mbs_[i];
      if (!m.not_coded) {
        for (int b = 0; ok && b < 6; ++b) {
          int16_t* coef = m.coef[b];
          std::memset(coef, 0, 64 * sizeof(int16_t));
          const bool coded = (m.cbp >> (5 - b)) & 1;
          if (!m.intra) {
            m.scan[b] = vop_.alternate_vertical_scan_flag ? kM4vScanVertical : kM4vScanZigzag;
            const uint8_t* scan = vop_.alternate_vertical_scan_flag ? kH263AltVertical : kH263ZigZag;
            if (!coded) continue;
            ok = rvlc ? ReadRvlcCoefficients(br, false, 0, scan, coef) : ReadCoefficients(br, false, 0, scan, coef);
            if (ok) Dequantise(coef, false, b, m.quant);
            continue;
          }
          const bool fromAbove = IntraPredictFromAbove(i, b);
          const int scanType = vop_.alternate_vertical_scan_flag ? kM4vScanVertical
                               : m.ac_pred ? (fromAbove ? kM4vScanHorizontal : kM4vScanVertical)
                                           : kM4vScanZigzag;
          m.scan[b] = static_cast<uint8_t>(scanType);
          const uint8_t* scan = scanType == kM4vScanHorizontal ? kH263AltHorizontal
                                : scanType == kM4vScanVertical ? kH263AltVertical
                                                               : kH263ZigZag;
          int from = 0;
          if (useDc[i]) {
            coef[0] = dcs[i * 6 + static_cast<uint32_t>(b)];
            from = 1;
          }
          if (coded)
            ok = rvlc ? ReadRvlcCoefficients(br, true, from, scan, coef) : ReadCoefficients(br, true, from, scan, coef);
          if (!ok) break;
          IntraPredict(i, b, fromAbove, m.ac_pred, m.quant, coef);
          Dequantise(coef, true, b, m.quant);
        }
        ok = ok && br.Ok();
        if (!ok) break;
      }
      Reconstruct(i, m, m.mcsel ? M4vPrediction::kGmc : M4vPrediction::kForward);
    }
    if (!ok) {
      // The packet's macroblocks are concealed; decoding resumes at the next resync marker.
      ++errors_;
      DebugPrint("[MPEG4] video packet at macroblock %u of VOP %u could not be decoded\n", start, cur_->frame_number);
      for (uint32_t i = start; i < end && i < mbCount_; ++i) mbs_[i].serial = 0;
      bool found = false;
      while (br.BitsLeft() > 17) {
        br.Skip(1);
        if (ResyncMarkerAhead(br)) {
          found = true;
          break;
        }
      }
      if (!found) break;
    }
  }
  for (uint32_t i = 0; i < mbCount_; ++i)
    if (mbs_[i].serial != serial_) Conceal(i);
  return true;
}

}  // namespace fennik
