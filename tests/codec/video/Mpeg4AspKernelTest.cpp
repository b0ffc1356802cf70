// The Advanced Simple kernels of the MPEG-4 Visual decoder against values worked by hand from
// ISO/IEC 14496-2: the quarter-sample filter's mirrored window and rounding control, the GMC
// warp's reference-point scaling, and the reversible VLC table's reversibility.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "codec/video/M4VGmc.h"
#include "codec/video/M4VQpel.h"
#include "codec/video/M4VVlc.h"

namespace fennik {
namespace {

TEST(Mpeg4AspKernel, QuarterSampleFilterMirrorsItsWindowAndHonoursRounding) {
  // Columns 0..15 are 0, columns 16.. are 255: the half sample between columns 15 and 16 of a
  // 16-wide block sees its window's last sample (16) mirrored instead of columns 17..19:
  // 20*(0+255) - 6*(0+255) + 3*(0+0) - (0+0) = 3570 -> (3570 + 16) >> 5 = 112 (128 without the
  // mirror). With rounding control 1 the filter adds 15: (3570 + 15) >> 5 = 112 too, but the
  // quarter position (1, 0) of column 15 averages 0 and 112 to 56 either way.
  std::vector<uint8_t> plane(40 * 20, 0);
  for (int y = 0; y < 20; ++y)
    for (int x = 16; x < 40; ++x) plane[y * 40 + x] = 255;
  const H263Plane ref{plane.data(), 40, 40, 20};
  uint8_t out[16 * 16];
  M4vQpelPredict(ref, 0, 0, 2, 0, 16, 0, out, 16);
  EXPECT_EQ(out[15], 112);
  EXPECT_EQ(out[14], 0);  // -6*255 + 3*255 < 0, clipped
  M4vQpelPredict(ref, 0, 0, 3, 0, 16, 0, out, 16);
  EXPECT_EQ(out[15], (255 + 112 + 1) >> 1);  // (3,0): average with the next full sample
  // The rounding control: alternating samples 1, 2 give 48/32 at an inner half position, 2 with
  // rounding 0 and 1 with rounding 1.
  std::vector<uint8_t> pair(20 * 20);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 20; ++x) pair[y * 20 + x] = static_cast<uint8_t>(1 + (x & 1));
  const H263Plane alt{pair.data(), 20, 20, 20};
  M4vQpelPredict(alt, 4, 4, 2, 0, 8, 0, out, 8);
  EXPECT_EQ(out[3], 2);
  M4vQpelPredict(alt, 4, 4, 2, 0, 8, 1, out, 8);
  EXPECT_EQ(out[3], 1);
  // A flat picture stays flat at every quarter position, both block sizes, both roundings, and
  // far outside the picture (unrestricted vectors).
  std::vector<uint8_t> flat(48 * 48, 77);
  const H263Plane flatRef{flat.data(), 48, 48, 48};
  for (int n : {8, 16})
    for (int rounding = 0; rounding < 2; ++rounding)
      for (int mv = 0; mv < 16; ++mv) {
        M4vQpelPredict(flatRef, 16, 16, (mv & 3) - 400, (mv >> 2) + 300, n, rounding, out, 16);
        for (int i = 0; i < n; ++i) ASSERT_EQ(out[i * 16 + n - 1], 77) << n << " " << rounding << " " << mv;
      }
  // Chrominance vectors: quarter-sample luminance vectors are halved toward zero first.
  EXPECT_EQ(M4vQpelChroma1MV(-3), -1);  // -3/2 = -1 -> -1
  EXPECT_EQ(M4vQpelChroma1MV(6), 1);    // 3 -> 1 | 1
  EXPECT_EQ(M4vChroma4MV(-3), -1);      // Table 7-9: -3/16 rounds to -1/2 sample
  EXPECT_EQ(M4vChroma4MV(14), 2);
}

TEST(Mpeg4AspKernel, GmcWarpScalesTrajectoriesAndReducesTranslations) {
  // 64 x 48 picture, a diagonal ramp; sprite_warping_accuracy 3 (1/16 sample).
  const int w = 64, h = 48;
  std::vector<uint8_t> picture(w * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) picture[y * w + x] = static_cast<uint8_t>(x * 2 + y);
  const H263Plane ref{picture.data(), w, w, h};
  uint8_t out[16 * 16];
  // One warping point (du, dv) = (32, -16): i0' = s/2 * du = 256/16 = 16 samples right, 8 up.
  const int32_t one[4][2] = {{32, -16}};
  M4vGmcParams p;
  ASSERT_TRUE(M4vGmcSetup(w, h, 3, 1, one, p));
  M4vGmcPredict(ref, p, false, 1, 1, 0, out, 16);
  EXPECT_EQ(out[0], picture[(16 - 8) * w + 16 + 16]);
  EXPECT_EQ(M4vGmcAverageVector(p, 0, 1, 1, false, 2), 32);  // 16 samples in half samples
  EXPECT_EQ(M4vGmcAverageVector(p, 0, 1, 1, false, 1), 31);  // limited to the f_code range
  EXPECT_EQ(M4vGmcAverageVector(p, 1, 1, 1, true, 2), -32);  // -8 in quarter samples
  // Three warping points whose corners move together are the same translation.
  const int32_t three[4][2] = {{32, -16}, {0, 0}, {0, 0}};
  M4vGmcParams q;
  ASSERT_TRUE(M4vGmcSetup(w, h, 3, 3, three, q));
  EXPECT_EQ(q.points, 1);
  uint8_t out3[16 * 16];
  M4vGmcPredict(ref, q, false, 1, 1, 0, out3, 16);
  EXPECT_EQ(std::memcmp(out, out3, sizeof(out)), 0);
}

TEST(Mpeg4AspKernel, ReversibleVlcTableReadsBothWays) {
  // Reversible codes must be prefix-free and suffix-free; every (LAST, RUN, LEVEL) appears once.
  const std::pair<const M4vRvlcCode*, size_t> tables[] = {{kM4vRvlcIntra, kM4vRvlcIntraCount},
                                                          {kM4vRvlcInter, kM4vRvlcInterCount}};
  for (auto [codes, count] : tables) {
    ASSERT_EQ(count, 169u);
    std::vector<std::string> all{"0000"};
    for (size_t i = 0; i < count; ++i) all.emplace_back(codes[i].bits);
    for (const std::string& a : all)
      for (const std::string& b : all) {
        if (&a == &b) continue;
        ASSERT_FALSE(b.compare(0, a.size(), a) == 0) << a << " prefixes " << b;
        ASSERT_FALSE(b.size() >= a.size() && b.compare(b.size() - a.size(), a.size(), a) == 0) << a << " ends " << b;
      }
    for (size_t i = 0; i < count; ++i)
      for (size_t j = i + 1; j < count; ++j)
        ASSERT_FALSE(codes[i].last == codes[j].last && codes[i].run == codes[j].run && codes[i].level == codes[j].level);
  }
  // "011" skipped, then "111": intra RVLC LAST=0 RUN=0 LEVEL=2 (Table B-23).
  const uint8_t bits[] = {0x7C, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  BitReader br(bits, sizeof(bits));
  br.Skip(3);
  int value = 0;
  ASSERT_TRUE(M4vVlc().rvlcIntra.Read(br, value));
  EXPECT_EQ(value, 2);
  EXPECT_EQ(br.BitPosition(), 6u);
}

}  // namespace
}  // namespace fennik
