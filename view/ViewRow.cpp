#include "view/ViewRow.h"

#include "base/TextCodec.h"

namespace fennik {
namespace {

// Decodes one UTF-8 sequence at s[i]; advances i. Malformed sequences yield '?' and
// consume one byte.
char32_t NextCodePoint(std::string_view s, size_t& i) {
  const unsigned char b0 = static_cast<unsigned char>(s[i]);
  int extra = 0;
  char32_t cp = 0;
  if (b0 < 0x80) {
    ++i;
    return b0;
  } else if ((b0 & 0xE0) == 0xC0) {
    extra = 1, cp = b0 & 0x1F;
  } else if ((b0 & 0xF0) == 0xE0) {
    extra = 2, cp = b0 & 0x0F;
  } else if ((b0 & 0xF8) == 0xF0) {
    extra = 3, cp = b0 & 0x07;
  } else {
    ++i;
    return U'?';
  }
  if (i + extra >= s.size()) {  // sequence cut off at the end
    ++i;
    return U'?';
  }
  for (int k = 1; k <= extra; ++k) {
    const unsigned char b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) {
      ++i;
      return U'?';
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  static constexpr char32_t kMin[4] = {0, 0x80, 0x800, 0x10000};
  if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++i;
    return U'?';
  }
  i += extra + 1;
  return cp;
}

int CountCodePoints(std::string_view s) {
  int n = 0;
  for (size_t i = 0; i < s.size();) {
    NextCodePoint(s, i);
    ++n;
  }
  return n;
}

}  // namespace

const char* Pick(const Label& label, int language) {
  if (language == kLanguageJapanese && label.ja != nullptr && label.ja[0] != '\0') return label.ja;
  return label.en != nullptr ? label.en : "";
}

void CRowLine::Put(int column, std::string_view utf8) {
  for (size_t i = 0; i < utf8.size(); ++column) {
    const char32_t cp = NextCodePoint(utf8, i);
    if (column >= kColumns) return;
    if (column < 0) continue;
    while (used_ <= column) cells_[used_++] = U' ';
    cells_[column] = cp == 0 ? U' ' : cp;
  }
}

void CRowLine::PutRight(int column, int width, std::string_view utf8) {
  const int length = CountCodePoints(utf8);
  Put(length < width ? column + width - length : column, utf8);
}

int CRowLine::Length() const {
  int n = used_;
  while (n > 0 && cells_[n - 1] == U' ') --n;
  return n;
}

std::string CRowLine::Text() const {
  std::string out;
  const int n = Length();
  out.reserve(n);
  for (int i = 0; i < n; ++i) AppendUtf8(out, cells_[i]);
  return out;
}

std::string RenderText(const std::vector<ViewRow>& rows) {
  std::string out;
  for (const ViewRow& row : rows) {
    out += row.text;
    out += '\n';
  }
  return out;
}

}  // namespace fennik
