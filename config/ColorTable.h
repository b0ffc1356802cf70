// The views' colour table: the default (text, background) pair of each of the 52 colour
// indices, and the list under which the colour dialog names them in English and Japanese.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace fennik {

// Colours are 0x00BBGGRR (red in the low byte).
struct ColorPair {
  uint32_t text;
  uint32_t background;
  bool operator==(const ColorPair&) const = default;
};

inline constexpr int32_t kColorCount = 52;
using ColorArray = std::array<ColorPair, kColorCount>;

// One line of the colour dialog's list: a named colour index, or a separator (index -1).
struct ColorName {
  const char* english;
  const char* japanese;
  int32_t index;
};

inline constexpr size_t kColorNameCount = 38;

const ColorArray& DefaultColors();
std::span<const ColorName, kColorNameCount> ColorNames();

}  // namespace fennik
