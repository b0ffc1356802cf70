#include "codec/audio/CMP3_Decode.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "base/DebugPrint.h"
#include "codec/audio/MpaHuffmanTables.h"
#include "codec/audio/MpaTables.h"

namespace fennik {
namespace {

constexpr size_t kReservoirKeep = 4096;
constexpr size_t kMainPadding = 64;  // zero bytes after the main data: reads may overshoot

// MSB-first reads at a bit position of a byte array that has kMainPadding bytes after its
// last meaningful byte (the hot path of Huffman decoding; positions are checked by the
// caller against the granule's end).
inline uint32_t PeekBits(const uint8_t* data, size_t pos, int n) {
  uint64_t w;
  std::memcpy(&w, data + (pos >> 3), sizeof w);
  w = __builtin_bswap64(w);
  return static_cast<uint32_t>((w << (pos & 7)) >> (64 - n));
}
inline uint32_t GetBits(const uint8_t* data, size_t& pos, int n) {
  if (n == 0) return 0;
  const uint32_t v = PeekBits(data, pos, n);
  pos += static_cast<size_t>(n);
  return v;
}

// Two-level lookup tables for the Huffman codes of Table B.7: the first kRootBits bits
// index the root; longer codes continue in a sub-table of the remaining bits.
constexpr int kRootBits = 10;
struct HuffEntry {
  int32_t value;   // (x << 4) | y, or the sub-table's offset when length is 0
  uint8_t length;  // code length (root) or remaining length (sub-table); 0: sub-table
  uint8_t subBits; // width of the sub-table
};
struct HuffLookup {
  std::vector<HuffEntry> entries;
  int maxLength = 0;
};

HuffLookup BuildLookup(const MpaHuffmanCode* codes, int count, int size) {
  HuffLookup t;
  t.entries.assign(1u << kRootBits, HuffEntry{0, 0, 0});
  for (int i = 0; i < count; ++i) t.maxLength = std::max<int>(t.maxLength, codes[i].length);
  // Sub-table widths: the longest code under each root prefix.
  int subBits[1 << kRootBits] = {};
  for (int i = 0; i < count; ++i) {
    const int len = codes[i].length;
    if (len > kRootBits) {
      const int prefix = codes[i].code >> (len - kRootBits);
      subBits[prefix] = std::max(subBits[prefix], len - kRootBits);
    }
  }
  for (int p = 0; p < (1 << kRootBits); ++p) {
    if (subBits[p] == 0) continue;
    t.entries[p] = HuffEntry{static_cast<int32_t>(t.entries.size()), 0, static_cast<uint8_t>(subBits[p])};
    t.entries.resize(t.entries.size() + (1u << subBits[p]), HuffEntry{0, 0, 0});
  }
  for (int i = 0; i < count; ++i) {
    const int len = codes[i].length;
    const uint32_t code = codes[i].code;
    const int32_t value = static_cast<int32_t>(((i / size) << 4) | (i % size));
    if (len <= kRootBits) {
      const uint32_t first = code << (kRootBits - len);
      for (uint32_t j = 0; j < (1u << (kRootBits - len)); ++j) {
        t.entries[first + j] = HuffEntry{value, static_cast<uint8_t>(len), 0};
      }
    } else {
      const uint32_t prefix = code >> (len - kRootBits);
      const HuffEntry root = t.entries[prefix];
      const int rest = len - kRootBits;
      const uint32_t low = code & ((1u << rest) - 1);
      const uint32_t first = low << (root.subBits - rest);
      for (uint32_t j = 0; j < (1u << (root.subBits - rest)); ++j) {
        t.entries[static_cast<size_t>(root.value) + first + j] = HuffEntry{value, static_cast<uint8_t>(rest), 0};
      }
    }
  }
  return t;
}

struct HuffTables {
  HuffLookup bigValues[32];
  HuffLookup count1A;
  HuffTables() {
    for (int t = 0; t < 32; ++t) {
      const MpaHuffmanTable& table = kMpaBigValueTables[t];
      if (table.codes != nullptr) bigValues[t] = BuildLookup(table.codes, table.size * table.size, table.size);
    }
    count1A = BuildLookup(kMpaCount1TableA.codes, 16, 16);
  }
};
const HuffTables& Huffman() {
  static const HuffTables tables;
  return tables;
}

// Decodes one code word; returns its value ((x << 4) | y), or -1 for a code not in the
// table.
inline int DecodeCode(const HuffLookup& t, const uint8_t* data, size_t& pos) {
  const HuffEntry e = t.entries[PeekBits(data, pos, kRootBits)];
  if (e.length != 0) {
    pos += e.length;
    return e.value;
  }
  if (e.subBits == 0) return -1;
  const HuffEntry s = t.entries[static_cast<size_t>(e.value) +
                                (PeekBits(data, pos, kRootBits + e.subBits) & ((1u << e.subBits) - 1))];
  if (s.length == 0) return -1;
  pos += static_cast<size_t>(kRootBits + s.length);
  return s.value;
}

// |is|^(4/3) for every value a Huffman table with linbits can give (15 + 2^13 - 1).
constexpr int kPow43Size = 8207;
struct Constants {
  float pow43[kPow43Size];
  float pow2Quarter[4];          // 2^(k/4)
  float imdctLong[18][18];       // cos(π/72 (2i + 19)(2k + 1)) for the 18 distinct outputs
  float imdctShort[12][6];       // cos(π/24 (2i + 7)(2k + 1))
  float window[4][36];           // block types 0, 1, 3 (long); 2 (short, first 12)
  float cs[8], ca[8];            // alias reduction butterflies (Table B.9)
  Constants() {
    const double pi = std::numbers::pi;
    for (int i = 0; i < kPow43Size; ++i) pow43[i] = static_cast<float>(std::pow(i, 4.0 / 3.0));
    for (int k = 0; k < 4; ++k) pow2Quarter[k] = static_cast<float>(std::pow(2.0, k / 4.0));
    // Outputs 0..8 and 18..26; the others follow: x[17 - i] = -x[i], x[53 - i] = x[i].
    for (int j = 0; j < 18; ++j) {
      const int i = j < 9 ? j : j + 9;
      for (int k = 0; k < 18; ++k) {
        imdctLong[j][k] = static_cast<float>(std::cos(pi / 72 * (2 * i + 19) * (2 * k + 1)));
      }
    }
    for (int i = 0; i < 12; ++i) {
      for (int k = 0; k < 6; ++k) imdctShort[i][k] = static_cast<float>(std::cos(pi / 24 * (2 * i + 7) * (2 * k + 1)));
    }
    for (int i = 0; i < 36; ++i) window[0][i] = static_cast<float>(std::sin(pi / 36 * (i + 0.5)));
    for (int i = 0; i < 36; ++i) {
      double start, stop;
      if (i < 18) start = std::sin(pi / 36 * (i + 0.5));
      else if (i < 24) start = 1.0;
      else if (i < 30) start = std::sin(pi / 12 * (i - 18 + 0.5));
      else start = 0.0;
      if (i < 6) stop = 0.0;
      else if (i < 12) stop = std::sin(pi / 12 * (i - 6 + 0.5));
      else if (i < 18) stop = 1.0;
      else stop = std::sin(pi / 36 * (i + 0.5));
      window[1][i] = static_cast<float>(start);
      window[3][i] = static_cast<float>(stop);
      window[2][i] = i < 12 ? static_cast<float>(std::sin(pi / 12 * (i + 0.5))) : 0.0f;
    }
    for (int i = 0; i < 8; ++i) {
      const double c = kMpaAliasC[i];
      cs[i] = static_cast<float>(1.0 / std::sqrt(1.0 + c * c));
      ca[i] = static_cast<float>(c / std::sqrt(1.0 + c * c));
    }
  }
};
const Constants& K() {
  static const Constants constants;
  return constants;
}

// 2^(e/4) for any integer e.
inline float Pow2Quarter(int e) {
  const int q = e >> 2;  // floor
  return std::ldexp(K().pow2Quarter[e - 4 * q], q);
}

// Start line of long band `sfb` (0..22).
int LongStart(int si, int sfb) {
  int s = 0;
  for (int i = 0; i < sfb; ++i) s += kMpaLongBandWidth[si][i];
  return s;
}

// The long bands kept by a mixed block, and the first short band after them.
void MixedSplit(int si, int& longEnd, int& shortStart) {
  if (si <= 2) {
    longEnd = 8, shortStart = 3;
  } else if (si != 8) {
    longEnd = 6, shortStart = 3;
  } else {
    longEnd = 4, shortStart = 2;  // 8 kHz: the first 48 lines
  }
}

}  // namespace

void CMP3_Decode::Reset() {
  CMPA_Common::Reset();
  std::memset(overlap_, 0, sizeof overlap_);
  reservoir_.clear();
}

bool CMP3_Decode::DecodeFrame(BitReader& reader, const MpaHeader& h, const uint8_t* frame, size_t size) {
  const int channels = h.channels;
  samples_ = h.Lsf() ? 576 : 1152;
  for (auto& buffer : out_) {
    if (buffer.size() < samples_) buffer.resize(samples_);
  }
  const size_t mainStart = h.headerLength + static_cast<size_t>(MpaSideInfoLength(h));
  if (size < mainStart || !ReadMpaSideInfo(reader, h, side_)) {
    Silence(samples_, channels);
    return false;
  }
  const uint8_t* mainData = frame + mainStart;
  const size_t mainBytes = size - mainStart;
  // The granules' bits begin main_data_begin bytes before this frame's main data, in the
  // reservoir of earlier frames (11172-3 2.4.3.4.2).
  bool haveData = side_.main_data_begin <= reservoir_.size();
  if (!haveData) DebugPrint("MP3: main_data_begin %u beyond the bit reservoir (%zu)\n",
                            side_.main_data_begin, reservoir_.size());
  main_.clear();
  if (haveData) main_.insert(main_.end(), reservoir_.end() - side_.main_data_begin, reservoir_.end());
  main_.insert(main_.end(), mainData, mainData + mainBytes);
  const size_t mainBits = main_.size() * 8;
  main_.resize(main_.size() + kMainPadding, 0);
  reservoir_.insert(reservoir_.end(), mainData, mainData + mainBytes);
  if (reservoir_.size() > kReservoirKeep) reservoir_.erase(reservoir_.begin(), reservoir_.end() - kReservoirKeep);

  bool ok = haveData;
  size_t pos = 0;
  float subbands[18][32];
  for (int gr = 0; gr < side_.granules; ++gr) {
    for (int ch = 0; ch < channels; ++ch) {
      const MpaGranuleChannel& g = side_.gr[gr][ch];
      size_t end = pos + g.part2_3_length;
      if (end > mainBits) {
        end = mainBits;
        ok = false;
      }
      if (!haveData || pos >= mainBits) {
        std::memset(xr_[ch], 0, sizeof xr_[ch]);
        nonzero_[ch] = 0;
        continue;
      }
      size_t at = pos;
      if (h.Lsf()) {
        ReadLsfScalefactors(ch, h, main_.data(), at);
      } else {
        ReadScalefactors(gr, ch, h, main_.data(), at);
      }
      const int nonzero = at <= end ? ReadSpectrum(g, h, main_.data(), at, end, ch) : 0;
      if (at > end) std::memset(is_, 0, sizeof is_);
      Requantize(gr, ch, h, nonzero);
      pos = end;
    }
    if (channels == 2 && h.mode == kMpaJointStereo && h.modeExtension != 0) Stereo(gr, h);
    for (int ch = 0; ch < channels; ++ch) {
      const MpaGranuleChannel& g = side_.gr[gr][ch];
      Reorder(ch, g, h);
      Antialias(ch, g);
      Imdct(ch, g, &subbands[0][0]);
      Synthesize(ch, &subbands[0][0], 18, static_cast<uint32_t>(576 * gr));
    }
  }
  return ok;
}

// MPEG-1 scalefactors (11172-3 2.4.2.7): slen1 for the lower bands, slen2 for the upper,
// with granule 1 reusing granule 0's groups that scfsi marks.
void CMP3_Decode::ReadScalefactors(int gr, int ch, const MpaHeader&, const uint8_t* data, size_t& pos) {
  const MpaGranuleChannel& g = side_.gr[gr][ch];
  Scalefactors& sf = sf_[gr][ch];
  const int slen1 = kMpaSlen[0][g.scalefac_compress & 15];
  const int slen2 = kMpaSlen[1][g.scalefac_compress & 15];
  std::memset(sf.l, 0, sizeof sf.l);
  std::memset(sf.s, 0, sizeof sf.s);
  std::memset(sf.illegalL, 7, sizeof sf.illegalL);
  std::memset(sf.illegalS, 7, sizeof sf.illegalS);
  if (g.window_switching_flag && g.block_type == 2) {
    int sfb = 0;
    if (g.mixed_block_flag) {
      for (; sfb < 8; ++sfb) sf.l[sfb] = static_cast<uint8_t>(GetBits(data, pos, slen1));
      sfb = 3;
    }
    for (; sfb < 12; ++sfb) {
      const int bits = sfb < 6 ? slen1 : slen2;
      for (int w = 0; w < 3; ++w) sf.s[sfb][w] = static_cast<uint8_t>(GetBits(data, pos, bits));
    }
    return;
  }
  static constexpr int kGroupEnd[4] = {6, 11, 16, 21};
  int sfb = 0;
  for (int group = 0; group < 4; ++group) {
    const int bits = group < 2 ? slen1 : slen2;
    const bool reuse = gr == 1 && side_.scfsi[ch][group] != 0;
    for (; sfb < kGroupEnd[group]; ++sfb) {
      sf.l[sfb] = reuse ? sf_[0][ch].l[sfb] : static_cast<uint8_t>(GetBits(data, pos, bits));
    }
  }
}

// MPEG-2 scalefactors (13818-3 2.4.3.2): four partitions of nr_of_sfb values with slen
// bits each, from scalefac_compress; the right channel of intensity stereo codes its
// intensity positions with its own partitioning.
void CMP3_Decode::ReadLsfScalefactors(int ch, const MpaHeader& h, const uint8_t* data, size_t& pos) {
  const MpaGranuleChannel& g = side_.gr[0][ch];
  Scalefactors& sf = sf_[0][ch];
  std::memset(&sf, 0, sizeof sf);
  int slen[4] = {};
  int table;
  const bool intensityRight = ch == 1 && h.mode == kMpaJointStereo && (h.modeExtension & 1);
  int sfc = g.scalefac_compress;
  if (!intensityRight) {
    if (sfc < 400) {
      slen[0] = (sfc >> 4) / 5, slen[1] = (sfc >> 4) % 5, slen[2] = (sfc & 15) >> 2, slen[3] = sfc & 3;
      table = 0;
    } else if (sfc < 500) {
      sfc -= 400;
      slen[0] = (sfc >> 2) / 5, slen[1] = (sfc >> 2) % 5, slen[2] = sfc & 3;
      table = 1;
    } else {
      sfc -= 500;
      slen[0] = sfc / 3, slen[1] = sfc % 3;
      table = 2;
    }
  } else {
    sfc >>= 1;
    if (sfc < 180) {
      slen[0] = sfc / 36, slen[1] = (sfc % 36) / 6, slen[2] = (sfc % 36) % 6;
      table = 3;
    } else if (sfc < 244) {
      sfc -= 180;
      slen[0] = (sfc & 63) >> 4, slen[1] = (sfc & 15) >> 2, slen[2] = sfc & 3;
      table = 4;
    } else {
      sfc -= 244;
      slen[0] = sfc / 3, slen[1] = sfc % 3;
      table = 5;
    }
  }
  const bool shortBlock = g.window_switching_flag && g.block_type == 2;
  const int kind = shortBlock ? (g.mixed_block_flag ? 2 : 1) : 0;
  // The values in transmission order, then spread over the bands.
  uint8_t values[40] = {};
  uint8_t illegal[40] = {};
  int n = 0;
  for (int part = 0; part < 4; ++part) {
    for (int i = 0; i < kMpaLsfSfbCount[table][kind][part] && n < 40; ++i, ++n) {
      values[n] = static_cast<uint8_t>(GetBits(data, pos, slen[part]));
      illegal[n] = static_cast<uint8_t>((1 << slen[part]) - 1);
    }
  }
  std::memset(sf.illegalL, 0xFF, sizeof sf.illegalL);
  std::memset(sf.illegalS, 0xFF, sizeof sf.illegalS);
  int k = 0;
  if (!shortBlock) {
    for (int sfb = 0; sfb < 21 && k < n; ++sfb, ++k) sf.l[sfb] = values[k], sf.illegalL[sfb] = illegal[k];
    return;
  }
  int sfb = 0;
  if (g.mixed_block_flag) {
    for (; sfb < 6 && k < n; ++sfb, ++k) sf.l[sfb] = values[k], sf.illegalL[sfb] = illegal[k];
    sfb = 3;
  }
  for (; sfb < 12 && k < n; ++sfb) {
    for (int w = 0; w < 3 && k < n; ++w, ++k) sf.s[sfb][w] = values[k];
    sf.illegalS[sfb] = illegal[k > 0 ? k - 1 : 0];
  }
}

int CMP3_Decode::ReadSpectrum(const MpaGranuleChannel& g, const MpaHeader& h, const uint8_t* data, size_t pos,
                              size_t end, int) {
  const HuffTables& huff = Huffman();
  const int si = h.samplingIndex;
  const int bigEnd = std::min<int>(g.big_values * 2, 576);
  int region1, region2;
  if (g.window_switching_flag) {
    region1 = g.block_type == 2 ? 36 : LongStart(si, 8);
    region2 = 576;
  } else {
    region1 = LongStart(si, std::min(g.region0_count + 1, 22));
    region2 = LongStart(si, std::min(g.region0_count + g.region1_count + 2, 22));
  }
  region1 = std::min(region1, bigEnd);
  region2 = std::min(std::max(region2, region1), bigEnd);
  const int limits[3] = {region1, region2, bigEnd};
  int i = 0;
  for (int r = 0; r < 3; ++r) {
    const int tableIndex = g.table_select[r];
    const MpaHuffmanTable& table = kMpaBigValueTables[tableIndex];
    const HuffLookup& lookup = huff.bigValues[tableIndex];
    if (table.codes == nullptr) {  // table 0 (or the unused 4 and 14): zeros
      for (; i < limits[r]; ++i) is_[i] = 0;
      continue;
    }
    const int linbits = table.linbits;
    for (; i < limits[r]; i += 2) {
      if (pos >= end) {
        is_[i] = is_[i + 1] = 0;
        continue;
      }
      const int v = DecodeCode(lookup, data, pos);
      if (v < 0) {
        pos = end;
        is_[i] = is_[i + 1] = 0;
        continue;
      }
      int x = v >> 4, y = v & 15;
      if (x == 15 && linbits) x += static_cast<int>(GetBits(data, pos, linbits));
      if (x && GetBits(data, pos, 1)) x = -x;
      if (y == 15 && linbits) y += static_cast<int>(GetBits(data, pos, linbits));
      if (y && GetBits(data, pos, 1)) y = -y;
      is_[i] = x;
      is_[i + 1] = y;
    }
  }
  i = bigEnd;
  // count1 region: quadruples v w x y until the granule's bits end.
  while (i + 4 <= 576 && pos < end) {
    const size_t before = pos;
    int value;
    if (g.count1table_select) {
      value = 15 - static_cast<int>(GetBits(data, pos, 4));
    } else {
      value = DecodeCode(huff.count1A, data, pos);
      if (value < 0) break;
      value &= 15;
    }
    int q[4] = {(value >> 3) & 1, (value >> 2) & 1, (value >> 1) & 1, value & 1};
    for (int& c : q) {
      if (c && GetBits(data, pos, 1)) c = -c;
    }
    if (pos > end) {  // the last code word overran part2_3_length: it is not part of the data
      pos = before;
      break;
    }
    is_[i] = q[0], is_[i + 1] = q[1], is_[i + 2] = q[2], is_[i + 3] = q[3];
    i += 4;
  }
  const int nonzero = i;
  for (; i < 576; ++i) is_[i] = 0;
  return nonzero;
}

// 11172-3 2.4.3.4.7.1: xr = sign(is) |is|^(4/3) 2^((global_gain - 210)/4) 2^-(shift × sf)
// with the per-window subblock gain for short blocks.
void CMP3_Decode::Requantize(int gr, int ch, const MpaHeader& h, int nonzero) {
  const MpaGranuleChannel& g = side_.gr[gr][ch];
  const Scalefactors& sf = sf_[gr][ch];
  const int si = h.samplingIndex;
  const int shift = g.scalefac_scale ? 4 : 2;
  const int gain = g.global_gain - 210;
  float* xr = xr_[ch];
  const float* pow43 = K().pow43;
  auto put = [&](int line, float factor) {
    const int v = is_[line];
    const int a = v < 0 ? -v : v;
    const float m = pow43[a < kPow43Size ? a : kPow43Size - 1] * factor;
    xr[line] = v < 0 ? -m : m;
  };
  nonzero_[ch] = nonzero;
  const bool shortBlock = g.window_switching_flag && g.block_type == 2;
  int line = 0;
  int longEnd = 22, shortFirst = 13;
  if (shortBlock) {
    if (g.mixed_block_flag) {
      MixedSplit(si, longEnd, shortFirst);
    } else {
      longEnd = 0, shortFirst = 0;
    }
  }
  for (int sfb = 0; sfb < longEnd && line < nonzero; ++sfb) {
    const int width = kMpaLongBandWidth[si][sfb];
    const int pre = g.preflag ? kMpaPretab[sfb] : 0;
    const float factor = Pow2Quarter(gain - shift * (sf.l[sfb] + pre));
    for (int j = 0; j < width; ++j, ++line) put(line, factor);
  }
  for (int sfb = shortFirst; sfb < 13 && line < nonzero; ++sfb) {
    const int width = kMpaShortBandWidth[si][sfb];
    for (int w = 0; w < 3; ++w) {
      const float factor = Pow2Quarter(gain - 8 * g.subblock_gain[w] - shift * sf.s[sfb][w]);
      for (int j = 0; j < width; ++j, ++line) put(line, factor);
    }
  }
  for (int i = std::min(line, 576); i < 576; ++i) xr[i] = 0.0f;
}

// MS and intensity stereo (11172-3 2.4.3.4.9, 13818-3 2.4.3.2 for the intensity positions
// of the lower sampling rates), on the lines in coded order.
void CMP3_Decode::Stereo(int gr, const MpaHeader& h) {
  const bool ms = (h.modeExtension & 2) != 0;
  const bool intensity = (h.modeExtension & 1) != 0;
  float* l = xr_[0];
  float* r = xr_[1];
  const float invSqrt2 = static_cast<float>(1.0 / std::numbers::sqrt2);
  auto midSide = [&](int from, int to) {
    for (int i = from; i < to; ++i) {
      const float m = l[i], s = r[i];
      l[i] = (m + s) * invSqrt2;
      r[i] = (m - s) * invSqrt2;
    }
  };
  const int lines = std::max(nonzero_[0], nonzero_[1]);
  if (!intensity) {
    if (ms) midSide(0, lines);
    nonzero_[0] = nonzero_[1] = lines;
    return;
  }
  const MpaGranuleChannel& g = side_.gr[gr][1];
  const Scalefactors& sf = sf_[gr][1];
  const int si = h.samplingIndex;
  const bool lsf = h.Lsf();
  const float io = static_cast<float>(lsf && (g.scalefac_compress & 1) ? 1.0 / std::numbers::sqrt2
                                                                       : std::pow(2.0, -0.25));
  // Applies intensity position `pos` to lines [from, to).
  auto apply = [&](int from, int to, int pos) {
    float kl, kr;
    if (!lsf) {
      if (pos == 6) {
        kl = 1.0f, kr = 0.0f;
      } else {
        const double ratio = std::tan(pos * std::numbers::pi / 12);
        kl = static_cast<float>(ratio / (1 + ratio));
        kr = static_cast<float>(1 / (1 + ratio));
      }
    } else if (pos == 0) {
      kl = kr = 1.0f;
    } else if (pos & 1) {
      kl = std::pow(io, static_cast<float>((pos + 1) / 2)), kr = 1.0f;
    } else {
      kl = 1.0f, kr = std::pow(io, static_cast<float>(pos / 2));
    }
    for (int i = from; i < to; ++i) {
      const float v = l[i];
      l[i] = v * kl;
      r[i] = v * kr;
    }
  };
  auto stereoBand = [&](int from, int to, int pos, int illegal) {
    if (pos == illegal || (!lsf && pos > 6)) {
      if (ms) midSide(from, to);
    } else {
      apply(from, to, pos);
    }
  };
  const bool shortBlock = g.window_switching_flag && g.block_type == 2;
  if (!shortBlock) {
    // Intensity coding starts at the band after the right channel's last non-zero line.
    int last = -1;
    for (int i = nonzero_[1] - 1; i >= 0; --i) {
      if (r[i] != 0.0f) {
        last = i;
        break;
      }
    }
    int sfb = 0, start = 0;
    while (sfb < 22 && start + kMpaLongBandWidth[si][sfb] <= last) start += kMpaLongBandWidth[si][sfb++];
    if (last >= 0) start += kMpaLongBandWidth[si][sfb++];
    if (ms) midSide(0, start);
    for (; sfb < 22; ++sfb) {
      const int width = kMpaLongBandWidth[si][sfb];
      const int band = sfb < 21 ? sfb : 20;  // band 21 takes band 20's position
      stereoBand(start, start + width, sf.l[band], sf.illegalL[band]);
      start += width;
    }
  } else {
    int longEnd = 0, shortFirst = 0;
    if (g.mixed_block_flag) MixedSplit(si, longEnd, shortFirst);
    const int shortBase = LongStart(si, longEnd);
    if (ms) midSide(0, shortBase);
    for (int w = 0; w < 3; ++w) {
      // The highest short band of this window with a non-zero right-channel line.
      int firstIntensity = shortFirst;
      int start = shortBase;
      for (int sfb = shortFirst; sfb < 13; ++sfb) {
        const int width = kMpaShortBandWidth[si][sfb];
        const int from = start + w * width;
        for (int i = from; i < from + width; ++i) {
          if (r[i] != 0.0f) {
            firstIntensity = sfb + 1;
            break;
          }
        }
        start += 3 * width;
      }
      start = shortBase;
      for (int sfb = shortFirst; sfb < 13; ++sfb) {
        const int width = kMpaShortBandWidth[si][sfb];
        const int from = start + w * width;
        if (sfb < firstIntensity) {
          if (ms) midSide(from, from + width);
        } else {
          const int band = sfb < 12 ? sfb : 11;
          stereoBand(from, from + width, sf.s[band][w], sf.illegalS[band]);
        }
        start += 3 * width;
      }
    }
  }
  nonzero_[0] = nonzero_[1] = 576;
}

// Short blocks arrive band by band, window by window; the IMDCT wants each sub-band's
// 18 lines as 6 frequencies × 3 windows interleaved (11172-3 2.4.3.4.8).
void CMP3_Decode::Reorder(int ch, const MpaGranuleChannel& g, const MpaHeader& h) {
  if (!(g.window_switching_flag && g.block_type == 2)) return;
  const int si = h.samplingIndex;
  int longEnd = 0, shortFirst = 0;
  if (g.mixed_block_flag) MixedSplit(si, longEnd, shortFirst);
  float* xr = xr_[ch];
  float tmp[576];
  int start = LongStart(si, longEnd);
  for (int sfb = shortFirst; sfb < 13; ++sfb) {
    const int width = kMpaShortBandWidth[si][sfb];
    for (int w = 0; w < 3; ++w) {
      for (int j = 0; j < width; ++j) tmp[3 * j + w] = xr[start + w * width + j];
    }
    std::memcpy(xr + start, tmp, sizeof(float) * 3 * static_cast<size_t>(width));
    start += 3 * width;
  }
  nonzero_[ch] = 576;
}

// Alias reduction butterflies between neighbouring sub-bands (11172-3 2.4.3.4.10); not
// for short blocks, and only between the two long sub-bands of a mixed block.
void CMP3_Decode::Antialias(int ch, const MpaGranuleChannel& g) {
  const bool shortBlock = g.window_switching_flag && g.block_type == 2;
  if (shortBlock && !g.mixed_block_flag) return;
  const int bounds = shortBlock ? 1 : std::min(31, (nonzero_[ch] + 17) / 18);
  float* xr = xr_[ch];
  const Constants& k = K();
  for (int sb = 1; sb <= bounds; ++sb) {
    float* up = xr + 18 * sb - 1;
    float* down = xr + 18 * sb;
    for (int i = 0; i < 8; ++i) {
      const float bu = up[-i], bd = down[i];
      up[-i] = bu * k.cs[i] - bd * k.ca[i];
      down[i] = bd * k.cs[i] + bu * k.ca[i];
    }
  }
  if (!shortBlock) nonzero_[ch] = std::min(576, 18 * (bounds + 1));
}

// IMDCT of each sub-band, windowed by block type, overlapped with the previous granule's
// second half; odd samples of odd sub-bands inverted (11172-3 2.4.3.4.10.2-3).
void CMP3_Decode::Imdct(int ch, const MpaGranuleChannel& g, float* out) {
  const Constants& k = K();
  const bool shortBlock = g.window_switching_flag && g.block_type == 2;
  const int blockType = g.window_switching_flag ? g.block_type : 0;
  const int active = std::min(32, (nonzero_[ch] + 17) / 18);
  for (int sb = 0; sb < 32; ++sb) {
    float* prev = overlap_[ch][sb];
    float z[36];
    if (sb >= active) {
      std::memset(z, 0, sizeof z);
    } else if (shortBlock && !(g.mixed_block_flag && sb < 2)) {
      const float* in = xr_[ch] + 18 * sb;
      std::memset(z, 0, sizeof z);
      for (int w = 0; w < 3; ++w) {
        for (int i = 0; i < 12; ++i) {
          float s = 0.0f;
          for (int f = 0; f < 6; ++f) s += in[3 * f + w] * k.imdctShort[i][f];
          z[6 + 6 * w + i] += s * k.window[2][i];
        }
      }
    } else {
      const float* in = xr_[ch] + 18 * sb;
      const float* win = k.window[g.mixed_block_flag && sb < 2 ? 0 : blockType];
      float y[18];
      for (int j = 0; j < 18; ++j) {
        float s = 0.0f;
        for (int f = 0; f < 18; ++f) s += in[f] * k.imdctLong[j][f];
        y[j] = s;
      }
      for (int i = 0; i < 9; ++i) {
        z[i] = y[i] * win[i];
        z[17 - i] = -y[i] * win[17 - i];
        z[18 + i] = y[9 + i] * win[18 + i];
        z[35 - i] = y[9 + i] * win[35 - i];
      }
    }
    for (int i = 0; i < 18; ++i) {
      float v = z[i] + prev[i];
      prev[i] = z[18 + i];
      if ((sb & 1) && (i & 1)) v = -v;
      out[32 * i + sb] = v;
    }
  }
}

}  // namespace fennik
