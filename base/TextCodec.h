// Text conversion between UTF-8 (the program's internal text) and Shift_JIS (CP932),
// through iconv. Unconvertible characters become '?'.
#pragma once

#include <string>
#include <string_view>

namespace fennik {

std::string Utf8ToShiftJis(std::string_view utf8);
// Returns false (and leaves out empty) when the input is not valid Shift_JIS.
bool ShiftJisToUtf8(std::string_view sjis, std::string& out);
// Appends one code point as UTF-8.
void AppendUtf8(std::string& out, char32_t cp);

}  // namespace fennik
