// Entropy decoding: the CAVLC code tables and readers, and the CABAC engine checked by a
// round trip through an encoder written from H.264 9.3.4.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "codec/video/H264Cabac.h"
#include "codec/video/H264Cavlc.h"
#include "codec/video/h264_cavlc_tables.h"
#include "tests/codec/video/H264TestUtil.h"

namespace fennik {
namespace {

// No code of a table is a prefix of another (or equal to it).
void ExpectPrefixFree(const std::vector<CavlcCode>& codes, const char* name) {
  for (size_t i = 0; i < codes.size(); ++i)
    for (size_t j = 0; j < codes.size(); ++j) {
      if (i == j) continue;
      const CavlcCode& a = codes[i];
      const CavlcCode& b = codes[j];
      if (a.length > b.length) continue;
      EXPECT_NE(a.code, b.code >> (b.length - a.length)) << name << ": code " << i << " prefixes code " << j;
    }
}

TEST(H264EntropyTest, CavlcTablesArePrefixFree) {
  for (int t = 0; t < 3; ++t) {
    std::vector<CavlcCode> codes;
    for (int tc = 0; tc <= 16; ++tc)
      for (int t1 = 0; t1 < 4; ++t1)
        if (kCoeffTokenCodes[t][tc][t1].length) codes.push_back(kCoeffTokenCodes[t][tc][t1]);
    EXPECT_EQ(codes.size(), 62u);
    ExpectPrefixFree(codes, "coeff_token");
  }
  std::vector<CavlcCode> dc;
  for (auto& row : kChromaDcCoeffTokenCodes)
    for (auto& c : row)
      if (c.length) dc.push_back(c);
  EXPECT_EQ(dc.size(), 14u);
  ExpectPrefixFree(dc, "chroma DC coeff_token");
  for (int i = 0; i < 15; ++i) {
    std::vector<CavlcCode> tz(kTotalZerosCodes[i], kTotalZerosCodes[i] + 16 - i);
    ExpectPrefixFree(tz, "total_zeros");
  }
  for (int i = 0; i < 7; ++i) {
    std::vector<CavlcCode> rb(kRunBeforeCodes[i], kRunBeforeCodes[i] + (i < 6 ? i + 2 : 15));
    ExpectPrefixFree(rb, "run_before");
  }
}

TEST(H264EntropyTest, CoeffTokenReadsKnownCodes) {
  // Table 9-5: "1" is 0/0 and "000101" is TotalCoeff 1, TrailingOnes 0 for 0 <= nC < 2;
  // "0000 11" is 0/0 in the fixed-length column (8 <= nC).
  test::BitWriter w;
  w.Put(1, 1);
  w.Put(0b000101, 6);
  w.Put(0b000011, 6);
  w.Put(0b000100, 6);  // 8 <= nC: TotalCoeff 2, TrailingOnes 0
  BitReader br(w.Bytes().data(), w.Bytes().size());
  int tc, t1;
  ASSERT_TRUE(ReadCoeffToken(br, 0, tc, t1));
  EXPECT_EQ(tc, 0);
  ASSERT_TRUE(ReadCoeffToken(br, 1, tc, t1));
  EXPECT_EQ(tc, 1);
  EXPECT_EQ(t1, 0);
  ASSERT_TRUE(ReadCoeffToken(br, 9, tc, t1));
  EXPECT_EQ(tc, 0);
  ASSERT_TRUE(ReadCoeffToken(br, 8, tc, t1));
  EXPECT_EQ(tc, 2);
  EXPECT_EQ(t1, 0);
  // An all-zero 16-bit pattern is no code of the first table.
  const uint8_t zeros[3] = {0, 0, 0};
  BitReader bz(zeros, sizeof(zeros));
  EXPECT_FALSE(ReadCoeffToken(bz, 0, tc, t1));
}

// CABAC encoder of H.264 9.3.4.2 to 9.3.4.5, for the round trip.
class CabacEncoder {
 public:
  explicit CabacEncoder(const std::vector<uint8_t>& states) : state_(states) {}
  void Decision(int ctx, int bin) {
    uint8_t& s = state_[ctx];
    const int p = s >> 1;
    int mps = s & 1;
    const uint32_t lps = kCabacRangeTabLps[p][(range_ >> 6) & 3];
    range_ -= lps;
    if (bin != mps) {
      low_ += range_;
      range_ = lps;
      if (p == 0) mps = 1 - mps;
      s = static_cast<uint8_t>((kCabacTransIdxLps[p] << 1) | mps);
    } else {
      s = static_cast<uint8_t>((kCabacTransIdxMps[p] << 1) | mps);
    }
    Renorm();
  }
  void Bypass(int bin) {
    low_ <<= 1;
    if (bin) low_ += range_;
    if (low_ >= 1024) {
      PutBit(1);
      low_ -= 1024;
    } else if (low_ < 512) {
      PutBit(0);
    } else {
      low_ -= 512;
      ++outstanding_;
    }
  }
  void TerminateAndFlush() {
    range_ -= 2;
    low_ += range_;
    range_ = 2;
    Renorm();
    PutBit((low_ >> 9) & 1);
    w_.Put(((low_ >> 7) & 3) | 1, 2);
  }
  std::vector<uint8_t> Bytes() {
    w_.AlignWithZeros();
    return w_.Bytes();
  }

 private:
  void Renorm() {
    while (range_ < 256) {
      if (low_ < 256) {
        PutBit(0);
      } else if (low_ >= 512) {
        low_ -= 512;
        PutBit(1);
      } else {
        low_ -= 256;
        ++outstanding_;
      }
      range_ <<= 1;
      low_ <<= 1;
    }
  }
  void PutBit(int b) {
    if (first_) {
      first_ = false;
    } else {
      w_.PutBit(b);
    }
    for (; outstanding_ > 0; --outstanding_) w_.PutBit(1 - b);
  }
  std::vector<uint8_t> state_;
  uint32_t low_ = 0, range_ = 510;
  int outstanding_ = 0;
  bool first_ = true;
  test::BitWriter w_;
};

TEST(H264EntropyTest, CabacEngineRoundTrip) {
  // Context states as InitContexts derives them for a P slice, cabac_init_idc 1, QP 28.
  std::vector<uint8_t> states(kCabacLumaContextCount);
  for (int i = 0; i < kCabacLumaContextCount; ++i) {
    const int pre = std::clamp(((kCabacInitPB[1][i][0] * 28) >> 4) + kCabacInitPB[1][i][1], 1, 126);
    states[i] = pre <= 63 ? static_cast<uint8_t>((63 - pre) << 1) : static_cast<uint8_t>(((pre - 64) << 1) | 1);
  }
  std::mt19937 rng(7);
  struct Bin {
    int kind;  // 0 decision, 1 bypass
    int ctx;
    int value;
  };
  std::vector<Bin> bins;
  for (int i = 0; i < 5000; ++i) {
    const int ctx = static_cast<int>(rng() % 40) + 60;
    // Skewed bins so that states move toward both ends.
    const int value = (rng() % 100) < (ctx % 2 ? 85u : 20u) ? 1 : 0;
    bins.push_back({static_cast<int>(rng() % 5 == 0), ctx, value});
  }
  CabacEncoder enc(states);
  for (const Bin& b : bins) {
    if (b.kind) enc.Bypass(b.value);
    else enc.Decision(b.ctx, b.value);
  }
  enc.TerminateAndFlush();
  const std::vector<uint8_t> bytes = enc.Bytes();

  CabacEngine dec;
  dec.InitContexts(false, 1, 28);
  BitReader br(bytes.data(), bytes.size());
  dec.InitEngine(&br);
  for (size_t i = 0; i < bins.size(); ++i) {
    const int got = bins[i].kind ? dec.DecodeBypass() : dec.DecodeDecision(bins[i].ctx);
    ASSERT_EQ(got, bins[i].value) << "bin " << i;
  }
  EXPECT_EQ(dec.DecodeTerminate(), 1);
  EXPECT_FALSE(dec.Overrun());
}

}  // namespace
}  // namespace fennik
