#include "view/NumberFormat.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>

namespace fennik {

std::string Printf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
  if (length > 0) std::vsnprintf(text.data(), text.size() + 1, format, again);
  va_end(again);
  return text;
}

namespace {

std::string Grouped(uint64_t magnitude, bool negative, int width) {
  // Digits from the least significant end, a comma after every third.
  char buffer[40];
  int pos = sizeof buffer;
  int digits = 0;
  do {
    if (digits > 0 && digits % 3 == 0) buffer[--pos] = ',';
    buffer[--pos] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
    ++digits;
  } while (magnitude != 0);
  if (negative) buffer[--pos] = '-';
  std::string text(buffer + pos, sizeof buffer - pos);
  if (width > 0 && static_cast<int>(text.size()) < width) {
    text.insert(0, width - text.size(), ' ');
  }
  return text;
}

uint64_t MaskBits(uint64_t value, int bits) {
  return bits >= 64 ? value : value & ((uint64_t{1} << bits) - 1);
}

}  // namespace

std::string FormatDecimal(int64_t value, int width) {
  const bool negative = value < 0;
  // Magnitude through unsigned arithmetic so that INT64_MIN has one too.
  const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  return Grouped(magnitude, negative, width);
}

std::string FormatDecimalUnsigned(uint64_t value, int width) {
  return Grouped(value, false, width);
}

int HexDigits(int bits) {
  if (bits <= 4) return 1;
  const int digits = (bits + 3) / 4;
  return digits > 16 ? 16 : digits;
}

std::string FormatHexField(uint64_t value, int bits) {
  const int digits = HexDigits(bits);
  // The digit count is also the mask: a field never shows more digits than its width.
  char text[24];
  std::snprintf(text, sizeof text, "0x%0*" PRIX64, digits, MaskBits(value, digits * 4));
  return text;
}

std::string FormatBinaryField(uint64_t value, int bits) {
  if (bits <= 0) return {};
  if (bits > 64) bits = 64;
  std::string text;
  text.reserve(bits + 1);
  for (int i = bits - 1; i >= 0; --i) text += ((value >> i) & 1) ? '1' : '0';
  if (bits >= 2) text += 'b';
  return text;
}

std::string FormatTime(int64_t count, int64_t nanosecondsPerUnit, int mode) {
  // Nanoseconds as a magnitude and a sign; the product saturates instead of overflowing.
  const bool negative = (count < 0) != (nanosecondsPerUnit < 0) && count != 0 && nanosecondsPerUnit != 0;
  const uint64_t c = count < 0 ? 0 - static_cast<uint64_t>(count) : static_cast<uint64_t>(count);
  const uint64_t k = nanosecondsPerUnit < 0 ? 0 - static_cast<uint64_t>(nanosecondsPerUnit)
                                            : static_cast<uint64_t>(nanosecondsPerUnit);
  uint64_t ns;
  if (__builtin_mul_overflow(c, k, &ns)) ns = UINT64_MAX;
  const uint64_t us = ns / 1000;
  const unsigned micro = static_cast<unsigned>(us % 1000);
  const unsigned milli = static_cast<unsigned>(us / 1000 % 1000);
  const uint64_t totalSeconds = us / 1000000;
  const unsigned seconds = static_cast<unsigned>(totalSeconds % 60);
  const unsigned minutes = static_cast<unsigned>(totalSeconds / 60 % 60);
  const uint64_t hours = totalSeconds / 3600;
  const char* sign = negative ? "-" : "";
  char text[64];
  switch (mode) {
    case kTimeSigned:
      std::snprintf(text, sizeof text, "%c%02" PRIu64 ":%02u:%02u.%03u%03u", negative ? '-' : ' ',
                    hours, minutes, seconds, milli, micro);
      break;
    case kTimeCompact:
      std::snprintf(text, sizeof text, "%s%02" PRIu64 ":%02u:%02u.%03u%03u", sign, hours, minutes,
                    seconds, milli, micro);
      break;
    case kTimeHours:
      std::snprintf(text, sizeof text, "%s%" PRIu64 ":%02u:%02u.%03u%03u", sign, hours, minutes,
                    seconds, milli, micro);
      break;
    case kTimeShortest:
      if (hours == 0 && minutes == 0) {
        std::snprintf(text, sizeof text, "%s%2u.%03u%03u", sign, seconds, milli, micro);
      } else if (hours == 0) {
        std::snprintf(text, sizeof text, "%s%2u:%02u.%03u%03u", sign, minutes, seconds, milli, micro);
      } else {
        std::snprintf(text, sizeof text, "%s%" PRIu64 ":%02u:%02u.%03u%03u", sign, hours, minutes,
                      seconds, milli, micro);
      }
      break;
    case kTimeMinutes:
      std::snprintf(text, sizeof text, "%s%u:%02u.%03u%03u", sign, minutes, seconds, milli, micro);
      break;
    default:
      std::snprintf(text, sizeof text, "%s%2" PRIu64 ":%02u:%02u.%03u", sign, hours, minutes, seconds,
                    milli);
      break;
  }
  return text;
}

}  // namespace fennik
