// MPEG-4 Visual VOP decoding, ISO/IEC 14496-2 clauses 6.2.5-6.2.8 (syntax) and 7.3-7.6
// (texture and motion decoding) for rectangular I and P VOPs.
#include "codec/video/CMP4_Decode.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "base/DebugPrint.h"
#include "codec/video/C263_Decode.h"
#include "codec/video/H263Kernels.h"
#include "codec/video/QIntDCT.h"
#include "codec/video/mp4v_tables.h"

namespace fennik {
namespace {

// A variable-length code table read through one look-up over its longest code: per prefix
// the value and the code's length (0: no code starts so).
struct CodeTable {
  struct Entry {
    int32_t value;
    uint8_t length;
  };
  int bits = 0;
  std::vector<Entry> entries;

  template <typename Code, typename ValueOf>
  void Build(const Code* codes, size_t count, ValueOf valueOf) {
    for (size_t i = 0; i < count; ++i) bits = std::max(bits, static_cast<int>(std::strlen(codes[i].bits)));
    entries.assign(size_t{1} << bits, Entry{0, 0});
    for (size_t i = 0; i < count; ++i) {
      const int n = static_cast<int>(std::strlen(codes[i].bits));
      uint32_t code = 0;
      for (int k = 0; k < n; ++k) code = code * 2 + (codes[i].bits[k] == '1' ? 1u : 0u);
      const uint32_t shift = static_cast<uint32_t>(bits - n);
      for (uint32_t j = code << shift; j < (code + 1) << shift; ++j) entries[j] = Entry{valueOf(codes[i], i), static_cast<uint8_t>(n)};
    }
  }
  bool Read(BitReader& br, int32_t& value) const {
    const Entry& e = entries[br.Peek(bits)];
    if (e.length == 0) return false;
    value = e.value;
    br.Skip(e.length);
    return true;
  }
};

constexpr int32_t kEscape = -1;

// TCOEF entries as LAST << 16 | RUN << 8 | LEVEL, with the escape, and the largest LEVEL per
// RUN and the largest RUN per LEVEL the table codes (7.4.1.3, escape types 1 and 2).
struct CoefTable {
  CodeTable codes;
  uint8_t maxLevel[2][64] = {};
  uint8_t maxRun[2][64] = {};
  void Build(const H263TcoefCode* table) {
    std::vector<H263TcoefCode> all(table, table + 102);
    all.push_back({kH263TcoefEscape, 0, 0, 0});
    codes.Build(all.data(), all.size(), [](const H263TcoefCode& c, size_t i) {
      return i == 102 ? kEscape : static_cast<int32_t>(c.last << 16 | c.run << 8 | c.level);
    });
    for (size_t i = 0; i < 102; ++i) {
      const H263TcoefCode& c = table[i];
      maxLevel[c.last][c.run] = std::max(maxLevel[c.last][c.run], c.level);
      maxRun[c.last][c.level] = std::max(maxRun[c.last][c.level], c.run);
    }
  }
};

struct Tables {
  CodeTable mcbpcIntra, mcbpcInter, cbpy, mvd, dcLuma, dcChroma;
  CoefTable intra, inter;
  Tables() {
    auto value = [](const H263Code& c, size_t) { return static_cast<int32_t>(c.value); };
    mcbpcIntra.Build(kH263McbpcIntra, 9, value);
    mcbpcInter.Build(kH263McbpcInter, 25, value);
    cbpy.Build(kH263Cbpy, 16, value);
    mvd.Build(kH263Mvd, 33, value);
    dcLuma.Build(kM4vDcSizeLuma, 13, value);
    dcChroma.Build(kM4vDcSizeChroma, 13, value);
    intra.Build(kM4vTcoefIntra);
    inter.Build(kH263TcoefTable16);
  }
};

const Tables& GetTables() {
  static const Tables tables;
  return tables;
}

inline int Clip(int v, int lo, int hi) { return v < lo ? lo : v > hi ? hi : v; }
inline int Median(int a, int b, int c) { return std::max(std::min(a, b), std::min(std::max(a, b), c)); }
// Integer division rounded to the nearest, halves away from zero ("//" of 7.4.3).
inline int RoundedDivide(int a, int b) { return (a >= 0 ? a + b / 2 : a - b / 2) / b; }

// The half-sample vector component of an 8x8 prediction at `base` whose integer position is
// kept within low..limit (the VOL's visible size), dropping the half sample at the limit.
// Only predictions starting beyond the visible picture change: they then read its edge
// rather than the decoded rows between the visible size and the whole macroblocks, as
// ffmpeg's decoder does for four-vector macroblocks (so that its pictures are reproduced).
int EdgeVector(int base, int mv, int low, int limit) {
  int pos = base + (mv >> 1);
  int half = mv & 1;
  if (pos < low) pos = low;
  if (pos >= limit) pos = limit, half = 0;
  return 2 * (pos - base) + half;
}

const uint8_t* ScanTable(int scan) {
  return scan == kM4vScanHorizontal ? kH263AltHorizontal : scan == kM4vScanVertical ? kH263AltVertical : kH263ZigZag;
}

}  // namespace

CMP4_Decode::CMP4_Decode() { GetTables(); }
CMP4_Decode::~CMP4_Decode() = default;

void CMP4_Decode::ResetPictures() {
  ForgetPictures();
  if (shortHeader_) shortHeader_->ResetDecoder();
}

void CMP4_Decode::ForgetPictures() {
  past_ = future_ = cur_ = current_ = held_ = ready_ = nullptr;
  forwardRef_ = backwardRef_ = nullptr;
}

const CVideoFrame* CMP4_Decode::TakeOutput() {
  const CVideoFrame* out = ready_;
  ready_ = nullptr;
  return out;
}

void CMP4_Decode::FlushOutput() {
  if (held_ != nullptr && ready_ == nullptr) {
    ready_ = held_;
    held_ = nullptr;
  }
}

const M4vMacroblock* CMP4_Decode::Macroblock(uint32_t index) const {
  if (index >= mbs_.size() || mbs_[index].serial != serial_ || serial_ == 0) return nullptr;
  return &mbs_[index];
}

int CMP4_Decode::DcScaler(int block, int quant) {
  // Table 7-1.
  if (block < 4) return quant <= 4 ? 8 : quant <= 8 ? 2 * quant : quant <= 24 ? quant + 8 : 2 * quant - 16;
  return quant <= 4 ? 8 : quant <= 24 ? (quant + 13) / 2 : quant - 6;
}

bool CMP4_Decode::Prepare(const M4vVol& vol) {
  if (vol.width < 16 && vol.height < 16) {
    if (vol.width == 0 || vol.height == 0) {
      DebugPrint("[ERROR:MPEG-4 Video] no create frame memory (width=%d,height=%d)\n", static_cast<int>(vol.width),
                 static_cast<int>(vol.height));
      return false;
    }
  }
  if (vol.width > 4096 || vol.height > 4096 || vol.width == 0 || vol.height == 0) {
    DebugPrint("[ERROR:MPEG-4 Video] no create frame memory (width=%d,height=%d)\n", static_cast<int>(vol.width),
               static_cast<int>(vol.height));
    return false;
  }
  if (vol.width != width_ || vol.height != height_ || !pictures_[0].IsAllocated()) {
    ForgetPictures();
    width_ = height_ = 0;
    for (CVideoFrame& f : pictures_) {
      if (!f.Allocate(vol.width, vol.height, kPictureYuv420)) {
        DebugPrint("[ERROR:MPEG-4 Video] no create frame memory (width=%d,height=%d)\n", static_cast<int>(vol.width),
                   static_cast<int>(vol.height));
        return false;
      }
    }
    width_ = vol.width;
    height_ = vol.height;
    mbWidth_ = (width_ + 15) / 16;
    mbHeight_ = (height_ + 15) / 16;
    mbCount_ = mbWidth_ * mbHeight_;
    mbs_.assign(mbCount_, M4vMacroblock{});
    predictors_.assign(size_t{mbCount_} * 6, IntraPredictor{});
    futureMotion_.assign(mbCount_, M4vReferenceMotion{});
    mbNumberBits_ = 1;
    while (mbNumberBits_ < 14 && (uint32_t{1} << mbNumberBits_) < mbCount_) ++mbNumberBits_;
  }
  // Quantiser matrices: loaded ones come in zigzag order.
  for (int i = 0; i < 64; ++i) {
    intraMatrix_[kH263ZigZag[i]] = vol.load_intra_quant_mat ? vol.intra_quant_mat[i] : kM4vDefaultIntraMatrix[kH263ZigZag[i]];
    interMatrix_[kH263ZigZag[i]] = vol.load_nonintra_quant_mat ? vol.nonintra_quant_mat[i] : kM4vDefaultInterMatrix[kH263ZigZag[i]];
  }
  return true;
}

int CMP4_Decode::DecodeVop(const uint8_t* data, size_t size, const M4vVol& vol, uint32_t frameNumber) {
  // A VOP that is not decoded leaves no current picture (the references stay).
  current_ = nullptr;
  M4vVop vop;
  if (!vol.valid || ReadM4vVop(data, size, vol, vop) == 0) {
    DebugPrint("MPEG-4 Video: decode enough data\n");
    return 0;
  }
  // Tools outside this decoder are refused before any state changes.
  if (vol.shape != 0) {
    DebugPrint("SpriteShapeTexture\n");
    DebugPrint("[MPEG4] VOP %u not decoded: video_object_layer_shape %u\n", frameNumber, vol.shape);
    return 0;
  }
  if (vol.sprite_enable == 1 || (vop.refused && vol.sprite_brightness_change)) {
    DebugPrint(vol.sprite_enable == 1 ? "SpriteShapeTexture\n" : "BrightnessChangeFactor\n");
    DebugPrint("[MPEG4] VOP %u not decoded: sprite coding\n", frameNumber);
    return 0;
  }
  const char* unsupported = vop.refused                    ? "sprite warping points"
                            : vol.scalability              ? "scalability"
                            : vol.newpred_enable           ? "NEWPRED"
                            : vol.reduced_resolution_vop_enable ? "reduced-resolution VOPs"
                            : vol.bits_per_pixel != 8 || vol.quant_precision != 5 ? "N-bit coding"
                            : vol.chroma_format != 1       ? "chroma format"
                                                           : nullptr;
  if (unsupported != nullptr) {
    DebugPrint("[MPEG4] VOP %u not decoded: %s not supported\n", frameNumber, unsupported);
    return 0;
  }
  if (!Prepare(vol)) return 0;
  vol_ = vol;
  vop_ = vop;
  if (!vop.vop_coded) {
    // Nothing coded: no picture of its own (the last reference stays the current picture).
    current_ = future_;
    return 0;
  }
  const uint32_t type = vop.vop_coding_type;
  if (type != 0 && future_ == nullptr) {
    DebugPrint("[MPEG4] VOP %u not decoded: no reference picture\n", frameNumber);
    return 0;
  }
  if (type == 2 && past_ == nullptr) {
    DebugPrint("[MPEG4] B-VOP %u not decoded: no past reference picture\n", frameNumber);
    return 0;
  }
  if (vol.quarter_sample && type != 0 && !SupportsQuarterSample()) {
    DebugPrint("[MPEG4] VOP %u not decoded: quarter-sample motion compensation not supported\n", frameNumber);
    return 0;
  }
  if (vol.interlaced && !SupportsInterlaced()) {
    DebugPrint("[MPEG4] VOP %u not decoded: interlaced coding not supported\n", frameNumber);
    return 0;
  }

  // A buffer that no reference or waiting picture uses.
  cur_ = nullptr;
  for (CVideoFrame& f : pictures_)
    if (&f != past_ && &f != future_ && &f != held_ && &f != ready_) {
      cur_ = &f;
      break;
    }
  if (cur_ == nullptr) return 0;
  cur_->frame_number = frameNumber;
  cur_->picture_index = static_cast<int32_t>(frameNumber);
  cur_->field_type = vol.interlaced ? (vop.top_field_first ? 1 : 2) : 0;
  forwardRef_ = type == 2 ? past_ : future_;
  backwardRef_ = type == 2 ? future_ : nullptr;
  ++serial_;
  if (serial_ == 0) serial_ = 1;
  packet_ = 0;
  rounding_ = static_cast<int>(vop.vop_rounding_type);
  dcVlcThreshold_ = kM4vIntraDcThreshold[vop.intra_dc_vlc_thr & 7];
  fcodeForward_ = static_cast<int>(std::max<uint32_t>(vop.vop_fcode_forward, 1));
  fcodeBackward_ = static_cast<int>(std::max<uint32_t>(vop.vop_fcode_backward, 1));
  resyncZeros_ = type == 0 ? 16 : type == 2 ? 15 + std::max(fcodeForward_, fcodeBackward_) : 15 + fcodeForward_;

  BitReader br(data, size);
  br.Skip(vop.dataBitOffset);
  bool ok;
  if (type == 2) ok = DecodeBVop(br);
  else if (type == 3) ok = DecodeSVop(br);
  else if (vol.data_partitioned) ok = DecodePartitionedVop(br);
  else ok = DecodeVopData(br);
  if (!ok) return 0;
  FinishVopAsp();

  current_ = cur_;
  if (type == 2) {
    ready_ = cur_;  // B-VOPs are shown at once, before the reference held back
  } else {
    past_ = future_;
    future_ = cur_;
    for (uint32_t i = 0; i < mbCount_; ++i) {
      const M4vMacroblock& m = mbs_[i];
      M4vReferenceMotion& r = futureMotion_[i];
      r.intra = m.intra;
      r.not_coded = m.not_coded;
      r.four_mv = m.four_mv;
      r.field_prediction = m.field_prediction;
      r.field_ref[0] = m.field_ref[0][0];
      r.field_ref[1] = m.field_ref[0][1];
      std::memcpy(r.mv, m.mv[0], sizeof(r.mv));
      std::memcpy(r.field_mv, m.field_mv[0], sizeof(r.field_mv));
    }
    if (vol.low_delay) {
      ready_ = cur_;
    } else {
      if (held_ != nullptr) ready_ = held_;
      held_ = cur_;
    }
  }
  return 1;
}

int CMP4_Decode::DecodeShortHeader(const uint8_t* data, size_t size, uint32_t frameNumber) {
  DebugPrint("[MPEG4] video_plane_with_short_header()\n");
  if (!shortHeader_) shortHeader_ = std::make_unique<C263_Decode>(kCodecTypeH263);
  if (shortHeader_->DecodePicture(data, size, frameNumber) != 1) return 0;
  const CVideoFrame* picture = shortHeader_->GetCurrentPicture();
  if (picture == nullptr) return 0;
  if (picture->Width() != width_ || picture->Height() != height_) {
    M4vVol vol;
    vol.valid = true;
    vol.width = picture->Width();
    vol.height = picture->Height();
    if (!Prepare(vol)) return 0;
  }
  cur_ = nullptr;
  for (CVideoFrame& f : pictures_)
    if (&f != past_ && &f != future_ && &f != held_ && &f != ready_) {
      cur_ = &f;
      break;
    }
  if (cur_ == nullptr || !cur_->CopyFrom(*picture)) return 0;
  cur_->frame_number = frameNumber;
  ++serial_;
  if (serial_ == 0) serial_ = 1;
  // The H.263 decoder keeps its own macroblock records: none here.
  current_ = cur_;
  past_ = future_;
  future_ = cur_;
  if (held_ != nullptr) ready_ = held_, held_ = nullptr;
  else ready_ = cur_;
  if (ready_ != cur_) held_ = cur_;
  return 1;
}

// Combined motion-shape-texture data of an I or P VOP: macroblocks in raster order, with
// video packets where resync markers are enabled. A macroblock that cannot be decoded ends
// its packet; what the data did not reach is concealed from the reference.
bool CMP4_Decode::DecodeVopData(BitReader& br) {
  int quant = static_cast<int>(vop_.vop_quant);
  if (quant == 0) {
    DebugPrint("[MPEG4] vop_quant 0 is forbidden\n");
    return false;
  }
  const bool resync = !vol_.resync_marker_disable;
  uint32_t mb = 0;
  while (mb < mbCount_) {
    if (resync && !SkippedInReference(mb) && ResyncMarkerAhead(br)) {
      uint32_t next = 0;
      if (!ReadVideoPacketHeader(br, next, quant)) break;
      DebugPrint("[MPEG4] vph->macroblock_number = %d mba = %d\n", static_cast<int>(next), static_cast<int>(mb));
      mb = next;
      continue;
    }
    if (br.BitsLeft() == 0) break;
    if (!(AspMacroblocks() ? DecodeMacroblockAsp(br, mb, quant) : DecodeMacroblockIP(br, mb, quant))) {
      mbs_[mb].serial = 0;
      ++errors_;
      DebugPrint("[MPEG4] macroblock %u of VOP %u could not be decoded\n", mb, cur_->frame_number);
      if (!resync) break;
      // Continue at the next video packet.
      bool found = false;
      while (br.BitsLeft() > 17) {
        br.Skip(1);
        if (ResyncMarkerAhead(br)) {
          found = true;
          break;
        }
      }
      if (!found) break;
      continue;
    }
    ++mb;
  }
  for (uint32_t i = 0; i < mbCount_; ++i)
    if (mbs_[i].serial != serial_) Conceal(i);
  return true;
}

// next_resync_marker stuffing (a zero and ones up to the byte boundary, a whole byte when
// aligned) followed by resync_marker.
bool CMP4_Decode::ResyncMarkerAhead(const BitReader& br) const {
  const int stuffing = 8 - static_cast<int>(br.BitPosition() & 7);
  const size_t need = static_cast<size_t>(stuffing + resyncZeros_ + 1);
  if (br.BitsLeft() < need) return false;
  const uint32_t bits = br.Peek(static_cast<int>(need));
  const uint32_t expected = ((uint32_t{1} << (stuffing - 1)) - 1) << (resyncZeros_ + 1) | 1u;
  return bits == expected;
}

// video_packet_header (6.2.5.2) of a rectangular VOP.
bool CMP4_Decode::ReadVideoPacketHeader(BitReader& br, uint32_t& mb, int& quant) {
  br.Skip(static_cast<size_t>(8 - (br.BitPosition() & 7)));
  br.Skip(static_cast<size_t>(resyncZeros_ + 1));
  const uint32_t number = br.Read(mbNumberBits_);
  const int q = static_cast<int>(br.Read(static_cast<int>(vol_.quant_precision)));
  if (br.ReadBit()) {  // header_extension_code
    int seconds = 0;
    while (br.ReadBit() == 1 && br.Ok() && seconds < 64) ++seconds;
    br.Skip(1);  // marker
    br.Skip(static_cast<size_t>(vol_.time_increment_bits));
    br.Skip(1);  // marker
    const uint32_t type = br.Read(2);
    br.Skip(3);  // intra_dc_vlc_thr
    if (type == 3 && vol_.sprite_enable == 2 && vol_.no_of_sprite_warping_points > 0) {
      DebugPrint("[MPEG4] video packet repeats the sprite trajectory: not supported\n");
      return false;
    }
    if (type != 0) br.Skip(3);
    if (type == 2) br.Skip(3);
    if (type != vop_.vop_coding_type) {
      DebugPrint("[MPEG4] video packet header names another VOP type (%u)\n", type);
      return false;
    }
  }
  if (!br.Ok() || number >= mbCount_ || q == 0) return false;
  mb = number;
  quant = q;
  ++packet_;
  return true;
}

bool CMP4_Decode::MacroblockAvailable(int mbx, int mby) const {
  if (mbx < 0 || mby < 0 || mbx >= static_cast<int>(mbWidth_) || mby >= static_cast<int>(mbHeight_)) return false;
  const M4vMacroblock& n = mbs_[static_cast<uint32_t>(mby) * mbWidth_ + static_cast<uint32_t>(mbx)];
  return n.serial == serial_ && n.packet == packet_;
}

// Macroblock layer (6.2.6) of I and P VOPs: [not_coded] mcbpc [ac_pred_flag] cbpy [dquant]
// [motion vectors] blocks.
bool CMP4_Decode::DecodeMacroblockIP(BitReader& br, uint32_t mb, int& quant) {
  const Tables& t = GetTables();
  M4vMacroblock& m = mbs_[mb];
  const bool pVop = vop_.vop_coding_type == 1;
  m.serial = serial_;
  m.packet = packet_;
  m.type = kM4vMbNotCoded;
  m.quant = static_cast<uint8_t>(quant);
  m.dquant = m.dbquant = 0;
  m.cbp = m.mcbpc = m.cbpy = m.cbpb = m.modb = m.mb_type = 0;
  m.intra = m.not_coded = m.ac_pred = m.mcsel = m.dct_type = m.field_prediction = m.four_mv = false;
  std::memset(m.mv, 0, sizeof(m.mv));
  std::memset(m.field_mv, 0, sizeof(m.field_mv));
  std::memset(m.scan, 0, sizeof(m.scan));
  int32_t mcbpc;
  for (;;) {
    if (pVop && br.ReadBit()) {
      m.not_coded = true;
      std::memset(m.coef, 0, sizeof(m.coef));
      Reconstruct(mb, m, M4vPrediction::kForward);
      return br.Ok();
    }
    if (!(pVop ? t.mcbpcInter : t.mcbpcIntra).Read(br, mcbpc)) return false;
    if (mcbpc >= 0) break;  // else stuffing
    if (!br.Ok()) return false;
  }
  const int type = mcbpc >> 2;
  if (type == kM4vMbInter4VQ) return false;  // not an MPEG-4 macroblock type
  m.type = static_cast<uint8_t>(type);
  m.mcbpc = static_cast<uint8_t>(mcbpc);
  m.intra = type == kM4vMbIntra || type == kM4vMbIntraQ;
  if (m.intra) m.ac_pred = br.ReadBit() != 0;
  int32_t cbpy;
  if (!t.cbpy.Read(br, cbpy)) return false;
  if (!m.intra) cbpy = 15 - cbpy;
  m.cbpy = static_cast<uint8_t>(cbpy);
  m.cbp = static_cast<uint8_t>(cbpy << 2 | (mcbpc & 3));
  // intra_dc_vlc_thr compares the quantiser in effect before this macroblock's dquant.
  useDcVlc_ = quant < dcVlcThreshold_;
  if (type == kM4vMbInterQ || type == kM4vMbIntraQ) {
    static const int kDquant[4] = {-1, -2, 1, 2};
    const int old = quant;
    quant = Clip(quant + kDquant[br.Read(2)], 1, 31);
    m.dquant = static_cast<int8_t>(quant - old);
  }
  m.quant = static_cast<uint8_t>(quant);
  if (!m.intra) {
    m.four_mv = type == kM4vMbInter4V;
    for (int b = 0; b < (m.four_mv ? 4 : 1); ++b) {
      int px, py, mx, my;
      PredictVector(mb, b, 0, px, py);
      if (!ReadMotionVector(br, fcodeForward_, px, py, mx, my)) return false;
      for (int k = m.four_mv ? b : 0; k < (m.four_mv ? b + 1 : 4); ++k) {
        m.mv[0][k][0] = static_cast<int16_t>(mx);
        m.mv[0][k][1] = static_cast<int16_t>(my);
      }
    }
  }
  for (int b = 0; b < 6; ++b)
    if (!DecodeBlock(br, mb, b, m.intra, (m.cbp >> (5 - b)) & 1, m)) return false;
  if (!br.Ok()) return false;
  Reconstruct(mb, m, M4vPrediction::kForward);
  return true;
}

// Motion vector prediction (7.6.5): the median of the vectors left (A), above (B) and above
// right (C) of the block. A candidate outside the VOP or the video packet is not valid: with
// one such it counts as zero, with two the third is the prediction, with three it is zero.
// Intra and not-coded macroblocks give the zero vector.
void CMP4_Decode::PredictVector(uint32_t mb, int block, int dir, int& px, int& py) const {
  const int mbx = static_cast<int>(mb % mbWidth_), mby = static_cast<int>(mb / mbWidth_);
  const int bx = 2 * mbx + (block & 1), by = 2 * mby + (block >> 1);
  static const int kAboveRight[4] = {2, 1, 1, -1};
  const int cx[3] = {bx - 1, bx, bx + kAboveRight[block]};
  const int cy[3] = {by, by - 1, by - 1};
  int v[3][2] = {};
  int valid = 0, last = 0;
  for (int k = 0; k < 3; ++k) {
    if (cx[k] >= 2 * static_cast<int>(mbWidth_) || !MacroblockAvailable(cx[k] >> 1, cy[k] >> 1)) continue;
    const M4vMacroblock& n = mbs_[static_cast<uint32_t>(cy[k] >> 1) * mbWidth_ + static_cast<uint32_t>(cx[k] >> 1)];
    ++valid;
    last = k;
    if (n.intra) continue;
    const int blk = (cy[k] & 1) * 2 + (cx[k] & 1);
    v[k][0] = n.mv[dir][blk][0];
    v[k][1] = n.mv[dir][blk][1];
  }
  if (valid == 1) {
    px = v[last][0];
    py = v[last][1];
    return;
  }
  px = Median(v[0][0], v[1][0], v[2][0]);
  py = Median(v[0][1], v[1][1], v[2][1]);
}

// motion_code (Table B-12) and motion_residual per component (7.6.3), wrapped into the range
// of f_code.
bool CMP4_Decode::ReadMotionVector(BitReader& br, int fcode, int px, int py, int& mvx, int& mvy) {
  const Tables& t = GetTables();
  const int rsize = fcode - 1;
  const int f = 1 << rsize;
  const int low = -32 * f, high = 32 * f - 1, range = 64 * f;
  int out[2];
  const int pred[2] = {px, py};
  for (int k = 0; k < 2; ++k) {
    int32_t code;
    if (!t.mvd.Read(br, code)) return false;
    if (code != 0 && br.ReadBit()) code = -code;
    int diff = code;
    if (f > 1 && code != 0) {
      const int residual = static_cast<int>(br.Read(rsize));
      diff = ((std::abs(code) - 1) << rsize) + residual + 1;
      if (code < 0) diff = -diff;
    }
    int v = pred[k] + diff;
    if (v < low) v += range;
    if (v > high) v -= range;
    out[k] = v;
  }
  mvx = out[0];
  mvy = out[1];
  return br.Ok();
}

bool CMP4_Decode::ReadIntraDc(BitReader& br, int block, int& diff) {
  const Tables& t = GetTables();
  int32_t size;
  if (!(block < 4 ? t.dcLuma : t.dcChroma).Read(br, size)) return false;
  diff = 0;
  if (size > 0) {
    const int raw = static_cast<int>(br.Read(static_cast<int>(size)));
    // A leading 0 marks a negative difference (Table B-15).
    diff = (raw >> (size - 1)) ? raw : raw - (1 << size) + 1;
    if (size > 8 && br.ReadBit() != 1) return false;  // marker_bit
  }
  return br.Ok();
}

bool CMP4_Decode::ReadCoefficients(BitReader& br, bool intra, int start, const uint8_t* scan, int16_t coef[64]) {
  const CoefTable& t = intra ? GetTables().intra : GetTables().inter;
  const int table = intra ? 1 : 0;
  (void)table;
  int i = start;
  for (;;) {
    int32_t v;
    if (!t.codes.Read(br, v)) {
      DebugPrint("[MPEG4] DCT coef VLC error\n");
      return false;
    }
    int last, run, level;
    if (v != kEscape) {
      last = v >> 16;
      run = (v >> 8) & 0xFF;
      level = v & 0xFF;
      if (br.ReadBit()) level = -level;
    } else if (br.ReadBit() == 0) {
      // Escape type 1: LEVEL beyond the largest of its RUN.
      if (!t.codes.Read(br, v) || v == kEscape) {
        DebugPrint("[MPEG4] DCT coef VLC error (ESC Type 1)\n");
        return false;
      }
      last = v >> 16;
      run = (v >> 8) & 0xFF;
      level = (v & 0xFF) + t.maxLevel[last][run];
      if (br.ReadBit()) level = -level;
    } else if (br.ReadBit() == 0) {
      // Escape type 2: RUN beyond the largest of its LEVEL.
      if (!t.codes.Read(br, v) || v == kEscape) {
        DebugPrint("[MPEG4] DCT coef VLC error (ESC Type 2)\n");
        return false;
      }
      last = v >> 16;
      level = v & 0xFF;
      run = ((v >> 8) & 0xFF) + t.maxRun[last][level] + 1;
      if (br.ReadBit()) level = -level;
    } else {
      // Escape type 3: fixed-length LAST, RUN, marker, LEVEL (12 bits signed), marker.
      last = static_cast<int>(br.ReadBit());
      run = static_cast<int>(br.Read(6));
      if (br.ReadBit() != 1) {
        DebugPrint("[MPEG4] DCT coef VLC error\n");
        return false;
      }
      const uint32_t raw = br.Read(12);
      level = static_cast<int>(raw) - ((raw & 0x800) ? 4096 : 0);
      if (br.ReadBit() != 1 || level == 0 || level == -2048) {
        DebugPrint("[MPEG4] DCT coef VLC error\n");
        return false;
      }
    }
    i += run;
    if (i > 63) {
      DebugPrint("[MPEG4] DCT coef VLC error\n");
      return false;
    }
    coef[scan[i]] = static_cast<int16_t>(level);
    ++i;
    if (last) break;
    if (i > 63) {
      DebugPrint("[MPEG4] DCT coef VLC error\n");
      return false;
    }
  }
  return br.Ok();
}

namespace {

// The block left (A), above-left (B) and above (C) of block `block` of macroblock (mbx, mby):
// macroblock offset and block number.
struct BlockNeighbour {
  int dx, dy, block;
};
constexpr BlockNeighbour kNeighbours[6][3] = {
    {{-1, 0, 1}, {-1, -1, 3}, {0, -1, 2}},
    {{0, 0, 0}, {0, -1, 2}, {0, -1, 3}},
    {{-1, 0, 3}, {-1, 0, 1}, {0, 0, 0}},
    {{0, 0, 2}, {0, 0, 0}, {0, 0, 1}},
    {{-1, 0, 4}, {-1, -1, 4}, {0, -1, 4}},
    {{-1, 0, 5}, {-1, -1, 5}, {0, -1, 5}},
};

}  // namespace

// DC prediction direction (7.4.3.1): from the block above when |F_A - F_B| < |F_B - F_C|,
// else from the block to the left; blocks of other packets and non-intra macroblocks count
// as 1024.
bool CMP4_Decode::IntraPredictFromAbove(uint32_t mb, int block) const {
  const int mbx = static_cast<int>(mb % mbWidth_), mby = static_cast<int>(mb / mbWidth_);
  int f[3];
  for (int k = 0; k < 3; ++k) {
    const BlockNeighbour& n = kNeighbours[block][k];
    const int x = mbx + n.dx, y = mby + n.dy;
    f[k] = 1024;
    if (!MacroblockAvailable(x, y)) continue;
    const uint32_t index = static_cast<uint32_t>(y) * mbWidth_ + static_cast<uint32_t>(x);
    if (mbs_[index].intra) f[k] = predictors_[index * 6 + static_cast<uint32_t>(n.block)].dc;
  }
  return std::abs(f[0] - f[1]) < std::abs(f[1] - f[2]);
}

void CMP4_Decode::IntraPredict(uint32_t mb, int block, bool fromAbove, bool acPred, int quant, int16_t qf[64]) {
  const int mbx = static_cast<int>(mb % mbWidth_), mby = static_cast<int>(mb / mbWidth_);
  const BlockNeighbour& n = kNeighbours[block][fromAbove ? 2 : 0];
  const int x = mbx + n.dx, y = mby + n.dy;
  const IntraPredictor* p = nullptr;
  int pquant = quant;
  if (MacroblockAvailable(x, y)) {
    const uint32_t index = static_cast<uint32_t>(y) * mbWidth_ + static_cast<uint32_t>(x);
    if (mbs_[index].intra) {
      p = &predictors_[index * 6 + static_cast<uint32_t>(n.block)];
      pquant = mbs_[index].quant;
    }
  }
  const int scale = DcScaler(block, quant);
  const int dc = p != nullptr ? p->dc : 1024;
  qf[0] = static_cast<int16_t>(qf[0] + (dc + scale / 2) / scale);
  if (acPred && p != nullptr) {
    for (int i = 1; i < 8; ++i) {
      const int pv = fromAbove ? p->row[i] : p->col[i];
      const int add = pquant == quant ? pv : RoundedDivide(pv * pquant, quant);
      int16_t& c = fromAbove ? qf[i] : qf[i * 8];
      c = static_cast<int16_t>(Clip(c + add, -2048, 2047));
    }
  }
  IntraPredictor& self = predictors_[mb * 6 + static_cast<uint32_t>(block)];
  self.dc = static_cast<int16_t>(Clip(qf[0] * scale, 0, 2047));
  for (int i = 1; i < 8; ++i) {
    self.row[i] = qf[i];
    self.col[i] = qf[i * 8];
  }
}

// Inverse quantisation (7.4.4): the intra DC by dc_scaler; other coefficients by the H.263
// method, or the MPEG method with the weighting matrices and mismatch control; results
// saturated to -2048..2047.
void CMP4_Decode::Dequantise(int16_t c[64], bool intra, int block, int quant) const {
  int start = 0;
  int sum = 0;
  if (intra) {
    c[0] = static_cast<int16_t>(Clip(c[0] * DcScaler(block, quant), -2048, 2047));
    sum = c[0];
    start = 1;
  }
  if (!vol_.quant_type) {
    const int odd = (quant & 1) ? 0 : 1;
    for (int i = start; i < 64; ++i) {
      const int level = c[i];
      if (level == 0) continue;
      const int magnitude = quant * (2 * std::abs(level) + 1) - odd;
      c[i] = static_cast<int16_t>(Clip(level < 0 ? -magnitude : magnitude, -2048, 2047));
    }
    return;
  }
  const uint8_t* w = intra ? intraMatrix_ : interMatrix_;
  for (int i = start; i < 64; ++i) {
    const int level = c[i];
    if (level == 0) continue;
    const int a = std::abs(level);
    const int magnitude = intra ? (a * w[i] * quant) >> 3 : ((2 * a + 1) * w[i] * quant) >> 4;
    c[i] = static_cast<int16_t>(Clip(level < 0 ? -magnitude : magnitude, -2048, 2047));
    sum += c[i];
  }
  if ((sum & 1) == 0) c[63] = static_cast<int16_t>(c[63] ^ 1);
}

bool CMP4_Decode::DecodeBlock(BitReader& br, uint32_t mb, int block, bool intra, bool coded, M4vMacroblock& m) {
  int16_t* coef = m.coef[block];
  std::memset(coef, 0, 64 * sizeof(int16_t));
  if (!intra) {
    const int scan = vop_.alternate_vertical_scan_flag ? kM4vScanVertical : kM4vScanZigzag;
    m.scan[block] = static_cast<uint8_t>(scan);
    if (!coded) return true;
    if (!ReadCoefficients(br, false, 0, ScanTable(scan), coef)) return false;
    Dequantise(coef, false, block, m.quant);
    return true;
  }
  const bool fromAbove = IntraPredictFromAbove(mb, block);
  const int scan = vop_.alternate_vertical_scan_flag ? kM4vScanVertical
                   : m.ac_pred                        ? (fromAbove ? kM4vScanHorizontal : kM4vScanVertical)
                                                      : kM4vScanZigzag;
  m.scan[block] = static_cast<uint8_t>(scan);
  int start = 0;
  if (useDcVlc_) {
    int diff;
    if (!ReadIntraDc(br, block, diff)) {
      DebugPrint("[MPEG4] intra DC VLC error\n");
      return false;
    }
    coef[0] = static_cast<int16_t>(diff);
    start = 1;
  }
  if (coded && !ReadCoefficients(br, true, start, ScanTable(scan), coef)) return false;
  IntraPredict(mb, block, fromAbove, m.ac_pred, m.quant, coef);
  Dequantise(coef, true, block, m.quant);
  return true;
}

// Motion-compensated prediction of one macroblock (7.6.2) with half-sample vectors: luminance
// per vector (16x16 or four 8x8), chrominance with the derived vector (7.6.4; 16ths rounded
// by Table 7-9 for four vectors).
void CMP4_Decode::MotionCompensate(uint32_t mb, const M4vMacroblock& m, M4vPrediction mode) {
  const int mbx = static_cast<int>(mb % mbWidth_), mby = static_cast<int>(mb / mbWidth_);
  const int ys = cur_->LumaStride(), cs = cur_->ChromaStride();
  uint8_t* y = cur_->Y() + (mby * 16) * ys + mbx * 16;
  uint8_t* cb = cur_->Cb() + (mby * 8) * cs + mbx * 8;
  uint8_t* cr = cur_->Cr() + (mby * 8) * cs + mbx * 8;
  if (vol_.quarter_sample || m.field_prediction || m.mcsel || mode == M4vPrediction::kGmc || vop_.vop_coding_type == 2) {
    MotionCompensateAsp(mb, m, mode);
    return;
  }
  // The reference is extended beyond its whole macroblocks (the decoded area), not beyond the
  // VOL's width and height.
  const int w = static_cast<int>(mbWidth_ * 16), h = static_cast<int>(mbHeight_ * 16);
  auto predictFrom = [&](const CVideoFrame* ref, int dir, uint8_t* py, int pys, uint8_t* pcb, uint8_t* pcr, int pcs) {
    const H263Plane ry{ref->Y(), ys, w, h};
    const H263Plane rcb{ref->Cb(), cs, w / 2, h / 2};
    const H263Plane rcr{ref->Cr(), cs, rcb.width, rcb.height};
    if (m.four_mv) {
      for (int b = 0; b < 4; ++b) {
        const int x = mbx * 16 + (b & 1) * 8, y = mby * 16 + (b >> 1) * 8;
        H263Predict(ry, x, y, EdgeVector(x, m.mv[dir][b][0], -16, static_cast<int>(width_)),
                    EdgeVector(y, m.mv[dir][b][1], -16, static_cast<int>(height_)), 8, 8, rounding_,
                    py + (b >> 1) * 8 * pys + (b & 1) * 8, pys);
      }
    } else {
      H263Predict(ry, mbx * 16, mby * 16, m.mv[dir][0][0], m.mv[dir][0][1], 16, 16, rounding_, py, pys);
    }
    int cmv[2];
    for (int k = 0; k < 2; ++k) {
      if (m.four_mv) {
        static const int kSixteenths[16] = {0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2};
        const int sum = m.mv[dir][0][k] + m.mv[dir][1][k] + m.mv[dir][2][k] + m.mv[dir][3][k];
        const int a = std::abs(sum);
        const int v = (a >> 4) * 2 + kSixteenths[a & 15];
        cmv[k] = sum < 0 ? -v : v;
      } else {
        const int v = m.mv[dir][0][k];
        cmv[k] = (v >> 1) | (v & 1);
      }
    }
    if (m.four_mv) {
      cmv[0] = EdgeVector(mbx * 8, cmv[0], -8, static_cast<int>(width_ >> 1));
      cmv[1] = EdgeVector(mby * 8, cmv[1], -8, static_cast<int>(height_ >> 1));
    }
    H263Predict(rcb, mbx * 8, mby * 8, cmv[0], cmv[1], 8, 8, rounding_, pcb, pcs);
    H263Predict(rcr, mbx * 8, mby * 8, cmv[0], cmv[1], 8, 8, rounding_, pcr, pcs);
  };
  if (mode == M4vPrediction::kForward || mode == M4vPrediction::kBackward) {
    const CVideoFrame* ref = mode == M4vPrediction::kForward ? forwardRef_ : backwardRef_;
    if (ref == nullptr) return;
    predictFrom(ref, mode == M4vPrediction::kForward ? 0 : 1, y, ys, cb, cr, cs);
    return;
  }
  if (mode == M4vPrediction::kBidirectional && forwardRef_ != nullptr && backwardRef_ != nullptr) {
    // The rounded-up average of the forward and backward predictions (7.6.9.5).
    uint8_t back[16 * 16 + 2 * 8 * 8];
    predictFrom(forwardRef_, 0, y, ys, cb, cr, cs);
    predictFrom(backwardRef_, 1, back, 16, back + 256, back + 320, 8);
    for (int r = 0; r < 16; ++r)
      for (int c = 0; c < 16; ++c) y[r * ys + c] = static_cast<uint8_t>((y[r * ys + c] + back[r * 16 + c] + 1) >> 1);
    for (int r = 0; r < 8; ++r)
      for (int c = 0; c < 8; ++c) {
        cb[r * cs + c] = static_cast<uint8_t>((cb[r * cs + c] + back[256 + r * 8 + c] + 1) >> 1);
        cr[r * cs + c] = static_cast<uint8_t>((cr[r * cs + c] + back[320 + r * 8 + c] + 1) >> 1);
      }
  }
}

void CMP4_Decode::Reconstruct(uint32_t mb, const M4vMacroblock& m, M4vPrediction mode) {
  const int mbx = static_cast<int>(mb % mbWidth_), mby = static_cast<int>(mb / mbWidth_);
  const int ys = cur_->LumaStride(), cs = cur_->ChromaStride();
  uint8_t* y = cur_->Y() + (mby * 16) * ys + mbx * 16;
  uint8_t* cb = cur_->Cb() + (mby * 8) * cs + mbx * 8;
  uint8_t* cr = cur_->Cr() + (mby * 8) * cs + mbx * 8;
  uint8_t* dst[6] = {y, y + 8, y + 8 * ys, y + 8 * ys + 8, cb, cr};
  int stride[6] = {ys, ys, ys, ys, cs, cs};
  if (m.dct_type) {
    // Field DCT: blocks 0 and 1 hold the top field's lines, 2 and 3 the bottom field's.
    dst[1] = y + 8;
    dst[2] = y + ys;
    dst[3] = y + ys + 8;
    for (int b = 0; b < 4; ++b) stride[b] = 2 * ys;
  }
  int16_t block[64];
  if (m.intra) {
    for (int b = 0; b < 6; ++b) {
      std::memcpy(block, m.coef[b], sizeof(block));
      QIntDCT::InversePut(block, dst[b], stride[b]);
    }
    return;
  }
  MotionCompensate(mb, m, mode);
  if (m.not_coded) return;
  for (int b = 0; b < 6; ++b) {
    if (!((m.cbp >> (5 - b)) & 1)) continue;
    std::memcpy(block, m.coef[b], sizeof(block));
    QIntDCT::InverseAdd(block, dst[b], stride[b]);
  }
}

void CMP4_Decode::Conceal(uint32_t mb) {
  M4vMacroblock& m = mbs_[mb];
  m = M4vMacroblock{};
  const uint32_t mbx = mb % mbWidth_, mby = mb / mbWidth_;
  const int ys = cur_->LumaStride(), cs = cur_->ChromaStride();
  const CVideoFrame* ref = forwardRef_;
  for (uint32_t r = 0; r < 16; ++r) {
    uint8_t* d = cur_->Y() + (mby * 16 + r) * static_cast<uint32_t>(ys) + mbx * 16;
    if (ref) std::memcpy(d, ref->Y() + (d - cur_->Y()), 16);
    else std::memset(d, 16, 16);
  }
  for (uint32_t r = 0; r < 8; ++r) {
    const size_t off = (mby * 8 + r) * static_cast<uint32_t>(cs) + mbx * 8;
    if (ref) {
      std::memcpy(cur_->Cb() + off, ref->Cb() + off, 8);
      std::memcpy(cur_->Cr() + off, ref->Cr() + off, 8);
    } else {
      std::memset(cur_->Cb() + off, 128, 8);
      std::memset(cur_->Cr() + off, 128, 8);
    }
  }
}

}  // namespace fennik
