#include "base/BitReader.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace fennik
