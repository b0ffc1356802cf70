#include "h264/H264Rtp.h"

#include <algorithm>
#include <cstring>

namespace fennik {
namespace {

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// RFC 4648 4: groups of four characters give three bytes; '=' pads the last group.
bool DecodeBase64(std::string_view text, std::vector<uint8_t>& out) {
  out.clear();
  uint32_t bits = 0;
  int count = 0;
  size_t padding = 0;
  for (char c : text) {
    if (c == ' ' || c == '\t') continue;
    if (c == '=') {
      ++padding;
      continue;
    }
    const int v = Base64Value(c);
    if (v < 0 || padding > 0) return false;
    bits = (bits << 6) | static_cast<uint32_t>(v);
    if (++count == 4) {
      out.push_back(static_cast<uint8_t>(bits >> 16));
      out.push_back(static_cast<uint8_t>(bits >> 8));
      out.push_back(static_cast<uint8_t>(bits));
      bits = 0;
      count = 0;
    }
  }
  if (count == 1 || padding > 2) return false;
  if (count == 2) out.push_back(static_cast<uint8_t>(bits >> 4));
  if (count == 3) {
    out.push_back(static_cast<uint8_t>(bits >> 10));
    out.push_back(static_cast<uint8_t>(bits >> 2));
  }
  return !out.empty();
}

}  // namespace

std::vector<std::vector<uint8_t>> DecodeSpropParameterSets(std::string_view value) {
  std::vector<std::vector<uint8_t>> units;
  while (!value.empty()) {
    const size_t comma = value.find(',');
    std::vector<uint8_t> unit;
    if (DecodeBase64(value.substr(0, comma), unit)) units.push_back(std::move(unit));
    if (comma == std::string_view::npos) break;
    value.remove_prefix(comma + 1);
  }
  return units;
}

// FU-A (RFC 6184 5.8):
//   byte 0  FU indicator: F, NRI, type 28
//   byte 1  FU header: S (0x80), E (0x40), R, nal_unit_type of the fragmented unit
//   then    the fragment
// The joined unit's header byte is (indicator AND 0xE0) OR (FU header AND 0x1F).
bool CH264Depacketizer::AddFragment(const uint8_t* p, size_t size) {
  if (size < 2) {
    ++discarded_;
    return false;
  }
  const bool start = (p[1] & 0x80) != 0;
  const bool end = (p[1] & 0x40) != 0;
  const size_t body = size - 2;
  if (start) {
    if (open_) ++discarded_;  // the previous unit lost its end
    if (buffer_.size() < 1 + body) buffer_.resize(std::min(kMaxNalUnit, 1 + body + 4096));
    if (1 + body > buffer_.size()) {
      ++discarded_;
      Reset();
      return false;
    }
    buffer_[0] = static_cast<uint8_t>((p[0] & 0xE0) | (p[1] & 0x1F));
    std::memcpy(buffer_.data() + 1, p + 2, body);
    fill_ = 1 + body;
    open_ = true;
  } else {
    if (!open_) {  // its start fragment was lost (or the unit was abandoned)
      ++discarded_;
      return false;
    }
    if (fill_ + body > kMaxNalUnit) {
      ++discarded_;
      Reset();
      return false;
    }
    if (buffer_.size() < fill_ + body) buffer_.resize(std::min(kMaxNalUnit, 2 * (fill_ + body)));
    std::memcpy(buffer_.data() + fill_, p + 2, body);
    fill_ += body;
  }
  if (!end) return false;
  open_ = false;
  // A fragment cannot carry another fragmentation unit or aggregation packet.
  const int inner = NalTypeOf(buffer_[0]);
  if (inner >= kNalStapA && inner <= kNalFuB) {
    ++discarded_;
    fill_ = 0;
    return false;
  }
  return true;
}

}  // namespace fennik
