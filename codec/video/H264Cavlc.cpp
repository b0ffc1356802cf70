#include "codec/video/H264Cavlc.h"

#include <vector>

#include "codec/video/h264_cavlc_tables.h"

namespace fennik {
namespace {

// A look-up table over `bits` bits: entry = value << 5 | code length (0: invalid code).
struct VlcLut {
  int bits = 0;
  std::vector<uint16_t> entries;
  void Add(const CavlcCode& c, int value) {
    if (c.length == 0) return;
    const int shift = bits - c.length;
    const uint32_t first = uint32_t{c.code} << shift;
    for (uint32_t i = 0; i < (1u << shift); ++i) entries[first + i] = static_cast<uint16_t>((value << 5) | c.length);
  }
  explicit VlcLut(int b) : bits(b), entries(size_t{1} << b, 0) {}
};

struct CavlcLuts {
  std::vector<VlcLut> coeff_token;      // 3 variable-length classes
  VlcLut chroma_dc_token{8};
  VlcLut chroma422_dc_token{13};
  std::vector<VlcLut> total_zeros;      // 15
  std::vector<VlcLut> chroma_dc_zeros;  // 3
  std::vector<VlcLut> chroma422_dc_zeros;  // 7
  std::vector<VlcLut> run_before;       // 7
  CavlcLuts() {
    for (int t = 0; t < 3; ++t) {
      coeff_token.emplace_back(16);
      for (int tc = 0; tc <= 16; ++tc)
        for (int t1 = 0; t1 < 4; ++t1) coeff_token[t].Add(kCoeffTokenCodes[t][tc][t1], tc * 4 + t1);
    }
    for (int tc = 0; tc <= 4; ++tc)
      for (int t1 = 0; t1 < 4; ++t1) chroma_dc_token.Add(kChromaDcCoeffTokenCodes[tc][t1], tc * 4 + t1);
    for (int tc = 0; tc <= 8; ++tc)
      for (int t1 = 0; t1 < 4; ++t1) chroma422_dc_token.Add(kChroma422DcCoeffTokenCodes[tc][t1], tc * 4 + t1);
    for (int i = 0; i < 7; ++i) {
      chroma422_dc_zeros.emplace_back(5);
      for (int z = 0; z < 8 - i; ++z) chroma422_dc_zeros[i].Add(kChroma422DcTotalZerosCodes[i][z], z);
    }
    for (int i = 0; i < 15; ++i) {
      total_zeros.emplace_back(9);
      for (int z = 0; z < 16 - i; ++z) total_zeros[i].Add(kTotalZerosCodes[i][z], z);
    }
    for (int i = 0; i < 3; ++i) {
      chroma_dc_zeros.emplace_back(3);
      for (int z = 0; z < 4 - i; ++z) chroma_dc_zeros[i].Add(kChromaDcTotalZerosCodes[i][z], z);
    }
    for (int i = 0; i < 7; ++i) {
      run_before.emplace_back(11);
      const int n = i < 6 ? i + 2 : 15;
      for (int r = 0; r < n; ++r) run_before[i].Add(kRunBeforeCodes[i][r], r);
    }
  }
};

const CavlcLuts& Luts() {
  static const CavlcLuts luts;
  return luts;
}

bool Lookup(BitReader& br, const VlcLut& lut, int& value) {
  const uint16_t e = lut.entries[br.Peek(lut.bits)];
  if ((e & 31) == 0) return false;
  br.Skip(e & 31);
  value = e >> 5;
  return br.Ok();
}

}  // namespace

bool ReadCoeffToken(BitReader& br, int nc, int& total_coeff, int& trailing_ones) {
  int v = 0;
  if (nc == -1) {
    if (!Lookup(br, Luts().chroma_dc_token, v)) return false;
  } else if (nc == -2) {
    if (!Lookup(br, Luts().chroma422_dc_token, v)) return false;
  } else if (nc >= 8) {
    // Fixed 6-bit codes: xxxxyy gives TotalCoeff - 1 and TrailingOnes; 000011 is 0, 0.
    const uint32_t code = br.Read(6);
    if (!br.Ok()) return false;
    if (code == 3) {
      v = 0;
    } else {
      const int tc = static_cast<int>(code >> 2) + 1, t1 = static_cast<int>(code & 3);
      if (t1 > tc) return false;
      v = tc * 4 + t1;
    }
  } else {
    const int cls = nc < 2 ? 0 : (nc < 4 ? 1 : 2);
    if (!Lookup(br, Luts().coeff_token[cls], v)) return false;
  }
  total_coeff = v >> 2;
  trailing_ones = v & 3;
  return true;
}

bool ReadTotalZeros(BitReader& br, int total_coeff, int chroma_dc_coeffs, int& total_zeros) {
  if (chroma_dc_coeffs == 4) {
    if (total_coeff < 1 || total_coeff > 3) return false;
    return Lookup(br, Luts().chroma_dc_zeros[total_coeff - 1], total_zeros);
  }
  if (chroma_dc_coeffs == 8) {
    if (total_coeff < 1 || total_coeff > 7) return false;
    return Lookup(br, Luts().chroma422_dc_zeros[total_coeff - 1], total_zeros);
  }
  if (total_coeff < 1 || total_coeff > 15) return false;
  return Lookup(br, Luts().total_zeros[total_coeff - 1], total_zeros);
}

bool ReadRunBefore(BitReader& br, int zeros_left, int& run_before) {
  if (zeros_left < 1) return false;
  return Lookup(br, Luts().run_before[(zeros_left > 7 ? 7 : zeros_left) - 1], run_before);
}

}  // namespace fennik
