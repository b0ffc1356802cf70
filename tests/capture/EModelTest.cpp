// The E-model estimate against values worked by hand from ITU-T G.107's equations:
// Ie,eff = Ie + (95 - Ie) Ppl / (Ppl/BurstR + Bpl), R = 93.2 - Ie,eff,
// MOS = 1 + 0.035 R + R (R - 60)(100 - R) 7e-6.
#include <gtest/gtest.h>

#include "capture/EModel.h"

namespace fennik {
namespace {

TEST(EModel, WorkedExamples) {
  const CodecImpairment* g711 = FindCodecImpairment("pcmu");
  const CodecImpairment* g729 = FindCodecImpairment("G729");
  ASSERT_NE(g711, nullptr);
  ASSERT_NE(g729, nullptr);
  // No loss, G.711: R 93.2, MOS 1 + 3.262 + 93.2 * 33.2 * 6.8 * 7e-6 = 4.409286.
  QualityEstimate q = EstimateQuality(*g711, 0, 1);
  EXPECT_DOUBLE_EQ(q.r, 93.2);
  EXPECT_NEAR(q.mos, 4.409286, 1e-6);
  // 2 % random loss, G.711 (Bpl 25.1): Ie,eff = 190 / 27.1 = 7.011070, R = 86.188930,
  // MOS = 1 + 3.016613 + 86.18893 * 26.18893 * 13.81107 * 7e-6 = 4.234833.
  q = EstimateQuality(*g711, 2, 1);
  EXPECT_NEAR(q.ieEff, 7.011070, 1e-6);
  EXPECT_NEAR(q.r, 86.188930, 1e-6);
  EXPECT_NEAR(q.mos, 4.234833, 1e-6);
  // 5 % loss with BurstR 2, G.729A (Ie 11, Bpl 19): Ie,eff = 11 + 84 * 5 / 21.5 = 30.534884,
  // R = 62.665116, MOS = 1 + 2.193279 + 62.665116 * 2.665116 * 37.334884 * 7e-6 = 3.236926.
  q = EstimateQuality(*g729, 5, 2);
  EXPECT_NEAR(q.ieEff, 30.534884, 1e-6);
  EXPECT_NEAR(q.mos, 3.236926, 1e-6);
  // 40 % random loss, G.711: Ie,eff = 3800 / 65.1 = 58.371736, R = 34.828264, MOS 1.819042.
  q = EstimateQuality(*g711, 40, 1);
  EXPECT_NEAR(q.r, 34.828264, 1e-6);
  EXPECT_NEAR(q.mos, 1.819042, 1e-6);
}

TEST(EModel, LimitsAndUnknownCodecs) {
  EXPECT_DOUBLE_EQ(MosFromR(-5), 1.0);
  EXPECT_DOUBLE_EQ(MosFromR(120), 4.5);
  EXPECT_EQ(FindCodecImpairment("G722"), nullptr);
  EXPECT_EQ(FindCodecImpairment(""), nullptr);
  // A negative loss (duplicates outnumbering losses) counts as none.
  EXPECT_DOUBLE_EQ(EstimateQuality(*FindCodecImpairment("PCMA"), -1, 1).r, 93.2);
}

}  // namespace
}  // namespace fennik
