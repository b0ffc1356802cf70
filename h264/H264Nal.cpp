#include "h264/H264Nal.h"

#include <algorithm>
#include <cstring>

namespace fennik {

namespace {

// The position of the next 00 00 01 at or after `from`, or `size`. A byte above 1 at p + 2
// rules out start codes at p, p + 1 and p + 2, so most of a slice is stepped over three bytes
// at a time.
size_t NextStartCode(const uint8_t* data, size_t size, size_t from) {
  size_t p = from;
  while (p + 2 < size) {
    const uint8_t c = data[p + 2];
    if (c > 1) {
      p += 3;
    } else if (c == 1 && data[p + 1] == 0 && data[p] == 0) {
      return p;
    } else {
      ++p;
    }
  }
  return size;
}

// The position of the next emulation-prevention byte (0x03 after two zeros) at or after
// `from` (at least 2), or `size`. Stepped over like start codes: a byte above 3 at p rules
// out the pattern ending at p, p + 1 and p + 2.
size_t NextEmulationByte(const uint8_t* src, size_t size, size_t from) {
  size_t p = from;
  while (p < size) {
    const uint8_t c = src[p];
    if (c > 3) {
      p += 3;
    } else if (c == 3 && src[p - 1] == 0 && src[p - 2] == 0) {
      return p;
    } else {
      ++p;
    }
  }
  return size;
}

}  // namespace

std::vector<NalSpan> SplitAnnexB(const uint8_t* data, size_t size) {
  std::vector<NalSpan> units;
  if (data == nullptr) return units;
  size_t code = NextStartCode(data, size, 0);
  while (code < size) {
    // A zero before the three bytes makes a 4-byte start code.
    const size_t prefix = code > 0 && data[code - 1] == 0 ? 4 : 3;
    const size_t offset = code + 3;
    const size_t next = NextStartCode(data, size, offset);
    size_t end = next;
    if (next < size && data[next - 1] == 0) end = next - 1;  // the next code's fourth byte
    units.push_back(NalSpan{offset, end - offset, prefix});
    code = next;
  }
  return units;
}

std::vector<NalSpan> SplitLengthPrefixed(const uint8_t* data, size_t size) {
  std::vector<NalSpan> units;
  size_t pos = 0;
  while (pos + 4 <= size) {
    uint32_t length = (uint32_t{data[pos]} << 24) | (uint32_t{data[pos + 1]} << 16) |
                      (uint32_t{data[pos + 2]} << 8) | data[pos + 3];
    if (length > kMaxNalLengthField - 4) break;
    size_t available = size - pos - 4;
    size_t take = length < available ? length : available;
    units.push_back(NalSpan{pos + 4, take, 4});
    pos += 4 + take;
  }
  return units;
}

size_t UnescapeRbsp(const uint8_t* src, size_t size, uint8_t* dst, size_t dst_capacity) {
  size_t out = 0;
  size_t from = 0;  // first byte not yet copied
  while (from < size && out < dst_capacity) {
    const size_t drop = NextEmulationByte(src, size, from < 2 ? 2 : from);
    const size_t take = std::min(drop - from, dst_capacity - out);
    std::memcpy(dst + out, src + from, take);
    out += take;
    from = drop + 1;
  }
  return out;
}

}  // namespace fennik
