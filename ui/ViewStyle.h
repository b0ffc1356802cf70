// What every character-cell view draws with: the settings' colour table, font and
// interface language. The main window fills it from the settings object and hands the same
// object to every view; views repaint when it changes.
#pragma once

#include <string>

#include "config/ColorTable.h"

namespace fennik {

struct ViewStyle {
  ColorArray colors = DefaultColors();
  std::string fontName;  // empty: the language's fixed-pitch default
  int fontSize = 0;      // pixels; 0: the language's default (12 Japanese, 14 English)
  int language = 0;      // 0 English, 1 Japanese
};

}  // namespace fennik
