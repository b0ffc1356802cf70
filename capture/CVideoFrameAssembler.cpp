#include "capture/CVideoFrameAssembler.h"

#include "base/ByteOrder.h"

namespace fennik {
namespace {

constexpr uint8_t kStartCode[4] = {0, 0, 0, 1};
constexpr uint8_t kNalIdr = 5;
constexpr uint8_t kStapA = 24;
constexpr uint8_t kFuA = 28;

}  // namespace

bool CVideoFrameAssembler::Add(const uint8_t* payload, uint32_t length) {
  if (length == 0) return true;
  if (h264_) return AddH264(payload, length);
  if (!Room(length)) return false;
  frame_.insert(frame_.end(), payload, payload + length);
  return true;
}

void CVideoFrameAssembler::Clear() {
  frame_.clear();
  idr_ = false;
  inFragment_ = false;
}

bool CVideoFrameAssembler::AppendNal(uint8_t header, const uint8_t* body, uint32_t length) {
  if (!Room(uint64_t{5} + length)) return false;
  frame_.insert(frame_.end(), kStartCode, kStartCode + 4);
  frame_.push_back(header);
  frame_.insert(frame_.end(), body, body + length);
  if ((header & 0x1F) == kNalIdr) idr_ = true;
  return true;
}

// RFC 6184 5.6 (single NAL unit), 5.7.1 (STAP-A) and 5.8 (FU-A). The packet type is read
// with the forbidden_zero_bit kept (mask 0x9F), so a packet with that bit set is copied as
// a NAL unit of its own.
bool CVideoFrameAssembler::AddH264(const uint8_t* p, uint32_t length) {
  const uint8_t type = p[0] & 0x9F;
  if (type == kFuA) {
    // FU indicator (F, NRI, type 28), FU header (S, E, R, nal_unit_type), fragment.
    if (length < 2) {
      ++dropped_;
      return true;
    }
    const bool start = (p[1] & 0x80) != 0;
    const bool end = (p[1] & 0x40) != 0;
    if (start) {
      const uint8_t header = static_cast<uint8_t>((p[0] & 0xE0) | (p[1] & 0x1F));
      if (!AppendNal(header, p + 2, length - 2)) return false;
      inFragment_ = !end;
      return true;
    }
    // A continuation whose start fragment was lost would be glued onto another NAL unit.
    if (!inFragment_) {
      ++dropped_;
      return true;
    }
    if (!Room(length - 2)) return false;
    frame_.insert(frame_.end(), p + 2, p + length);
    if (end) inFragment_ = false;
    return true;
  }
  inFragment_ = false;
  if (type == kStapA) {
    // STAP-A: NAL header (type 24), then NAL units each preceded by a 16-bit size.
    uint32_t pos = 1;
    while (length - pos >= 2) {
      const uint32_t size = ReadBE16(p + pos);
      pos += 2;
      if (size == 0 || size > length - pos) {
        ++dropped_;  // a size past the packet: the rest cannot be split
        break;
      }
      if (!AppendNal(p[pos], p + pos + 1, size - 1)) return false;
      pos += size;
    }
    return true;
  }
  return AppendNal(p[0], p + 1, length - 1);
}

}  // namespace fennik
