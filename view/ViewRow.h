// The toolkit-free content of a character-cell view: rows of text at character columns,
// each with a colour index (the colour table of the settings), optional colour spans,
// title rows with grid lines above and below, and vertical grid-line positions. The
// desktop application paints these rows; the CLI prints them as plain text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/Language.h"

namespace fennik {

// A text in both interface languages (UTF-8). `ja` may be null: the English text is used.
struct Label {
  const char* en;
  const char* ja;
};
// The label's text in `language`; English when the language has none.
const char* Pick(const Label& label, int language);

// Colour roles: indices into the settings' colour table.
namespace colour {
constexpr int kTitle = 0;          // 0-3: title rows of the info views
constexpr int kField = 4;          // 4-7: field rows; 4's background fills info views
constexpr int kGreyField = 8;      // 8-11
constexpr int kErrorField = 12;
constexpr int kListTitle = 20;     // list column title row
constexpr int kListCursor = 21;
constexpr int kListMarker = 22;
constexpr int kListError = 23;
constexpr int kListGrey = 24;
constexpr int kListRow = 25;       // 25-28: normal list rows, 25 the default
constexpr int kVideoRow = 33;      // 33-36
constexpr int kAudioRow = 37;      // 37-44
constexpr int kHexHeader = 50;     // hex dump header line and addresses
constexpr int kHexData = 51;       // hex dump data and background
}  // namespace colour

// A part of a row drawn in another colour than the row's.
struct ColourSpan {
  int column;
  int length;
  int colour;
};

struct ViewRow {
  std::string text;               // UTF-8; one character per column; trailing blanks removed
  int colour = colour::kField;
  bool title = false;             // grid lines above and below the row
  std::vector<int> gridColumns;   // vertical grid lines at these character columns
  std::vector<ColourSpan> spans;  // parts drawn in other colours
};

// One row under construction: a line of kColumns blank characters into which pieces are
// copied at character columns. Pieces that would reach past the line are cut off; a zero
// character shows as a blank.
class CRowLine {
 public:
  static constexpr int kColumns = 512;

  CRowLine() = default;
  void Clear() { used_ = 0; }
  // Copies UTF-8 text so that its first character lands at `column` (negative columns
  // drop the characters left of 0). Invalid UTF-8 bytes become '?'.
  void Put(int column, std::string_view utf8);
  // Copies the text right-aligned so that its last character lands at column + width - 1;
  // text longer than the width keeps its start at `column`.
  void PutRight(int column, int width, std::string_view utf8);
  // The line as UTF-8 without trailing blanks.
  std::string Text() const;
  // Number of characters up to the last non-blank one.
  int Length() const;

 private:
  // Only the cells before used_ hold characters; the rest are blank without being written,
  // so that a line costs what is put into it, not its 512 columns.
  char32_t cells_[kColumns];
  int used_ = 0;
};

// Plain text of rows for the command line: one line per row, each ending in "\n"; colours
// and grid lines are dropped.
std::string RenderText(const std::vector<ViewRow>& rows);

}  // namespace fennik
