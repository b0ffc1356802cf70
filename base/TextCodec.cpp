#include "base/TextCodec.h"

#include <iconv.h>

#include <cerrno>

namespace fennik {
namespace {

// Converts with iconv; on an unconvertible or invalid input sequence either substitutes
// `replacement` for one input character (skipping `skipOnError` bytes) or fails.
bool Convert(const char* to, const char* from, std::string_view in, std::string& out,
             bool substitute) {
  out.clear();
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  char* src = const_cast<char*>(in.data());
  size_t srcLeft = in.size();
  char buffer[1024];
  bool ok = true;
  while (srcLeft > 0) {
    char* dst = buffer;
    size_t dstLeft = sizeof buffer;
    size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    out.append(buffer, sizeof buffer - dstLeft);
    if (r != static_cast<size_t>(-1)) continue;
    if (errno == E2BIG) continue;
    if (!substitute) {
      ok = false;
      break;
    }
    // Skip one UTF-8 character (lead byte plus continuation bytes) and write '?'.
    out.push_back('?');
    ++src;
    --srcLeft;
    while (srcLeft > 0 && (static_cast<unsigned char>(*src) & 0xC0) == 0x80) {
      ++src;
      --srcLeft;
    }
  }
  iconv_close(cd);
  if (!ok) out.clear();
  return ok;
}

}  // namespace

std::string Utf8ToShiftJis(std::string_view utf8) {
  std::string out;
  Convert("CP932", "UTF-8", utf8, out, true);
  return out;
}

bool ShiftJisToUtf8(std::string_view sjis, std::string& out) {
  return Convert("UTF-8", "CP932", sjis, out, false);
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace fennik
