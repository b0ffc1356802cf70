// The Advanced Simple tools of the MPEG-4 Visual VOP decoder (ISO/IEC 14496-2): B-VOPs with
// forward, backward, interpolated and direct prediction (7.6.9), quarter-sample motion
// compensation (7.6.2.2), interlaced macroblocks with field DCT and field prediction (6.2.6
// interlaced_information, 7.6.3.4/7.6.9.5.2 field vectors) and GMC S-VOPs (7.8). Data
// partitioning lives in CMP4_DecodePartition.cpp.
#include <algorithm>
#include <cstring>
#include <vector>

#include "base/DebugPrint.h"
#include "codec/video/CMP4_Decode.h"
#include "codec/video/H263Kernels.h"
#include "codec/video/M4VQpel.h"
#include "codec/video/M4VVlc.h"

namespace fennik {

namespace {

inline int Clip(int v, int lo, int hi) { return v < lo ? lo : v > hi ? hi : v; }

// Direct mode (7.6.9.5.1): the forward vector TRB * MV / TRD + MVD, the backward vector
// (TRB - TRD) * MV / TRD without a delta, else the forward vector less MV.
inline int DirectForward(int mv, int delta, int64_t trb, int64_t trd) {
  return static_cast<int>(mv * trb / trd) + delta;
}
inline int DirectBackward(int mv, int delta, int forward, int64_t trb, int64_t trd) {
  return delta != 0 ? forward - mv : static_cast<int>(mv * (trb - trd) / trd);
}

// The w x h reference samples from field position (x, y) of field `sel` (0 top, 1 bottom) of a
// frame plane. Field prediction reads the field lines of the reference VOP as extended at its
// edges (7.6.5): a line beyond the frame repeats the frame's first or last line, whichever field
// that belongs to.
void FieldWindow(const uint8_t* frame, int stride, int width, int height, int sel, int x, int y, int w, int h,
                 uint8_t* out) {
  for (int r = 0; r < h; ++r) {
    const uint8_t* line = frame + static_cast<ptrdiff_t>(Clip(2 * (y + r) + sel, 0, height - 1)) * stride;
    for (int c = 0; c < w; ++c) out[r * w + c] = line[Clip(x + c, 0, width - 1)];
  }
}

// A four-vector 8x8 prediction (luminance, or the chrominance of such a macroblock) whose
// integer position lies beyond low..limit (limit: the VOL's visible size) starts at the bound,
// without the fraction at the upper one: the prediction then reads the picture's edge rather
// than the decoded samples between the visible size and the whole macroblocks, as ffmpeg's
// decoder does, so that its pictures are reproduced. `bits`: 1 half-sample, 2 quarter-sample.
int ClampBlockVector(int base, int mv, int bits, int low, int limit) {
  int pos = base + (mv >> bits);
  int fraction = mv & ((1 << bits) - 1);
  if (pos < low) pos = low;
  if (pos >= limit) {
    pos = limit;
    fraction = 0;
  }
  return (pos - base) * (1 << bits) + fraction;
}

inline int64_t RoundedDivide64(int64_t a, int64_t b) { return (a >= 0 ? a + b / 2 : a - b / 2) / b; }

}  // namespace

bool CMP4_Decode::SupportsQuarterSample() const { return true; }
bool CMP4_Decode::SupportsInterlaced() const { return true; }

bool CMP4_Decode::AspMacroblocks() const {
  return vol_.interlaced || vop_.vop_coding_type >= 2;
}

bool CMP4_Decode::SkippedInReference(uint32_t mb) const {
  return vop_.vop_coding_type == 2 && mb < asp_.colocated.size() && asp_.colocated[mb].skipped;
}

void CMP4_Decode::FinishVopAsp() {
  const uint32_t type = vop_.vop_coding_type;
  if (type == 2) return;
  const int64_t resolution = std::max<int64_t>(vol_.vop_time_increment_resolution, 1);
  asp_.lastTimeBase = asp_.timeBase;
  asp_.timeBase += vop_.modulo_time_base;
  const int64_t time = asp_.timeBase * resolution + vop_.vop_time_increment;
  asp_.ppTime = time - asp_.referenceTime;
  asp_.referenceTime = time;
  asp_.colocated.assign(mbCount_, M4vColocated{});
  for (uint32_t i = 0; i < mbCount_ && i < mbs_.size(); ++i) {
    const M4vMacroblock& m = mbs_[i];
    M4vColocated& c = asp_.colocated[i];
    // A GMC macroblock without coded data is predicted, not skipped.
    c.skipped = type == 1 && m.not_coded && m.serial == serial_;
    if (m.intra || m.serial != serial_) continue;
    c.fourMv = m.four_mv;
    c.field = m.field_prediction;
    std::memcpy(c.mv, m.mv[0], sizeof(c.mv));
    std::memcpy(c.fieldMv, m.field_mv[0], sizeof(c.fieldMv));
    c.fieldRef[0] = m.field_ref[0][0] ? 1 : 0;
    c.fieldRef[1] = m.field_ref[0][1] ? 1 : 0;
  }
}

bool CMP4_Decode::DecodeBVop(BitReader& br) {
  if (asp_.colocated.size() != mbCount_) {
    DebugPrint("[MPEG4] B-VOP %u not decoded: no backward reference\n", cur_->frame_number);
    return false;
  }
  // TRB and TRD: the B-VOP's time from the past reference, and the references' distance.
  const int64_t resolution = std::max<int64_t>(vol_.vop_time_increment_resolution, 1);
  const int64_t time = (asp_.lastTimeBase + vop_.modulo_time_base) * resolution + vop_.vop_time_increment;
  asp_.pbTime = asp_.ppTime - (asp_.referenceTime - time);
  if (asp_.ppTime <= 0 || asp_.pbTime <= 0 || asp_.pbTime >= asp_.ppTime) {
    DebugPrint("[MPEG4] B-VOP %u not decoded: its time lies outside its references' interval\n", cur_->frame_number);
    return false;
  }
  if (asp_.frameTime == 0) asp_.frameTime = asp_.pbTime;
  const int64_t t = asp_.frameTime;
  const int64_t pastTime = asp_.referenceTime - asp_.ppTime;
  asp_.ppFieldTime = static_cast<int>((RoundedDivide64(asp_.referenceTime, t) - RoundedDivide64(pastTime, t)) * 2);
  asp_.pbFieldTime = static_cast<int>((RoundedDivide64(time, t) - RoundedDivide64(pastTime, t)) * 2);
  if (asp_.ppFieldTime <= asp_.pbFieldTime || asp_.pbFieldTime <= 1) {
    asp_.ppFieldTime = 4;
    asp_.pbFieldTime = 2;
  }
  asp_.predPacket = ~0u;
  // The resync marker of B-VOPs has at least 17 zeros.
  resyncZeros_ = std::max(resyncZeros_, 17);
  return DecodeVopData(br);
}

bool CMP4_Decode::DecodeSVop(BitReader& br) {
  if (vol_.sprite_enable != 2) {
    DebugPrint("SpriteShapeTexture\n");
    DebugPrint("[MPEG4] S-VOP %u not decoded: static sprites are not supported\n", cur_->frame_number);
    return false;
  }
  if (!M4vGmcSetup(static_cast<int>(width_), static_cast<int>(height_), static_cast<int>(vol_.sprite_warping_accuracy),
                   static_cast<int>(vol_.no_of_sprite_warping_points), vop_.warping, asp_.gmc)) {
    DebugPrint("[MPEG4] S-VOP %u not decoded: sprite trajectory out of range\n", cur_->frame_number);
    return false;
  }
  if (vol_.data_partitioned) return DecodePartitionedVop(br);
  return DecodeVopData(br);
}

// Macroblock layer of I, P and S VOPs with the interlaced information and GMC (6.2.6):
// [not_coded] mcbpc [mcsel] [ac_pred_flag] cbpy [dquant] [dct_type] [field_prediction
// field references] [motion vectors] blocks.
bool CMP4_Decode::DecodeMacroblockAsp(BitReader& br, uint32_t mb, int& quant) {
  if (vop_.vop_coding_type == 2) return DecodeMacroblockB(br, mb, quant);
  const M4vVlcTables& t = M4vVlc();
  M4vMacroblock& m = mbs_[mb];
  m = M4vMacroblock{};
  m.serial = serial_;
  m.packet = packet_;
  m.quant = static_cast<uint8_t>(quant);
  const bool inter = vop_.vop_coding_type != 0;
  const bool gmc = vop_.vop_coding_type == 3;
  int mcbpc = 0;
  for (;;) {
    if (inter && br.ReadBit()) {
      m.not_coded = true;
      if (gmc) {
        // A skipped macroblock of an S-VOP is the global motion prediction.
        m.mcsel = true;
        const int ax = M4vGmcAverageVector(asp_.gmc, 0, static_cast<int>(mb % mbWidth_), static_cast<int>(mb / mbWidth_),
                                           vol_.quarter_sample, static_cast<uint32_t>(fcodeForward_));
        const int ay = M4vGmcAverageVector(asp_.gmc, 1, static_cast<int>(mb % mbWidth_), static_cast<int>(mb / mbWidth_),
                                           vol_.quarter_sample, static_cast<uint32_t>(fcodeForward_));
        for (auto& v : m.mv[0]) {
          v[0] = static_cast<int16_t>(ax);
          v[1] = static_cast<int16_t>(ay);
        }
      }
      Reconstruct(mb, m, gmc ? M4vPrediction::kGmc : M4vPrediction::kForward);
      return br.Ok();
    }
    if (!(inter ? t.mcbpcInter : t.mcbpcIntra).Read(br, mcbpc)) return false;
    if (mcbpc >= 0) break;  // else stuffing
    if (!br.Ok()) return false;
  }
  const int type = mcbpc >> 2;
  if (type == kM4vMbInter4VQ) return false;
  m.type = static_cast<uint8_t>(type);
  m.mcbpc = static_cast<uint8_t>(mcbpc);
  m.intra = type == kM4vMbIntra || type == kM4vMbIntraQ;
  m.four_mv = type == kM4vMbInter4V;
  if (gmc && !m.intra && !m.four_mv) m.mcsel = br.ReadBit() != 0;
  if (m.intra) m.ac_pred = br.ReadBit() != 0;
  int cbpy;
  if (!t.cbpy.Read(br, cbpy)) return false;
  if (!m.intra) cbpy = 15 - cbpy;
  m.cbpy = static_cast<uint8_t>(cbpy);
  m.cbp = static_cast<uint8_t>(cbpy << 2 | (mcbpc & 3));
  useDcVlc_ = quant < dcVlcThreshold_;
  if (type == kM4vMbInterQ || type == kM4vMbIntraQ) {
    static const int kDquant[4] = {-1, -2, 1, 2};
    const int old = quant;
    quant = Clip(quant + kDquant[br.Read(2)], 1, 31);
    m.dquant = static_cast<int8_t>(quant - old);
  }
  m.quant = static_cast<uint8_t>(quant);
  if (vol_.interlaced) {
    if (m.intra || m.cbp != 0) m.dct_type = br.ReadBit() != 0;
    if (!m.intra && !m.four_mv && !m.mcsel) {
      m.field_prediction = br.ReadBit() != 0;
      if (m.field_prediction) {
        m.field_ref[0][0] = br.ReadBit() != 0;
        m.field_ref[0][1] = br.ReadBit() != 0;
      }
    }
  }
  if (!m.intra) {
    const int mbx = static_cast<int>(mb % mbWidth_), mby = static_cast<int>(mb / mbWidth_);
    int mx = 0, my = 0;
    if (m.mcsel) {
      mx = M4vGmcAverageVector(asp_.gmc, 0, mbx, mby, vol_.quarter_sample, static_cast<uint32_t>(fcodeForward_));
      my = M4vGmcAverageVector(asp_.gmc, 1, mbx, mby, vol_.quarter_sample, static_cast<uint32_t>(fcodeForward_));
    } else if (m.field_prediction) {
      // Field vectors around the frame predictor, its vertical component halved; the
      // macroblock's frame vector for its neighbours is their average (7.6.3.4).
      int px, py;
      PredictVector(mb, 0, 0, px, py);
      for (int f = 0; f < 2; ++f) {
        int fx, fy;
        if (!ReadMotionVector(br, fcodeForward_, px, py / 2, fx, fy)) return false;
        m.field_mv[0][f][0] = static_cast<int16_t>(fx);
        m.field_mv[0][f][1] = static_cast<int16_t>(fy);
      }
      const int sx = m.field_mv[0][0][0] + m.field_mv[0][1][0];
      mx = (sx >> 1) | (sx & 1);
      my = m.field_mv[0][0][1] + m.field_mv[0][1][1];
    }
    if (m.four_mv) {
      for (int b = 0; b < 4; ++b) {
        int px, py;
        PredictVector(mb, b, 0, px, py);
        if (!ReadMotionVector(br, fcodeForward_, px, py, mx, my)) return false;
        m.mv[0][b][0] = static_cast<int16_t>(mx);
        m.mv[0][b][1] = static_cast<int16_t>(my);
      }
    } else {
      if (!m.mcsel && !m.field_prediction) {
        int px, py;
        PredictVector(mb, 0, 0, px, py);
        if (!ReadMotionVector(br, fcodeForward_, px, py, mx, my)) return false;
      }
      for (auto& v : m.mv[0]) {
        v[0] = static_cast<int16_t>(mx);
        v[1] = static_cast<int16_t>(my);
      }
    }
  }
  for (int b = 0; b < 6; ++b)
    if (!DecodeBlock(br, mb, b, m.intra, (m.cbp >> (5 - b)) & 1, m)) return false;
  if (!br.Ok()) return false;
  Reconstruct(mb, m, m.mcsel ? M4vPrediction::kGmc : M4vPrediction::kForward);
  return true;
}

// Macroblock layer of B-VOPs (6.2.6, 7.6.9): modb, mb_type, cbpb, dbquant, the interlaced
// information and the vectors of the prediction type; a macroblock whose co-located
// macroblock was skipped in the backward reference is skipped too (forward, zero vector).
bool CMP4_Decode::DecodeMacroblockB(BitReader& br, uint32_t mb, int& quant) {
  M4vMacroblock& m = mbs_[mb];
  m = M4vMacroblock{};
  m.serial = serial_;
  m.packet = packet_;
  m.quant = static_cast<uint8_t>(quant);
  const uint32_t mbx = mb % mbWidth_;
  if (mbx == 0 || asp_.predPacket != packet_) {
    std::memset(asp_.pred, 0, sizeof(asp_.pred));
    asp_.predPacket = packet_;
  }
  const M4vColocated& co = asp_.colocated[mb];
  if (co.skipped) {
    m.not_coded = true;
    Reconstruct(mb, m, M4vPrediction::kForward);
    return br.Ok();
  }
  // mb_type: "1" direct, "01" interpolate, "001" backward, "0001" forward.
  static const uint8_t kTypes[4] = {kM4vMbDirect, kM4vMbInterpolate, kM4vMbBackward, kM4vMbForward};
  int typeIndex = 0;
  int cbp = 0;
  bool deltaCoded = false;
  if (br.ReadBit()) {
    m.modb = 0;  // "1": direct without vectors or coefficients
  } else {
    const bool noCbp = br.ReadBit() != 0;
    m.modb = noCbp ? 1 : 2;
    while (typeIndex < 4 && br.ReadBit() == 0) ++typeIndex;
    if (typeIndex == 4 || !br.Ok()) return false;
    m.mb_type = static_cast<uint8_t>(typeIndex);
    if (!noCbp) cbp = static_cast<int>(br.Read(6));
    deltaCoded = typeIndex == 0;
    if (typeIndex != 0 && cbp != 0 && br.ReadBit()) {
      const int old = quant;
      quant = Clip(quant + (br.ReadBit() ? 2 : -2), 1, 31);
      m.dbquant = static_cast<int8_t>(quant - old);
    }
  }
  m.type = kTypes[typeIndex];
  m.cbp = m.cbpb = static_cast<uint8_t>(cbp);
  m.quant = static_cast<uint8_t>(quant);
  const bool forward = typeIndex == 1 || typeIndex == 3;
  const bool backward = typeIndex == 1 || typeIndex == 2;
  if (vol_.interlaced) {
    if (cbp != 0) m.dct_type = br.ReadBit() != 0;
    if (typeIndex != 0) {
      m.field_prediction = br.ReadBit() != 0;
      if (m.field_prediction) {
        if (forward) {
          m.field_ref[0][0] = br.ReadBit() != 0;
          m.field_ref[0][1] = br.ReadBit() != 0;
        }
        if (backward) {
          m.field_ref[1][0] = br.ReadBit() != 0;
          m.field_ref[1][1] = br.ReadBit() != 0;
        }
      }
    }
  }
  M4vPrediction mode = M4vPrediction::kBidirectional;
  if (typeIndex != 0) {
    const int fcodes[2] = {fcodeForward_, fcodeBackward_};
    const bool uses[2] = {forward, backward};
    for (int d = 0; d < 2; ++d) {
      if (!uses[d]) continue;
      int(&p)[2][2] = asp_.pred[d];
      if (m.field_prediction) {
        for (int f = 0; f < 2; ++f) {
          int fx, fy;
          if (!ReadMotionVector(br, fcodes[d], p[f][0], p[f][1] / 2, fx, fy)) return false;
          m.field_mv[d][f][0] = static_cast<int16_t>(fx);
          m.field_mv[d][f][1] = static_cast<int16_t>(fy);
          p[f][0] = fx;
          p[f][1] = fy * 2;
        }
      } else {
        int mx, my;
        if (!ReadMotionVector(br, fcodes[d], p[0][0], p[0][1], mx, my)) return false;
        p[0][0] = p[1][0] = mx;
        p[0][1] = p[1][1] = my;
        for (auto& v : m.mv[d]) {
          v[0] = static_cast<int16_t>(mx);
          v[1] = static_cast<int16_t>(my);
        }
      }
    }
    mode = forward && backward ? M4vPrediction::kBidirectional
           : forward           ? M4vPrediction::kForward
                               : M4vPrediction::kBackward;
  } else {
    int dx = 0, dy = 0;
    if (deltaCoded && !ReadMotionVector(br, 1, 0, 0, dx, dy)) return false;
    const int64_t trd = asp_.ppTime, trb = asp_.pbTime;
    if (co.field) {
      // Field direct mode (7.6.9.5.2): each field scales the co-located field vector by the
      // field distances, forward from the field it referenced, backward from the same field.
      m.field_prediction = true;
      for (int f = 0; f < 2; ++f) {
        const int sel = co.fieldRef[f];
        const int adjust = vop_.top_field_first ? f - sel : sel - f;
        const int64_t fd = asp_.ppFieldTime + adjust, fb = asp_.pbFieldTime + adjust;
        m.field_ref[0][f] = sel != 0;
        m.field_ref[1][f] = f != 0;
        if (fd == 0) return false;
        const int delta[2] = {dx, dy};
        for (int k = 0; k < 2; ++k) {
          const int p = co.fieldMv[f][k];
          const int fwd = DirectForward(p, delta[k], fb, fd);
          m.field_mv[0][f][k] = static_cast<int16_t>(fwd);
          m.field_mv[1][f][k] = static_cast<int16_t>(DirectBackward(p, delta[k], fwd, fb, fd));
        }
      }
    } else {
      // Four vectors from the co-located macroblock's; with quarter samples a single vector is
      // applied per 8x8 block as well.
      m.four_mv = co.fourMv || vol_.quarter_sample;
      const int delta[2] = {dx, dy};
      for (int b = 0; b < 4; ++b)
        for (int k = 0; k < 2; ++k) {
          const int p = co.mv[co.fourMv ? b : 0][k];
          const int fwd = DirectForward(p, delta[k], trb, trd);
          m.mv[0][b][k] = static_cast<int16_t>(fwd);
          m.mv[1][b][k] = static_cast<int16_t>(DirectBackward(p, delta[k], fwd, trb, trd));
        }
    }
  }
  for (int b = 0; b < 6; ++b)
    if (!DecodeBlock(br, mb, b, false, (cbp >> (5 - b)) & 1, m)) return false;
  if (!br.Ok()) return false;
  Reconstruct(mb, m, mode);
  return true;
}

// Prediction with quarter-sample vectors (7.6.2.2), field vectors (7.6.2.1 with the field
// planes) or the global motion warp (7.8.7), into the current picture.
void CMP4_Decode::MotionCompensateAsp(uint32_t mb, const M4vMacroblock& m, M4vPrediction mode) {
  const int mbx = static_cast<int>(mb % mbWidth_), mby = static_cast<int>(mb / mbWidth_);
  const int ys = cur_->LumaStride(), cs = cur_->ChromaStride();
  uint8_t* y = cur_->Y() + (mby * 16) * ys + mbx * 16;
  uint8_t* cb = cur_->Cb() + (mby * 8) * cs + mbx * 8;
  uint8_t* cr = cur_->Cr() + (mby * 8) * cs + mbx * 8;
  // The reference VOP extends to whole macroblocks before its edges are repeated (7.6.5).
  const int w = static_cast<int>(mbWidth_ * 16), h = static_cast<int>(mbHeight_ * 16);
  const int cw = w / 2, ch = h / 2;
  if (mode == M4vPrediction::kGmc || m.mcsel) {
    const CVideoFrame* ref = forwardRef_;
    if (ref == nullptr) return;
    M4vGmcPredict(H263Plane{ref->Y(), ys, w, h}, asp_.gmc, false, mbx, mby, rounding_, y, ys);
    M4vGmcPredict(H263Plane{ref->Cb(), cs, cw, ch}, asp_.gmc, true, mbx, mby, rounding_, cb, cs);
    M4vGmcPredict(H263Plane{ref->Cr(), cs, cw, ch}, asp_.gmc, true, mbx, mby, rounding_, cr, cs);
    return;
  }
  const bool qpel = vol_.quarter_sample;
  auto predictFrom = [&](const CVideoFrame* ref, int dir, uint8_t* py, int pys, uint8_t* pcb, uint8_t* pcr, int pcs) {
    if (m.field_prediction) {
      uint8_t window[17 * 9];
      for (int f = 0; f < 2; ++f) {
        const int sel = m.field_ref[dir][f] ? 1 : 0;
        const int mvx = m.field_mv[dir][f][0], mvy = m.field_mv[dir][f][1];
        uint8_t* out = py + f * pys;
        int cx, cy;
        if (qpel) {
          for (int half = 0; half < 2; ++half) {
            FieldWindow(ref->Y(), ys, w, h, sel, mbx * 16 + half * 8 + (mvx >> 2), mby * 8 + (mvy >> 2), 9, 9, window);
            M4vQpelPredict(H263Plane{window, 9, 9, 9}, 0, 0, mvx & 3, mvy & 3, 8, rounding_, out + half * 8, 2 * pys);
          }
          cx = M4vQpelChroma1MV(mvx);
          cy = M4vQpelChromaFieldY(mvy);
        } else {
          FieldWindow(ref->Y(), ys, w, h, sel, mbx * 16 + (mvx >> 1), mby * 8 + (mvy >> 1), 17, 9, window);
          H263Predict(H263Plane{window, 17, 17, 9}, 0, 0, mvx & 1, mvy & 1, 16, 8, rounding_, out, 2 * pys);
          cx = (mvx >> 1) | (mvx & 1);
          cy = (mvy >> 1) | (mvy & 1);
        }
        const uint8_t* chroma[2] = {ref->Cb(), ref->Cr()};
        uint8_t* chromaOut[2] = {pcb + f * pcs, pcr + f * pcs};
        for (int p = 0; p < 2; ++p) {
          FieldWindow(chroma[p], cs, cw, ch, sel, mbx * 8 + (cx >> 1), mby * 4 + (cy >> 1), 9, 5, window);
          H263Predict(H263Plane{window, 9, 9, 5}, 0, 0, cx & 1, cy & 1, 8, 4, rounding_, chromaOut[p], 2 * pcs);
        }
      }
      return;
    }
    const H263Plane ry{ref->Y(), ys, w, h};
    int cmv[2];
    if (m.four_mv) {
      int sum[2] = {0, 0};
      for (int b = 0; b < 4; ++b) {
        const int vx = m.mv[dir][b][0], vy = m.mv[dir][b][1];
        const int bx = mbx * 16 + (b & 1) * 8, by = mby * 16 + (b >> 1) * 8;
        uint8_t* out = py + (b >> 1) * 8 * pys + (b & 1) * 8;
        const int bits = qpel ? 2 : 1;
        const int ex = ClampBlockVector(bx, vx, bits, -16, static_cast<int>(width_));
        const int ey = ClampBlockVector(by, vy, bits, -16, static_cast<int>(height_));
        if (qpel) {
          M4vQpelPredict(ry, bx, by, ex, ey, 8, rounding_, out, pys);
          sum[0] += vx / 2;
          sum[1] += vy / 2;
        } else {
          H263Predict(ry, bx, by, ex, ey, 8, 8, rounding_, out, pys);
          sum[0] += vx;
          sum[1] += vy;
        }
      }
      cmv[0] = ClampBlockVector(mbx * 8, M4vChroma4MV(sum[0]), 1, -8, static_cast<int>(width_ >> 1));
      cmv[1] = ClampBlockVector(mby * 8, M4vChroma4MV(sum[1]), 1, -8, static_cast<int>(height_ >> 1));
    } else {
      const int vx = m.mv[dir][0][0], vy = m.mv[dir][0][1];
      if (qpel) {
        M4vQpelPredict(ry, mbx * 16, mby * 16, vx, vy, 16, rounding_, py, pys);
        cmv[0] = M4vQpelChroma1MV(vx);
        cmv[1] = M4vQpelChroma1MV(vy);
      } else {
        H263Predict(ry, mbx * 16, mby * 16, vx, vy, 16, 16, rounding_, py, pys);
        cmv[0] = (vx >> 1) | (vx & 1);
        cmv[1] = (vy >> 1) | (vy & 1);
      }
    }
    H263Predict(H263Plane{ref->Cb(), cs, cw, ch}, mbx * 8, mby * 8, cmv[0], cmv[1], 8, 8, rounding_, pcb, pcs);
    H263Predict(H263Plane{ref->Cr(), cs, cw, ch}, mbx * 8, mby * 8, cmv[0], cmv[1], 8, 8, rounding_, pcr, pcs);
  };
  if (mode == M4vPrediction::kBackward) {
    if (backwardRef_ != nullptr) predictFrom(backwardRef_, 1, y, ys, cb, cr, cs);
    return;
  }
  if (forwardRef_ == nullptr) return;
  predictFrom(forwardRef_, 0, y, ys, cb, cr, cs);
  if (mode != M4vPrediction::kBidirectional || backwardRef_ == nullptr) return;
  uint8_t back[16 * 16 + 2 * 8 * 8];
  predictFrom(backwardRef_, 1, back, 16, back + 256, back + 320, 8);
  M4vAverageBlock(y, ys, back, 16, 16, 16);
  M4vAverageBlock(cb, cs, back + 256, 8, 8, 8);
  M4vAverageBlock(cr, cs, back + 320, 8, 8, 8);
}

}  // namespace fennik
