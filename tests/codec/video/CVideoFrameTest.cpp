// CVideoFrame: plane layout, clearing, copying with reallocation and RGB conversion.
#include <gtest/gtest.h>

#include <vector>

#include "codec/video/CVideoFrame.h"

namespace fennik {
namespace {

TEST(CVideoFrameTest, Yuv420LayoutFor176x144) {
  CVideoFrame f;
  ASSERT_TRUE(f.Allocate(176, 144, kPictureYuv420));
  EXPECT_EQ(f.PaddedWidth(), 176u);
  EXPECT_EQ(f.PaddedHeight(), 144u);
  EXPECT_EQ(f.LumaPlaneSize(), (144u + 32u) * 176u);
  EXPECT_EQ(f.ChromaPlaneSize(), f.LumaPlaneSize() / 4);
  EXPECT_EQ(f.ChromaStride(), 88);
  // Planes are 16-byte aligned and do not overlap.
  EXPECT_EQ(reinterpret_cast<uintptr_t>(f.Y()) % 16, 0u);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(f.Cb()) % 16, 0u);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(f.Cr()) % 16, 0u);
  EXPECT_GE(f.Cb(), f.Y() + f.LumaPlaneSize());
  EXPECT_GE(f.Cr(), f.Cb() + f.ChromaPlaneSize());
}

TEST(CVideoFrameTest, PaddingRoundsUpToMacroblocksAndOtherFormats) {
  CVideoFrame f;
  ASSERT_TRUE(f.Allocate(200, 120, kPictureYuv422));
  EXPECT_EQ(f.PaddedWidth(), 208u);
  EXPECT_EQ(f.PaddedHeight(), 128u);
  EXPECT_EQ(f.ChromaPlaneSize(), f.LumaPlaneSize() / 2);
  ASSERT_TRUE(f.Allocate(200, 120, kPictureYuv444));
  EXPECT_EQ(f.ChromaPlaneSize(), f.LumaPlaneSize());
  ASSERT_TRUE(f.Allocate(200, 120, kPictureYuv411));
  EXPECT_EQ(f.ChromaStride(), 52);
  ASSERT_TRUE(f.Allocate(201, 99, kPictureRgb32));
  EXPECT_EQ(f.PaddedWidth(), 201u);
  EXPECT_EQ(f.LumaPlaneSize(), 201u * 99u);
}

TEST(CVideoFrameTest, RejectsEmptyAndAbsurdSizes) {
  CVideoFrame f;
  EXPECT_FALSE(f.Allocate(0, 144, kPictureYuv420));
  EXPECT_FALSE(f.Allocate(176, 0, kPictureYuv420));
  EXPECT_FALSE(f.Allocate(1u << 20, 16, kPictureYuv420));
  EXPECT_FALSE(f.Allocate(176, 144, 9));
  EXPECT_FALSE(f.IsAllocated());
}

TEST(CVideoFrameTest, ClearGivesBlackAndEmptyIndex) {
  CVideoFrame f;
  ASSERT_TRUE(f.Allocate(32, 32, kPictureYuv420));
  f.picture_index = 5;
  f.Y()[100] = 200;
  f.Clear();
  EXPECT_EQ(f.picture_index, -1);
  EXPECT_EQ(f.Y()[100], 16);
  EXPECT_EQ(f.Cb()[7], 128);
  EXPECT_EQ(f.Cr()[f.ChromaPlaneSize() - 1], 128);
  // Allocating again reuses the memory of the same size: it comes back black too.
  f.Cb()[7] = 3;
  ASSERT_TRUE(f.Allocate(32, 32, kPictureYuv420));
  EXPECT_EQ(f.Cb()[7], 128);
}

TEST(CVideoFrameTest, CopyReallocatesOnSizeOrFormatChange) {
  CVideoFrame src, dst;
  ASSERT_TRUE(src.Allocate(48, 32, kPictureYuv420));
  ASSERT_TRUE(dst.Allocate(16, 16, kPictureYuv444));
  src.Y()[47] = 77;
  src.Cr()[3] = 99;
  src.picture_index = 3;
  src.frame_number = 12;
  src.value64 = 1234;
  ASSERT_TRUE(dst.CopyFrom(src));
  EXPECT_EQ(dst.Width(), 48u);
  EXPECT_EQ(dst.Format(), static_cast<uint32_t>(kPictureYuv420));
  EXPECT_EQ(dst.Y()[47], 77);
  EXPECT_EQ(dst.Cr()[3], 99);
  EXPECT_EQ(dst.picture_index, 3);
  EXPECT_EQ(dst.frame_number, 12u);
  EXPECT_EQ(dst.value64, 1234u);
  // Swapping exchanges the layouts with the samples.
  CVideoFrame other;
  ASSERT_TRUE(other.Allocate(16, 16, kPictureYuv444));
  dst.Swap(other);
  EXPECT_EQ(dst.ChromaStride(), 16);
  EXPECT_EQ(other.ChromaStride(), 24);
  EXPECT_EQ(other.Cr()[3], 99);
}

TEST(CVideoFrameTest, ColourTablesUseTwentyFractionBits) {
  const YuvColourTables& t = GetYuvColourTables();
  EXPECT_EQ(t.y[0], 0);    // clamped to 16
  EXPECT_EQ(t.y[16], 0);
  EXPECT_EQ(t.y[235], static_cast<int32_t>(219 * 1.164 * 1048576.0));
  EXPECT_EQ(t.y[255], t.y[235]);
  EXPECT_EQ(t.cr_r[128], 0);
  EXPECT_EQ(t.cb_b[240], static_cast<int32_t>(112 * 2.017 * 1048576.0));
  EXPECT_EQ(t.cr_g[16], static_cast<int32_t>(-112 * -0.813 * 1048576.0));
  EXPECT_LT(t.cb_g[240], 0);
}

TEST(CVideoFrameTest, ConvertsYuvToBgrPixels) {
  CVideoFrame f;
  ASSERT_TRUE(f.Allocate(16, 2, kPictureYuv420));
  std::vector<uint32_t> rgb(32);
  f.ConvertToRgb(rgb.data(), 0);
  EXPECT_EQ(rgb[0], 0u);  // black
  // White: Y 235, neutral chroma.
  for (int i = 0; i < 16 * 2; ++i) f.Y()[(i / 16) * f.LumaStride() + i % 16] = 235;
  f.ConvertToRgb(rgb.data(), 0);
  EXPECT_EQ(rgb[5], 0x00FEFEFEu);  // 219 * 1.164 = 254.9, truncated
  // Pure blue-ish chroma raises B only.
  f.Cb()[0] = 240;
  f.ConvertToRgb(rgb.data(), 0);
  EXPECT_EQ(rgb[0] & 0xFF, 255u);
  EXPECT_EQ((rgb[0] >> 16) & 0xFF, 0xFEu);
}

TEST(CVideoFrameTest, FieldDisplayModesRepeatOrAverageRows) {
  CVideoFrame f;
  ASSERT_TRUE(f.Allocate(16, 3, kPictureYuv420));
  for (int x = 0; x < 16; ++x) {
    f.Y()[x] = 235;                          // row 0 white
    f.Y()[f.LumaStride() + x] = 16;          // row 1 black
    f.Y()[2 * f.LumaStride() + x] = 16;      // row 2 black
  }
  std::vector<uint32_t> rgb(16 * 3);
  f.ConvertToRgb(rgb.data(), 1);  // top field: rows 0 and 2, row 1 averaged
  EXPECT_EQ(rgb[16], 0x007F7F7Fu);
  f.ConvertToRgb(rgb.data(), 2);  // bottom field: row 1, rows 0 and 2 repeat it
  EXPECT_EQ(rgb[0], 0u);
  EXPECT_EQ(rgb[32], 0u);

  CVideoFrame two;
  ASSERT_TRUE(two.Allocate(16, 2, kPictureYuv420));
  for (int x = 0; x < 16; ++x) two.Y()[x] = 235;
  std::vector<uint32_t> out(32);
  two.ConvertToRgb(out.data(), 1);  // the last row repeats the one above it
  EXPECT_EQ(out[16], out[0]);
}

}  // namespace
}  // namespace fennik
