#include "base/BitReader.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace fennik {
namespace {

TEST(BitReader, ReadsMsbFirstAcrossBytes) {
  const uint8_t bytes[] = {0b1010'1100, 0b0101'0011};
  BitReader r(bytes, sizeof bytes);
  EXPECT_EQ(r.Read(3), 0b101u);
  EXPECT_EQ(r.Read(7), 0b0110'001u);
  EXPECT_EQ(r.Read(6), 0b01'0011u);
  EXPECT_TRUE(r.Ok());
  EXPECT_EQ(r.BitsLeft(), 0u);
}

TEST(BitReader, PastTheEndReadsZerosAndSetsTheStickyFlag) {
  const uint8_t bytes[] = {0xFF};
  BitReader r(bytes, sizeof bytes);
  EXPECT_EQ(r.Read(12), 0xFF0u);
  EXPECT_FALSE(r.Ok());
  EXPECT_EQ(r.Read(4), 0u);
  EXPECT_FALSE(r.Ok());
}

TEST(BitReader, ExpGolombCodes) {
  // ue: 1 -> 0, 010 -> 1, 011 -> 2, 00100 -> 3; se: 010 -> +1, 011 -> -1, 00101 -> -2.
  const uint8_t bytes[] = {0b1010'0110, 0b0100'0100, 0b1100'1010};
  BitReader r(bytes, sizeof bytes);
  EXPECT_EQ(r.ReadUe(), 0u);
  EXPECT_EQ(r.ReadUe(), 1u);
  EXPECT_EQ(r.ReadUe(), 2u);
  EXPECT_EQ(r.ReadUe(), 3u);
  EXPECT_EQ(r.ReadSe(), 1);
  EXPECT_EQ(r.ReadSe(), -1);
  EXPECT_EQ(r.ReadSe(), -2);
  EXPECT_TRUE(r.Ok());
}

TEST(BitReader, AllZeroExpGolombIsAnErrorNotAHang) {
  const uint8_t bytes[8] = {};
  BitReader r(bytes, sizeof bytes);
  EXPECT_EQ(r.ReadUe(), 0u);
  EXPECT_FALSE(r.Ok());
}

// The 64-bit window path against bit-by-bit reads of the same bytes, through the end of the
// data: random field widths and Exp-Golomb codes give the same values, positions and errors.
TEST(BitReader, WindowedReadsMatchSingleBits) {
  std::mt19937 rng(5);
  for (int round = 0; round < 200; ++round) {
    std::vector<uint8_t> bytes(1 + rng() % 40);
    for (auto& b : bytes) b = static_cast<uint8_t>(rng() % 4 == 0 ? 0 : rng());
    BitReader fast(bytes.data(), bytes.size()), slow(bytes.data(), bytes.size());
    bool code_too_long = false;  // an error the bit-by-bit reader does not flag itself
    while (fast.Ok()) {
      if (rng() % 3 == 0) {
        // ue(v) bit by bit: leading zeros (more than 31 or running out is an error, 0), then
        // as many bits of suffix.
        uint32_t expected = 0;
        int zeros = 0;
        bool failed = false;
        while (slow.ReadBit() == 0) {
          if (++zeros > 31 || !slow.Ok()) {
            failed = true;
            code_too_long = zeros > 31;
            break;
          }
        }
        if (!failed && zeros > 0) {
          uint64_t suffix = 0;
          for (int i = 0; i < zeros; ++i) suffix = (suffix << 1) | slow.ReadBit();
          expected = static_cast<uint32_t>((uint64_t{1} << zeros) - 1 + suffix);
        }
        ASSERT_EQ(fast.ReadUe(), expected);
      } else {
        const int n = static_cast<int>(rng() % 33);
        uint32_t expected = 0;
        for (int i = 0; i < n; ++i) expected = (expected << 1) | slow.ReadBit();
        ASSERT_EQ(fast.Read(n), expected) << "width " << n;
      }
      ASSERT_EQ(fast.BitPosition(), slow.BitPosition());
      ASSERT_EQ(fast.Ok(), slow.Ok() && !code_too_long);
    }
  }
}

}  // namespace
}  // namespace fennik
