#include "base/TextCodec.h"

#include <gtest/gtest.h>

namespace fennik {
namespace {

TEST(TextCodec, ShiftJisRoundTrip) {
  const std::string utf8 = "エラー内容";
  std::string sjis = Utf8ToShiftJis(utf8);
  // CP932: エ = 83 47, ラ = 83 89, ー = 81 5B, 内 = 93 E0, 容 = 97 65.
  EXPECT_EQ(sjis, "\x83\x47\x83\x89\x81\x5B\x93\xE0\x97\x65");
  std::string back;
  ASSERT_TRUE(ShiftJisToUtf8(sjis, back));
  EXPECT_EQ(back, utf8);
}

TEST(TextCodec, InvalidShiftJisIsRefused) {
  std::string out = "unchanged";
  EXPECT_FALSE(ShiftJisToUtf8("\x81", out));
  EXPECT_TRUE(out.empty());
}

TEST(TextCodec, UnmappableCharactersBecomeQuestionMarks) {
  EXPECT_EQ(Utf8ToShiftJis("a\xF0\x9F\x98\x80" "b"), "a?b");
}

}  // namespace
}  // namespace fennik
