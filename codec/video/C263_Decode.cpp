// H.263 picture decoding, ITU-T H.263 clauses 5 and 6 with Annexes D, F, I, J, K, S and T,
// and the Sorenson H.263 variant.
#include "codec/video/C263_Decode.h"

#include <cstdlib>
#include <cstring>

#include "base/DebugPrint.h"
#include "codec/video/Idct8x8.h"
#include "codec/video/h263_tables.h"

namespace fennik {

// Per-macroblock decoding state of the current picture.
struct C263_Decode::MbState {
  uint32_t serial = 0;  // picture serial when decoded in the current picture
  int segment = -1;     // GOB / slice the macroblock belongs to
  bool intra = false;
  bool coded = false;   // COD = 0
  bool four = false;    // four vectors
  uint8_t cbp = 0;      // bit 5 block 0 .. bit 0 block 5
  uint8_t quant = 0;
  int16_t mv[4][2] = {};
};

// Advanced INTRA Coding predictors of one block: reconstructed first row and column.
struct C263_Decode::AicBlock {
  uint32_t serial = 0;  // picture serial when the block was INTRA-coded
  int segment = -1;
  int16_t row[8] = {};
  int16_t col[8] = {};
};

namespace {

// A direct look-up table over the longest code of a table: value and code length per prefix.
struct VlcTable {
  int bits = 0;
  std::vector<int32_t> value;
  std::vector<uint8_t> length;  // 0: no code
  template <typename Entry, typename ValueOf>
  void Build(const Entry* entries, size_t count, ValueOf value_of) {
    bits = 0;
    for (size_t i = 0; i < count; ++i) bits = std::max(bits, static_cast<int>(std::strlen(entries[i].bits)));
    value.assign(size_t{1} << bits, 0);
    length.assign(size_t{1} << bits, 0);
    for (size_t i = 0; i < count; ++i) {
      const int n = static_cast<int>(std::strlen(entries[i].bits));
      uint32_t code = 0;
      for (int k = 0; k < n; ++k) code = (code << 1) | (entries[i].bits[k] == '1' ? 1u : 0u);
      const uint32_t first = code << (bits - n), last = first + (1u << (bits - n));
      for (uint32_t j = first; j < last; ++j) {
        value[j] = value_of(entries[i], i);
        length[j] = static_cast<uint8_t>(n);
      }
    }
  }
  // The code's value, or false with nothing consumed when the bits form no code.
  bool Read(BitReader& br, int32_t& out) const {
    const uint32_t prefix = br.Peek(bits);
    const uint8_t n = length[prefix];
    if (n == 0) return false;
    out = value[prefix];
    br.Skip(n);
    return true;
  }
};

// TCOEF values: LAST << 16 | RUN << 8 | |LEVEL|; the escape is -1.
struct Tables {
  VlcTable mcbpc_intra, mcbpc_inter, cbpy, mvd, tcoef, tcoef_aic;
  Tables() {
    auto code_value = [](const H263Code& c, size_t) { return static_cast<int32_t>(c.value); };
    mcbpc_intra.Build(kH263McbpcIntra, 9, code_value);
    mcbpc_inter.Build(kH263McbpcInter, 25, code_value);
    cbpy.Build(kH263Cbpy, 16, code_value);
    mvd.Build(kH263Mvd, 33, code_value);
    BuildTcoef(tcoef, kH263TcoefTable16);
    BuildTcoef(tcoef_aic, kH263TcoefTableI2);
  }
  static void BuildTcoef(VlcTable& t, const H263TcoefCode* table) {
    std::vector<H263TcoefCode> all(table, table + 102);
    all.push_back({kH263TcoefEscape, 0, 0, 0});
    t.Build(all.data(), all.size(), [](const H263TcoefCode& c, size_t i) {
      return i == 102 ? -1 : static_cast<int32_t>((c.last << 16) | (c.run << 8) | c.level);
    });
  }
};
const Tables& GetTables() {
  static const Tables tables;
  return tables;
}

inline int Clip(int v, int lo, int hi) { return v < lo ? lo : v > hi ? hi : v; }
inline int Median(int a, int b, int c) { return std::max(std::min(a, b), std::min(std::max(a, b), c)); }

// MBA field length (H.263 Table K.2) by the number of macroblocks in the picture.
int MbaLength(uint32_t mb_count) {
  static const uint32_t kMax[6] = {48, 99, 396, 1584, 6336, 9216};
  static const int kLength[6] = {6, 7, 9, 11, 13, 14};
  for (int i = 0; i < 6; ++i)
    if (mb_count <= kMax[i]) return kLength[i];
  return 14;
}

// Leading zeros of the next bits when they hold a start code (16 zeros and a one, after at
// most 7 stuffing zeros); -1 otherwise.
int StartCodeAhead(const BitReader& br) {
  if (br.BitsLeft() < 17) return -1;
  const uint32_t w = br.Peek(32);
  if (w == 0) return -1;
  const int zeros = __builtin_clz(w);
  if (zeros < 16 || zeros > 23 || static_cast<size_t>(zeros) + 1 > br.BitsLeft()) return -1;
  return zeros;
}

// Moves to the next start code (16 zeros and a one) at or after the current position.
bool SkipToStartCode(BitReader& br) {
  while (br.BitsLeft() >= 17) {
    const uint32_t w = br.Peek(32);
    if (w == 0) {
      br.Skip(16);
      continue;
    }
    const int zeros = __builtin_clz(w);
    if (zeros >= 16) {
      br.Skip(static_cast<size_t>(zeros - 16));
      return true;
    }
    br.Skip(static_cast<size_t>(zeros) + 1);
  }
  return false;
}

}  // namespace

C263_Decode::C263_Decode(int codec_type) : codec_type_(codec_type) { GetTables(); }
C263_Decode::~C263_Decode() = default;

void C263_Decode::ResetDecoder() {
  ref_ = nullptr;
  have_output_ = false;
  output_ = nullptr;
  kept_modes_ = H263Opptype{};
}

bool C263_Decode::Prepare(const H263PictureHeader& h) {
  if (h.width > 2048 || h.height > 2048 || h.width < 4 || h.height < 4) {
    DebugPrint("[H.263] picture size %ux%u not supported\n", h.width, h.height);
    return false;
  }
  if (h.width != width_ || h.height != height_) {
    width_ = h.width;
    height_ = h.height;
    mb_w_ = (width_ + 15) / 16;
    mb_h_ = (height_ + 15) / 16;
    mb_count_ = mb_w_ * mb_h_;
    ref_ = nullptr;
    have_output_ = false;
    output_ = nullptr;
    for (CVideoFrame& f : frames_)
      if (!f.Allocate(width_, height_, kPictureYuv420)) {
        DebugPrint("[ERROR:H.263] no create frame memory (width=%d,height=%d)\n", width_, height_);
        width_ = height_ = 0;
        return false;
      }
    mb_.assign(mb_count_, MbState{});
    mb_info_.assign(mb_count_, H263MacroblockInfo{});
    aic_.assign(size_t{mb_count_} * 6, AicBlock{});
    DebugPrint("[H.263] width =%d, height = %d\n", width_, height_);
  }
  // GOB height in macroblock rows (H.263 5.2.1): 1 up to 400 lines, 2 up to 800, else 4.
  rows_per_gob_ = height_ <= 400 ? 1 : height_ <= 800 ? 2 : 4;
  return true;
}

int C263_Decode::DecodePicture(const uint8_t* data, size_t size, uint32_t frame_number) {
  BitReader br(data, size);
  H263PictureHeader h;
  if (!ReadH263PictureHeader(br, codec_type_, kept_modes_.present ? &kept_modes_ : nullptr, h)) {
    DebugPrint("[H.263] decode enough data\n");
    return 0;
  }
  if (h.plusptype && h.ufep == 1) kept_modes_ = h.opptype;
  header_ = h;
  const H263Opptype& o = h.opptype;
  const char* unsupported = h.sac ? "Syntax-based Arithmetic Coding"
                            : h.pb ? "PB-frames"
                            : o.rps ? "Reference Picture Selection"
                            : h.rpr ? "Reference Picture Resampling"
                            : h.rru ? "Reduced-Resolution Update"
                            : (o.ss && (o.sss & 2)) ? "rectangular slices"
                            : h.type > kH263PictureP ? "B, EI and EP pictures (scalability)"
                                                     : nullptr;
  if (unsupported != nullptr) {
    DebugPrint("[H.263] picture %u not decoded: %s not supported\n", frame_number, unsupported);
    return 0;
  }
  if (!Prepare(h)) return 0;
  if (h.type == kH263PictureP && ref_ == nullptr) {
    DebugPrint("[H.263] picture %u not decoded: P-picture without a reference picture\n", frame_number);
    return 0;
  }
  aic_mode_ = o.aic;
  aiv_ = o.aiv;
  mq_ = o.mq;
  df_ = o.df;
  ss_ = o.ss;
  obmc_ = h.ap;
  umv_ = h.umv;
  umv_plus_ = h.umv_plus;
  rounding_ = h.rtype ? 1 : 0;

  // Pick a buffer that is neither the reference nor (for a disposable picture) the output.
  cur_ = nullptr;
  for (CVideoFrame& f : frames_)
    if (&f != ref_ && &f != output_) {
      cur_ = &f;
      break;
    }
  if (cur_ == nullptr) return 0;
  cur_->Clear();
  cur_->frame_number = frame_number;
  ++picture_serial_;
  if (picture_serial_ == 0) picture_serial_ = 1;
  for (H263MacroblockInfo& info : mb_info_) info.decoded = false;

  int quant = h.pquant;
  uint32_t mb = 0;
  segment_ = 0;
  if (ss_) {
    // Annex K.2: the first slice follows the picture header without SSC, SQUANT and GFID:
    // SEPB1 (1) [SSBI (4)] MBA SEPB2 (1).
    const bool sepb1 = br.ReadBit() != 0;
    if (h.cpm) br.Skip(4);
    mb = br.Read(MbaLength(mb_count_));
    const bool sepb2 = br.ReadBit() != 0;
    if (!sepb1 || !sepb2 || mb >= mb_count_) {
      DebugPrint("[H.263] picture %u: first slice header is invalid\n", frame_number);
      mb = mb_count_;
    }
  }
  uint32_t pending = UINT32_MAX;  // decoded but not yet reconstructed (OBMC needs its right neighbour)
  auto flush = [&]() {
    if (pending != UINT32_MAX) Reconstruct(pending);
    pending = UINT32_MAX;
  };
  while (mb < mb_count_) {
    if (StartCodeAhead(br) >= 0) {
      flush();
      if (!ReadSegmentHeader(br, mb, quant)) break;
      continue;
    }
    if (br.BitsLeft() == 0) break;
    if (!DecodeMacroblock(br, mb, quant)) {
      DebugPrint("[H.263] macroblock %u of picture %u could not be decoded\n", mb, frame_number);
      mb_[mb].serial = 0;
      flush();
      if (!SkipToStartCode(br)) break;
      continue;
    }
    if (pending != UINT32_MAX && pending + 1 != mb) flush();
    if (pending != UINT32_MAX) Reconstruct(pending);
    pending = mb;
    ++mb;
    if (mb % mb_w_ == 0) flush();
  }
  flush();
  for (uint32_t i = 0; i < mb_count_; ++i)
    if (mb_[i].serial != picture_serial_) Conceal(i);
  if (df_) Deblock();

  output_ = cur_;
  have_output_ = true;
  const bool disposable = codec_type_ == kCodecTypeSorenson && h.sorenson_type == 2;
  if (!disposable) ref_ = cur_;
  return 1;
}

// GOB header (H.263 5.2): GBSC (17) GN (5) [GSBI (2)] GFID (2) GQUANT (5); slice header
// (Annex K.2): SSC (17) SEPB1 (1) [SSBI (4)] MBA [SEPB2 (1)] SQUANT (5) SEPB3 (1) GFID (2).
// Returns false at a picture start code, end of sequence or a header that does not fit.
bool C263_Decode::ReadSegmentHeader(BitReader& br, uint32_t& mb, int& quant) {
  const int zeros = StartCodeAhead(br);
  br.Skip(static_cast<size_t>(zeros) + 1);
  if (ss_) {
    if (br.ReadBit() != 1) return false;  // a picture start code or end of sequence
    if (header_.cpm) br.Skip(4);
    const uint32_t mba = br.Read(MbaLength(mb_count_));
    if (mb_count_ > 1583 && br.ReadBit() != 1) return false;
    const int squant = static_cast<int>(br.Read(5));
    if (br.ReadBit() != 1) return false;
    br.Skip(2);
    if (!br.Ok() || mba >= mb_count_ || squant == 0) return false;
    mb = mba;
    quant = squant;
  } else {
    const uint32_t gn = br.Read(5);
    if (gn == 0 || gn >= 30) return false;  // next picture, end of sequence / sub-bitstream
    if (header_.cpm) br.Skip(2);
    br.Skip(2);  // GFID
    const int gquant = static_cast<int>(br.Read(5));
    const uint32_t first = gn * rows_per_gob_ * mb_w_;
    if (!br.Ok() || first >= mb_count_ || gquant == 0) return false;
    mb = first;
    quant = gquant;
  }
  ++segment_;
  return true;
}

// Median prediction of a luminance block's vector (H.263 6.1.1, F.2); block 0..3, or 0 for
// the one vector of a macroblock.
void C263_Decode::PredictMotion(uint32_t mb, int block, int& px, int& py) const {
  const int mbx = static_cast<int>(mb % mb_w_), mby = static_cast<int>(mb / mb_w_);
  const int bx = 2 * mbx + (block & 1), by = 2 * mby + (block >> 1);
  const int bw = 2 * static_cast<int>(mb_w_);
  // Vector of the block at grid position (x, y): 0 for INTRA / not decoded / not coded.
  auto at = [&](int x, int y, int out[2], bool& available) {
    out[0] = out[1] = 0;
    const uint32_t n = static_cast<uint32_t>((y >> 1) * static_cast<int>(mb_w_) + (x >> 1));
    const MbState& s = mb_[n];
    available = s.serial == picture_serial_ && s.segment == segment_;
    if (available && !s.intra) {
      out[0] = s.mv[(y & 1) * 2 + (x & 1)][0];
      out[1] = s.mv[(y & 1) * 2 + (x & 1)][1];
    }
  };
  int a[2] = {0, 0}, b[2], c[2];
  bool ok = false;
  if (bx > 0) {
    at(bx - 1, by, a, ok);
    if (!ok) a[0] = a[1] = 0;
  }
  static const int kAboveRight[4] = {2, 1, 1, -1};
  if (by == 0) {
    b[0] = c[0] = a[0];
    b[1] = c[1] = a[1];
  } else {
    at(bx, by - 1, b, ok);
    if (!ok) b[0] = a[0], b[1] = a[1];
    const int cx = bx + kAboveRight[block];
    if (cx >= bw) {
      c[0] = c[1] = 0;
    } else {
      at(cx, by - 1, c, ok);
      if (!ok) c[0] = a[0], c[1] = a[1];
    }
  }
  if (bx + kAboveRight[block] >= bw) c[0] = c[1] = 0;  // outside the picture on the right
  px = Median(a[0], b[0], c[0]);
  py = Median(a[1], b[1], c[1]);
}

// Motion vector data of one vector: MVD (H.263 Table 14) per component, or the reversible
// codes of Annex D with PLUSPTYPE (Table D.3).
bool C263_Decode::ReadMotionVector(BitReader& br, int px, int py, int& mvx, int& mvy) {
  const Tables& t = GetTables();
  int d[2];
  for (int k = 0; k < 2; ++k) {
    if (umv_plus_) {
      if (br.ReadBit()) {
        d[k] = 0;
        continue;
      }
      uint32_t code = 2 + br.ReadBit();
      while (br.ReadBit()) {
        code = (code << 1) | br.ReadBit();
        if (code >= 0x8000 || !br.Ok()) return false;
      }
      const int magnitude = static_cast<int>(code >> 1);
      d[k] = (code & 1) ? -magnitude : magnitude;
    } else {
      int32_t v;
      if (!t.mvd.Read(br, v)) return false;
      d[k] = (v != 0 && br.ReadBit()) ? -v : v;
    }
  }
  if (umv_plus_ && d[0] == 1 && d[1] == 1) br.Skip(1);  // start-code emulation prevention bit
  int v[2] = {px + d[0], py + d[1]};
  const int pred[2] = {px, py};
  for (int k = 0; k < 2; ++k) {
    if (umv_plus_) continue;
    if (!umv_) {
      v[k] = ((v[k] + 32) & 63) - 32;  // range -16 .. 15.5
    } else {
      // Annex D.2 (PTYPE signalling): vectors up to +-31.5 around a predictor beyond +-15.5.
      if (pred[k] < -31 && v[k] < -63) v[k] += 64;
      if (pred[k] > 32 && v[k] > 63) v[k] -= 64;
    }
  }
  mvx = v[0];
  mvy = v[1];
  return br.Ok();
}

// Advanced INTRA Coding prediction (H.263 Annex I.3) of one block's reconstructed
// coefficients from the block above (mode 1) or to the left (mode 2), or of the DC from both
// (mode 0); stores this block's first row and column for the blocks that follow.
void C263_Decode::AicPredict(uint32_t mb, int block, int mode, int16_t coef[64]) {
  const uint32_t mbx = mb % mb_w_, mby = mb / mb_w_;
  const AicBlock* above = nullptr;
  const AicBlock* left = nullptr;
  auto usable = [&](const AicBlock& b) { return b.serial == picture_serial_ && b.segment == segment_; };
  auto slot = [&](uint32_t x, uint32_t y, int blk) -> AicBlock& { return aic_[(y * mb_w_ + x) * 6 + static_cast<uint32_t>(blk)]; };
  if (block < 4) {
    const int bx = block & 1, by = block >> 1;
    if (by == 1) above = &slot(mbx, mby, bx);
    else if (mby > 0) above = &slot(mbx, mby - 1, 2 + bx);
    if (bx == 1) left = &slot(mbx, mby, 2 * by);
    else if (mbx > 0) left = &slot(mbx - 1, mby, 2 * by + 1);
  } else {
    if (mby > 0) above = &slot(mbx, mby - 1, block);
    if (mbx > 0) left = &slot(mbx - 1, mby, block);
  }
  if (above != nullptr && !usable(*above)) above = nullptr;
  if (left != nullptr && !usable(*left)) left = nullptr;
  int dc;
  if (mode == 1) {
    dc = above ? above->row[0] : 1024;
    if (above)
      for (int i = 1; i < 8; ++i) coef[i] = static_cast<int16_t>(Clip(coef[i] + above->row[i], -2048, 2047));
  } else if (mode == 2) {
    dc = left ? left->col[0] : 1024;
    if (left)
      for (int i = 1; i < 8; ++i) coef[i * 8] = static_cast<int16_t>(Clip(coef[i * 8] + left->col[i], -2048, 2047));
  } else {
    dc = above && left ? (above->row[0] + left->col[0]) >> 1 : above ? above->row[0] : left ? left->col[0] : 1024;
  }
  int v = coef[0] + dc;
  v = v < 0 ? 0 : (v | 1);
  coef[0] = static_cast<int16_t>(Clip(v, 0, 2047));
  AicBlock& self = slot(mbx, mby, block);
  self.serial = picture_serial_;
  self.segment = segment_;
  for (int i = 0; i < 8; ++i) {
    self.row[i] = coef[i];
    self.col[i] = coef[i * 8];
  }
}

// One block's TCOEF data (H.263 5.4.2) dequantised into raster order (H.263 6.2.1; Annex I
// and T for INTRA blocks with Advanced INTRA Coding and for extended levels).
bool C263_Decode::ReadBlock(BitReader& br, int block, bool intra, bool coded, int quant, const uint8_t* scan,
                            int16_t coef[64]) {
  const Tables& t = GetTables();
  const bool aic = intra && aic_mode_;
  const int q = (mq_ && block >= 4) ? kH263ChromaQuant[quant] : quant;
  int start = 0;
  if (intra && !aic) {
    const uint32_t dc = br.Read(8);
    if (dc == 0 || dc == 128) {
      DebugPrint("[H.263] INTRADC %u is forbidden\n", dc);
      return false;
    }
    coef[0] = static_cast<int16_t>(dc == 255 ? 1024 : dc * 8);
    start = 1;
  }
  if (!coded) return br.Ok();
  const VlcTable* table = aic ? &t.tcoef_aic : &t.tcoef;
  const BitReader restart = br;
  bool alternative = false;
  for (;;) {
    int i = start;
    bool overflow = false;
    for (;;) {
      int32_t v;
      if (!table->Read(br, v)) {
        overflow = true;  // as a run past the block: Alternative INTER VLC may apply
        break;
      }
      int last, run, level;
      if (v < 0) {
        if (codec_type_ == kCodecTypeSorenson && header_.version == 1) {
          // Sorenson escape: size flag, LAST, RUN (6), LEVEL (7 or 11 bits, signed).
          const bool long_level = br.ReadBit() != 0;
          last = static_cast<int>(br.ReadBit());
          run = static_cast<int>(br.Read(6));
          const int n = long_level ? 11 : 7;
          const uint32_t raw = br.Read(n);
          level = static_cast<int>(raw) - ((raw & (1u << (n - 1))) ? (1 << n) : 0);
        } else {
          last = static_cast<int>(br.ReadBit());
          run = static_cast<int>(br.Read(6));
          level = static_cast<int8_t>(br.Read(8));
          if (level == -128 && mq_) {
            // Annex T.4 extended LEVEL: 5 low bits, then 6 high bits (signed).
            const int low = static_cast<int>(br.Read(5));
            const uint32_t high = br.Read(6);
            level = ((static_cast<int>(high) - ((high & 32) ? 64 : 0)) * 32) | low;
          } else if (level == 0 || level == -128) {
            DebugPrint("[H.263] escape LEVEL %d is forbidden\n", level);
            return false;
          }
        }
      } else {
        last = v >> 16;
        run = (v >> 8) & 0xFF;
        level = v & 0xFF;
        if (br.ReadBit()) level = -level;
      }
      i += run;
      if (i > 63 || (i == 63 && !last)) {  // a coefficient that is not the last one at position 63 leaves no room
        overflow = true;
        break;
      }
      int rec;
      if (aic) {
        rec = 2 * q * level;
      } else {
        const int magnitude = q * (2 * std::abs(level) + 1) - ((q & 1) ? 0 : 1);
        rec = level < 0 ? -magnitude : magnitude;
      }
      coef[scan[i]] = static_cast<int16_t>(Clip(rec, -2048, 2047));
      ++i;
      if (last) break;
    }
    if (!overflow) break;
    // Annex S.3: an INTER block whose Table 16 decoding runs past the block is coded with Table I.2.
    if (aiv_ && !intra && !alternative) {
      alternative = true;
      table = &t.tcoef_aic;
      br = restart;
      std::memset(coef, 0, 64 * sizeof(int16_t));
      continue;
    }
    DebugPrint("[H.263] DCT coef VLC error\n");
    return false;
  }
  return br.Ok();
}

// Macroblock layer (H.263 5.3): COD, MCBPC, [INTRA_MODE], CBPY, [DQUANT], [MVD, MVD2-4], blocks.
bool C263_Decode::DecodeMacroblock(BitReader& br, uint32_t mb, int& quant) {
  const Tables& t = GetTables();
  MbState& s = mb_[mb];
  H263MacroblockInfo& info = mb_info_[mb];
  const bool p_picture = header_.type == kH263PictureP;
  s = MbState{};
  s.segment = segment_;
  int32_t mcbpc;
  for (;;) {
    if (p_picture && br.ReadBit()) {
      // Not coded: zero vector, no residual.
      s.serial = picture_serial_;
      s.quant = static_cast<uint8_t>(quant);
      info = H263MacroblockInfo{};
      info.decoded = true;
      info.quant = static_cast<uint8_t>(quant);
      return br.Ok();
    }
    if (!(p_picture ? t.mcbpc_inter : t.mcbpc_intra).Read(br, mcbpc)) return false;
    if (mcbpc >= 0) break;  // else stuffing
    if (!br.Ok() || StartCodeAhead(br) >= 0) return false;
  }
  const int type = mcbpc >> 2;
  const int cbpc = mcbpc & 3;
  const bool intra = type == kH263MbIntra || type == kH263MbIntraQ;
  int intra_mode = 0;
  if (intra && aic_mode_) intra_mode = br.ReadBit() ? 1 + static_cast<int>(br.ReadBit()) : 0;
  int32_t cbpy;
  if (!t.cbpy.Read(br, cbpy)) return false;
  // INTER macroblocks invert CBPY, except under Alternative INTER VLC when both chrominance
  // blocks are coded (Annex S.3).
  if (!intra && !(aiv_ && cbpc == 3)) cbpy = 15 - cbpy;
  int dquant = 0;
  if (type == kH263MbInterQ || type == kH263MbIntraQ || type == kH263MbInter4VQ) {
    const int old = quant;
    if (mq_) {
      // Annex T.2: "1x" changes QUANT by a step that depends on it; "0" + 5 bits sets it.
      if (br.ReadBit()) {
        const bool up = br.ReadBit() != 0;
        int step;
        if (up) step = quant == 31 ? -5 : quant >= 29 ? 31 - quant : quant >= 21 ? 3 : quant >= 11 ? 2 : 1;
        else step = quant == 1 ? 2 : quant >= 21 ? -3 : quant >= 11 ? -2 : -1;
        quant += step;
      } else {
        quant = static_cast<int>(br.Read(5));
      }
    } else {
      static const int kDquant[4] = {-1, -2, 1, 2};
      quant += kDquant[br.Read(2)];
    }
    quant = Clip(quant, 1, 31);
    dquant = quant - old;
  }
  s.serial = picture_serial_;
  s.intra = intra;
  s.coded = true;
  s.quant = static_cast<uint8_t>(quant);
  s.cbp = static_cast<uint8_t>((cbpy << 2) | cbpc);
  if (!intra) {
    s.four = type == kH263MbInter4V || type == kH263MbInter4VQ;
    for (int b = 0; b < (s.four ? 4 : 1); ++b) {
      int px, py, mx, my;
      PredictMotion(mb, b, px, py);
      if (!ReadMotionVector(br, px, py, mx, my)) return false;
      for (int k = s.four ? b : 0; k < (s.four ? b + 1 : 4); ++k) {
        s.mv[k][0] = static_cast<int16_t>(mx);
        s.mv[k][1] = static_cast<int16_t>(my);
      }
    }
  }
  const uint8_t* scan = intra_mode == 1 ? kH263AltHorizontal : intra_mode == 2 ? kH263AltVertical : kH263ZigZag;
  std::memset(info.coef, 0, sizeof(info.coef));
  for (int b = 0; b < 6; ++b) {
    const bool coded = (s.cbp >> (5 - b)) & 1;
    if (!ReadBlock(br, b, intra, coded, quant, scan, info.coef[b])) return false;
    if (intra && aic_mode_) AicPredict(mb, b, intra_mode, info.coef[b]);
  }
  info.decoded = true;
  info.mb_type = static_cast<uint8_t>(type);
  info.cbpc = static_cast<uint8_t>(cbpc);
  info.cbpy = static_cast<uint8_t>(cbpy);
  info.dquant = static_cast<int8_t>(dquant);
  info.quant = static_cast<uint8_t>(quant);
  info.intra_mode = static_cast<uint8_t>(intra_mode);
  std::memcpy(info.mv, s.mv, sizeof(info.mv));
  return br.Ok();
}

// Prediction and residual of one decoded macroblock into the current picture.
void C263_Decode::Reconstruct(uint32_t mb) {
  const MbState& s = mb_[mb];
  const H263MacroblockInfo& info = mb_info_[mb];
  const int mbx = static_cast<int>(mb % mb_w_), mby = static_cast<int>(mb / mb_w_);
  const int ys = cur_->LumaStride(), cs = cur_->ChromaStride();
  uint8_t* y = cur_->Y() + (mby * 16) * ys + mbx * 16;
  uint8_t* cb = cur_->Cb() + (mby * 8) * cs + mbx * 8;
  uint8_t* cr = cur_->Cr() + (mby * 8) * cs + mbx * 8;
  uint8_t* dst[6] = {y, y + 8, y + 8 * ys, y + 8 * ys + 8, cb, cr};
  const int stride[6] = {ys, ys, ys, ys, cs, cs};
  if (s.intra) {
    for (int b = 0; b < 6; ++b) Idct8x8Put(info.coef[b], dst[b], stride[b]);
    return;
  }
  const H263Plane ry{ref_->Y(), ys, static_cast<int>(width_), static_cast<int>(height_)};
  const H263Plane rcb{ref_->Cb(), cs, static_cast<int>((width_ + 1) / 2), static_cast<int>((height_ + 1) / 2)};
  const H263Plane rcr{ref_->Cr(), cs, rcb.width, rcb.height};
  if (obmc_) {
    // Annex F.3: vectors of the neighbouring blocks; INTRA or missing neighbours give the
    // block's own vector, a not-coded one the zero vector. The block below is never used.
    auto neighbour = [&](int nx, int ny, int blk, const int own[2], int out[2]) {
      out[0] = own[0];
      out[1] = own[1];
      if (nx < 0 || ny < 0 || nx >= static_cast<int>(mb_w_) || ny >= static_cast<int>(mb_h_)) return;
      const MbState& n = mb_[static_cast<uint32_t>(ny) * mb_w_ + static_cast<uint32_t>(nx)];
      if (n.serial != picture_serial_ || n.intra) return;
      out[0] = n.mv[blk][0];
      out[1] = n.mv[blk][1];
    };
    for (int b = 0; b < 4; ++b) {
      const int bx = b & 1, by = b >> 1;
      int mv[5][2];
      mv[0][0] = s.mv[b][0];
      mv[0][1] = s.mv[b][1];
      if (by == 1) mv[1][0] = s.mv[bx][0], mv[1][1] = s.mv[bx][1];
      else neighbour(mbx, mby - 1, 2 + bx, mv[0], mv[1]);
      if (by == 0) mv[2][0] = s.mv[2 + bx][0], mv[2][1] = s.mv[2 + bx][1];
      else mv[2][0] = mv[0][0], mv[2][1] = mv[0][1];
      if (bx == 1) mv[3][0] = s.mv[2 * by][0], mv[3][1] = s.mv[2 * by][1];
      else neighbour(mbx - 1, mby, 2 * by + 1, mv[0], mv[3]);
      if (bx == 0) mv[4][0] = s.mv[2 * by + 1][0], mv[4][1] = s.mv[2 * by + 1][1];
      else neighbour(mbx + 1, mby, 2 * by, mv[0], mv[4]);
      H263ObmcBlock(ry, mbx * 16 + bx * 8, mby * 16 + by * 8, mv, rounding_, dst[b], ys);
    }
  } else if (s.four) {
    for (int b = 0; b < 4; ++b)
      H263Predict(ry, mbx * 16 + (b & 1) * 8, mby * 16 + (b >> 1) * 8, s.mv[b][0], s.mv[b][1], 8, 8, rounding_, dst[b], ys);
  } else {
    H263Predict(ry, mbx * 16, mby * 16, s.mv[0][0], s.mv[0][1], 16, 16, rounding_, y, ys);
  }
  // Chrominance vectors (H.263 6.1.1, F.2): half the luminance vector, or the sum of the four
  // divided by 8, with the fractions rounded to the half-pixel positions.
  int cmv[2];
  for (int k = 0; k < 2; ++k) {
    if (s.four) {
      static const int kSixteenths[16] = {0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2};
      const int sum = s.mv[0][k] + s.mv[1][k] + s.mv[2][k] + s.mv[3][k];
      const int a = std::abs(sum);
      const int v = (a >> 4) * 2 + kSixteenths[a & 15];
      cmv[k] = sum < 0 ? -v : v;
    } else {
      const int v = s.mv[0][k];
      cmv[k] = (v >> 1) | (v & 1);
    }
  }
  H263Predict(rcb, mbx * 8, mby * 8, cmv[0], cmv[1], 8, 8, rounding_, cb, cs);
  H263Predict(rcr, mbx * 8, mby * 8, cmv[0], cmv[1], 8, 8, rounding_, cr, cs);
  if (!s.coded) return;
  for (int b = 0; b < 6; ++b)
    if ((s.cbp >> (5 - b)) & 1) Idct8x8Add(info.coef[b], dst[b], stride[b]);
}

// A macroblock the data did not reach keeps the reference picture's samples (or black).
void C263_Decode::Conceal(uint32_t mb) {
  mb_[mb] = MbState{};
  if (ref_ == nullptr) return;
  const uint32_t mbx = mb % mb_w_, mby = mb / mb_w_;
  const int ys = cur_->LumaStride(), cs = cur_->ChromaStride();
  for (int r = 0; r < 16; ++r) std::memcpy(cur_->Y() + (mby * 16 + r) * ys + mbx * 16, ref_->Y() + (mby * 16 + r) * ys + mbx * 16, 16);
  for (int r = 0; r < 8; ++r) {
    std::memcpy(cur_->Cb() + (mby * 8 + r) * cs + mbx * 8, ref_->Cb() + (mby * 8 + r) * cs + mbx * 8, 8);
    std::memcpy(cur_->Cr() + (mby * 8 + r) * cs + mbx * 8, ref_->Cr() + (mby * 8 + r) * cs + mbx * 8, 8);
  }
}

// Annex J.3: every 8x8 block edge inside the picture is filtered when one of its two blocks
// lies in a coded macroblock, with the QUANT of the lower / right macroblock when it is coded,
// else of the other one; horizontal edges first, then vertical edges.
void C263_Decode::Deblock() {
  const int ys = cur_->LumaStride(), cs = cur_->ChromaStride();
  auto quant_of = [&](uint32_t a, uint32_t b) -> int {  // b is the lower / right macroblock
    if (mb_[b].coded) return mb_[b].quant;
    if (mb_[a].coded) return mb_[a].quant;
    return 0;
  };
  auto chroma_quant = [&](int q) { return mq_ ? kH263ChromaQuant[q] : q; };
  // Horizontal edges.
  for (uint32_t by = 1; by < mb_h_ * 2; ++by) {
    if (by * 8 >= height_) break;
    for (uint32_t bx = 0; bx < mb_w_ * 2; ++bx) {
      const uint32_t lower = (by / 2) * mb_w_ + bx / 2, upper = ((by - 1) / 2) * mb_w_ + bx / 2;
      const int q = quant_of(upper, lower);
      if (q == 0) continue;
      H263DeblockEdge(cur_->Y() + by * 8 * ys + bx * 8, ys, 1, kH263DeblockStrength[q]);
      if ((by & 1) == 0 && (bx & 1) == 0 && by * 4 < (height_ + 1) / 2) {
        const int cq = kH263DeblockStrength[chroma_quant(q)];
        H263DeblockEdge(cur_->Cb() + (by / 2) * 8 * cs + (bx / 2) * 8, cs, 1, cq);
        H263DeblockEdge(cur_->Cr() + (by / 2) * 8 * cs + (bx / 2) * 8, cs, 1, cq);
      }
    }
  }
  // Vertical edges.
  for (uint32_t by = 0; by < mb_h_ * 2; ++by) {
    for (uint32_t bx = 1; bx < mb_w_ * 2; ++bx) {
      if (bx * 8 >= width_) break;
      const uint32_t right = (by / 2) * mb_w_ + bx / 2, left = (by / 2) * mb_w_ + (bx - 1) / 2;
      const int q = quant_of(left, right);
      if (q == 0) continue;
      H263DeblockEdge(cur_->Y() + by * 8 * ys + bx * 8, 1, ys, kH263DeblockStrength[q]);
      if ((by & 1) == 0 && (bx & 1) == 0 && bx * 4 < (width_ + 1) / 2) {
        const int cq = kH263DeblockStrength[chroma_quant(q)];
        H263DeblockEdge(cur_->Cb() + (by / 2) * 8 * cs + (bx / 2) * 8, 1, cs, cq);
        H263DeblockEdge(cur_->Cr() + (by / 2) * 8 * cs + (bx / 2) * 8, 1, cs, cq);
      }
    }
  }
}

}  // namespace fennik
