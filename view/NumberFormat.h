// Number and time texts of the views: decimals with thousands separators, hexadecimal
// with a digit count derived from the field width, and the time formats.
#pragma once

#include <cstdint>
#include <string>

namespace fennik {

// printf into a string, for the texts of view rows.
std::string Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));


// "1,234,567", "-1,000", "0"; right-aligned with blanks to `width` when the text is shorter.
std::string FormatDecimal(int64_t value, int width = 0);
std::string FormatDecimalUnsigned(uint64_t value, int width = 0);

// Hexadecimal digits for a field of `bits` bits: (bits + 3) / 4, at least 1, at most 16.
int HexDigits(int bits);
// "0x" and the value masked to HexDigits(bits) digits, zero-padded to that count
// ("0x%X" .. "0x%08X" for fields up to 32 bits, "0x%01llX" .. "0x%016llX" beyond).
std::string FormatHexField(uint64_t value, int bits);
// The low `bits` bits (at most 64) as '0'/'1', most significant first, followed by "b" when
// there are two or more bits.
std::string FormatBinaryField(uint64_t value, int bits);

// Time formats. `count` × `nanosecondsPerUnit` is the time in nanoseconds (use 1000 for
// microsecond counts); h, m, s, ms and µs are its parts. Negative times get "-".
enum TimeMode : int {
  kTimeSigned = 1,      // sign character (blank or "-") then "%02d:%02d:%02d.%03d%03d"
  kTimeCompact = 2,     // "%02d:%02d:%02d.%03d%03d", "-" only for negative times
  kTimeHours = 3,       // "%d:%02d:%02d.%03d%03d"
  kTimeShortest = 4,    // "%2d.%03d%03d", "%2d:%02d.%03d%03d" or "%d:%02d:%02d.%03d%03d"
  kTimeMinutes = 5,     // "%d:%02d.%03d%03d", minutes within the hour
  kTimeMillis = 0,      // any other mode: "%2d:%02d:%02d.%03d" (no microseconds)
};
std::string FormatTime(int64_t count, int64_t nanosecondsPerUnit, int mode);

}  // namespace fennik
