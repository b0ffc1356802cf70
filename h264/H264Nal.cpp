#include "h264/H264Nal.h"

namespace fennik {

std::vector<NalSpan> SplitAnnexB(const uint8_t* data, size_t size) {
  std::vector<NalSpan> units;
  uint32_t reg = 0xFFFFFFFF;
  bool in_unit = false;
  NalSpan current;
  for (size_t i = 0; i < size; ++i) {
    reg = (reg << 8) | data[i];
    if ((reg & 0xFFFFFF) != 0x000001) continue;
    const size_t prefix = (reg >> 24) == 0 && i >= 3 ? 4 : 3;
    const size_t code_start = i + 1 - prefix;
    if (in_unit) {
      current.size = code_start > current.offset ? code_start - current.offset : 0;
      units.push_back(current);
    }
    current = NalSpan{i + 1, 0, prefix};
    in_unit = true;
  }
  if (in_unit && current.offset <= size) {
    current.size = size - current.offset;
    units.push_back(current);
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
  int zeros = 0;
  for (size_t i = 0; i < size && out < dst_capacity; ++i) {
    uint8_t b = src[i];
    if (b == 0x03 && zeros >= 2) {
      zeros = 0;
      continue;
    }
    dst[out++] = b;
    zeros = b == 0 ? zeros + 1 : 0;
  }
  return out;
}

}  // namespace fennik
