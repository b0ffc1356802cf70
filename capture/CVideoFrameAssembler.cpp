#include "capture/CVideoFrameAssembler.h"


namespace fennik {
namespace {

constexpr uint8_t kStartCode[4] = {0, 0, 0, 1};

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
  // A FU-A unit left open is closed, so its further fragments are dropped.
  depacketizer_.Reset();
}

bool CVideoFrameAssembler::AppendNal(const uint8_t* nal, size_t length) {
  if (!Room(uint64_t{4} + length)) return false;
  frame_.insert(frame_.end(), kStartCode, kStartCode + 4);
  frame_.insert(frame_.end(), nal, nal + length);
  if (NalTypeOf(nal[0]) == kNalIdrSlice) idr_ = true;
  return true;
}

// RFC 6184 5.6 (single NAL unit), 5.7.1 (STAP-A) and 5.8 (FU-A) through the shared
// depacketizer; a packet with the forbidden_zero_bit set is copied as a NAL unit of its own.
bool CVideoFrameAssembler::AddH264(const uint8_t* p, uint32_t length) {
  bool room = true;
  depacketizer_.Feed(p, length, true, [&](const uint8_t* nal, size_t n) { room = AppendNal(nal, n) && room; });
  return room;
}

}  // namespace fennik
